#include "setup/baud_search.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "setup/text_encoding.h"
#include "tevrolink/tevrolink.h"

namespace tevrolink {
namespace {

constexpr std::size_t kVersionBuffer = 64;
constexpr auto kPauseBetweenRates = std::chrono::milliseconds(100);

template <typename... Args>
std::string Format(const char *format, Args... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

}  // namespace

int SearchRateIndex(uint32_t baudRate) {
    for (std::size_t i = 0; i < kSearchRates.size(); ++i)
        if (kSearchRates[i] == baudRate) return static_cast<int>(i);
    return 2;
}

uint32_t SearchBaudRate(const std::string &port, const BaudSearchEvents &events) {
    auto line = [&](const std::string &text, bool select = false) {
        if (events.line) events.line(text, select);
    };
    SetHostHandShake(0);
    line(Format("                   通过串口 %s 搜索设备", port.c_str()));
    line(" ============================");
    line("");
    for (std::size_t i = 0; i < kSearchRates.size(); ++i) {
        const uint32_t rate = kSearchRates[i];
        line(Format("[%u]  正在测试波特率 %u ...", static_cast<unsigned>(i + 1), rate), true);
        if (!OpenCOMShell(port.c_str(), rate)) {
            line(Format("       打开串口设备 %s 失败", port.c_str()), true);
            return 0;
        }
        uint8_t version[kVersionBuffer] = {};
        const int answered = GetFirmwareVersion(version, sizeof version);
        CloseShell();
        if (answered != 0) {
            // 255: the text did not fit and was not copied; the device answered all the same.
            const std::string text = GbkToUtf8(
                std::string_view(reinterpret_cast<const char *>(version), sizeof version));
            if (events.found) events.found(static_cast<int>(i));
            line(Format("       检测到设备 %s", text.c_str()));
            line("");
            line(" ************ 设备搜索完成 ************ ");
            line(Format("[X]  本机串口 %s 波特率为 %u", port.c_str(), rate), true);
            return rate;
        }
        std::this_thread::sleep_for(kPauseBetweenRates);
    }
    line("");
    line(" ************ 未检测到设备 ************ ", true);
    line("");
    return 0;
}

RateChange ChangeDeviceBaudRate(const std::string &port, uint32_t currentRate, uint32_t newRate) {
    if (!OpenCOMShell(port.c_str(), currentRate)) return RateChange::PortNotOpened;
    const int accepted = SetDeviceBaudRate(newRate);
    CloseShell();
    return accepted ? RateChange::Accepted : RateChange::Refused;
}

}  // namespace tevrolink
