#pragma once

#include "console/Options.h"

#include <QDateTime>
#include <QString>
#include <QTextStream>

#include <optional>

namespace console {

// One line of output: a probe's answer to one command.
struct Row
{
    QDateTime time;
    std::optional<int> address;
    std::optional<float> raw;
    std::optional<float> calibrated;
    std::optional<int> quality;
    QString command;
    QString outcome;
    // With limits: "ok", "below", "above" or empty, and the limits of the address's channel.
    QString verdict;
    std::optional<float> lowerUm;
    std::optional<float> upperUm;
};

// Writes rows in the chosen format, each one whole and flushed before the next: whatever the
// line returns, a reader never sees half a row.
class RowWriter
{
public:
    // `withLimits`: the rows carry verdict, lower_um and upper_um after the other fields.
    RowWriter(QTextStream &out, Format format, bool withLimits = false)
        : out(out), format(format), withLimits(withLimits)
    {
    }

    void write(const Row &row);
    // The serial ports: name and description.
    void writePort(const QString &name, const QString &description);

private:
    QTextStream &out;
    Format format;
    bool withLimits;
    bool headerDone = false;
};

}  // namespace console
