// termios2 comes from the kernel headers, which cannot be mixed with <termios.h>; this
// translation unit therefore holds nothing but the speed query.
#include "sim/pty_line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace hostsim {

uint32_t SlaveLineSpeed(int masterFd) {
    struct termios2 tio {};
    if (ioctl(masterFd, TCGETS2, &tio) != 0) return 0;
    // The kernel keeps the numeric speed for the Bnnn constants as well as for BOTHER.
    return tio.c_ospeed;
}

}  // namespace hostsim
