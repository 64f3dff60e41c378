#include "LineSettings.h"

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
    if (::cfsetspeed(&settings, B460800) != 0)
        return false;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace probesim
