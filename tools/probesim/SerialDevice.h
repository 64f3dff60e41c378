#pragma once

#include <QString>

namespace probesim {

// A real serial device that the simulator answers on, e.g. one end of a null-modem cable.
class SerialDevice
{
public:
    SerialDevice() = default;
    ~SerialDevice();
    SerialDevice(const SerialDevice &) = delete;
    SerialDevice &operator=(const SerialDevice &) = delete;

    bool open(const QString &path);
    void close();

    int fd() const { return descriptor; }
    QString errorString() const { return error; }

private:
    int descriptor = -1;
    QString error;
};

}  // namespace probesim
