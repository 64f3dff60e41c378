#include "logging/FileLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <climits>

namespace {

// The log is the only record of what went to the probes: earlier runs' logs are kept, this many.
constexpr int keptRuns = 30;
const char keptNameFormat[] = "yyyy-MM-dd_hh-mm-ss";

// When the run that wrote `path` began: the stamp of its first line, else the file's own times.
QDateTime runStart(const QString &path)
{
    QFile log(path);
    if (log.open(QIODevice::ReadOnly)) {
        static const QRegularExpression stamp(
            QStringLiteral("^\\d+ \\[(\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d):\\d{3}\\]"));
        const auto match = stamp.match(QString::fromLatin1(log.readLine(256)));
        const QDateTime start =
            match.hasMatch()
                ? QDateTime::fromString(match.captured(1), QStringLiteral("dd.MM.yyyy hh:mm:ss"))
                : QDateTime();
        if (start.isValid())
            return start;
    }
    const QFileInfo info(path);
    return info.birthTime().isValid() ? info.birthTime() : info.lastModified();
}

// Moves the previous run's log aside as log/log-<start>.txt and drops the oldest kept ones. A
// log that cannot be moved stays where it is: the new lines follow it rather than replace it.
void keepPreviousRun(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    const QString base =
        QStringLiteral("log/log-") + runStart(path).toString(QLatin1String(keptNameFormat));
    QString kept = base + QStringLiteral(".txt");
    // Two starts within one second: the later one gets a suffix and still sorts after.
    for (int copy = 2; QFileInfo::exists(kept) && copy < 1000; ++copy)
        kept = base + QStringLiteral("_%1.txt").arg(copy);
    if (!QFile::rename(path, kept))
        return;

    static const QRegularExpression keptName(
        QStringLiteral("^log-\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(_\\d+)?\\.txt$"));
    QDir folder(QStringLiteral("log"));
    QStringList runs;
    for (const QString &name : folder.entryList(QDir::Files, QDir::Name)) {
        if (keptName.match(name).hasMatch())
            runs.append(name);
    }
    // The names sort by time.
    for (int i = 0; i < runs.size() - keptRuns; ++i)
        folder.remove(runs.at(i));
}

}  // namespace

FileLog::FileLog()
{
    file.setFileName(QStringLiteral("log/log") + QStringLiteral(".txt"));
    if (!QDir(QStringLiteral("log")).exists())
        QDir().mkdir(QStringLiteral("log"));
    keepPreviousRun(file.fileName());
}

FileLog::FileLog(const QString &path, Mode mode)
{
    file.setFileName(path);
    if (mode == Fresh)
        QFile::remove(path);
}

void FileLog::write(uint32_t level, std::string_view text)
{
    // Opened and closed per line so that a crash or a pulled cable never costs logged lines.
    // Unbuffered, so that a line that does not fit is known at once.
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered))
        return;
    QString line;
    {
        QTextStream stream(&line);
        stream << level << " ["
               << QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy hh:mm:ss:zzz"))
               << "] "
               << QString::fromLocal8Bit(text.data(), int(qMin<size_t>(text.size(), INT_MAX)))
               << '\n';
    }
    const QByteArray bytes = line.toLocal8Bit();
    const qint64 before = file.size();
    // On a full disk the line is dropped whole: a torn line would run into the next one.
    if (file.write(bytes) != bytes.size())
        file.resize(before);
    file.close();
}
