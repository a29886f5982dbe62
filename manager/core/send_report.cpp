#include "manager/core/send_report.h"

#include "manager/core/text_format.h"

namespace meradon {

namespace {

std::string StationListLine(const char *label, const std::vector<int> &stations) {
    std::string line = label;
    for (std::size_t i = 0; i < stations.size(); ++i) line += Format(i ? ",%d" : "%d", stations[i]);
    return line;
}

}  // namespace

std::vector<std::string> ReportLines(uint8_t peer, uint8_t hostFlags,
                                     const std::array<uint8_t, kStations> &stationState,
                                     uint64_t seconds) {
    std::vector<std::string> lines;
    if (peer != 0) {
        lines.push_back("总计: 1 个节点");
        lines.push_back(Format(hostFlags & HOST_RECEIVER_SUSPENDED ? "失败: %u" : "成功: %u", peer));
    } else {
        std::vector<int> succeeded, failed;
        for (int i = 0; i < kStations; ++i) {
            if (!(stationState[i] & STATION_ACTIVE)) continue;
            (stationState[i] & STATION_SUSPENDED ? failed : succeeded).push_back(i + 1);
        }
        lines.push_back(Format("总计: %u 个节点", static_cast<unsigned>(succeeded.size() + failed.size())));
        if (!succeeded.empty()) lines.push_back(StationListLine("成功: ", succeeded));
        if (!failed.empty()) lines.push_back(StationListLine("失败: ", failed));
    }
    lines.push_back("用时: " + DurationText(seconds));
    return lines;
}

uint64_t WholeSeconds(int64_t ms) { return ms > 0 ? static_cast<uint64_t>(ms) / 1000 : 0; }

std::string DurationText(uint64_t seconds) {
    return Format("%02u 时 %02u 分 %02u 秒", static_cast<unsigned>(seconds / 3600),
                  static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
}

}  // namespace meradon
