#include "records/RecordWriter.h"

#include <QDir>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

int duplicate(int handle)
{
#ifdef Q_OS_WIN
    return ::_dup(handle);
#else
    return ::dup(handle);
#endif
}

void closeHandle(int handle)
{
#ifdef Q_OS_WIN
    ::_close(handle);
#else
    ::close(handle);
#endif
}

bool syncToDisk(int handle)
{
#if defined(Q_OS_WIN)
    return ::_commit(handle) == 0;
#elif defined(Q_OS_MACOS)
    return ::fsync(handle) == 0;
#else
    return ::fdatasync(handle) == 0;
#endif
}

}  // namespace

namespace records {

// Flushes files to the disk on its own thread. Each request hands over a duplicate of the
// file's handle, so a file closed meanwhile is still flushed, and never another one that took
// its number. Requests that pile up during one flush are served together; a flush that fails is
// told, on this thread, for the lines it concerns.
class DiskSync
{
public:
    // Called on the flushing thread with the first and the last line the failed flush concerns.
    using Failed = std::function<void(const QByteArray &first, const QByteArray &last)>;

    explicit DiskSync(Failed failed) : failed(std::move(failed)), worker([this] { run(); }) {}
    ~DiskSync()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_one();
        worker.join();
    }

    // `file` tells the files apart: one flush of the latest copy covers a file's earlier lines.
    // `line` names the line the request is for.
    void request(int handle, quint64 file, const QByteArray &line)
    {
        const int copy = duplicate(handle);
        if (copy < 0) {
            failed(line, line);
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex);
            pending.push_back({copy, file, line});
        }
        wake.notify_one();
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            wake.wait(lock, [this] { return stopping || !pending.empty(); });
            if (pending.empty())
                return;
            std::vector<Request> requests;
            requests.swap(pending);
            lock.unlock();
            size_t first = 0;
            for (size_t i = 0; i < requests.size(); ++i) {
                if (i + 1 == requests.size() || requests[i + 1].file != requests[i].file) {
                    if (!syncToDisk(requests[i].handle))
                        failed(requests[first].line, requests[i].line);
                    first = i + 1;
                }
                closeHandle(requests[i].handle);
            }
            lock.lock();
        }
    }

    struct Request
    {
        int handle;
        quint64 file;
        QByteArray line;
    };

    Failed failed;
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Request> pending;
    bool stopping = false;
    std::thread worker;
};

}  // namespace records

RecordWriter::RecordWriter(m::ifc::ILog *log, const QString &directory, QObject *parent)
    : QObject(parent), log(log), folder(directory)
{
    sync = std::make_unique<records::DiskSync>(
        [this](const QByteArray &first, const QByteArray &last) {
            QMetaObject::invokeMethod(
                this, [this, first, last] { flushFailed(first, last); }, Qt::QueuedConnection);
        });
}

RecordWriter::~RecordWriter() = default;

bool RecordWriter::append(const QDateTime &time, const QVector<int> &channels, uint8_t address,
                          float raw, float calibrated, uint8_t quality)
{
    return append(records::makeRecord(time, channels, address, raw, calibrated, quality));
}

bool RecordWriter::append(const records::Record &record)
{
    const bool written = openDay(record.day()) && writeLine(records::formatLine(record));
    if (written)
        setKeeping(true, QString());
    else
        file.close();  // reopened next time: the folder may be back, or writable again
    emit appended(record);
    return written;
}

bool RecordWriter::openDay(const QDate &day)
{
    if (file.isOpen() && fileDay == day)
        return true;
    file.close();
    fileDay = day;
    if (!QDir().mkpath(folder)) {
        setKeeping(false, QStringLiteral("cannot create the folder ") + folder);
        return false;
    }
    file.setFileName(folder + QLatin1Char('/') + records::fileName(day));
    // Unbuffered: a line that does not fit is known at once, and can be taken back.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        setKeeping(false, file.fileName() + QStringLiteral(": ") + file.errorString());
        return false;
    }
    ++fileNumber;
    lineOpen = false;
    const qint64 size = file.size();
    if (size > 0) {
        char last = '\n';
        lineOpen = !file.seek(size - 1) || !file.getChar(&last) || last != '\n';
    } else if (!writeLine(records::header())) {
        return false;
    }
    return true;
}

bool RecordWriter::writeLine(const QByteArray &line)
{
    const QByteArray bytes = lineOpen ? QByteArrayLiteral("\r\n") + line : line;
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size()) {
        // The line's time names it in a report of a failed flush.
        sync->request(file.handle(), fileNumber,
                      file.fileName().toUtf8() + ": the line of " + line.left(line.indexOf(',')));
        lineOpen = false;
        return true;
    }
    const QString reason = file.fileName() + QStringLiteral(": ") + file.errorString();
    // Taken back whole; where even that fails the next line starts on a line of its own.
    if (file.size() != before)
        lineOpen = !file.resize(before) || lineOpen;
    setKeeping(false, reason);
    return false;
}

// The lines are in the file, which the system may yet write out; a disk that failed the flush
// may have lost them. Lines written since are not concerned.
void RecordWriter::flushFailed(const QByteArray &first, const QByteArray &last)
{
    QByteArray lines = first;
    if (last != first)
        lines += " to " + last.mid(last.lastIndexOf(' ') + 1);
    setKeeping(false,
               QString::fromUtf8(lines) + QStringLiteral(" may not be on the disk: its flush "
                                                         "failed"));
}

void RecordWriter::setKeeping(bool keeping, const QString &reason)
{
    if (keeping == keepingRecords && (keeping || reason == failure))
        return;
    keepingRecords = keeping;
    failure = reason;
    m::writeLine(log, 0,
                 keeping ? QStringLiteral("Records kept again")
                         : QStringLiteral("Records not kept: ") + reason);
    emit keepingChanged(keeping, reason);
}
