// flash-write and flash-read: files into and out of the serial Flash of the host node or
// of a station.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/errors.h"
#include "cli/link_open.h"
#include "cli/output.h"
#include "cli/values.h"
#include "tevrolink/tevrolink.h"

namespace cli {
namespace {

constexpr uint8_t kFlagReceiverActive = 0x80;
constexpr uint8_t kFlagSuspended = 0x04;
constexpr int kProfileFlags = 3;
constexpr int kActivationAttempts = 3;
constexpr auto kActivationWait = std::chrono::milliseconds(500);

const char kFlashWriteHelp[] =
    "usage: tevrolink flash-write [LINK OPTIONS] FILE [--station N] [--at POS] [--json]\n"
    "\n"
    "Writes FILE into the serial Flash of the host node, or with --station into the\n"
    "serial Flash of station N through the radio network. Progress is shown on standard\n"
    "output as a percentage (on standard error with --json).\n"
    "\n"
    "Options:\n"
    "  --station N          write to station N (1-254) instead of the host node; the host\n"
    "                       node is put into data transfer mode with N as its peer, and\n"
    "                       back into command set mode when the file is through\n"
    "  --at POS             byte address in the Flash to start at (default 0)\n";

const char kFlashReadHelp[] =
    "usage: tevrolink flash-read [LINK OPTIONS] FILE --size N [--at POS] [--json]\n"
    "\n"
    "Reads N bytes from the host node's serial Flash into FILE (created or replaced).\n"
    "Progress is shown on standard output (on standard error with --json).\n"
    "\n"
    "Options:\n"
    "  --size N             number of bytes to read (required, at least 1)\n"
    "  --at POS             byte address in the Flash to start at (default 0)\n";

// With --json, standard output carries only the document: the library's progress
// figures go to standard error for the time of the transfer.
class ProgressToStderr {
public:
    explicit ProgressToStderr(bool active) {
        if (!active) return;
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        if (saved_ >= 0) ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    ~ProgressToStderr() {
        std::fflush(stdout);
        if (saved_ < 0) return;
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    ProgressToStderr(const ProgressToStderr &) = delete;
    ProgressToStderr &operator=(const ProgressToStderr &) = delete;

private:
    int saved_ = -1;
};

// Ends the line of progress figures, on whichever stream carried them.
void EndProgressLine(bool json) {
    std::fputc('\n', json ? stderr : stdout);
    std::fflush(json ? stderr : stdout);
}

uint32_t Position(const Arguments &args) {
    const auto at = args.Value("--at");
    return at ? ParseNumber(*at, 0, 0xFFFFFFFFu, "the Flash address (--at)") : 0;
}

// The size of a file that can be sent; Failure for one that cannot be read or is empty.
uint32_t SourceSize(const std::string &path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw Failure("cannot read " + path + ": " + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw Failure("cannot send " + path + ": it is not a regular file");
    if (::access(path.c_str(), R_OK) != 0) throw Failure("cannot read " + path + ": " + std::strerror(errno));
    if (st.st_size == 0) throw Failure("there is nothing to send: " + path + " is empty");
    if (st.st_size > 0xFFFFFFFFLL) throw Failure("cannot send " + path + ": it is larger than 4 GiB");
    return static_cast<uint32_t>(st.st_size);
}

// Waits for the next status report from the host node; false when none comes in time.
bool NextStatus(uint8_t profile[TEVROLINK_STATUS_SIZE], std::chrono::milliseconds timeout) {
    QueryHostRTxStatus(nullptr);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (IsShellReadable(nullptr, nullptr)) {
            LinkFrameRecord frame{};
            CopyShell(frame);
            if (frame[1] == 0x9C || frame[1] == 0x9D) {
                GetStatusPacketProfile(profile);
                return true;
            }
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Makes `station` the host node's peer in data transfer mode and waits until the host
// node reports it able to receive, as the manager does before it sends a file.
void ConnectStation(uint8_t station) {
    const std::string name = "station " + std::to_string(station);
    for (int attempt = 0; attempt < kActivationAttempts; ++attempt) {
        uint8_t peer = 0;
        Require(StartNetCenter(0), "the request for command set mode");
        Require(SetPeerNodeID(station, &peer), "the request to make " + name + " its peer");
        if (peer != station) throw Failure("the host node refused " + name + " as its peer");
        Require(StartNetCenter(1), "the request for data transfer mode");
        Require(StartMonitorService(0), "the request to stop its monitor output");
        uint8_t profile[TEVROLINK_STATUS_SIZE] = {};
        if (!NextStatus(profile, kActivationWait)) continue;
        const uint8_t flags = profile[kProfileFlags];
        if (flags & kFlagSuspended) throw Failure(name + " is suspended; take it back with tevrolink activate");
        if (flags & kFlagReceiverActive) return;
    }
    StartNetCenter(0);
    throw Failure(name + " did not become reachable after " + std::to_string(kActivationAttempts) +
                  " activation attempts");
}

void PrintResult(const Arguments &args, const std::string &path, uint32_t bytes, uint32_t at,
                 int station, const std::string &text) {
    if (args.Json()) {
        PrintJson({{"file", path}, {"bytes", bytes}, {"at", at}, {"station", station ? Json(station) : Json()}});
    } else {
        std::printf("%s\n", text.c_str());
    }
}

int RunFlashWrite(const Arguments &args) {
    if (args.positional.size() != 1) throw UsageError("flash-write wants exactly one file");
    const std::string path = args.positional[0];
    const uint32_t at = Position(args);
    const auto stationText = args.Value("--station");
    const uint8_t station = stationText ? ParseStation(*stationText) : 0;
    const LinkOptions options = ParseLinkOptions(args);
    const uint32_t size = SourceSize(path);

    LinkSession link(options);
    if (!station) {
        link.WaitUntilReady();
        int ok = 0;
        {
            ProgressToStderr redirect(args.Json());
            ok = DownloadFileToHost(at, path.c_str());
        }
        EndProgressLine(args.Json());
        if (!ok) throw Failure("writing " + path + " stopped: the host node did not take every chunk");
        PrintResult(args, path, size, at, 0,
                    "wrote " + std::to_string(size) + " bytes of " + path + " into the host node's Flash at " +
                        std::to_string(at));
        return kExitOk;
    }
    ConnectStation(station);
    link.WaitUntilReady();
    int ok = 0;
    {
        ProgressToStderr redirect(args.Json());
        ok = DownloadFileToNetwork(station, at, path.c_str());
    }
    EndProgressLine(args.Json());
    uint16_t credit = 0;
    const bool drained = ok && WaitForShellEmpty(&credit);
    StopHost();
    StartNetCenter(0);
    if (!ok) throw Failure("writing " + path + " to station " + std::to_string(station) +
                           " stopped: the station was suspended or the link was lost");
    if (!drained)
        throw Failure("the host node did not finish sending " + path + " to station " + std::to_string(station));
    PrintResult(args, path, size, at, station,
                "wrote " + std::to_string(size) + " bytes of " + path + " into the Flash of station " +
                    std::to_string(station) + " at " + std::to_string(at));
    return kExitOk;
}

int RunFlashRead(const Arguments &args) {
    if (args.positional.size() != 1) throw UsageError("flash-read wants exactly one file");
    const std::string path = args.positional[0];
    const auto sizeText = args.Value("--size");
    if (!sizeText) throw UsageError("flash-read needs --size N, the number of bytes to read");
    const uint32_t size = ParseNumber(*sizeText, 1, 0xFFFFFFFFu, "the size (--size)");
    const uint32_t at = Position(args);
    const LinkOptions options = ParseLinkOptions(args);
    // Found out before anything is sent, rather than after the first request.
    if (std::FILE *f = std::fopen(path.c_str(), "ab")) {
        std::fclose(f);
    } else {
        throw Failure("cannot write " + path + ": " + std::strerror(errno));
    }

    LinkSession link(options);
    link.WaitUntilReady();
    int ok = 0;
    {
        ProgressToStderr redirect(args.Json());
        ok = UploadFileFromHost(at, size, path.c_str());
    }
    EndProgressLine(args.Json());
    if (!ok) throw Failure("reading the host node's Flash stopped; " + path + " keeps what arrived");
    PrintResult(args, path, size, at, 0,
                "read " + std::to_string(size) + " bytes from the host node's Flash at " + std::to_string(at) +
                    " into " + path);
    return kExitOk;
}

}  // namespace

std::vector<Command> FlashCommands() {
    return {
        {"flash-write", "write a file into the serial Flash of the host node or a station",
         kFlashWriteHelp, true, {{"--station", true}, {"--at", true}}, RunFlashWrite},
        {"flash-read", "read the host node's serial Flash into a file", kFlashReadHelp, true,
         {{"--size", true}, {"--at", true}}, RunFlashRead},
    };
}

}  // namespace cli
