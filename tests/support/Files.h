#pragma once

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <vector>

// settings.cfg and log/log.txt as the suites write and read them, and the folders they live in.
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

// A test's working folder, emptied and made the current one.
inline bool enterEmpty(const QTemporaryDir &dir)
{
    return dir.isValid() && QDir(dir.path()).removeRecursively() && QDir().mkpath(dir.path()) &&
           QDir::setCurrent(dir.path());
}

// A folder spoilt for a child process: a file in its place ("file"), or, in a mount namespace of
// the child's own, a 16 KiB tmpfs "read-only" or filled up to `room` bytes.
inline bool spoil(const QString &folder, const QByteArray &mode, qint64 room = 0)
{
    if (mode == "file")
        return write(folder, QByteArray());
    const QByteArray path = folder.toLocal8Bit();
    const bool readOnly = mode == "read-only";
    struct statvfs space = {};
    if (!QDir().mkpath(folder) || ::mount("tmpfs", path.constData(), "tmpfs",
                                          readOnly ? MS_RDONLY : 0, "size=16k,mode=0777") != 0)
        return false;
    if (readOnly)
        return true;
    return ::statvfs(path.constData(), &space) == 0 &&
           write(folder + "/filler",
                 QByteArray(int(qint64(space.f_bavail) * qint64(space.f_bsize) - room), 'x'));
}

}  // namespace files
