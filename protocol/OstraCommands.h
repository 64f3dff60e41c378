#pragma once

#include "logging/ILog.h"
#include "logging/SysTime.h"
#include "protocol/Frames.h"

#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <functional>
#include <vector>

class QSerialPort;

using ResponseHandler = std::function<void(QByteArray)>;

// The probes' device layer: the eight commands, one request at a time on the port, every
// outcome in the log and measurement results as a signal. It knows nothing of widgets.
class OstraCommands : public QObject
{
    Q_OBJECT

public:
#pragma pack(push, 1)
    struct Config
    {
        uint8_t first = 1;
        uint16_t second = 1000;
        uint8_t third = 1;
        uint32_t rest = 0;
    };
#pragma pack(pop)

    OstraCommands(QSerialPort *port, m::ifc::ILog *log);

    static constexpr auto calcHash = frames::calcHash;
    static constexpr auto checkHash = frames::checkHash;
    static constexpr auto statusText = frames::statusText;

    void updateAirCode(uint8_t addr);
    void checkAirCode(uint8_t addr);
    void startMeasurement(uint8_t addr);
    void getMeasurementResult(uint8_t addr);
    void setZeroPoint(uint8_t addr);
    void setMeasurePoint(uint8_t addr, float um);
    void resetCalibration(uint8_t addr);
    void testMem();

    // Judges one answer to `command` and reports it: the log, and for a result the signal.
    void handleResponse(frames::Command command, const QByteArray &response);

    void sendRequest(std::vector<uint8_t> packet, uint32_t expectedRxSize, ResponseHandler handler);

signals:
    void integrals_Signal(std::vector<uint32_t> vec);
    void devAddr_Signal(uint8_t addr);
    void getConfig_Signal(OstraCommands::Config cfg);
    void newMeasurement_Signal(uint8_t addr, float um, float um_calib, uint8_t quality);

private:
    // One request in flight: what the two port callbacks share.
    struct Exchange
    {
        std::vector<uint8_t> packet;
        uint32_t expectedRxSize;
        ResponseHandler handler;
        bool transmitted;
    };

    void deliverAnswer(const Exchange &exchange);
    void issue(frames::Command command, const char *commandLine, std::vector<uint8_t> frame);
    void handleAcknowledge(const QByteArray &response, const char *successLine);
    void handleResult(const QByteArray &response);
    void handleTestMem(const QByteArray &response);
    bool hasExpectedFrame(const QByteArray &response, uint32_t expectedSize);
    void write(const char *line);

    QSerialPort *port;
    m::ifc::ILog *log;
    SysTime time;
};

Q_DECLARE_METATYPE(OstraCommands::Config)
