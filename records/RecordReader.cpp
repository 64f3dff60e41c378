#include "records/RecordReader.h"

#include <QDir>
#include <QFile>

namespace records {

namespace {

// `columns`: what the file's header names; 0 before a header or without one.
void take(std::string_view line, const QDate &day, bool &first, int &columns, ReadResult &into)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    const int named = first ? headerColumns(line) : 0;
    first = false;
    if (named != 0) {
        columns = named;
        return;
    }
    const auto record = parseLine(line, columns);
    // A line of another day would put its point on the wrong day.
    if (record && (!day.isValid() || record->day() == day))
        into.records.push_back(*record);
    else
        ++into.skipped;
}

}  // namespace

void read(QIODevice &device, const QDate &day, ReadResult &into)
{
    // A small file needs no megabyte of buffer.
    const qint64 chunkSize =
        device.isSequential() ? 1 << 20 : qBound<qint64>(1, device.size() - device.pos(), 1 << 20);
    QByteArray chunk(int(chunkSize), Qt::Uninitialized);
    std::string line;
    bool overlong = false;
    bool first = true;
    int columns = 0;
    for (;;) {
        const qint64 count = device.read(chunk.data(), chunkSize);
        if (count <= 0)
            break;
        std::string_view rest(chunk.constData(), size_t(count));
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            const std::string_view piece = rest.substr(0, end);
            if (!overlong && line.size() + piece.size() <= size_t(longestLine))
                line.append(piece);
            else
                overlong = true;
            if (end == std::string_view::npos)
                break;
            if (overlong) {
                ++into.skipped;
                first = false;
            } else {
                take(line, day, first, columns, into);
            }
            line.clear();
            overlong = false;
            rest.remove_prefix(end + 1);
        }
    }
    // Text after the last line end is a line the writer did not finish (or that was cut): its
    // last field may be a shorter number than the one meant.
    if (!line.empty() || overlong)
        ++into.skipped;
}

bool readFile(const QString &path, const QDate &day, ReadResult &into)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    read(file, day, into);
    return true;
}

ReadResult readDays(const QString &directory, const QDate &first, const QDate &last)
{
    ReadResult result;
    for (QDate day = first; day.isValid() && day <= last; day = day.addDays(1)) {
        const QString path = directory + QLatin1Char('/') + fileName(day);
        if (QFileInfo(path).isFile())
            readFile(path, day, result);
    }
    return result;
}

}  // namespace records
