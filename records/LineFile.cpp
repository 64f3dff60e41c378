#include "records/LineFile.h"

#include <QDir>
#include <QFileInfo>

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

namespace records {

LineFile::LineFile(FlushFailed failed) : sync(std::make_unique<DiskSync>(std::move(failed))) {}

LineFile::~LineFile() = default;

bool LineFile::open(const QString &path, const QByteArray &header)
{
    file.close();
    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("cannot create the folder ") + folder);
    file.setFileName(path);
    // Unbuffered: a line that does not fit is known at once, and can be taken back.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return fail(file.fileName() + QStringLiteral(": ") + file.errorString());
    ++fileNumber;
    lineOpen = false;
    const qint64 size = file.size();
    if (size > 0) {
        first = file.seek(0) ? file.readLine(256).trimmed() : QByteArray();
        char last = '\n';
        lineOpen = !file.seek(size - 1) || !file.getChar(&last) || last != '\n';
        return true;
    }
    first = header.trimmed();
    return append(header, header.trimmed());
}

bool LineFile::append(const QByteArray &line, const QByteArray &label)
{
    const QByteArray bytes = lineOpen ? QByteArrayLiteral("\r\n") + line : line;
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size()) {
        sync->request(file.handle(), fileNumber, label);
        lineOpen = false;
        return true;
    }
    const QString reason = file.fileName() + QStringLiteral(": ") + file.errorString();
    // Taken back whole; where even that fails the next line starts on a line of its own.
    if (file.size() != before)
        lineOpen = !file.resize(before) || lineOpen;
    return fail(reason);
}

bool LineFile::fail(const QString &reason)
{
    failure = reason;
    return false;
}

}  // namespace records
