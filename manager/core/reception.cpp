#include "manager/core/reception.h"

#include <algorithm>

#include "manager/core/text_format.h"
#include "tevrolink/tevrolink.h"

namespace meradon {

namespace {

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

// A received file has ended (its file is closed): it goes into the history with its
// verdict, one of the kVerdict codes.
void KeepReception(Core &core, uint32_t size, const char *verdict) {
    const AppState &state = core.state;
    ReceptionFact fact{state.recvStation, state.recvPath, size, std::nullopt, verdict,
                       state.recvStart, core.clock.Local()};
    if (state.recvAnnounced) fact.announcedSize = state.recvSize;
    core.view.FileReceived(fact);
    core.history.Add(std::move(fact));
}

// An info or head packet while a file is open: that file ends without its tail.
void CloseUnfinishedFile(Core &core) {
    if (!core.state.recvFile) return;
    const uint32_t size = CloseReceiveFile(core.state);
    KeepReception(core, size, kVerdictUnfinished);
    core.Line(Format("文件异常关闭,大小 %u bytes", size));
}

struct Judgement {
    const char *verdict;
    std::string line;
};

Judgement Judge(const AppState &state, uint32_t size) {
    if (!state.recvAnnounced) return {kVerdictUnannounced, "接收完成"};
    if (size != state.recvSize) return {kVerdictWrongSize, Format("尺寸错误,大小 %u bytes", size)};
    uint32_t crc = QuickFileCRC32(state.recvPath.c_str());
    if (state.recvCrc == kCrcNotComputed)
        return {kVerdictSourceUnchecked, Format("原文未校验,大小 %u bytes", state.recvSize)};
    if (crc == kCrcNotComputed)
        return {kVerdictTargetUnchecked, Format("目标未校验,大小 %u bytes", state.recvSize)};
    if (crc != state.recvCrc) return {kVerdictWrongContent, Format("内容错误,大小 %u bytes", state.recvSize)};
    return {kVerdictReceived, Format("接收成功,大小 %u bytes", state.recvSize)};
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
    const Judgement judgement = Judge(state, size);
    KeepReception(core, size, judgement.verdict);
    state.recvAnnounced = 0;
    core.Line(judgement.line);
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
        state.recvStation = station;
        state.recvStart = core.clock.Local();
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
    const uint32_t size = CloseReceiveFile(state);
    KeepReception(core, size, kVerdictTimedOut);
    core.Line(Format("接收超时,大小 %u bytes", size));
    state.recvAnnounced = 0;
}

void EndReceptionWithLink(Core &core) {
    CloseUnfinishedFile(core);
    core.state.recvAnnounced = 0;
}

void ReportFileError(Core &core) { core.Line("创建文件失败,请检查权限"); }

}  // namespace meradon
