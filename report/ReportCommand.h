#pragma once

#include <QStringList>
#include <QTextStream>

// t7r-cli report: the report of a time range as PDF, without a display. `arguments` as main
// receives them, the program's name first and "report" second.
namespace report {

enum ExitCode { exitWritten = 0, exitNotWritten = 1, exitUsage = 2 };

int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

}  // namespace report
