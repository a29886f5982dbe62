// The baud-rate search over a pty whose far end answers at one speed only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "setup/baud_search.h"
#include "tests/integration/sim_harness.h"
#include "tevrolink/tevrolink.h"

using namespace simtest;

namespace {

struct Log {
    std::vector<std::string> lines;
    std::vector<int> found;
    tevrolink::BaudSearchEvents Events() {
        return {[this](const std::string &line, bool) { lines.push_back(line); },
                [this](int index) { found.push_back(index); }};
    }
};

TEST(BaudSearch, FindsTheDeviceAt57600OnTheFifthTry) {
    hostsim::PtyOptions options;
    options.baud = 57600;
    auto sim = HostSim::StartPty(options);
    sim->UpdateSettings([](hostsim::HostSettings &s) { s.firmware = {'Z', 'W', '-', '2', '.', '1'}; });
    const std::string port = sim->PtyPath();
    Log log;
    EXPECT_EQ(tevrolink::SearchBaudRate(port, log.Events()), 57600u);
    const std::vector<std::string> expected = {
        "                   通过串口 " + port + " 搜索设备",
        " ============================",
        "",
        "[1]  正在测试波特率 9600 ...",
        "[2]  正在测试波特率 14400 ...",
        "[3]  正在测试波特率 19200 ...",
        "[4]  正在测试波特率 38400 ...",
        "[5]  正在测试波特率 57600 ...",
        "       检测到设备 ZW-2.1",
        "",
        " ************ 设备搜索完成 ************ ",
        "[X]  本机串口 " + port + " 波特率为 57600",
    };
    EXPECT_EQ(log.lines, expected);
    EXPECT_EQ(log.found, std::vector<int>{4});
    EXPECT_EQ(IsShellActive(), 0) << "the search leaves the link closed";

    // Telling the device to use another rate is done at the rate it uses now.
    EXPECT_EQ(tevrolink::ChangeDeviceBaudRate(port, 57600, 115200), tevrolink::RateChange::Accepted);
    EXPECT_EQ(sim->Settings().baudCode, 0x41);
    EXPECT_EQ(tevrolink::ChangeDeviceBaudRate(port, 9600, 115200), tevrolink::RateChange::Refused);
    EXPECT_EQ(IsShellActive(), 0);
}

TEST(BaudSearch, AMissingPortEndsTheSearchAfterItsFirstLine) {
    Log log;
    EXPECT_EQ(tevrolink::SearchBaudRate("/dev/tevrolink-no-such-port", log.Events()), 0u);
    const std::vector<std::string> expected = {
        "                   通过串口 /dev/tevrolink-no-such-port 搜索设备",
        " ============================",
        "",
        "[1]  正在测试波特率 9600 ...",
        "       打开串口设备 /dev/tevrolink-no-such-port 失败",
    };
    EXPECT_EQ(log.lines, expected);
    EXPECT_TRUE(log.found.empty());
    EXPECT_EQ(tevrolink::ChangeDeviceBaudRate("/dev/tevrolink-no-such-port", 9600, 19200),
              tevrolink::RateChange::PortNotOpened);
}

TEST(BaudSearch, UnlistedRatesSelect19200) {
    EXPECT_EQ(tevrolink::SearchRateIndex(4800), 2);
    EXPECT_EQ(tevrolink::SearchRateIndex(0), 2);
    EXPECT_EQ(tevrolink::SearchRateIndex(115200), 5);
    EXPECT_EQ(tevrolink::SearchRateIndex(9600), 0);
}

}  // namespace
