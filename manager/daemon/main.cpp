// meradond: runs a Zelkora radio network through its host node without a window.
#include <signal.h>
#include <sys/signalfd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "manager/daemon/daemon.h"

int main(int argc, char **argv) {
    using namespace meradon::daemon;
    const CommandLine line = ReadCommandLine(std::vector<std::string>(argv, argv + argc));
    if (line.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (line.version) {
        std::printf("meradond %s\n", MERADON_VERSION);
        return 0;
    }
    if (line.error) {
        std::fprintf(stderr, "meradond: %s\n", line.error->Text().c_str());
        return 2;
    }
    // Blocked before any thread starts, so that every thread leaves them to the loop.
    sigset_t stops;
    sigemptyset(&stops);
    for (int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int signals = signalfd(-1, &stops, SFD_CLOEXEC);

    Daemon daemon(line.settings);
    return line.check ? daemon.Check() : daemon.Run(signals);
}
