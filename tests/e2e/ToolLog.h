#pragma once

#include <QString>
#include <QStringList>

// The tool's log/log.txt as the messages it holds, without level and time stamp, so that the
// tests can follow an exchange line by line.
class ToolLog
{
public:
    explicit ToolLog(const QString &workDirectory);

    QStringList messages() const;
    int count(const QString &message) const;

    // Messages after the `nth` (1-based) occurrence of `message`.
    QStringList after(const QString &message, int nth) const;

    // Whether the exchange of one command with `address` is in the log, complete and in order:
    // the command's line, the request going out, the answer coming in, the verdict. `lines`
    // receives the part of the log around it for a failure message.
    static bool hasExchange(const QStringList &messages, const QString &command, uint8_t address,
                            uint8_t code, const QString &verdict, QString *lines);

private:
    QString path;
};
