#pragma once

namespace probesim {

// Raw 8N1 at the probe bus's 460800 baud, no echo, no flow control, reads return what is there.
bool makeRaw(int fd);

}  // namespace probesim
