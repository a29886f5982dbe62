#include "manager/daemon/bridge_request.h"

#include <algorithm>

#include "manager/daemon/bridge_payloads.h"

namespace meradon::daemon {

namespace {

constexpr int kFirstStation = 1;
constexpr int kLastStation = 254;

// A field that is wrong ends the reading with its text.
struct Refusal {
    std::string text;
};

const nlohmann::json *Field(const nlohmann::json &object, const char *name) {
    const auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

uint8_t Station(const nlohmann::json &value, const std::string &what, bool broadcastAllowed) {
    if (broadcastAllowed && (value == "broadcast" || (value.is_number_integer() && value == 0))) return 0;
    if (!value.is_number_integer())
        throw Refusal{what + " must be a station number" + (broadcastAllowed ? " or \"broadcast\"" : "")};
    // Read as unsigned first: a number beyond int64_t's range would wrap.
    const bool inRange = value.is_number_unsigned()
                             ? value.get<uint64_t>() >= kFirstStation && value.get<uint64_t>() <= kLastStation
                             : value.get<int64_t>() >= kFirstStation && value.get<int64_t>() <= kLastStation;
    if (!inRange) throw Refusal{what + " must be 1 to 254"};
    return static_cast<uint8_t>(value.get<int64_t>());
}

uint8_t RequiredStation(const nlohmann::json &object, bool broadcastAllowed) {
    const nlohmann::json *station = Field(object, "station");
    if (!station) throw Refusal{"station is missing"};
    return Station(*station, "station", broadcastAllowed);
}

// A file or folder name given in a request: text without NUL (which would cut it short).
std::string Name(const nlohmann::json &value, const char *what) {
    if (!value.is_string()) throw Refusal{std::string(what) + " must be a string"};
    std::string name = value.get<std::string>();
    if (name.empty()) throw Refusal{std::string(what) + " is empty"};
    if (name.find('\0') != std::string::npos) throw Refusal{std::string(what) + " holds a NUL character"};
    return name;
}

SendRequest ReadSend(const nlohmann::json &object) {
    SendRequest send;
    const nlohmann::json *stations = Field(object, "stations");
    if (!stations) throw Refusal{"stations is missing"};
    if (*stations != "broadcast") {
        if (!stations->is_array()) throw Refusal{"stations must be a list of station numbers or \"broadcast\""};
        if (stations->empty()) throw Refusal{"stations is empty"};
        for (const nlohmann::json &station : *stations) {
            const uint8_t number = Station(station, "each of stations", false);
            // A station named twice would be sent the file twice.
            if (std::find(send.stations.begin(), send.stations.end(), number) == send.stations.end())
                send.stations.push_back(number);
        }
    }
    const nlohmann::json *file = Field(object, "file");
    const nlohmann::json *data = Field(object, "data");
    if (file && data) throw Refusal{"give either file or data, not both"};
    if (!file && !data) throw Refusal{"give file (a name in the send directory) or data (base64) with name"};
    if (file) {
        send.file = Name(*file, "file");
    } else {
        if (!data->is_string()) throw Refusal{"data must be a base64 string"};
        send.data = DecodeBase64(data->get_ref<const std::string &>());
        if (!send.data) throw Refusal{"data is not base64"};
        if (send.data->empty()) throw Refusal{"data is empty"};
        const nlohmann::json *name = Field(object, "name");
        if (!name) throw Refusal{"data needs a name"};
        send.name = Name(*name, "name");
        if (send.name.find('/') != std::string::npos || send.name == "." || send.name == "..")
            throw Refusal{"name must be a file name without a folder"};
    }
    if (const nlohmann::json *loop = Field(object, "loop")) {
        if (!loop->is_boolean()) throw Refusal{"loop must be true or false"};
        send.loop = loop->get<bool>();
        if (send.loop && send.stations.size() > 1)
            throw Refusal{"loop sending is for one station or a broadcast"};
    }
    return send;
}

RequestBody ReadBody(std::string_view command, const nlohmann::json &object) {
    if (command == "send") return ReadSend(object);
    if (command == "cancel") return CancelRequest{};
    if (command == "add_station") return AddStationRequest{RequiredStation(object, false)};
    if (command == "set_receiver") return SetReceiverRequest{RequiredStation(object, true)};
    if (command == "refresh") return RefreshRequest{};
    if (command == "info") return InfoRequest{};
    // Quoted as JSON, so that whatever the topic held reads as one string.
    const nlohmann::json name = std::string(command);
    throw Refusal{"unknown command " + name.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)};
}

}  // namespace

ReadRequest ParseRequest(std::string_view command, std::string_view payload) {
    ReadRequest read;
    if (payload.size() > kMostRequestBytes) {
        read.error = "the request is larger than " + std::to_string(kMostRequestBytes) + " bytes";
        return read;
    }
    const nlohmann::json object = nlohmann::json::parse(payload, nullptr, false);
    if (object.is_discarded()) {
        read.error = "the request is not JSON";
        return read;
    }
    if (!object.is_object()) {
        read.error = "the request must be a JSON object";
        return read;
    }
    const nlohmann::json *id = Field(object, "id");
    if (!id) {
        read.error = "the request has no id";
        return read;
    }
    if (!id->is_string() && !id->is_number()) {
        read.error = "id must be a string or a number";
        return read;
    }
    read.id = *id;
    try {
        read.request = BridgeRequest{std::string(command), *id, ReadBody(command, object)};
    } catch (const Refusal &refusal) {
        read.error = refusal.text;
    }
    return read;
}

std::string ResponsePayload(const nlohmann::json &id, bool ok, const std::string &error,
                            const nlohmann::json &fields) {
    nlohmann::json response = {{"id", id}, {"ok", ok}};
    if (!ok) response["error"] = error;
    for (const auto &[key, value] : fields.items()) response[key] = value;
    return response.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace meradon::daemon
