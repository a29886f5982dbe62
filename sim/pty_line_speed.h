// Line speed of a pseudo-terminal's slave side, as the program that opened the slave set it.
#pragma once

#include <cstdint>

namespace hostsim {

// Reads the slave's termios through the master descriptor (on Linux the terminal ioctls of
// a pty master act on its slave). Returns bits per second, or 0 when it cannot be read.
uint32_t SlaveLineSpeed(int masterFd);

}  // namespace hostsim
