#include "setup/serial_ports.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tevrolink {
namespace {

namespace fs = std::filesystem;

// "ttyS0" and the like: 8250-style UARTs, of which the kernel registers many that are
// not fitted.
bool IsLegacyUartName(const std::string &name) {
    if (name.size() <= 4 || name.compare(0, 4, "ttyS") != 0) return false;
    return std::all_of(name.begin() + 4, name.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

// The driver of the tty at `ttyDir`; empty when it has none. Newer kernels put a
// "serial-base" port device between a UART and its driver; the name shown is that of the
// driver above it.
std::string DriverOf(const fs::path &ttyDir) {
    std::error_code ec;
    fs::path device = fs::canonical(ttyDir / "device", ec);
    if (ec || !fs::exists(device / "driver", ec)) return {};
    std::string name;
    for (int level = 0; level < 4 && !device.empty(); ++level, device = device.parent_path()) {
        const fs::path driver = fs::read_symlink(device / "driver", ec);
        if (ec) break;
        name = driver.filename().string();
        if (driver.string().find("/serial-base/") == std::string::npos) break;
    }
    return name.empty() ? std::string("unknown") : name;
}

// A port type of 0 is the kernel's "unknown": no UART answered at that address.
bool UartFitted(const fs::path &ttyDir) {
    std::ifstream in(ttyDir / "type");
    int type = -1;
    if (!(in >> type)) return true;  // drivers without the attribute list only real ports
    return type != 0;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const SerialPortRoots &roots) {
    std::vector<SerialPortInfo> ports;
    std::error_code ec;
    for (const fs::directory_entry &entry : fs::directory_iterator(roots.sysClassTty, ec)) {
        const std::string name = entry.path().filename().string();
        const std::string driver = DriverOf(entry.path());
        if (driver.empty()) continue;
        if (IsLegacyUartName(name) && !UartFitted(entry.path())) continue;
        ports.push_back({roots.devDir + "/" + name, driver});
    }
    for (const fs::directory_entry &entry : fs::directory_iterator(roots.byIdDir, ec)) {
        std::error_code linkError;
        const fs::path device = fs::canonical(entry.path(), linkError);
        if (linkError) continue;  // leads nowhere
        const std::string driver = DriverOf(fs::path(roots.sysClassTty) / device.filename());
        ports.push_back({entry.path().string(), driver});
    }
    std::sort(ports.begin(), ports.end(),
              [](const SerialPortInfo &a, const SerialPortInfo &b) { return a.path < b.path; });
    ports.erase(std::unique(ports.begin(), ports.end(),
                            [](const SerialPortInfo &a, const SerialPortInfo &b) {
                                return a.path == b.path;
                            }),
                ports.end());
    return ports;
}

}  // namespace tevrolink
