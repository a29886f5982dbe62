// The serial receive path fed byte streams: the shell is opened once on a pseudo-terminal,
// the input is written to the terminal's master side in chunks of the sizes it chooses,
// and the shell is polled until it has taken what it can of each chunk.
//
// Input: a mode byte (bit 0: hand-shake on; bit 1: seal chunks that hold a whole frame),
// then chunks of [size - 1][bytes].
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "link/shell.h"
#include "tests/fuzz/frame_sealing.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/received_frame.h"
#include "tevrolink/tevrolink.h"

namespace {

// How long to wait for written bytes to arrive on the shell's side: the pty hands them over
// asynchronously, normally within microseconds.
constexpr int kArrivalChecks = 2000;
constexpr long kArrivalCheckNs = 25'000;

struct Terminal {
    int master = -1;
    int shellSide = -1;  // the shell's descriptor on the slave side
};

Terminal OpenTerminal() {
    Terminal t;
    t.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (t.master < 0 || grantpt(t.master) != 0 || unlockpt(t.master) != 0 ||
        !OpenCOMShell(ptsname(t.master), 115200)) {
        std::perror("serial receive fuzzer: cannot open the shell on a pseudo-terminal");
        std::abort();
    }
    t.shellSide = tevrolink::TheShell().port.link->Descriptor();
    return t;
}

const Terminal &TheTerminal() {
    static const Terminal terminal = OpenTerminal();
    return terminal;
}

int Queued(int fd) {
    int n = 0;
    return ioctl(fd, FIONREAD, &n) == 0 ? n : 0;
}

void WaitUntilQueued(int fd, int count) {
    const struct timespec pause {0, kArrivalCheckNs};
    for (int i = 0; i < kArrivalChecks && Queued(fd) < count; ++i) nanosleep(&pause, nullptr);
}

// Takes away what the shell sent (sync requests, acknowledgements) so that its writes
// never block on a full terminal.
void DrainMaster(int master) {
    uint8_t sink[512];
    while (::read(master, sink, sizeof sink) > 0) {}
}

void WriteToMaster(int master, const uint8_t *bytes, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(master, bytes + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            struct pollfd p {master, POLLOUT, 0};
            poll(&p, 1, 10);
        } else {
            std::perror("serial receive fuzzer: write to the pty master");
            std::abort();
        }
    }
}

// Each input starts from a freshly opened link, apart from the descriptor.
void ResetLink(const Terminal &t, bool handShake) {
    tcflush(t.shellSide, TCIFLUSH);
    DrainMaster(t.master);
    tevrolink::Shell &shell = tevrolink::TheShell();
    shell.port.ResetReceive();
    shell.txSeq = 255;
    shell.rxSeq = 255;
    SetHostHandShake(handShake ? 1 : 0);
}

// Polls until a poll takes nothing more: what is left is part of a frame still waiting
// for bytes. Every poll that does not report a frame either takes bytes or stops here.
void PollUntilStalled(int shellSide) {
    for (;;) {
        const int before = Queued(shellSide);
        if (IsShellReadable(nullptr, nullptr)) {
            fuzz::ReadReportedFrame();
            continue;
        }
        if (before == 0 || Queued(shellSide) == before) return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    const Terminal &t = TheTerminal();
    fuzz::FuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    ResetLink(t, mode & 1);
    std::vector<uint8_t> chunk;
    while (!in.Empty()) {
        chunk.resize(in.Byte() + 1u);
        in.Fill(chunk.data(), chunk.size());
        if (mode & 2) fuzz::SealWholeFrame(chunk.data(), chunk.size());
        const int queued = Queued(t.shellSide);
        WriteToMaster(t.master, chunk.data(), chunk.size());
        WaitUntilQueued(t.shellSide, queued + static_cast<int>(chunk.size()));
        PollUntilStalled(t.shellSide);
        DrainMaster(t.master);
    }
    return 0;
}
