#pragma once

#include "probesim/Answers.h"
#include "protocol/Frames.h"

#include <QStringList>
#include <QVector>

#include <optional>

// Request frames and the log lines of an exchange, spelled out here rather than taken from the
// code under test. Lines are "level text", as the log file and CapturingLog hold them.
namespace trace {

inline QByteArray request(frames::Command command, int address, std::optional<float> um = {})
{
    const auto bytes = um ? frames::buildRequest(command, uint8_t(address), *um)
                          : frames::buildRequest(command, uint8_t(address));
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size()));
}

inline QString dump(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex('\'')) + QLatin1Char('\'');
}

inline QString txLine(const QByteArray &request)
{
    return QStringLiteral("1 Tx expected: %1 bytes. Transmitted: %1 bytes. Tx: 0x ")
               .arg(request.size()) +
           dump(request);
}

inline QString rxLine(int expected, int received, const QByteArray &answer)
{
    return QStringLiteral("1 Rx expected: %1 bytes.    Received: %2 bytes. Rx: 0x ")
               .arg(expected)
               .arg(received) +
           dump(answer);
}

// One request answered whole: the command's line, Tx, Rx, then what the answer gave.
inline QStringList exchange(const QString &command, const QByteArray &request,
                            const QByteArray &answer, const QStringList &outcome)
{
    return QStringList{QStringLiteral("1 ") + command + QLatin1Char(':'), txLine(request),
                       rxLine(answer.size(), answer.size(), answer)} +
           outcome;
}

// A request that the probe at `address` acknowledged.
inline QStringList acknowledged(const QString &command, frames::Command code, int address,
                                std::optional<float> um = {})
{
    return exchange(command, request(code, address, um),
                    probesim::acknowledgeFrame(uint8_t(address), uint8_t(code), 0),
                    {QStringLiteral("1 ") + command + QStringLiteral(" OK")});
}

// What a probe reads, and its raw value as the log prints it.
struct Reading
{
    int address;
    float um;
    int quality;
    QString logged;
};

// A measurement over all the probes: every start, then every result.
inline QStringList measurement(const QVector<Reading> &readings)
{
    QStringList lines;
    for (const Reading &probe : readings)
        lines << acknowledged(QStringLiteral("Start Measurement"),
                              frames::Command::StartMeasurement, probe.address);
    for (const Reading &probe : readings) {
        lines << exchange(QStringLiteral("Get Measurement Result"),
                          request(frames::Command::GetMeasurementResult, probe.address),
                          probesim::resultFrame(uint8_t(probe.address), 0, probe.um, probe.um,
                                                uint8_t(probe.quality)),
                          {QStringLiteral("1 Raw: %1 Calibrated: %1 Quality: %2")
                               .arg(probe.logged)
                               .arg(probe.quality),
                           QStringLiteral("1 Get Measurement Result OK")});
    }
    return lines;
}

}  // namespace trace
