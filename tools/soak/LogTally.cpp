#include "LogTally.h"

#include <QFile>
#include <QRegularExpression>

LineKind classifyLine(const QString &message)
{
    if (message.startsWith(QLatin1String("Tx expected: ")))
        return LineKind::Transmission;
    if (message.startsWith(QLatin1String("Rx expected: ")))
        return LineKind::Reception;
    if (message == QLatin1String("Bad hash"))
        return LineKind::BadHash;
    if (message == QLatin1String("Wrong response size"))
        return LineKind::WrongSize;
    if (message.startsWith(QLatin1String("Packet not sended.")))
        return LineKind::NotSent;
    // The memory test reports its status in words of its own.
    if (message.endsWith(QLatin1String(" OK")) || message.startsWith(QLatin1String("Error: ")) ||
        message == QLatin1String("Internal Error") || message == QLatin1String("Unknown Error"))
        return LineKind::WellFormedOutcome;
    if (message.endsWith(QLatin1Char(':')))
        return LineKind::Command;
    return LineKind::Other;
}

void LogTally::add(LineKind kind)
{
    ++lines;
    switch (kind) {
        case LineKind::Command:
            ++commands;
            break;
        case LineKind::Transmission:
            ++transmissions;
            break;
        case LineKind::Reception:
            ++receptions;
            break;
        case LineKind::WellFormedOutcome:
            ++wellFormed;
            break;
        case LineKind::BadHash:
            ++badHash;
            break;
        case LineKind::WrongSize:
            ++wrongSize;
            break;
        case LineKind::NotSent:
            ++notSent;
            break;
        case LineKind::Other:
            break;
    }
}

bool LogTally::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QRegularExpression line(
        QStringLiteral("^\\d+ \\[\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d:\\d{3}\\] (.*)$"));
    while (!file.atEnd()) {
        const QString text = QString::fromLocal8Bit(file.readLine()).chopped(1);
        const auto match = line.match(text);
        if (match.hasMatch())
            add(classifyLine(match.captured(1)));
        else
            ++unreadable;
    }
    return true;
}
