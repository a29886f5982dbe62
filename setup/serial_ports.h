// The serial ports of this machine, listed the same way by the command line and the
// serial set-up dialog.
#pragma once

#include <string>
#include <vector>

namespace tevrolink {

struct SerialPortInfo {
    std::string path;    // "/dev/ttyUSB0", or a name under /dev/serial/by-id
    std::string driver;  // the kernel driver behind it ("ftdi_sio"); empty when unknown
};

// Where the listing looks; tests point it at a tree of their own.
struct SerialPortRoots {
    std::string sysClassTty = "/sys/class/tty";
    std::string devDir = "/dev";
    std::string byIdDir = "/dev/serial/by-id";
};

// The ttys of `sysClassTty` that have a device driver (a ttyS port only when its UART is
// really there: a driver and a port type other than 0), as `devDir`/NAME, plus every name
// of `byIdDir` that leads to an existing device. Sorted by text, no duplicates.
std::vector<SerialPortInfo> ListSerialPorts(const SerialPortRoots &roots = {});

}  // namespace tevrolink
