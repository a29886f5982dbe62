// A core on a recording view and a hand-driven clock, writing into a fresh directory.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "manager/core/core.h"
#include "tests/manager/manual_clock.h"
#include "tests/manager/recording_view.h"

namespace meradon_test {

inline std::filesystem::path FreshDirectory(const std::string &label) {
    static std::atomic<int> counter{0};
    auto dir = std::filesystem::temp_directory_path() /
               ("meradon-" + label + "-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++));
    std::filesystem::remove_all(dir);
    return dir;
}

class CoreFixture {
public:
    explicit CoreFixture(const std::string &label)
        : dir(FreshDirectory(label)), core(view, clock, dir) {}
    ~CoreFixture() { std::filesystem::remove_all(dir); }

    RecordingView view;
    ManualClock clock;
    std::filesystem::path dir;
    meradon::Core core;
};

}  // namespace meradon_test
