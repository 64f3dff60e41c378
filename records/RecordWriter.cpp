#include "records/RecordWriter.h"

#include "records/LineFile.h"

RecordWriter::RecordWriter(m::ifc::ILog *log, const QString &directory, QObject *parent)
    : QObject(parent), log(log), folder(directory)
{
    file = std::make_unique<records::LineFile>(
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
    bool written = openDay(record.day());
    if (written) {
        const QByteArray line = records::formatLine(record, fileColumns);
        // The line's time names it in a report of a failed flush.
        written =
            file->append(line, folder.toUtf8() + '/' + records::fileName(record.day()).toUtf8() +
                                   ": the line of " + line.left(line.indexOf(',')));
    }
    if (written) {
        setKeeping(true, QString());
    } else {
        setKeeping(false, file->error());
        file->close();  // reopened next time: the folder may be back, or writable again
    }
    emit appended(record);
    return written;
}

bool RecordWriter::openDay(const QDate &day)
{
    if (file->isOpen() && fileDay == day)
        return true;
    fileDay = day;
    if (!file->open(folder + QLatin1Char('/') + records::fileName(day), records::header()))
        return false;
    // A day begun before the tolerances goes on in its own columns, so that its reader, which
    // goes by the header, keeps every line; a file without a header gets the full line.
    const QByteArray first = file->firstLine();
    const int named =
        records::headerColumns(std::string_view(first.constData(), size_t(first.size())));
    fileColumns = named != 0 ? named : records::columnCount;
    return true;
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
