#include "ExchangeText.h"

#include "protocol/Frames.h"

namespace probesim {

namespace {

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(frames::hexDump(reinterpret_cast<const uint8_t *>(bytes.constData()),
                                               size_t(bytes.size())));
}

QString statusDescription(uint8_t code, uint8_t status)
{
    if (code == uint8_t(frames::Command::TestMem))
        return QStringLiteral("status %1").arg(status);
    const auto text = frames::statusText(status);
    return QStringLiteral("status %1 (%2)").arg(status).arg(QLatin1String(text.value_or("OK")));
}

}  // namespace

QString describeExchange(const Exchange &exchange, qint64 startUs)
{
    const ProbeRequest &request = exchange.request;
    QString line = QStringLiteral("%1 <- %2")
                       .arg(double(request.timeUs - startUs) / 1e6, 0, 'f', 6)
                       .arg(hex(request.bytes));
    switch (exchange.outcome) {
        case Exchange::Outcome::Rejected:
            return line + (request.verdict == RequestVerdict::BadHash
                               ? QStringLiteral(" bad hash, not answered")
                               : QStringLiteral(" unknown command, not answered"));
        case Exchange::Outcome::NoDevice:
            return line + QStringLiteral(" %1 addr %2, no device")
                              .arg(QLatin1String(commandName(request.code())))
                              .arg(request.address());
        case Exchange::Outcome::Silenced:
        case Exchange::Outcome::Answered:
            break;
    }
    line += QStringLiteral(" %1 addr %2")
                .arg(QLatin1String(commandName(request.code())))
                .arg(request.address());
    if (const auto payload = request.payload())
        line += QStringLiteral(" um %1").arg(double(*payload), 0, 'g', 9);
    if (exchange.outcome == Exchange::Outcome::Silenced)
        return line + QStringLiteral(" -> silent (fault: no answer)");
    line += QStringLiteral(" -> %1").arg(hex(exchange.written));
    if (exchange.fault != Fault::None)
        line += QStringLiteral(" [fault: %1]").arg(QLatin1String(faultName(exchange.fault)));
    const QByteArray &frame = exchange.frame;
    line += QLatin1Char(' ') + statusDescription(request.code(), uint8_t(frame.at(3)));
    if (frame.size() == int(frames::resultSize)) {
        line += QStringLiteral(" um %1 calib %2 quality %3")
                    .arg(double(frames::readFloat(frame, 4)), 0, 'f', 3)
                    .arg(double(frames::readFloat(frame, 8)), 0, 'f', 3)
                    .arg(uint8_t(frame.at(12)));
    }
    return line;
}

}  // namespace probesim
