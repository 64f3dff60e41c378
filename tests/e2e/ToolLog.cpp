#include "ToolLog.h"

#include <QFile>
#include <QRegularExpression>

ToolLog::ToolLog(const QString &workDirectory)
    : path(workDirectory + QStringLiteral("/log/log.txt"))
{
}

QStringList ToolLog::messages() const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression stamped(QStringLiteral("^\\d+ \\[[^\\]]*\\] (.*)$"));
    QStringList messages;
    for (const QString &line : QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch match = stamped.match(line);
        if (match.hasMatch())
            messages.append(match.captured(1));
    }
    return messages;
}

int ToolLog::count(const QString &message) const
{
    return messages().count(message);
}

QStringList ToolLog::after(const QString &message, int nth) const
{
    const QStringList all = messages();
    int seen = 0;
    for (int i = 0; i < all.size(); ++i) {
        if (all[i] == message && ++seen == nth)
            return all.mid(i + 1);
    }
    return {};
}

bool ToolLog::hasExchange(const QStringList &messages, const QString &command, uint8_t address,
                          uint8_t code, const QString &verdict, QString *lines)
{
    // Start byte, address, command code: what identifies the request on the line.
    const QString request = QString::asprintf("Tx: 0x f5'%02x'%02x'", address, code);
    const auto isRequest = [&request](const QString &message) {
        return message.startsWith(QLatin1String("Tx expected: ")) && message.contains(request);
    };
    for (int i = 0; i < messages.size(); ++i) {
        if (messages[i] != command + QLatin1Char(':') || !isRequest(messages.value(i + 1)))
            continue;
        // The command line, the request and answer traces, a result line, the verdict.
        *lines = messages.mid(i, 5).join(QLatin1Char('\n'));
        if (!messages.value(i + 2).startsWith(QLatin1String("Rx expected: ")))
            return false;
        if (messages.value(i + 3).startsWith(QLatin1String("Raw: ")))
            return messages.value(i + 4) == verdict;
        return messages.value(i + 3) == verdict;
    }
    *lines = QStringLiteral("no exchange with request %1 in the log").arg(request);
    return false;
}
