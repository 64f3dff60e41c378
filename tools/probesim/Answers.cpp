#include "Answers.h"

#include "protocol/Frames.h"

#include <vector>

namespace probesim {

QByteArray withHash(QByteArray body)
{
    const uint16_t hash =
        frames::calcHash(reinterpret_cast<const uint8_t *>(body.constData()), size_t(body.size()));
    body.append(char(hash & 0xFF));
    body.append(char(hash >> 8));
    return body;
}

QByteArray acknowledgeFrame(uint8_t address, uint8_t code, uint8_t status)
{
    QByteArray body;
    body.append(char(answerStart)).append(char(address)).append(char(code)).append(char(status));
    return withHash(body);
}

QByteArray resultFrame(uint8_t address, uint8_t status, float raw, float calibrated,
                       uint8_t quality)
{
    std::vector<uint8_t> body{answerStart, address, uint8_t(frames::Command::GetMeasurementResult),
                              status};
    frames::appendFloat(body, raw);
    frames::appendFloat(body, calibrated);
    body.push_back(quality);
    return withHash(QByteArray(reinterpret_cast<const char *>(body.data()), int(body.size())));
}

bool isErrorStatus(uint8_t status)
{
    return frames::statusText(status).has_value();
}

}  // namespace probesim
