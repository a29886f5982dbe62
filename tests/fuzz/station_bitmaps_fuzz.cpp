// Station bitmaps both ways: the library's StationBitmap from station lists, and the
// manager's station list redrawn from the four 32-byte bitmaps of the host node (active,
// online, link, suspended) and from signal packets, on a window that shows nothing but
// refuses a row or column outside the list.
//
// Input: [link mode][list count, 16 bits][stations, count mod 256 of them], then blocks
// of [kind: even = four bitmaps (128 bytes), odd = a signal packet record (248 bytes)].
#include <algorithm>
#include <bitset>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "link/commands.h"
#include "manager/core/core.h"
#include "manager/core/station_list.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/null_view.h"
#include "tests/manager/manual_clock.h"

namespace {

using fuzz::FuzzInput;

std::unique_ptr<uint8_t[]> Block(FuzzInput &in, std::size_t size) {
    auto block = std::make_unique<uint8_t[]>(size);
    in.Fill(block.get(), size);
    return block;
}

// Every listed station has its bit, and no more bits are set than stations were listed.
void CheckStationBitmap(FuzzInput &in) {
    const int count = in.Word();
    const std::size_t listed = static_cast<std::size_t>(count & 0xFF);
    const auto stations = Block(in, listed);
    const auto bitmap = std::make_unique<uint8_t[]>(tevrolink::kStationBitmapSize);
    tevrolink::StationBitmap(stations.get(), count, bitmap.get());
    std::size_t bits = 0;
    for (std::size_t i = 0; i < tevrolink::kStationBitmapSize; ++i)
        bits += std::bitset<8>(bitmap[i]).count();
    for (std::size_t i = 0; i < listed; ++i)
        if (!(bitmap[stations[i] / 8] >> (stations[i] % 8) & 1)) std::abort();
    if (bits > listed) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    fuzz::NullView view;
    meradon_test::ManualClock clock;
    // Nothing here writes a file; the directory is never created.
    meradon::Core core(view, clock, "/nonexistent/meradon-fuzz");
    core.state.linkMode.store(static_cast<uint8_t>(in.Byte() % 3));

    CheckStationBitmap(in);
    while (!in.Empty()) {
        if (in.Byte() % 2 == 0) {
            meradon::RefreshStationList(core, Block(in, meradon::kStationBitmapsSize).get());
        } else {
            meradon::SignalRecord signal;
            std::copy_n(Block(in, meradon::kPacketSize).get(), meradon::kPacketSize, signal.packet.begin());
            signal.timeMs = clock.NowMs();
            meradon::OnSignalPacket(core, signal);
        }
    }
    return 0;
}
