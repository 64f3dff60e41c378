#pragma once

#include <QByteArrayList>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <vector>

// settings.cfg and log/log.txt as the suites write and read them.
namespace files {

inline QByteArray settings(const QByteArrayList &probes, const QByteArray &delay,
                           const QByteArray &port = "COM3", const QByteArray &lineEnd = "\r\n")
{
    QByteArray text = "Port=" + port + lineEnd;
    for (int i = 0; i < probes.size(); ++i)
        text += "Probe" + QByteArray::number(i + 1) + '=' + probes[i] + lineEnd;
    return text + "Delay=" + delay + lineEnd;
}

inline QByteArray settings(const std::vector<int> &addresses, int delay)
{
    QByteArrayList probes;
    for (const int address : addresses)
        probes << QByteArray::number(address);
    return settings(probes, QByteArray::number(delay));
}

inline bool write(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

// What a file holds; a file that cannot be read holds no text a test expects.
inline QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// The log's lines without their time stamps: "0 Delay: 190".
inline QStringList logMessages(const QString &path = QStringLiteral("log/log.txt"))
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression stamped(QStringLiteral("^(\\d+) \\[[^\\]]*\\] (.*)$"));
    QStringList messages;
    for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
        const auto match = stamped.match(line);
        if (match.hasMatch())
            messages << match.captured(1) + QLatin1Char(' ') + match.captured(2);
    }
    return messages;
}

}  // namespace files
