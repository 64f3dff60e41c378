#include "mqtt/RecordQueue.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace mqtt {

namespace {

// A chunk without a line end in it is no record file's: it is passed over whole.
constexpr qint64 chunkBytes = 64 * 1024;

}  // namespace

std::optional<Position> loadCursor(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject object = QJsonDocument::fromJson(file.read(4096)).object();
    const QString name = object.value(QStringLiteral("file")).toString();
    const double offset = object.value(QStringLiteral("offset")).toDouble(-1);
    const double sequence = object.value(QStringLiteral("sequence")).toDouble(0);
    // No file yet: the folder had no records when publishing began.
    if ((!name.isEmpty() && !records::dayOfFileName(name)) || offset < 0 || sequence < 1)
        return std::nullopt;
    return Position{name, qint64(offset), quint64(sequence)};
}

bool saveCursor(const QString &path, const Position &position)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QJsonObject object;
    object.insert(QStringLiteral("file"), position.file);
    object.insert(QStringLiteral("offset"), double(position.offset));
    object.insert(QStringLiteral("sequence"), double(position.sequence));
    file.write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    return file.commit();
}

QStringList RecordQueue::dayFiles() const
{
    QStringList names;
    for (const QString &name : QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        if (records::dayOfFileName(name))
            names << name;
    }
    names.sort();  // the names sort as their days
    return names;
}

std::vector<RecordQueue::Item> RecordQueue::read(Position &from, int limit) const
{
    std::vector<Item> items;
    QStringList later;
    bool listed = false;
    while (int(items.size()) < limit) {
        QFile file(folder + QLatin1Char('/') + from.file);
        bool moved = false;
        if (!from.file.isEmpty() && file.open(QIODevice::ReadOnly) && file.seek(from.offset)) {
            const QByteArray chunk = file.read(chunkBytes);
            const int lastEnd = chunk.lastIndexOf('\n');
            if (lastEnd < 0 && chunk.size() == chunkBytes) {
                from.offset += chunk.size();
                continue;
            }
            int start = 0;
            while (start <= lastEnd && int(items.size()) < limit) {
                const int end = chunk.indexOf('\n', start);
                int length = end - start;
                if (length > 0 && chunk[end - 1] == '\r')
                    --length;
                const std::string_view line(chunk.constData() + start, size_t(length));
                from.offset += end + 1 - start;
                start = end + 1;
                moved = true;
                if (const auto record = records::parseLine(line)) {
                    Item item;
                    item.record = *record;
                    item.sequence = from.sequence++;
                    item.after = from;
                    items.push_back(item);
                }
            }
        }
        if (moved)
            continue;
        // At the end of this file: the next day's, once there is one.
        if (!listed) {
            later = dayFiles();
            listed = true;
        }
        const auto next = std::upper_bound(later.cbegin(), later.cend(), from.file);
        if (next == later.cend())
            break;
        from.file = *next;
        from.offset = 0;
    }
    return items;
}

qint64 RecordQueue::count(Position from) const
{
    qint64 total = 0;
    for (;;) {
        const auto items = read(from, 4096);
        if (items.empty())
            return total;
        total += qint64(items.size());
    }
}

Position RecordQueue::end() const
{
    const QStringList names = dayFiles();
    Position position;
    if (names.isEmpty())
        return position;
    position.file = names.last();
    QFile file(folder + QLatin1Char('/') + position.file);
    if (file.open(QIODevice::ReadOnly)) {
        const qint64 size = file.size();
        const qint64 tail = std::min<qint64>(size, chunkBytes);
        file.seek(size - tail);
        const int lastEnd = file.read(tail).lastIndexOf('\n');
        position.offset = lastEnd < 0 ? size - tail : size - tail + lastEnd + 1;
    }
    return position;
}

}  // namespace mqtt
