#include "link/status_profile.h"

namespace tevrolink {
namespace {

void StoreWord(uint8_t *profile, std::size_t offset, const uint8_t *bigEndian) {
    const uint16_t v = static_cast<uint16_t>(bigEndian[0] << 8 | bigEndian[1]);
    std::memcpy(profile + offset, &v, sizeof v);
}

}  // namespace

void DecodeStatusPayload(const uint8_t *payload, uint8_t *profile) {
    // Payload byte k lands at profile byte k + 1 for every field; the 16-bit ones come
    // in network order and are stored in host order.
    profile[1] = payload[0];
    profile[2] = payload[1];
    profile[3] = payload[2];
    static constexpr std::size_t kWordFields[] = {4, 6, 8, 11, 13, 15, 18, 20, 22, 25, 27, 29};
    for (std::size_t k : kWordFields) StoreWord(profile, k + 1, payload + k);
}

}  // namespace tevrolink
