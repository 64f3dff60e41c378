#include "logging/FileLog.h"

#include <QDateTime>
#include <QDir>
#include <QTextStream>

#include <climits>

FileLog::FileLog()
{
    file.setFileName(QStringLiteral("log/log") + QStringLiteral(".txt"));
    QFile::remove(file.fileName());
    if (!QDir(QStringLiteral("log")).exists())
        QDir().mkdir(QStringLiteral("log"));
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
