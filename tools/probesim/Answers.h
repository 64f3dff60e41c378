#pragma once

#include <QByteArray>

#include <cstdint>

namespace probesim {

constexpr uint8_t answerStart = 0xF5;

// The frame body with its two hash bytes appended, low byte first.
QByteArray withHash(QByteArray body);

// F5 addr code status hashLo hashHi.
QByteArray acknowledgeFrame(uint8_t address, uint8_t code, uint8_t status);

// F5 addr 1D status um um_calib quality hashLo hashHi: 15 bytes.
QByteArray resultFrame(uint8_t address, uint8_t status, float raw, float calibrated,
                       uint8_t quality);

bool isErrorStatus(uint8_t status);

}  // namespace probesim
