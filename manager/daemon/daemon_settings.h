// What meradond runs with: the link, the directories and the switches of data transfer
// mode. Read from a TOML file, then overridden by the command line, so that it starts with
// no file at all. Every key of the file is known here: an unknown key or a bad value is an
// error with the file, line and reason, never ignored.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "manager/core/history/history_store.h"
#include "manager/daemon/broker_settings.h"

namespace meradon::daemon {

constexpr const char *kDefaultConfigPath = "/etc/meradon/meradond.toml";

enum class LinkKind { None, Udp, Serial };

struct DaemonSettings {
    LinkKind link = LinkKind::None;
    // UDP: the host node's address and port, and our end of it.
    std::string hostAddress;
    uint16_t hostPort = 12580;
    std::string localAddress;  // empty: any local address
    uint16_t localPort = 10086;
    // Serial: a device path (best a /dev/serial/by-id/ name, which survives re-plugging).
    std::string serialPort;
    uint32_t baud = 19200;

    std::filesystem::path outputDir = "/var/lib/meradon";
    std::filesystem::path sendDir;  // empty: sendings by request are refused
    bool retransmission = false;    // "支持数据重传"
    bool traceOutput = false;       // "输出运行信息": the stations' debug packets
    bool autoSave = true;           // the operation record, every hour
    int retentionDays = kDefaultRetentionDays;  // of the history's quality samples and record lines
    BrokerSettings broker;          // the MQTT bridge; no URL: none

    // What the link is called in file names and log lines: the port, or the address.
    std::string LinkText() const;
};

// A configuration error: where it is and why.
struct SettingsError {
    std::string where;  // "FILE:LINE" or "--flag"
    std::string reason;
    std::string Text() const { return where + ": " + reason; }
};

// The outcome of reading the command line: settings, or what to do instead.
struct CommandLine {
    DaemonSettings settings;
    bool check = false;  // --check: read the node's settings, print them, exit
    std::optional<SettingsError> error;
    bool help = false;
    bool version = false;
};

// Reads TOML text `text` (named `file` in errors) into `settings`.
std::optional<SettingsError> ApplySettingsText(const std::string &text, const std::string &file,
                                               DaemonSettings &settings);

// The whole command line: --config FILE (or the default file when it exists), then the
// flags over it.
CommandLine ReadCommandLine(const std::vector<std::string> &args);

extern const char kUsage[];

}  // namespace meradon::daemon
