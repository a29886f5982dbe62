#include "manager/core/station_events.h"

#include "manager/core/text_format.h"
#include "manager/core/trace_format.h"

namespace meradon {

namespace {

const char *const kSuspendedNote = "\r\n请注意：本站和操作被挂起站点之间的通讯将不再可靠！";

struct EventView {
    std::string balloon;
    const char *onlineMark = nullptr;  // new text of the station's "联机" cell, if any
};

EventView Describe(uint8_t event, uint8_t cmd, unsigned other, uint8_t stationB,
                   uint8_t suit) {
    const bool connecting = cmd >= 0xF0;
    switch (event) {
    case 1:
    case 2:
        if (connecting) return {Format("站点 %u 正在与本站联机...", other), "Х"};
        if (cmd == 0xE0) return {Format("本站与站点 %u 联机完成!", other), "√"};
        if (cmd == 0xD0) return {Format("站点 %u 与本站联机完成!", other), "√"};
        return {};
    case 3:
        if (connecting && stationB != 0) return {Format("本站正在与站点 %u 联机...", other), "Х"};
        if (connecting) {
            unsigned group = suit & 0x3F;
            return {Format("本站正在与站点组 (%u ~ %u) 联机...", group * 8, group * 8 + 7)};
        }
        if (cmd == 0xE0) return {Format("站点 %u 正在与本站联机...", other), "Х"};
        if (cmd == 0xD0) return {Format("本站与站点 %u 联机完成!", other), "√"};
        return {};
    case 5: return {std::string("无线网络站点遇到故障被挂起.") + kSuspendedNote};
    case 6:
        return {std::string("本站与无线网络站点的联机请求超时，该站点被挂起.") + kSuspendedNote};
    case 7:
        return {std::string("本站与无线网络站点的休眠请求超时，该站点被挂起.") + kSuspendedNote};
    default: return {};
    }
}

}  // namespace

void ShowStationEvent(Core &core, uint8_t event, const uint8_t *p) {
    const uint8_t self = p[kDebugSelf], a = p[kDebugStationA], b = p[kDebugStationB];
    if (a != self && b != self) return;
    if (event == 4) return;
    const uint8_t other = a == self ? b : a;
    EventView shown = Describe(event, p[kDebugCmd], other, b, p[kDebugSuit]);
    if (shown.onlineMark && other >= 1) core.view.SetStationCell(other - 1, kColumnOnline, shown.onlineMark);
    core.view.ShowTrayBalloon(shown.balloon);
}

}  // namespace meradon
