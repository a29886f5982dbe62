#include "manager/core/reception.h"

#include <algorithm>

#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

constexpr uint32_t kCrcNotComputed = 0xFFFFFFFF;

uint32_t LittleEndian32(const uint8_t *bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Row of a station in the list, or -1 for a number that has none.
int StationRow(uint8_t station) { return station >= 1 ? station - 1 : -1; }

// Position of the open receive file, then closes it.
uint32_t CloseReceiveFile(AppState &state) {
    long position = std::ftell(state.recvFile.get());
    state.recvFile.reset();
    return position > 0 ? static_cast<uint32_t>(position) : 0;
}

// An info or head packet while a file is open: that file ends without its tail.
void CloseUnfinishedFile(Core &core) {
    if (!core.state.recvFile) return;
    core.Line(Format("文件异常关闭,大小 %u bytes", CloseReceiveFile(core.state)));
}

std::string Verdict(AppState &state, uint32_t size) {
    if (!state.recvAnnounced) return "接收完成";
    state.recvAnnounced = 0;
    if (size != state.recvSize) return Format("尺寸错误,大小 %u bytes", size);
    uint32_t crc = QuickFileCRC32(state.recvPath.c_str());
    if (state.recvCrc == kCrcNotComputed) return Format("原文未校验,大小 %u bytes", state.recvSize);
    if (crc == kCrcNotComputed) return Format("目标未校验,大小 %u bytes", state.recvSize);
    if (crc != state.recvCrc) return Format("内容错误,大小 %u bytes", state.recvSize);
    return Format("接收成功,大小 %u bytes", state.recvSize);
}

}  // namespace

void OnDataPacket(Core &core, const uint8_t *packet) {
    AppState &state = core.state;
    uint8_t station = 0, length = 0;
    const uint8_t *payload = GetDataPacketProfile(packet, &station, &length);
    // A record holds at most 240 payload bytes whatever the length byte claims.
    length = static_cast<uint8_t>(std::min<unsigned>(length, TEVROLINK_FRAME_PAYLOAD));
    const int row = StationRow(station);

    if (IsDataPacketInfo(packet)) {
        CloseUnfinishedFile(core);
        state.recvAnnounced = 1;
        state.recvSize = LittleEndian32(payload);
        state.recvCrc = LittleEndian32(payload + 4);
        core.Line(Format("开始接收,大小 %u bytes", state.recvSize));
        state.rxBytes[station] = 0;
        return;
    }
    if (IsDataPacketHead(packet)) {
        if (row >= 0) core.view.SetStationCell(row, kColumnData, "");
        state.rxBytes[station] = 0;
        CloseUnfinishedFile(core);
    }
    WriteReceivedData(core, station, payload, length);
    state.rxBytes[station] += length;
    if (row >= 0) {
        core.view.SetStationCell(row, kColumnData, Format("%lu", static_cast<unsigned long>(
                                                                     state.rxBytes[station])));
        core.view.SelectStationRow(row);
    }
    if (!IsDataPacketTail(packet) || !state.recvFile) return;
    uint32_t size = CloseReceiveFile(state);
    core.Line(Verdict(state, size));
}

void WriteReceivedData(Core &core, uint8_t station, const uint8_t *payload, uint8_t length) {
    AppState &state = core.state;
    if (!payload) return;
    if (!state.recvFile) {
        // Two files within one second get the same name: the later one is named apart
        // rather than replacing the earlier.
        std::string name;
        state.recvFile = core.output.CreateNew(
            ReceiveFileName(core.view.LinkSelectorText(), station, core.clock.Local()), name);
        state.recvPath = (core.output.Path() / name).string();
        if (!state.recvFile) {
            ReportFileError(core);
            return;
        }
    }
    // Into stdio's bounded buffer: the step flushes it once per batch, and closing the file
    // (before its verdict or any line that gives its size) writes the rest.
    std::fwrite(payload, 1, length, state.recvFile.get());
}

void ReceiveTimeout(Core &core) {
    AppState &state = core.state;
    if (!state.recvFile) return;
    core.Line(Format("接收超时,大小 %u bytes",
                     static_cast<uint32_t>(std::max(0L, std::ftell(state.recvFile.get())))));
    state.recvAnnounced = 0;
    state.recvFile.reset();
}

void EndReceptionWithLink(Core &core) {
    CloseUnfinishedFile(core);
    core.state.recvAnnounced = 0;
}

void ReportFileError(Core &core) { core.Line("创建文件失败,请检查权限"); }

}  // namespace meradon
