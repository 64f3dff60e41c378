// Any bytes as a record file, of a given day and of none: what the history would show.

#include "FuzzCheck.h"
#include "records/Record.h"
#include "records/RecordReader.h"

#include <QBuffer>
#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// Bit for bit, but for a value that is not a number: "nan" reads back as one, whatever its bits.
bool same(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || std::memcmp(&a, &b, sizeof a) == 0;
}

bool same(const records::Record &a, const records::Record &b)
{
    return a.msecs == b.msecs && a.offsetSecs == b.offsetSecs && a.channels == b.channels &&
           a.address == b.address && a.quality == b.quality && same(a.raw, b.raw) &&
           same(a.calibrated, b.calibrated) && a.verdict == b.verdict &&
           same(a.lowerUm, b.lowerUm) && same(a.upperUm, b.upperUm);
}

void check(const QByteArray &bytes, const QDate &day)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    records::ReadResult result;
    records::read(buffer, day, result);
    const qint64 lines = bytes.count('\n') + 1;
    FUZZ_CHECK(qint64(result.records.size()) + result.skipped <= lines);
    for (const records::Record &record : result.records) {
        // A record on the file's day that the writer would write the same. It may name no
        // channel (an address no panel held) and carry a value that is not finite: both read
        // back as written, and the history neither draws nor counts such a value.
        // Limits both or neither, in order; a verdict only with them.
        FUZZ_CHECK(record.hasLimits() == std::isfinite(record.upperUm));
        FUZZ_CHECK(!record.hasLimits() || record.lowerUm <= record.upperUm);
        FUZZ_CHECK(record.hasLimits() || record.verdict == records::Verdict::None);
        FUZZ_CHECK(!day.isValid() || record.day() == day);
        const QByteArray line = records::formatLine(record);
        const auto back = records::parseLine(line.chopped(2).toStdString());
        FUZZ_CHECK(back && same(*back, record));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    check(bytes, QDate(2026, 3, 9));
    check(bytes, QDate());
    return 0;
}
