#pragma once

#include "logging/ILog.h"
#include "records/Record.h"

#include <QDate>
#include <QFile>
#include <QObject>
#include <QString>

#include <memory>

namespace records {
class LineFile;
}

// Appends results to records/YYYY-MM-DD.csv, one file per local day. Each line is in the
// system's hands when append returns (a crash of the tool cannot lose it) and on the disk a few
// milliseconds later: the flush to the disk runs on a thread of its own, since it takes
// milliseconds that the line's timing cannot spare. A disk that is full or read-only costs the
// lines written meanwhile, not the caller: the reason is logged at level 0, keepingChanged tells
// the window, and the next append tries again. Nothing here knows of widgets, so a command-line
// program can append too.
class RecordWriter : public QObject
{
    Q_OBJECT

public:
    explicit RecordWriter(m::ifc::ILog *log, const QString &directory = QStringLiteral("records"),
                          QObject *parent = nullptr);
    ~RecordWriter() override;

    bool append(const QDateTime &time, const QVector<int> &channels, uint8_t address, float raw,
                float calibrated, uint8_t quality);
    bool append(const records::Record &record);

    bool keeping() const { return keepingRecords; }
    QString directory() const { return folder; }

signals:
    void keepingChanged(bool keeping, const QString &reason);
    // A record is on disk (or was offered while records are not kept: the session still saw it).
    void appended(const records::Record &record);

private:
    bool openDay(const QDate &day);
    void setKeeping(bool keeping, const QString &reason);
    void flushFailed(const QByteArray &first, const QByteArray &last);

    m::ifc::ILog *log;
    QString folder;
    std::unique_ptr<records::LineFile> file;
    QDate fileDay;
    int fileColumns = records::columnCount;
    bool keepingRecords = true;
    QString failure;
};
