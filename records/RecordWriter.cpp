#include "records/RecordWriter.h"

#include <QDir>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

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

RecordWriter::RecordWriter(m::ifc::ILog *log, const QString &directory, QObject *parent)
    : QObject(parent), log(log), folder(directory)
{
}

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
    if (file.write(bytes) == bytes.size() && syncToDisk(file.handle())) {
        lineOpen = false;
        return true;
    }
    const QString reason =
        file.fileName() + QStringLiteral(": ") +
        (file.error() != QFileDevice::NoError ? file.errorString() : QStringLiteral("not synced"));
    // Taken back whole; where even that fails the next line starts on a line of its own.
    if (file.size() != before)
        lineOpen = !file.resize(before) || lineOpen;
    setKeeping(false, reason);
    return false;
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
