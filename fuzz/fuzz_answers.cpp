// Any bytes as a probe's answer: the first byte picks the command, the rest is the answer.

#include "FuzzCheck.h"
#include "protocol/Frames.h"
#include "protocol/OstraCommands.h"

#include <QByteArray>
#include <QObject>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

using frames::Command;

namespace {

struct CommandCase
{
    Command command;
    const char *successLine;
};

constexpr std::array<CommandCase, 8> commandCases{{
    {Command::UpdateAirCode, "Update Air Code OK"},
    {Command::CheckAirCode, "Check Air Code OK"},
    {Command::StartMeasurement, "Start Measurement OK"},
    {Command::GetMeasurementResult, "Get Measurement Result OK"},
    {Command::SetZeroPoint, "Set Zero Point OK"},
    {Command::SetMeasurePoint, "Set Measure Point OK"},
    {Command::ResetCalibration, "Reset Calibration OK"},
    {Command::TestMem, "Test OK"},
}};

// Bit by bit, the way the CRC is usually described, so it shares nothing with the hash under test.
uint16_t referenceCrc(const uint8_t *data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = uint16_t(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

bool referenceHashHolds(const uint8_t *data, size_t size)
{
    return size >= 2 &&
           referenceCrc(data, size - 2) == uint16_t(data[size - 2] | data[size - 1] << 8);
}

uint32_t littleEndian32(const uint8_t *bytes)
{
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

QByteArray toByteArray(const uint8_t *data, size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), int(size));
}

// The one line an answer must leave in the log, judged from its bytes alone.
std::string expectedLine(const CommandCase &c, const uint8_t *answer, size_t size)
{
    if (size != (c.command == Command::GetMeasurementResult ? 15u : 6u))
        return "Wrong response size";
    if (!referenceHashHolds(answer, size))
        return "Bad hash";
    const uint8_t status = answer[3];
    if (c.command == Command::TestMem)
        return status == 0 ? "Test OK" : status == 2 ? "Internal Error" : "Unknown Error";
    static const char *const errors[] = {
        "Unknown commmand", "Internal",      "Incorrect parameters", "Busy",
        "Unstable",         "No Measurement"};
    if (status >= 1 && status <= 6)
        return std::string("Error: ") + errors[status - 1];
    return c.successLine;
}

void checkFrameHelpers(const uint8_t *data, size_t size)
{
    FUZZ_CHECK(frames::checkHash(toByteArray(data, size)) == referenceHashHolds(data, size));

    const QByteArray bytes = toByteArray(data, size);
    for (size_t offset = 0; offset + 4 <= size; ++offset)
        FUZZ_CHECK(bitsOf(frames::readFloat(bytes, int(offset))) == littleEndian32(data + offset));

    // A CRC-16 catches every single-bit error; short frames only, to keep the run fast.
    if (size <= 32 && referenceHashHolds(data, size)) {
        QByteArray flipped = bytes;
        for (int bit = 0; bit < int(size) * 8; ++bit) {
            flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << (bit % 8)));
            FUZZ_CHECK(!frames::checkHash(flipped));
            flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << (bit % 8)));
        }
    }
}

void checkRequest(Command command, const uint8_t *data, size_t size)
{
    const uint8_t address = size > 0 ? data[0] : 0;
    const bool withPayload = command == Command::SetMeasurePoint;
    float payload = 0;
    if (size >= 5)
        std::memcpy(&payload, data + 1, sizeof payload);
    const std::vector<uint8_t> frame = withPayload ? frames::buildRequest(command, address, payload)
                                                   : frames::buildRequest(command, address);
    FUZZ_CHECK(frame.size() == (withPayload ? 9u : 5u));
    FUZZ_CHECK(frame[0] == 0xF5 && frame[1] == address && frame[2] == uint8_t(command));
    if (withPayload)
        FUZZ_CHECK(littleEndian32(frame.data() + 3) == bitsOf(payload));
    FUZZ_CHECK(referenceHashHolds(frame.data(), frame.size()));
}

struct Measurement
{
    uint8_t addr;
    uint32_t raw;
    uint32_t calibrated;
    uint8_t quality;
};

// One device layer for the whole run, as in the tool; no port, so only the handlers work.
struct Bench
{
    Bench() : commands(nullptr, &log)
    {
        QObject::connect(
            &commands, &OstraCommands::newMeasurement_Signal, &receiver,
            [this](uint8_t addr, float raw, float calibrated, uint8_t quality) {
                measurements.push_back({addr, bitsOf(raw), bitsOf(calibrated), quality});
            });
    }

    RecordingLog log;
    OstraCommands commands;
    QObject receiver;
    std::vector<Measurement> measurements;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static Bench bench;
    const CommandCase &c = commandCases[data[0] % commandCases.size()];
    const uint8_t *answer = data + 1;
    const size_t answerSize = size - 1;

    checkFrameHelpers(answer, answerSize);
    checkRequest(c.command, answer, answerSize);

    bench.log.lines.clear();
    bench.measurements.clear();
    bench.commands.handleResponse(c.command, toByteArray(answer, answerSize));

    FUZZ_CHECK(bench.log.lines.size() == 1);
    FUZZ_CHECK(bench.log.lines[0].first == 1);
    FUZZ_CHECK(bench.log.lines[0].second == expectedLine(c, answer, answerSize));

    // Values reach the window only from a whole, intact, successful result.
    const bool result =
        c.command == Command::GetMeasurementResult && bench.log.lines[0].second == c.successLine;
    FUZZ_CHECK(bench.measurements.size() == (result ? 1u : 0u));
    if (result) {
        const Measurement &got = bench.measurements[0];
        FUZZ_CHECK(answerSize == 15 && (answer[3] == 0 || answer[3] > 6));
        FUZZ_CHECK(got.addr == answer[1]);
        FUZZ_CHECK(got.raw == littleEndian32(answer + 4));
        FUZZ_CHECK(got.calibrated == littleEndian32(answer + 8));
        FUZZ_CHECK(got.quality == answer[12]);
    }
    return 0;
}
