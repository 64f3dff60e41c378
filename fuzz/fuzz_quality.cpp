// Any bytes as limits.ini and as a line of the calibration journal.

#include "FuzzCheck.h"
#include "quality/CalibrationJournal.h"
#include "quality/Limits.h"

#include <QBuffer>
#include <QByteArray>

#include <cmath>
#include <cstdint>

namespace {

void checkLimits(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const quality::LimitsFile file = quality::parseLimits(buffer);
    // A malformed file gives no limits at all; a good one only limits in order, which its
    // writer writes back to the same limits.
    for (const auto &limits : file.channels) {
        FUZZ_CHECK(file.ok() || !limits);
        if (limits)
            FUZZ_CHECK(limits->lower <= limits->nominal && limits->nominal <= limits->upper);
    }
    if (!file.ok())
        return;
    QBuffer again;
    again.setData(quality::formatLimits(file.channels));
    again.open(QIODevice::ReadOnly);
    const quality::LimitsFile reread = quality::parseLimits(again);
    FUZZ_CHECK(reread.ok());
    for (size_t i = 0; i < file.channels.size(); ++i) {
        FUZZ_CHECK(bool(reread.channels[i]) == bool(file.channels[i]));
        if (file.channels[i])
            FUZZ_CHECK(reread.channels[i]->lower == file.channels[i]->lower &&
                       reread.channels[i]->upper == file.channels[i]->upper &&
                       reread.channels[i]->nominal == file.channels[i]->nominal);
    }
}

void checkJournalLine(const QByteArray &bytes)
{
    const auto event =
        quality::parseEvent(std::string_view(bytes.constData(), size_t(bytes.size())));
    if (!event)
        return;
    FUZZ_CHECK(event->channel >= 0 && event->channel <= 8);
    FUZZ_CHECK(!event->measureUm || std::isfinite(*event->measureUm));
    const QByteArray line = quality::formatEvent(*event);
    const auto back =
        quality::parseEvent(std::string_view(line.constData(), size_t(line.size() - 2)));
    FUZZ_CHECK(back && back->msecs == event->msecs && back->answer == event->answer &&
               back->address == event->address && back->command == event->command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    checkLimits(bytes);
    checkJournalLine(bytes);
    return 0;
}
