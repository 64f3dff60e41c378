#include "logging/FileLog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <algorithm>
#include <climits>
#include <vector>

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

// Kept logs are numbered in the order they were moved aside: the time stamps inside cannot order
// them, since a clock reset or a wrong battery-backed clock would make the newest log the
// oldest. Logs kept before the numbering (log-<start>.txt) come before every numbered one.
struct KeptLog
{
    qint64 number = 0;
    QString name;
    bool operator<(const KeptLog &other) const
    {
        return number != other.number ? number < other.number : name < other.name;
    }
};

std::vector<KeptLog> keptLogs(const QDir &folder)
{
    static const QRegularExpression keptName(QStringLiteral(
        "^log-(?:(\\d{1,9})-)?\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d(_\\d+)?\\.txt$"));
    std::vector<KeptLog> logs;
    for (const QString &name : folder.entryList(QDir::Files)) {
        const auto match = keptName.match(name);
        if (match.hasMatch())
            logs.push_back({match.captured(1).toLongLong(), name});
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

// Moves the previous run's log aside as log/log-<number>-<start>.txt and drops the logs moved
// aside first. A log that cannot be moved stays where it is: the new lines follow it rather than
// replace it.
void keepPreviousRun(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return;
    QDir folder(QStringLiteral("log"));
    const std::vector<KeptLog> before = keptLogs(folder);
    qint64 number = before.empty() ? 1 : before.back().number + 1;
    const QString start = runStart(path).toString(QLatin1String(keptNameFormat));
    const auto keptPath = [&start](qint64 n) {
        return QStringLiteral("log/log-%1-%2.txt").arg(n).arg(start);
    };
    while (QFileInfo::exists(keptPath(number)))
        ++number;
    const QString kept = keptPath(number);
    if (!QFile::rename(path, kept))
        return;
    const QString keptName = QFileInfo(kept).fileName();
    const std::vector<KeptLog> logs = keptLogs(folder);
    for (size_t i = 0; i + keptRuns < logs.size(); ++i) {
        // Whatever the folder holds, the log this start moved aside is not the one to go.
        if (logs[i].name != keptName)
            folder.remove(logs[i].name);
    }
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
