#include "manager/daemon/broker_settings.h"

#include <unistd.h>

namespace meradon::daemon {

namespace {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0]) return "localhost";
    return name;
}

}  // namespace

std::optional<std::string> ParseBrokerUrl(const std::string &url, BrokerSettings &s) {
    std::string rest;
    if (url.starts_with("mqtt://")) {
        s.tls = false;
        s.port = 1883;
        rest = url.substr(7);
    } else if (url.starts_with("mqtts://")) {
        s.tls = true;
        s.port = 8883;
        rest = url.substr(8);
    } else {
        return "wants mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not \"" + url + "\"";
    }
    if (const size_t slash = rest.find('/'); slash != std::string::npos) {
        if (slash + 1 != rest.size()) return "takes no path: \"" + url + "\"";
        rest.pop_back();
    }
    if (const size_t at = rest.rfind('@'); at != std::string::npos) {
        const std::string user = rest.substr(0, at);
        rest = rest.substr(at + 1);
        const size_t colon = user.find(':');
        s.username = user.substr(0, colon);
        if (colon != std::string::npos) s.password = user.substr(colon + 1);
    }
    std::string portText;
    if (rest.starts_with('[')) {  // [IPv6]:port
        const size_t close = rest.find(']');
        if (close == std::string::npos) return "has an unclosed [ in \"" + url + "\"";
        s.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return "wants :PORT after ] in \"" + url + "\"";
            portText = rest.substr(close + 2);
        }
    } else {
        const size_t colon = rest.rfind(':');
        s.host = rest.substr(0, colon);
        if (colon != std::string::npos) portText = rest.substr(colon + 1);
    }
    if (s.host.empty()) return "names no host: \"" + url + "\"";
    if (!portText.empty() || rest.ends_with(':')) {
        if (portText.empty() || portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(portText) == 0 || std::stoul(portText) > 65535)
            return "wants a port from 1 to 65535 in \"" + url + "\"";
        s.port = static_cast<uint16_t>(std::stoul(portText));
    }
    s.url = url;
    return std::nullopt;
}

std::optional<std::string> BaseTopicProblem(const std::string &base) {
    if (base.empty()) return "wants a topic such as meradon/site-1";
    if (base.find_first_of("+#") != std::string::npos) return "takes no wildcard (+ or #): \"" + base + "\"";
    if (base.front() == '/' || base.back() == '/') return "wants no / at either end: \"" + base + "\"";
    if (base.find('\0') != std::string::npos) return "holds a NUL byte";
    return std::nullopt;
}

void CompleteBrokerSettings(BrokerSettings &s) {
    if (s.base.empty()) s.base = "meradon/" + HostName();
    if (s.clientId.empty()) s.clientId = "meradond-" + HostName();
}

}  // namespace meradon::daemon
