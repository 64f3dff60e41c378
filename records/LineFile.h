#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <functional>
#include <memory>

namespace records {

class DiskSync;

// A text file that lines are appended to as durably as a result deserves: each line is in the
// system's hands when append returns (a crash of the tool cannot lose it) and on the disk a few
// milliseconds later, flushed on a thread of its own. A line that does not fit whole is taken
// back, and a torn line already in the file (a crashed program, a file cut short) never runs
// into the next one.
class LineFile
{
public:
    // Called on the flushing thread with the labels of the first and the last line a failed
    // flush concerns.
    using FlushFailed = std::function<void(const QByteArray &first, const QByteArray &last)>;

    explicit LineFile(FlushFailed failed);
    ~LineFile();

    // Opens `path` for appending, creating its folder, and writes `header` into an empty file.
    bool open(const QString &path, const QByteArray &header);
    bool isOpen() const { return file.isOpen(); }
    void close() { file.close(); }
    // `line` with its line end; `label` names it in a report of a failed flush.
    bool append(const QByteArray &line, const QByteArray &label);
    // The first line of the file as open found it, without its line end: the header a file
    // written before brings.
    QByteArray firstLine() const { return first; }
    // Why the last open or append failed.
    QString error() const { return failure; }

private:
    bool fail(const QString &reason);

    QFile file;
    // The file does not end at a line end: the next line must not run on from it.
    bool lineOpen = false;
    QString failure;
    QByteArray first;
    quint64 fileNumber = 0;
    std::unique_ptr<DiskSync> sync;
};

}  // namespace records
