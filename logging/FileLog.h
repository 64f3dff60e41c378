#pragma once

#include "logging/ILog.h"

#include <QFile>

// The run's log, log/log.txt: begun afresh at start (the previous run's log is kept as
// log/log-<number>-<time of its first line>.txt, the 30 moved aside last), one time-stamped
// line per write, complete on disk after every line.
class FileLog : public m::ifc::ILog
{
public:
    enum Mode { Fresh, Append };

    FileLog();
    // Another file: the command-line program's --log, which keeps what earlier runs wrote.
    FileLog(const QString &path, Mode mode);
    void write(uint32_t level, std::string_view text) override;

private:
    QFile file;
};
