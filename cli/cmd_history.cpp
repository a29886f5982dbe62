// history: what the manager's history store holds (sendings, receptions, link quality),
// read-only, so it answers while the manager writes.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/output.h"
#include "cli/quality_summary.h"
#include "cli/values.h"
#include "manager/core/history/history_reader.h"
#include "manager/core/history/history_store.h"
#include "manager/core/history/sending_codes.h"

namespace cli {
namespace {

const char kHistoryHelp[] =
    "usage: tevrolink history sendings [--since DATE] [--station N] [--failed] [--db FILE] [--json]\n"
    "       tevrolink history receptions [--since DATE] [--station N] [--db FILE] [--json]\n"
    "       tevrolink history quality --station N [--since DATE] [--until DATE] [--db FILE] [--json]\n"
    "\n"
    "Reads the manager's history store (history.sqlite in its output directory,\n"
    "~/Meradon unless --db names another file). It is opened read-only and answers while\n"
    "the manager runs.\n"
    "  sendings    the files sent, newest first, with each station's outcome; --station N\n"
    "              those meant for station N, --failed those in which a station (station N\n"
    "              with --station) did not get the file\n"
    "  receptions  the files stations sent to the PC, newest first, with their verdict\n"
    "  quality     the link quality of station N summarised as by \"tevrolink quality\"\n"
    "DATE is \"YYYY-MM-DD\" or \"YYYY-MM-DD hh:mm:ss\", local time; a day given to --until\n"
    "includes that day. Needs no link.\n";

int64_t Since(const Arguments &args) {
    const std::optional<std::string> text = args.Value("--since");
    if (!text) return meradon::kFromTheStart;
    const std::optional<meradon::LocalTime> t = meradon::ParseLocalTime(*text);
    if (!t) throw UsageError("--since wants YYYY-MM-DD or \"YYYY-MM-DD hh:mm:ss\"");
    return meradon::EpochSeconds(*t);
}

int64_t Until(const Arguments &args) {
    const std::optional<std::string> text = args.Value("--until");
    if (!text) return meradon::kUntilNow;
    const std::optional<meradon::LocalTime> t = meradon::ParseLocalTime(*text);
    if (!t) throw UsageError("--until wants YYYY-MM-DD or \"YYYY-MM-DD hh:mm:ss\"");
    if (text->size() > 10) return meradon::EpochSeconds(*t);
    meradon::LocalTime nextDay = *t;
    ++nextDay.day;  // mktime carries into the month
    return meradon::EpochSeconds(nextDay) - 1;
}

uint8_t Station(const Arguments &args) {
    const std::optional<std::string> text = args.Value("--station");
    return text ? ParseStation(*text) : 0;
}

std::string StoreFile(const Arguments &args) {
    if (const std::optional<std::string> db = args.Value("--db")) return *db;
    const char *home = std::getenv("HOME");
    return std::string(home ? home : "") + "/Meradon/" + meradon::kHistoryFileName;
}

meradon::HistoryReader OpenStore(const Arguments &args) { return meradon::HistoryReader(StoreFile(args)); }

std::string Time(int64_t seconds) { return meradon::LocalTimeText(meradon::LocalFromEpoch(seconds)); }

std::string Hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string Outcomes(const meradon::SendingRecord &r) {
    std::string text;
    for (const meradon::StationResult &s : r.stations) {
        const char *reason = meradon::ReasonCode(s.outcome);
        text += (text.empty() ? "" : " ") + std::to_string(s.station) + ":" +
                (reason ? reason : meradon::OutcomeCode(s.outcome));
    }
    return text;
}

int ListSendings(const Arguments &args) {
    if (args.Value("--until")) throw UsageError("sendings takes no --until");
    const meradon::SendingQuery query{Since(args), Station(args), args.Has("--failed")};
    const auto sendings = OpenStore(args).Sendings(query);
    if (args.Json()) {
        Json list = Json::array();
        for (const meradon::StoredSending &s : sendings) {
            const meradon::SendingRecord &r = s.record;
            Json stations = Json::array();
            for (const meradon::StationResult &st : r.stations) {
                const char *reason = meradon::ReasonCode(st.outcome);
                stations.push_back({{"station", st.station},
                                    {"outcome", meradon::OutcomeCode(st.outcome)},
                                    {"reason", reason ? Json(reason) : Json()}});
            }
            list.push_back({{"id", r.id},
                            {"file", r.path},
                            {"size", r.size},
                            {"crc32", s.crc ? Json(Hex(*s.crc)) : Json()},
                            {"mode", meradon::ModeCode(r.mode)},
                            {"start", Time(s.start)},
                            {"duration_ms", r.Ended() ? Json(r.durationMs) : Json()},
                            {"repeats", r.repeats ? Json(r.repeats) : Json()},
                            {"stations", stations}});
        }
        PrintJson({{"sendings", list}});
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const meradon::StoredSending &s : sendings) {
        const meradon::SendingRecord &r = s.record;
        char seconds[24] = "";
        if (r.Ended()) std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(r.durationMs) / 1000);
        rows.push_back({std::to_string(r.id), Time(s.start), r.path, std::to_string(r.size),
                        s.crc ? Hex(*s.crc) : "", meradon::ModeCode(r.mode), seconds,
                        r.repeats ? std::to_string(r.repeats) : "", Outcomes(r)});
    }
    PrintTable({"ID", "START", "FILE", "SIZE", "CRC32", "MODE", "SECONDS", "REPEATS", "STATIONS"}, rows);
    return kExitOk;
}

int ListReceptions(const Arguments &args) {
    if (args.Value("--until") || args.Has("--failed")) throw UsageError("receptions takes --since and --station only");
    const int64_t since = Since(args);
    const auto receptions = OpenStore(args).Receptions(since, Station(args));
    if (args.Json()) {
        Json list = Json::array();
        for (const meradon::StoredReception &r : receptions) {
            list.push_back({{"id", r.id},
                            {"station", r.station},
                            {"file", r.path},
                            {"size", r.size},
                            {"announced_size", r.announcedSize ? Json(*r.announcedSize) : Json()},
                            {"verdict", r.verdict},
                            {"start", Time(r.start)},
                            {"end", Time(r.end)}});
        }
        PrintJson({{"receptions", list}});
        return kExitOk;
    }
    std::vector<std::vector<std::string>> rows;
    for (const meradon::StoredReception &r : receptions)
        rows.push_back({Time(r.start), Time(r.end), std::to_string(r.station), std::to_string(r.size),
                        r.announcedSize ? std::to_string(*r.announcedSize) : "", r.verdict, r.path});
    PrintTable({"START", "END", "STATION", "SIZE", "ANNOUNCED", "VERDICT", "FILE"}, rows);
    return kExitOk;
}

int SummariseQuality(const Arguments &args) {
    if (args.Has("--failed")) throw UsageError("quality takes no --failed");
    const uint8_t station = Station(args);
    if (!station) throw UsageError("history quality wants --station N");
    const int64_t since = Since(args), until = Until(args);
    QualitySummary summary;
    for (const meradon::StoredQuality &q : OpenStore(args).Quality(station, since, until))
        summary.Add(station, Time(q.time), q.values);
    if (args.Json()) {
        PrintJson({{"db", StoreFile(args)}, {"stations", summary.StationsJson()}});
        return kExitOk;
    }
    if (summary.Empty()) {
        std::fprintf(stderr, "tevrolink: no quality samples of that station in that span\n");
        return kExitOk;
    }
    summary.PrintTable();
    return kExitOk;
}

int RunHistory(const Arguments &args) {
    if (args.positional.size() != 1) throw UsageError("history wants one of sendings, receptions, quality");
    const std::string &what = args.positional[0];
    int (*list)(const Arguments &) =
        what == "sendings" ? ListSendings : what == "receptions" ? ListReceptions
                                          : what == "quality" ? SummariseQuality : nullptr;
    if (!list) throw UsageError("history wants one of sendings, receptions, quality, not \"" + what + "\"");
    try {
        return list(args);
    } catch (const meradon::DatabaseError &e) {
        throw Failure("cannot read the history store: " + std::string(e.what()));
    }
}

}  // namespace

std::vector<Command> HistoryCommands() {
    return {{"history", "list sendings, receptions or link quality from the manager's history",
             kHistoryHelp, false,
             {{"--since", true}, {"--until", true}, {"--station", true}, {"--failed", false}, {"--db", true}},
             RunHistory}};
}

}  // namespace cli
