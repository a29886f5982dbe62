// ports: the serial ports of this machine; detect: the rate a host node answers at.
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "setup/baud_search.h"
#include "setup/serial_ports.h"

namespace cli {
namespace {

const char kPortsHelp[] =
    "usage: tevrolink ports [--json]\n"
    "\n"
    "Lists the serial ports of this machine that have a device driver (ttyS ports only\n"
    "where a UART is fitted) and the stable names under /dev/serial/by-id, in text order.\n"
    "Any of them can be given to --port or to detect.\n";

const char kDetectHelp[] =
    "usage: tevrolink detect PORT [--json]\n"
    "\n"
    "Finds the rate at which the host node on serial port PORT answers: tries 9600, 14400,\n"
    "19200, 38400, 57600 and 115200 bit/s in turn, asking for the firmware version, and\n"
    "stops at the first rate that answers. Prints the search log line by line; the last\n"
    "line names the rate found. Exits with 1 when the port cannot be opened or no rate\n"
    "answers.\n";

int RunPorts(const Arguments &args) {
    if (!args.positional.empty()) throw UsageError("ports takes no arguments");
    const std::vector<tevrolink::SerialPortInfo> ports = tevrolink::ListSerialPorts();
    if (args.Json()) {
        Json list = Json::array();
        for (const auto &p : ports)
            list.push_back({{"path", p.path}, {"driver", p.driver.empty() ? Json() : Json(p.driver)}});
        PrintJson({{"ports", list}});
        return kExitOk;
    }
    if (ports.empty()) {
        std::fprintf(stderr, "tevrolink: no serial ports found\n");
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const auto &p : ports) rows.push_back({p.path, p.driver.empty() ? "-" : p.driver});
    PrintTable({"PORT", "DRIVER"}, rows);
    return kExitOk;
}

int RunDetect(const Arguments &args) {
    if (args.positional.size() != 1) throw UsageError("detect wants exactly one serial port");
    const std::string port = args.positional[0];
    std::vector<std::string> log;
    int lastErrno = 0;
    tevrolink::BaudSearchEvents events;
    events.line = [&](const std::string &line, bool) {
        // Taken first: an open failure is reported right after the failing open.
        lastErrno = errno;
        log.push_back(line);
        if (!args.Json()) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    };
    const uint32_t rate = tevrolink::SearchBaudRate(port, events);
    if (args.Json()) {
        PrintJson({{"port", port}, {"found", rate != 0}, {"baud", rate ? Json(rate) : Json()}, {"log", log}});
    }
    if (rate) return kExitOk;
    // A search that ran through every rate ends with an empty line; one that could not
    // open the port ends with the open-failure line.
    if (!log.empty() && !log.back().empty())
        throw Failure(SerialOpenError(port, lastErrno ? lastErrno : ENOENT));
    throw Failure("no host node answered on " + SerialDevicePath(port) + " at any rate");
}

}  // namespace

std::vector<Command> PortCommands() {
    return {
        {"ports", "list the serial ports of this machine", kPortsHelp, false, {}, RunPorts},
        {"detect", "find the baud rate of a host node on a serial port", kDetectHelp, false, {},
         RunDetect},
    };
}

}  // namespace cli
