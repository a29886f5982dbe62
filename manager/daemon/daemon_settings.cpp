#include "manager/daemon/daemon_settings.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <toml++/toml.h>
#include <tuple>

namespace meradon::daemon {

const char kUsage[] =
    "usage: meradond [--config FILE] [--connect ADDRESS:PORT [--local-port N] | --serial PORT [--baud N]]\n"
    "                [--output-dir DIR] [--send-dir DIR] [--retransmission on|off]\n"
    "                [--broker URL] [--base TOPIC] [--check]\n"
    "\n"
    "Runs a Zelkora radio network through its host node without a window: receives the\n"
    "stations' files, keeps the station list, trace logs and the operation record.\n"
    "\n"
    "  --config FILE      settings file (default /etc/meradon/meradond.toml when it exists)\n"
    "  --connect ADDRESS:PORT  the host node on UDP\n"
    "  --serial PORT      the host node on a serial port (a /dev/serial/by-id/ path is best)\n"
    "  --baud N           the serial port's rate (default 19200)\n"
    "  --local-port N     our UDP port (default 10086)\n"
    "  --output-dir DIR   received files, trace logs, records (default /var/lib/meradon)\n"
    "  --send-dir DIR     the directory files are sent from on request\n"
    "  --retransmission on|off  data retransmission on the link (default off)\n"
    "  --broker URL       publish to the MQTT broker at mqtt://HOST[:PORT] or mqtts://...\n"
    "  --base TOPIC       the topics' prefix (default meradon/<host name>)\n"
    "  --check            open the link, print the host node's settings and exit:\n"
    "                     0 when all went well, 1 saying what failed\n"
    "  --help             show this text\n"
    "  --version          show the version\n"
    "\n"
    "Exit status: 0 stopped by SIGTERM or SIGINT; 1 the link or the output directory\n"
    "failed; 2 bad usage or a bad settings file.\n";

std::string DaemonSettings::LinkText() const {
    if (link == LinkKind::Serial) return serialPort;
    if (link == LinkKind::Udp) return hostAddress;
    return {};
}

namespace {

// A whole number written in digits alone, from `low` to `high`.
std::optional<uint32_t> WholeNumber(const std::string &text, uint32_t low, uint32_t high) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned long value = std::stoul(text);
    if (value < low || value > high) return std::nullopt;
    return static_cast<uint32_t>(value);
}

std::optional<SettingsError> ParseAddress(const std::string &value, const std::string &where,
                                          DaemonSettings &s) {
    const size_t colon = value.rfind(':');
    SettingsError bad{where, "wants ADDRESS:PORT, not \"" + value + "\""};
    if (colon == std::string::npos || colon == 0 || colon + 1 == value.size()) return bad;
    const std::optional<uint32_t> port = WholeNumber(value.substr(colon + 1), 1, 65535);
    if (!port) return bad;
    // The library takes an address that does not convert for the broadcast address: only
    // one host node's own address is taken here.
    const std::string address = value.substr(0, colon);
    in_addr converted {};
    if (::inet_pton(AF_INET, address.c_str(), &converted) != 1 || converted.s_addr == INADDR_ANY ||
        converted.s_addr == INADDR_BROADCAST)
        return SettingsError{where, "wants the host node's IPv4 address (as 192.168.1.10), not \"" + address + "\""};
    s.link = LinkKind::Udp;
    s.hostAddress = address;
    s.hostPort = static_cast<uint16_t>(*port);
    return std::nullopt;
}

bool ParseSwitch(const std::string &value, bool &out) {
    if (value == "on") out = true;
    else if (value == "off") out = false;
    else return false;
    return true;
}

// One key of the file: how its value is taken. Returns the reason when it is refused.
using KeyReader = std::function<std::optional<std::string>(const toml::node &, DaemonSettings &)>;

std::optional<std::string> Text(const toml::node &node, std::string &out) {
    const auto *value = node.as_string();
    if (!value) return "wants a text in quotes";
    out = value->get();
    return std::nullopt;
}

std::optional<std::string> Flag(const toml::node &node, bool &out) {
    const auto *value = node.as_boolean();
    if (!value) return "wants true or false";
    out = value->get();
    return std::nullopt;
}

std::optional<std::string> Number(const toml::node &node, int64_t low, int64_t high, int64_t &out) {
    const auto *value = node.as_integer();
    if (!value) return "wants a whole number";
    if (value->get() < low || value->get() > high)
        return "wants a number from " + std::to_string(low) + " to " + std::to_string(high);
    out = value->get();
    return std::nullopt;
}

std::optional<std::string> NonEmptyPath(const toml::node &node, std::filesystem::path &out) {
    std::string text;
    if (auto e = Text(node, text)) return e;
    if (text.empty()) return "wants a directory";
    out = text;
    return std::nullopt;
}

const std::map<std::string, KeyReader> &Keys() {
    static const std::map<std::string, KeyReader> keys = {
        {"connect", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             std::string text;
             if (auto e = Text(n, text)) return e;
             if (auto e = ParseAddress(text, "", s)) return e->reason;
             return std::nullopt;
         }},
        {"serial", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             if (auto e = Text(n, s.serialPort)) return e;
             if (s.serialPort.empty()) return "wants a port name";
             s.link = LinkKind::Serial;
             return std::nullopt;
         }},
        {"baud", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, 50, 4'000'000, v)) return e;
             s.baud = static_cast<uint32_t>(v);
             return std::nullopt;
         }},
        {"local_address", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.localAddress); }},
        {"local_port", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, 1, 65535, v)) return e;
             s.localPort = static_cast<uint16_t>(v);
             return std::nullopt;
         }},
        {"output_dir", [](const toml::node &n, DaemonSettings &s) { return NonEmptyPath(n, s.outputDir); }},
        {"send_dir", [](const toml::node &n, DaemonSettings &s) { return NonEmptyPath(n, s.sendDir); }},
        {"retransmission", [](const toml::node &n, DaemonSettings &s) { return Flag(n, s.retransmission); }},
        {"trace_output", [](const toml::node &n, DaemonSettings &s) { return Flag(n, s.traceOutput); }},
        {"autosave", [](const toml::node &n, DaemonSettings &s) { return Flag(n, s.autoSave); }},
        {"retention_days", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, kMinRetentionDays, kMaxRetentionDays, v)) return e;
             s.retentionDays = static_cast<int>(v);
             return std::nullopt;
         }},
        {"mqtt.broker", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             std::string url;
             if (auto e = Text(n, url)) return e;
             return ParseBrokerUrl(url, s.broker);
         }},
        {"mqtt.base", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             if (auto e = Text(n, s.broker.base)) return e;
             return BaseTopicProblem(s.broker.base);
         }},
        {"mqtt.client_id", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.clientId); }},
        {"mqtt.username", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.username); }},
        {"mqtt.password", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.password); }},
        {"mqtt.password_file", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.passwordFile); }},
        {"mqtt.ca_file", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.caFile); }},
        {"mqtt.cert_file", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.certFile); }},
        {"mqtt.key_file", [](const toml::node &n, DaemonSettings &s) { return Text(n, s.broker.keyFile); }},
        {"mqtt.keepalive", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, 5, 3600, v)) return e;
             s.broker.keepalive = static_cast<int>(v);
             return std::nullopt;
         }},
        {"mqtt.protocol", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             std::string version;
             if (auto e = Text(n, version)) return e;
             if (version != "3.1.1" && version != "5") return "wants \"3.1.1\" or \"5\"";
             s.broker.protocol = version == "5" ? 5 : 4;
             return std::nullopt;
         }},
        {"mqtt.inline_limit", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, 0, 16 * 1024 * 1024, v)) return e;
             s.broker.inlineLimit = static_cast<uint32_t>(v);
             return std::nullopt;
         }},
        {"mqtt.outbox_limit", [](const toml::node &n, DaemonSettings &s) -> std::optional<std::string> {
             int64_t v = 0;
             if (auto e = Number(n, 1024, int64_t{1} << 40, v)) return e;
             s.broker.outboxLimit = static_cast<uint64_t>(v);
             return std::nullopt;
         }},
    };
    return keys;
}

std::string Where(const std::string &file, const toml::source_region &source) {
    return file + ":" + std::to_string(source.begin.line);
}

std::optional<SettingsError> ReadFile(const std::string &path, DaemonSettings &settings) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return SettingsError{path, std::string("cannot read the file: ") + std::strerror(errno)};
    std::ostringstream text;
    text << in.rdbuf();
    return ApplySettingsText(text.str(), path, settings);
}

}  // namespace

std::optional<SettingsError> ApplySettingsText(const std::string &text, const std::string &file,
                                               DaemonSettings &settings) {
    toml::table table;
    try {
        table = toml::parse(text, file);
    } catch (const toml::parse_error &error) {
        return SettingsError{Where(file, error.source()), std::string(error.description())};
    }
    bool connect = false;
    bool serial = false;
    // The keys of the top level, and those of the [mqtt] table as "mqtt.KEY".
    std::vector<std::tuple<std::string, const toml::key *, const toml::node *>> entries;
    for (const auto &[key, node] : table) {
        if (key.str() == "mqtt" && node.is_table()) {
            for (const auto &[inner, value] : *node.as_table())
                entries.emplace_back("mqtt." + std::string(inner.str()), &inner, &value);
        } else {
            entries.emplace_back(std::string(key.str()), &key, &node);
        }
    }
    for (const auto &[name, key, node] : entries) {
        const auto reader = Keys().find(name);
        if (reader == Keys().end())
            return SettingsError{Where(file, key->source()), "unknown key \"" + name + "\""};
        if (auto reason = reader->second(*node, settings))
            return SettingsError{Where(file, node->source()), name + " " + *reason};
        connect |= name == "connect";
        serial |= name == "serial";
        if (connect && serial)
            return SettingsError{Where(file, key->source()), "give only one of connect and serial"};
    }
    return std::nullopt;
}

CommandLine ReadCommandLine(const std::vector<std::string> &args) {
    CommandLine line;
    DaemonSettings &s = line.settings;
    // The file first, so that the flags override it wherever they stand.
    std::string config;
    bool configGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") line.help = true;
        if (args[i] == "--version") line.version = true;
        if (args[i] == "--config" && i + 1 < args.size()) {
            config = args[i + 1];
            configGiven = true;
        }
    }
    if (line.help || line.version) return line;
    if (!configGiven && std::filesystem::exists(kDefaultConfigPath)) config = kDefaultConfigPath;
    if (!config.empty())
        if (auto e = ReadFile(config, s)) {
            line.error = e;
            return line;
        }

    bool connectFlag = false;
    bool serialFlag = false;
    for (size_t i = 1; i < args.size() && !line.error; ++i) {
        const std::string &arg = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 < args.size()) return args[++i];
            line.error = SettingsError{arg, "needs a value"};
            return std::nullopt;
        };
        if (arg == "--check") {
            line.check = true;
        } else if (arg == "--config") {
            value();
        } else if (arg == "--connect") {
            if (auto v = value()) line.error = ParseAddress(*v, arg, s);
            connectFlag = true;
        } else if (arg == "--serial") {
            if (auto v = value()) {
                if (v->empty()) line.error = SettingsError{arg, "needs a port name"};
                s.serialPort = *v;
                s.link = LinkKind::Serial;
            }
            serialFlag = true;
        } else if (arg == "--local-port") {
            if (auto v = value()) {
                if (const auto port = WholeNumber(*v, 1, 65535))
                    s.localPort = static_cast<uint16_t>(*port);
                else
                    line.error = SettingsError{arg, "wants a port from 1 to 65535, not \"" + *v + "\""};
            }
        } else if (arg == "--baud") {
            if (auto v = value()) {
                if (const auto baud = WholeNumber(*v, 50, 4'000'000))
                    s.baud = *baud;
                else
                    line.error = SettingsError{arg, "wants a rate from 50 to 4000000, not \"" + *v + "\""};
            }
        } else if (arg == "--output-dir" || arg == "--send-dir") {
            if (auto v = value()) {
                if (v->empty()) line.error = SettingsError{arg, "needs a directory"};
                (arg == "--output-dir" ? s.outputDir : s.sendDir) = *v;
            }
        } else if (arg == "--broker") {
            if (auto v = value())
                if (auto reason = ParseBrokerUrl(*v, s.broker)) line.error = SettingsError{arg, *reason};
        } else if (arg == "--base") {
            if (auto v = value()) {
                s.broker.base = *v;
                if (auto reason = BaseTopicProblem(*v)) line.error = SettingsError{arg, *reason};
            }
        } else if (arg == "--retransmission") {
            if (auto v = value(); v && !ParseSwitch(*v, s.retransmission))
                line.error = SettingsError{arg, "wants on or off, not \"" + *v + "\""};
        } else {
            line.error = SettingsError{arg, "unknown option"};
        }
    }
    if (!line.error && connectFlag && serialFlag)
        line.error = SettingsError{"--connect", "give only one of --connect and --serial"};
    if (!line.error && s.link == LinkKind::None)
        line.error = SettingsError{config.empty() ? "meradond" : config,
                                   "no host node: give --connect ADDRESS:PORT or --serial PORT"};
    return line;
}

}  // namespace meradon::daemon
