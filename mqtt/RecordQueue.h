#pragma once

#include "records/Record.h"

#include <QString>

#include <optional>
#include <vector>

namespace mqtt {

// A place in the records folder: the byte after the last line taken from a day file, and the
// sequence number the next record gets.
struct Position
{
    QString file;
    qint64 offset = 0;
    quint64 sequence = 1;

    bool operator==(const Position &other) const
    {
        return file == other.file && offset == other.offset && sequence == other.sequence;
    }
};

// The cursor file: written whole or not at all, so a crash leaves the last one saved.
std::optional<Position> loadCursor(const QString &path);
bool saveCursor(const QString &path, const Position &position);

// The day files of the records folder read as one queue, oldest first. Only whole lines are
// taken, since the writer may be half-way through one; headers and lines that are no record
// are passed over, as the history does.
class RecordQueue
{
public:
    explicit RecordQueue(const QString &folder) : folder(folder) {}

    struct Item
    {
        records::Record record;
        quint64 sequence = 0;
        // Where the queue stands once this record is acknowledged.
        Position after;
    };

    // Up to `limit` records after `from`, which moves past them.
    std::vector<Item> read(Position &from, int limit) const;
    // Records after `from`.
    qint64 count(Position from) const;
    // After the last whole line of the newest file, for a folder published from now on.
    Position end() const;

private:
    QStringList dayFiles() const;

    QString folder;
};

}  // namespace mqtt
