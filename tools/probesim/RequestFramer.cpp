#include "RequestFramer.h"

#include "protocol/Frames.h"

#include <chrono>

namespace probesim {

namespace {

bool isKnownCode(uint8_t code)
{
    switch (frames::Command(code)) {
        case frames::Command::UpdateAirCode:
        case frames::Command::CheckAirCode:
        case frames::Command::StartMeasurement:
        case frames::Command::GetMeasurementResult:
        case frames::Command::SetZeroPoint:
        case frames::Command::SetMeasurePoint:
        case frames::Command::ResetCalibration:
        case frames::Command::TestMem:
            return true;
    }
    return false;
}

}  // namespace

std::optional<float> ProbeRequest::payload() const
{
    if (bytes.size() != frames::requestSize(frames::Command::SetMeasurePoint))
        return std::nullopt;
    return frames::readFloat(bytes, 3);
}

qint64 steadyMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char *commandName(uint8_t code)
{
    switch (frames::Command(code)) {
        case frames::Command::UpdateAirCode:
            return "Update Air Code";
        case frames::Command::CheckAirCode:
            return "Check Air Code";
        case frames::Command::StartMeasurement:
            return "Start Measurement";
        case frames::Command::GetMeasurementResult:
            return "Get Measurement Result";
        case frames::Command::SetZeroPoint:
            return "Set Zero Point";
        case frames::Command::SetMeasurePoint:
            return "Set Measure Point";
        case frames::Command::ResetCalibration:
            return "Reset Calibration";
        case frames::Command::TestMem:
            return "Test";
    }
    return "unknown command";
}

std::vector<ProbeRequest> RequestFramer::feed(const QByteArray &bytes, qint64 timeUs)
{
    buffer.append(bytes);
    std::vector<ProbeRequest> requests;
    for (;;) {
        const int start = buffer.indexOf(char(frames::requestStart));
        if (start < 0) {
            skipped += buffer.size();
            buffer.clear();
            break;
        }
        skipped += start;
        buffer.remove(0, start);
        if (buffer.size() < 3)
            break;
        const int length = frames::requestSize(frames::Command(uint8_t(buffer.at(2))));
        if (buffer.size() < length)
            break;
        ProbeRequest request{buffer.left(length), timeUs, RequestVerdict::Valid};
        if (!frames::checkHash(request.bytes)) {
            // Drop only the start byte: a stray 0xF5 must not swallow the real request behind it.
            request.verdict = RequestVerdict::BadHash;
            buffer.remove(0, 1);
        } else {
            if (!isKnownCode(request.code()))
                request.verdict = RequestVerdict::UnknownCode;
            buffer.remove(0, length);
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

void RequestFramer::reset()
{
    buffer.clear();
    skipped = 0;
}

}  // namespace probesim
