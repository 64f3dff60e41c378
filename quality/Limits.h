#pragma once

#include "records/Record.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <optional>

// Tolerances per channel, as limits.ini beside settings.cfg keeps them:
//
//     [channel1]
//     nominal=100
//     lower=95
//     upper=105
//
// A channel without a section has no limits.
namespace quality {

using records::Verdict;

struct Limits
{
    double nominal = 0;
    double lower = 0;
    double upper = 0;

    // On a limit is in tolerance: a limit is the last value still accepted. A value that is not
    // finite has no verdict, it was never measured.
    Verdict verdict(double value) const;
};

// Channel N at index N - 1.
using ChannelLimits = std::array<std::optional<Limits>, records::channelCount>;

struct LimitsFile
{
    ChannelLimits channels;
    // Empty for a file that was read whole; otherwise why it was ignored, and at which line
    // (1-based; 0 for the file as a whole).
    QString error;
    int errorLine = 0;

    bool ok() const { return error.isEmpty(); }
    const std::optional<Limits> &of(int channel) const { return channels[size_t(channel - 1)]; }
};

// A malformed file gives no limits at all: half a file's limits would judge some channels by
// tolerances nobody meant.
LimitsFile parseLimits(QIODevice &device);
// A file that is not there is no error: no channel has limits.
LimitsFile readLimits(const QString &path);
// The file a person would write; channels without limits have no section.
QByteArray formatLimits(const ChannelLimits &channels);

// Sets the record's verdict and the limits in force; a record of several panels is judged by
// the first panel's limits.
void judge(records::Record &record, const ChannelLimits &channels);

}  // namespace quality
