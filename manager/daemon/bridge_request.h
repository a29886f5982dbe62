// A request of another program, read from what it published on <base>/request/<command>.
// Anyone who may publish on the broker can send one, so every byte is untrusted: the
// reading is pure (no file, no broker) and says in a clear text what is wrong. Whether a
// `file` stays inside the send directory is the resolver's to say (request_files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

namespace meradon::daemon {

// A payload beyond this is refused unread: 1 MiB holds 768 KiB of base64 `data`.
constexpr std::size_t kMostRequestBytes = 1024 * 1024;

// send: `stations` empty is a broadcast. Either `file` (a name inside the send
// directory) or `data` (the bytes) with `name` (a file name, no folder).
struct SendRequest {
    std::vector<uint8_t> stations;
    std::string file;
    std::optional<std::string> data;
    std::string name;
    bool loop = false;
};

struct CancelRequest {};
struct AddStationRequest {
    uint8_t station = 0;
};
// `station` 0: broadcast.
struct SetReceiverRequest {
    uint8_t station = 0;
};
struct RefreshRequest {};
struct InfoRequest {};

using RequestBody = std::variant<SendRequest, CancelRequest, AddStationRequest, SetReceiverRequest,
                                 RefreshRequest, InfoRequest>;

struct BridgeRequest {
    std::string command;  // as in the topic
    nlohmann::json id;    // a string or a number, echoed as given
    RequestBody body;
};

// What reading a request gave: the request, or the error text and the id when one
// could be read (so that the refusal can be answered).
struct ReadRequest {
    std::optional<BridgeRequest> request;
    std::string error;
    std::optional<nlohmann::json> id;
};

ReadRequest ParseRequest(std::string_view command, std::string_view payload);

// The response to a request: {"id":..,"ok":..} and `error` when not ok, with `fields`
// (an object) merged in.
std::string ResponsePayload(const nlohmann::json &id, bool ok, const std::string &error,
                            const nlohmann::json &fields = nlohmann::json::object());

}  // namespace meradon::daemon
