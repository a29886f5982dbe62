// The manager's handling of debug packets, long (kind 1) and short (kind 2), which updates
// the station list and writes trace records into the output directory (a temporary one,
// emptied after every input). The clock moves between packets as the input says, so trace
// files are also renewed on the hour.
//
// Input: packets of [kind, mod 3][event][minutes that pass before it][payload: 157 bytes].
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "manager/core/core.h"
#include "manager/core/debug_packets.h"
#include "manager/core/trace_format.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/null_view.h"
#include "tests/manager/manual_clock.h"

namespace {

constexpr int64_t kMinuteMs = 60'000;

std::filesystem::path MakeOutputDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "meradon-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("trace writer fuzzer: cannot make a temporary directory");
        std::abort();
    }
    return pattern;
}

struct TemporaryDirectory {
    std::filesystem::path path = MakeOutputDirectory();
    ~TemporaryDirectory() { std::filesystem::remove_all(path); }
};

const std::filesystem::path &TheOutputDirectory() {
    static const TemporaryDirectory directory;
    return directory.path;
}

void Empty(const std::filesystem::path &directory) {
    for (const auto &entry : std::filesystem::directory_iterator(directory))
        std::filesystem::remove_all(entry.path());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const std::filesystem::path &directory = TheOutputDirectory();
    fuzz::FuzzInput in(data, size);
    {
        fuzz::NullView view;
        view.traceOutput = true;
        meradon_test::ManualClock clock;
        meradon::Core core(view, clock, directory);
        while (!in.Empty()) {
            const uint8_t kind = in.Byte() % 3;  // 1 and 2 are debug kinds
            const uint8_t event = in.Byte();
            clock.Advance(in.Byte() * kMinuteMs);
            // The payload in a block of its promised size, so a read past it is caught.
            auto payload = std::make_unique<uint8_t[]>(meradon::kDebugPayloadMin);
            in.Fill(payload.get(), meradon::kDebugPayloadMin);
            meradon::HandleDebugPayload(core, kind, event, payload.get());
        }
    }
    Empty(directory);
    return 0;
}
