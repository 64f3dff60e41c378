#include "protocol/Frames.h"

#include <cstring>

namespace frames {

uint16_t calcHash(const uint8_t *data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        uint8_t t = uint8_t((crc >> 8) ^ data[i]);
        t = uint8_t(t ^ (t >> 4));
        crc = uint16_t((crc << 8) ^ (uint16_t(t) << 12) ^ (uint16_t(t) << 5) ^ t);
    }
    return crc;
}

bool checkHash(const QByteArray &response)
{
    if (response.size() < 2)
        return false;
    const auto *bytes = reinterpret_cast<const uint8_t *>(response.constData());
    const size_t covered = size_t(response.size()) - 2;
    const uint16_t received = uint16_t(bytes[covered] | (bytes[covered + 1] << 8));
    return calcHash(bytes, covered) == received;
}

std::optional<const char *> statusText(uint8_t status)
{
    switch (status) {
        case 1:
            return "Unknown commmand";
        case 2:
            return "Internal";
        case 3:
            return "Incorrect parameters";
        case 4:
            return "Busy";
        case 5:
            return "Unstable";
        case 6:
            return "No Measurement";
        default:
            return std::nullopt;
    }
}

void appendHash(std::vector<uint8_t> &frame)
{
    const uint16_t hash = calcHash(frame.data(), frame.size());
    frame.push_back(uint8_t(hash & 0xFF));
    frame.push_back(uint8_t(hash >> 8));
}

std::vector<uint8_t> buildRequest(Command command, uint8_t address)
{
    std::vector<uint8_t> frame{requestStart, address, uint8_t(command)};
    appendHash(frame);
    return frame;
}

std::vector<uint8_t> buildRequest(Command command, uint8_t address, float payload)
{
    std::vector<uint8_t> frame{requestStart, address, uint8_t(command)};
    appendFloat(frame, payload);
    appendHash(frame);
    return frame;
}

float readFloat(const QByteArray &frame, int offset)
{
    const auto *bytes = reinterpret_cast<const uint8_t *>(frame.constData()) + offset;
    const uint32_t bits = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                          uint32_t(bytes[3]) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void appendFloat(std::vector<uint8_t> &frame, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 0; shift < 32; shift += 8)
        frame.push_back(uint8_t(bits >> shift));
}

QByteArray hexDump(const uint8_t *data, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    QByteArray dump;
    dump.reserve(int(length * 3));
    for (size_t i = 0; i < length; ++i) {
        dump.append(digits[data[i] >> 4]);
        dump.append(digits[data[i] & 0x0F]);
        dump.append('\'');
    }
    return dump;
}

}  // namespace frames
