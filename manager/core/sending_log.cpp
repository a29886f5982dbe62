#include "manager/core/sending_log.h"

#include <algorithm>
#include <iterator>

#include "manager/core/send_report.h"
#include "manager/core/text_format.h"

namespace meradon {

namespace {

// As the report judges: the stations marked active.
bool Targeted(uint8_t state) { return state & STATION_ACTIVE; }
// At the start only a known state counts: before the first reading of the list every
// station's state is 0xFF, which says nothing.
bool KnownTarget(uint8_t state) { return state != 0xFF && Targeted(state); }

// A CSV field: quoted when it holds a separator, a quote or a line end.
std::string CsvField(const std::string &text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

}  // namespace

const char *ModeText(SendMode mode) {
    switch (mode) {
    case SendMode::OneStation: return "单站";
    case SendMode::Broadcast: return "广播";
    case SendMode::LoopPass: return "循环";
    }
    return "";
}

const char *OutcomeText(StationOutcome outcome) {
    switch (outcome) {
    case StationOutcome::Pending: return "进行中";
    case StationOutcome::Succeeded: return "成功";
    case StationOutcome::Suspended: return "失败: 挂起";
    case StationOutcome::ReceiverFault: return "失败: 接收节点故障";
    case StationOutcome::NoReceiver: return "失败: 接收节点未指定";
    case StationOutcome::LinkLost: return "失败: 连接中断";
    case StationOutcome::Cancelled: return "失败: 已取消";
    case StationOutcome::NotActivated: return "失败: 激活超时";
    case StationOutcome::FileUnreadable: return "失败: 读取文件失败";
    }
    return "";
}

int SendingLog::Begin(const std::string &path, uint32_t size, uint32_t crc, uint8_t peer, bool loopPass,
                      int repeats, const LocalTime &start, int64_t nowMs,
                      const std::array<uint8_t, kStations> &stationState) {
    std::lock_guard<std::mutex> lock(mutex_);
    SendingRecord record;
    record.id = nextId_++;
    record.path = path;
    record.size = size;
    record.crc = crc;
    record.start = start;
    record.startMs = nowMs;
    record.mode = loopPass ? SendMode::LoopPass : peer ? SendMode::OneStation : SendMode::Broadcast;
    record.repeats = repeats;
    if (peer) {
        record.stations.push_back({peer, StationOutcome::Pending});
    } else {
        for (int i = 0; i < kStations; ++i)
            if (KnownTarget(stationState[i])) record.stations.push_back({uint8_t(i + 1), StationOutcome::Pending});
    }
    records_.push_back(std::move(record));
    if (records_.size() > kKept) records_.pop_front();
    Changed(records_.back());
    return records_.back().id;
}

SendingRecord *SendingLog::Running() {
    if (records_.empty() || records_.back().Ended()) return nullptr;
    return &records_.back();
}

void SendingLog::Report(uint8_t peer, uint8_t hostFlags,
                        const std::array<uint8_t, kStations> &stationState, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    SendingRecord *record = Running();
    if (!record) return;
    record->durationMs = nowMs - record->startMs;
    if (peer) {
        record->stations = {{peer, hostFlags & HOST_RECEIVER_SUSPENDED ? StationOutcome::Suspended
                                                                       : StationOutcome::Succeeded}};
        Changed(*record);
        return;
    }
    // The report names the stations active now, which may differ from those at the start.
    record->stations.clear();
    for (int i = 0; i < kStations; ++i) {
        if (!Targeted(stationState[i])) continue;
        record->stations.push_back({uint8_t(i + 1), stationState[i] & STATION_SUSPENDED
                                                        ? StationOutcome::Suspended
                                                        : StationOutcome::Succeeded});
    }
    Changed(*record);
}

void SendingLog::EndEarly(StationOutcome why, int64_t nowMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    SendingRecord *record = Running();
    if (!record) return;
    record->durationMs = nowMs - record->startMs;
    for (StationResult &r : record->stations)
        if (r.outcome == StationOutcome::Pending) r.outcome = why;
    Changed(*record);
}

const SendingRecord *SendingLog::Locate(int id) const {
    // Ids follow each other without gaps from the oldest record kept.
    if (records_.empty() || id < records_.front().id || id > records_.back().id) return nullptr;
    return &records_[static_cast<std::size_t>(id - records_.front().id)];
}

std::vector<SendingRecord> SendingLog::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {records_.begin(), records_.end()};
}

std::optional<SendingRecord> SendingLog::Find(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SendingRecord *record = Locate(id);
    if (!record) return std::nullopt;
    return *record;
}

std::vector<uint8_t> SendingLog::FailedStations(int id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const SendingRecord *record = Locate(id);
    if (!record) return {};
    // Only the later sendings of a file of its size are copied: loop passes make many.
    std::vector<SendingRecord> later;
    std::copy_if(records_.begin() + (id - records_.front().id) + 1, records_.end(), std::back_inserter(later),
                 [&](const SendingRecord &other) { return other.size == record->size; });
    return StillFailed(*record, later);
}

std::vector<uint8_t> StillFailed(const SendingRecord &sending, const std::vector<SendingRecord> &later) {
    std::vector<uint8_t> failed;
    if (!sending.Ended()) return failed;
    const auto sameFile = [&](const SendingRecord &other) {
        return other.size == sending.size && other.crc == sending.crc && sending.crc != kCrcNotComputed;
    };
    const auto reachedSince = [&](uint8_t station) {
        return std::any_of(later.begin(), later.end(), [&](const SendingRecord &other) {
            return sameFile(other) &&
                   std::any_of(other.stations.begin(), other.stations.end(), [&](const StationResult &r) {
                       return r.station == station && r.outcome == StationOutcome::Succeeded;
                   });
        });
    };
    for (const StationResult &r : sending.stations)
        if (r.outcome != StationOutcome::Succeeded && !reachedSince(r.station)) failed.push_back(r.station);
    return failed;
}

std::string SendingsCsv(const std::vector<SendingRecord> &records) {
    std::string csv = "sending,repeats,file,size,start,duration_s,mode,station,outcome\n";
    for (const SendingRecord &r : records) {
        const LocalTime &t = r.start;
        const std::string common =
            Format("%d,", r.id) + (r.repeats ? Format("%d", r.repeats) : std::string()) + "," +
            CsvField(r.path) + Format(",%u,%04d-%02d-%02d %02d:%02d:%02d,", r.size, t.year, t.month,
                                      t.day, t.hour, t.minute, t.second) +
            (r.Ended() ? Format("%llu", static_cast<unsigned long long>(WholeSeconds(r.durationMs))) : std::string()) +
            "," + ModeText(r.mode) + ",";
        if (r.stations.empty()) csv += common + ",\n";
        for (const StationResult &s : r.stations)
            csv += common + Format("%u,", s.station) + OutcomeText(s.outcome) + "\n";
    }
    return csv;
}

std::string SaveSendingsCsv(const SendingLog &log, const OutputDirectory &output, const LocalTime &now) {
    return SaveSendingsCsv(log.Records(), output, now);
}

std::string SaveSendingsCsv(const std::vector<SendingRecord> &records, const OutputDirectory &output,
                            const LocalTime &now) {
    const std::string name = SendingsFileName(now);
    FileHandle file = output.Open(name, "wb");
    if (!file) return {};
    const std::string csv = SendingsCsv(records);
    const bool written = std::fwrite(csv.data(), 1, csv.size(), file.get()) == csv.size();
    return std::fclose(file.release()) == 0 && written ? name : std::string();
}

}  // namespace meradon
