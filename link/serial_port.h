// The serial transport: a tty in raw 8N1 at any rate, opened exclusively.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link/transport.h"

namespace tevrolink {

// "ttyUSB0" -> "/dev/ttyUSB0"; a name starting with '/' is used as it is.
std::string SerialDevicePath(const char *name);

// Opens and configures the port; null on failure with errno set (ENOENT, EBUSY, EACCES...).
std::unique_ptr<Transport> OpenSerialPort(const char *name, uint32_t baudRate);

}  // namespace tevrolink
