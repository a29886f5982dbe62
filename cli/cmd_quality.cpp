// quality: the per-station summary of a daily link-quality file that the manager writes.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/output.h"
#include "cli/quality_summary.h"
#include "cli/values.h"
#include "manager/core/quality_values.h"

namespace cli {
namespace {

const char kQualityHelp[] =
    "usage: tevrolink quality FILE.csv [--station N] [--json]\n"
    "\n"
    "Summarises a link-quality file of the manager (\"link-quality yy-mm-dd.csv\" in its\n"
    "output directory: one line per signal packet). For each station: the number of\n"
    "packets, the first and last time, and the last, minimum, mean and maximum of each of\n"
    "the four values (peer_lqi, host_lqi, peer_rssi, host_rssi), printed as\n"
    "last min/mean/max. --station N (1-254) shows that station only. Lines that are not\n"
    "quality lines are skipped and counted on standard error; a file that has other lines\n"
    "but no quality line is refused (status 1). Needs no link.\n";

int RunQuality(const Arguments &args) {
    if (args.positional.size() != 1) throw UsageError("quality wants exactly one file");
    const std::optional<std::string> stationText = args.Value("--station");
    const uint8_t only = stationText ? ParseStation(*stationText) : 0;
    const std::string &path = args.positional[0];
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw Failure("cannot read " + path + ": it is a directory, not a quality file");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("cannot open " + path + ": " + std::strerror(errno));

    QualitySummary summary;
    std::size_t samples = 0, skipped = 0;
    std::string line;
    for (bool first = true; std::getline(in, line); first = false) {
        const auto row = meradon::ParseQualityLine(line);
        if (!row) {
            if (!(first && line.rfind(meradon::kQualityHeader, 0) == 0) && !line.empty()) ++skipped;
            continue;
        }
        ++samples;
        if (only && row->station != only) continue;
        summary.Add(row->station, row->time, row->values);
    }
    if (in.bad()) throw Failure("cannot read " + path + ": " + std::strerror(errno));
    if (samples == 0 && skipped > 0)
        throw Failure(path + " is no link-quality file: it has lines, but not one quality line");
    if (skipped == 1) std::fprintf(stderr, "tevrolink: 1 line that is no quality line skipped\n");
    if (skipped > 1) std::fprintf(stderr, "tevrolink: %zu lines that are no quality lines skipped\n", skipped);

    if (args.Json()) {
        PrintJson({{"file", DisplayPath(path)}, {"stations", summary.StationsJson()}, {"skipped_lines", skipped}});
        return kExitOk;
    }
    if (summary.Empty()) {
        std::fprintf(stderr, "tevrolink: no quality lines%s\n", only ? " of that station" : "");
        return kExitOk;
    }
    summary.PrintTable();
    return kExitOk;
}

}  // namespace

std::vector<Command> QualityCommands() {
    return {{"quality", "summarise a link-quality file of the manager", kQualityHelp, false,
             {{"--station", true}}, RunQuality}};
}

}  // namespace cli
