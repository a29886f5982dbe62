// A request of another program as meradond reads it from the broker: the command of the
// topic and any payload. A request that is read must hold only what its checks allow.
//
// Input: [command: byte mod 7, the six commands and an unknown one][payload bytes].
#include <cstdint>
#include <string_view>
#include <variant>

#include "manager/daemon/bridge_request.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

constexpr std::string_view kCommands[] = {"send", "cancel", "add_station", "set_receiver", "refresh", "info", "x"};

void CheckStation(uint8_t station, bool broadcastAllowed) {
    if (station > 254 || (station == 0 && !broadcastAllowed)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const std::string_view command = kCommands[in.Byte() % std::size(kCommands)];
    const std::string_view payload(reinterpret_cast<const char *>(data) + (size ? 1 : 0), size ? size - 1 : 0);
    const meradon::daemon::ReadRequest read = meradon::daemon::ParseRequest(command, payload);
    if (!read.request) {
        if (read.error.empty()) __builtin_trap();
        if (read.id) meradon::daemon::ResponsePayload(*read.id, false, read.error);
        return 0;
    }
    const auto &request = *read.request;
    if (!request.id.is_string() && !request.id.is_number()) __builtin_trap();
    if (const auto *send = std::get_if<meradon::daemon::SendRequest>(&request.body)) {
        for (uint8_t station : send->stations) CheckStation(station, false);
        if (send->file.empty() == !send->data) __builtin_trap();  // exactly one of the two
        if (send->data && (send->name.empty() || send->name.find('/') != std::string::npos)) __builtin_trap();
    } else if (const auto *add = std::get_if<meradon::daemon::AddStationRequest>(&request.body)) {
        CheckStation(add->station, false);
    } else if (const auto *receiver = std::get_if<meradon::daemon::SetReceiverRequest>(&request.body)) {
        CheckStation(receiver->station, true);
    }
    meradon::daemon::ResponsePayload(request.id, true, "");
    return 0;
}
