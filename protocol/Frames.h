#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

// The bytes of the probe line: request frames, the CRC-16/XMODEM hash, status codes.
namespace frames {

constexpr uint8_t requestStart = 0xF5;
constexpr uint8_t testMemAddress = 0x01;

enum class Command : uint8_t {
    UpdateAirCode = 0x17,
    CheckAirCode = 0x19,
    StartMeasurement = 0x1B,
    GetMeasurementResult = 0x1D,
    SetZeroPoint = 0x1F,
    SetMeasurePoint = 0x21,
    ResetCalibration = 0x23,
    TestMem = 0xC8,
};

constexpr uint32_t ackSize = 6;
constexpr uint32_t resultSize = 15;

// Answers are cut by length alone, so the receiver must know it before the answer comes.
constexpr uint32_t expectedResponseSize(Command command)
{
    return command == Command::GetMeasurementResult ? resultSize : ackSize;
}

// Only a measure point carries a value: the thickness, as a float.
constexpr bool hasPayload(Command command)
{
    return command == Command::SetMeasurePoint;
}

constexpr int requestSize(Command command)
{
    return hasPayload(command) ? 9 : 5;
}

uint16_t calcHash(const uint8_t *data, size_t length);
bool checkHash(const QByteArray &response);
std::optional<const char *> statusText(uint8_t status);

std::vector<uint8_t> buildRequest(Command command, uint8_t address);
std::vector<uint8_t> buildRequest(Command command, uint8_t address, float payload);

// Appends the two hash bytes, low byte first, over everything already in the frame.
void appendHash(std::vector<uint8_t> &frame);

float readFloat(const QByteArray &frame, int offset);
void appendFloat(std::vector<uint8_t> &frame, float value);

// Two lowercase hex digits and an apostrophe per byte: f5'01'19'8b'b8'
QByteArray hexDump(const uint8_t *data, size_t length);

}  // namespace frames
