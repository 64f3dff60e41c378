#include "LineSettings.h"

#include "protocol/ProbeLine.h"

#include <termios.h>

namespace probesim {

bool makeRaw(int fd)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | CRTSCTS);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    // termios names the speed by a code of its own.
    static_assert(probeline::baudRate == 460800);
    if (::cfsetspeed(&settings, B460800) != 0)
        return false;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace probesim
