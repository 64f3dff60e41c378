#include "link/LinkHealth.h"

bool LinkHealth::lost(QSerialPort::SerialPortError error, uint32_t nowMs)
{
    switch (error) {
        case QSerialPort::ResourceError:
            return true;
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            break;
        default:
            // Parity, framing and break conditions come from noise on a line that works.
            return false;
    }
    if (burstCount == 0 || uint32_t(nowMs - burstStartMs) >= uint32_t(burstWindowMs)) {
        burstStartMs = nowMs;
        burstCount = 0;
    }
    return ++burstCount >= burstErrors;
}
