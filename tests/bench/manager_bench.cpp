// Manager benchmark: what meradon costs and how fast it answers with the link open in data
// transfer mode -- idle CPU, the first packet after a quiet spell, a steady flood of data
// packets, a burst (and the main window's answers during one), a big file received, the
// main window's answers while the history store takes 1,000 link-quality samples a second --
// and
// how fast the manager core sends a file, each sending held against the library's stream
// writer loop measured in the same run on the same kind of link. Prints figures; decides
// nothing. With the defaults a run takes about seven minutes, two of them the 1 MiB over the
// paced pty, once the manager sends over UDP near the writer loop's rate (until then its
// 100 MiB take as long as they take).
//
//   manager_bench [--idle-seconds N] [--quiet-seconds N] [--quiet-spells N]
//                 [--flood-seconds N] [--flood-rate N] [--burst-seconds N] [--burst-rate N]
//                 [--big-bytes N] [--big-rate N] [--file-bytes N] [--pty-reference-bytes N]
//                 [--history-seconds N] [--history-rate N] [--meradon PATH]
//
// meradon runs as its own process (offscreen), pointed at a hostsim on 127.0.0.1 that runs
// inside the benchmark, so the figures of its process are meradon's alone; the window under
// a burst and the window beside the history store run the main window in-process, to click it. For the same
// reason the big sending runs the manager core in a process of its own: the benchmark
// starts itself again with --send-to-port PORT (not meant to be given by hand).
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "manager/core/history/history_reader.h"
#include "sim/host_sim.h"
#include "sim/station_traffic.h"
#include "tests/bench/bench_options.h"
#include "tests/bench/child_process.h"
#include "tests/bench/closed_file_watch.h"
#include "tests/bench/pacing.h"
#include "tests/bench/process_figures.h"
#include "tests/bench/stream_writer_loop.h"
#include "tests/manager/hostsim_session.h"
#include "manager/ui/record_list.h"
#include "tests/ui/window_session.h"

extern char **environ;

namespace {

using bench::Clock;
using bench::Median;
using bench::Percentile;
using bench::SecondsSince;
using bench::SendPaced;
using namespace std::chrono_literals;
using bench::kLineRate;
constexpr uint8_t kStation = 5;
constexpr uint8_t kStatusQuery = 0x1C;
constexpr uint8_t kStreamFrame = 0x1D;
constexpr uint8_t kStatusReport = 0x9D;
constexpr auto kSettleTime = 5s;  // after a burst, for the memory to come back

struct Options {
    int idleSeconds = 25;
    int quietSeconds = 60;
    int quietSpells = 1;
    int floodSeconds = 40;
    int floodRate = 1000;
    int burstSeconds = 10;
    int burstRate = 5000;
    std::size_t bigBytes = 100 << 20;
    int bigRate = 10000;
    std::size_t fileBytes = 1 << 20;
    std::size_t ptyReferenceBytes = 64 << 10;
    int historySeconds = 60;
    int historyRate = 1000;
    std::string meradon = MERADON_PROGRAM;
    uint16_t sendToPort = 0;
};

std::uintmax_t DirectoryBytes(const std::filesystem::path &dir) {
    std::uintmax_t bytes = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir))
        if (entry.is_regular_file()) bytes += entry.file_size();
    return bytes;
}

// ---- meradon as a process --------------------------------------------------------------

// meradon in data transfer mode towards the hostsim at `hostPort` (offscreen: RunMeradon says so
// in the environment it inherits).
class MeradonProcess : public bench::ChildProcess {
public:
    MeradonProcess(const std::string &program, const std::filesystem::path &outputDir, uint16_t hostPort)
        : ChildProcess(program, {"--output-dir", outputDir.string(), "--connect", "127.0.0.1:" + std::to_string(hostPort),
                        "--data-mode"}) {}
};

// What meradon took of a run of data packets.
struct Intake {
    long sent = 0;
    long payloadBytes = 0;
    double seconds = 0;
    std::uintmax_t written = 0;  // what grew in the output directory meanwhile
    long drops = 0;
    double cpuShare = 0;  // of one core
};

// Middle packets of one file from one station: the manager writes them into one received
// file, so what grows on disk is the data, and the record gets no lines. They go out as
// frames of their own, `rate` a second, as fast as a node could space its packets.
Intake FloodOfPackets(hostsim::HostSim &sim, MeradonProcess &meradon, const std::filesystem::path &outputDir,
                      int seconds, int rate, const std::function<void()> &eachSecond) {
    const std::vector<uint8_t> payload(64, 0x5A);
    Intake intake;
    const std::uintmax_t bytesBefore = DirectoryBytes(outputDir);
    const double cpuBefore = meradon.CpuSeconds();
    const long dropsBefore = bench::UdpDrops(meradon.Pid());
    const auto start = Clock::now();
    intake.sent = static_cast<long>(seconds) * rate;
    SendPaced(
        intake.sent, rate,
        [&](long i) {
            sim.SendFrame(tevrolink::kCodeData, static_cast<uint8_t>(i), kStation, hostsim::kAttrFile, payload);
        },
        [&] {
            eachSecond();
            sim.ClearRecord();  // the benchmark's own memory stays flat too
        });
    intake.seconds = SecondsSince(start);
    intake.cpuShare = (meradon.CpuSeconds() - cpuBefore) / intake.seconds;
    std::this_thread::sleep_for(1s);  // the last packets reach the file
    intake.payloadBytes = intake.sent * static_cast<long>(payload.size());
    intake.written = DirectoryBytes(outputDir) - bytesBefore;
    intake.drops = bench::UdpDrops(meradon.Pid()) - dropsBefore;
    return intake;
}

void PrintIntake(const char *row, const Intake &in) {
    std::printf("%-10s %ld data packets in %.1f s (%.0f a second); meradon wrote %ju of %ld payload bytes; "
                "%ld datagrams dropped by its socket; CPU %.1f%% of one core\n",
                row, in.sent, in.seconds, static_cast<double>(in.sent) / in.seconds, in.written, in.payloadBytes,
                in.drops, 100.0 * in.cpuShare);
}

// The worker asks for the host node's status only in data transfer mode.
bool WaitForDataMode(hostsim::HostSim &sim) {
    return sim.WaitForReceived(hostsim::WithCode(kStatusQuery), 20s).has_value();
}

void IdleCpu(MeradonProcess &meradon, int seconds) {
    std::this_thread::sleep_for(2s);  // start-up work (the window, the first reads) is over
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    const auto threadsBefore = bench::TicksOfThreads(meradon.Pid());
    const double before = meradon.CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = meradon.CpuSeconds() - before;
    const double wall = SecondsSince(start);
    std::printf("idle       meradon in data transfer mode, nothing to do: %.2f CPU seconds in %.1f s, "
                "%.2f%% of one core\n",
                used, wall, 100.0 * used / wall);
    for (const auto &[tid, now] : bench::TicksOfThreads(meradon.Pid())) {
        const auto was = threadsBefore.find(tid);
        const long spent = now.ticks - (was == threadsBefore.end() ? 0 : was->second.ticks);
        if (spent > 0)
            std::printf("           %s thread %-16s %.2f%%\n", tid == meradon.Pid() ? "main " : "other",
                        now.name.c_str(), 100.0 * static_cast<double>(spent) / tick / wall);
    }
}

// After a quiet spell, in which only the worker's status polls and their answers cross
// the link, a station sends a file of one packet (head and tail at once). "Handled" is the
// moment meradon has created the received file, written the packet's data into it and
// closed it: the kernel's report of the closing, as this process sees it through inotify.
// It is measured from hostsim's record of the datagram, stamped as it left.
void FirstPacketAfterQuiet(hostsim::HostSim &sim, const std::filesystem::path &outputDir, int seconds, int spells) {
    bench::ClosedFileWatch closed(outputDir);
    const std::vector<uint8_t> content(100, 0x33);
    std::vector<double> ms;
    for (int spell = 0; spell < spells; ++spell) {
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        closed.Forget();
        const std::size_t from = sim.SentCount();
        hostsim::FileSendOptions one;
        one.announce = false;
        sim.SendFileFromStation(kStation, content, one);
        const auto sent = sim.WaitForSent(hostsim::WithCode(tevrolink::kCodeData), 5s, from);
        const auto handled = closed.Next(5s);  // no other file is open to be closed
        if (!sent || !handled) {
            std::printf("quiet      the packet after quiet spell %d was %s\n", spell + 1,
                        sent ? "not handled within 5 s" : "not sent");
            return;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(handled->seen - sent->at).count());
    }
    std::printf("quiet      first data packet after %d s of status polls alone, %d time%s: from the datagram to "
                "its file written and closed, median %.2f ms, worst %.2f ms\n",
                seconds, spells, spells == 1 ? "" : "s", Median(ms), *std::max_element(ms.begin(), ms.end()));
}

void Flood(hostsim::HostSim &sim, MeradonProcess &meradon, const std::filesystem::path &outputDir, int seconds,
           int rate) {
    std::vector<long> rss = {bench::ResidentKiB(meradon.Pid())};
    int second = 0;
    const Intake intake = FloodOfPackets(sim, meradon, outputDir, seconds, rate, [&] {
        if (++second % 10 == 0 || second == seconds) rss.push_back(bench::ResidentKiB(meradon.Pid()));
    });
    PrintIntake("flood", intake);
    std::printf("           VmRSS every 10 s:");
    for (long kib : rss) std::printf(" %ld", kib);
    std::printf(" KiB (start %ld, middle %ld, end %ld)\n", rss.front(), rss[rss.size() / 2], rss.back());
}

void Burst(hostsim::HostSim &sim, MeradonProcess &meradon, const std::filesystem::path &outputDir, int seconds,
           int rate) {
    const long before = bench::ResidentKiB(meradon.Pid());
    long atEnd = before;
    int second = 0;
    const Intake intake = FloodOfPackets(sim, meradon, outputDir, seconds, rate, [&] {
        if (++second == seconds) atEnd = bench::ResidentKiB(meradon.Pid());
    });
    std::this_thread::sleep_for(kSettleTime - 1s);  // the intake waited one second already
    PrintIntake("burst", intake);
    std::printf("           VmRSS %ld KiB before, %ld KiB at the end of the burst, %ld KiB %lld s after it\n", before,
                atEnd, bench::ResidentKiB(meradon.Pid()), static_cast<long long>(kSettleTime.count()));
}

// A station sends meradon a file of `size` bytes, its packets `rate` a second, numbered as
// the node numbers them.
void BigReception(hostsim::HostSim &sim, MeradonProcess &meradon, const std::filesystem::path &outputDir,
                  std::size_t size, int rate) {
    const auto content = meradon_test::Pattern(size, 0x6B);
    const auto packets = hostsim::FilePackets(content, {});
    std::set<std::string> before;
    for (const auto &entry : std::filesystem::directory_iterator(outputDir)) before.insert(entry.path().filename());
    bench::ClosedFileWatch closed(outputDir);
    const long dropsBefore = bench::UdpDrops(meradon.Pid());
    const auto start = Clock::now();
    std::optional<bench::ClosedFileWatch::Closed> received;
    {
        bench::ResidentSampler rss(meradon.Pid());
        SendPaced(
            static_cast<long>(packets.size()), rate,
            [&](long i) {
                sim.SendFrame(tevrolink::kCodeData, static_cast<uint8_t>(i + 1), kStation, packets[i].attribute,
                              packets[i].payload);
            },
            [&] { sim.ClearRecord(); });
        // The information packet closes a file left open before; the tail closes this one,
        // after its check.
        do received = closed.Next(30s);
        while (received && before.count(received->name));
        std::printf("receive    %zu bytes from station %u, %zu packets %d a second: VmRSS %ld KiB before, peak "
                    "growth %ld KiB during the reception\n",
                    size, kStation, packets.size(), rate, rss.BeforeKiB(), rss.PeakKiB() - rss.BeforeKiB());
    }
    std::vector<uint8_t> got;
    if (received) {
        std::ifstream in(outputDir / received->name, std::ios::binary);
        got.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::printf("           %s in %.1f s; %ld datagrams dropped by its socket\n",
                !received           ? "the file was not closed within 30 s of the last packet"
                : got == content ? "arrived intact"
                                 : "ARRIVED DAMAGED",
                std::chrono::duration<double>((received ? received->seen : Clock::now()) - start).count(),
                bench::UdpDrops(meradon.Pid()) - dropsBefore);
}

void RunMeradon(const Options &options) {
    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({kStation}, true);
    const auto dir = meradon_test::FreshDirectory("bench");
    std::filesystem::create_directories(dir);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    {
        MeradonProcess meradon(options.meradon, dir, sim->Port());
        if (!meradon.Running() || !WaitForDataMode(*sim)) {
            std::fprintf(stderr, "meradon (%s) did not reach data transfer mode\n", options.meradon.c_str());
        } else {
            IdleCpu(meradon, options.idleSeconds);
            FirstPacketAfterQuiet(*sim, dir, options.quietSeconds, options.quietSpells);
            Flood(*sim, meradon, dir, options.floodSeconds, options.floodRate);
            Burst(*sim, meradon, dir, options.burstSeconds, options.burstRate);
            BigReception(*sim, meradon, dir, options.bigBytes, options.bigRate);
        }
    }
    std::filesystem::remove_all(dir);
}

// ---- the main window under a burst ------------------------------------------------------

// The window thread's own lateness beside the answers measured: a zero timer posted every
// 10 ms, and how long after its posting it ran.
class WindowLateness {
public:
    WindowLateness() {
        QObject::connect(&probe_, &QTimer::timeout, [this] {
            const auto posted = Clock::now();
            QTimer::singleShot(0, [this, posted] {
                ms_.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
            });
        });
        probe_.start(10);
    }
    void Stop() { probe_.stop(); }
    void Print() const {
        std::printf("           window thread's zero timer, posted every 10 ms: "
                    "late by median %.2f ms, worst %.2f ms\n",
                    Median(ms_), ms_.empty() ? 0.0 : *std::max_element(ms_.begin(), ms_.end()));
    }

private:
    QTimer probe_;
    std::vector<double> ms_;
};

// Runs the window's event loop until `done` holds; the milliseconds it took, or nullopt
// after `timeout`. Each event handled (the window's timer step among them) is a chance to
// see it, so the figure is late by at most the time of one event.
std::optional<double> MsUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout) {
    const auto start = Clock::now();
    while (!done()) {
        if (Clock::now() - start > timeout) return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The window's link opened and taken into data transfer mode; false, saying so after `row`,
// when it did not get there.
bool OpenInDataMode(meradon_ui_test::WindowSession &s, const char *row) {
    if (!s.OpenInCommandMode()) {
        std::fprintf(stderr, "%s: the link did not open in command set mode\n", row);
        return false;
    }
    s.Click("dataModeRadio");
    if (!MsUntil([&] { return s.State().hostFlags.load() != 0; }, 5s)) {
        std::fprintf(stderr, "%s: no status from the host node in data transfer mode\n", row);
        return false;
    }
    return true;
}

// The real main window in this process, offscreen, in data transfer mode towards a hostsim
// that floods it as in the burst above. About once a second the operator clicks "传送" for
// a file of one chunk. The answer is the sending's first record line: the worker has woken,
// had the host node's answers to its commands (the receiver set and activated, a status
// query) and queued the line, and the window thread has shown it -- while it also shows every
// packet of the burst in the station list. Then the chunk shown as sent ("N/N bytes"), which
// the activation's interval of 500 ms paces, not the window. A click waits for the end of
// the sending before it, as the operator must. The first comes a second into the burst:
// the link's first activation step is due 500 ms after it opened, whatever the window does.
void WindowUnderBurst(int seconds, int rate) {
    meradon_ui_test::WindowSession s("bench-window");
    s.sim->AddStations({kStation}, true);
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = kStation; });
    if (!OpenInDataMode(s, "window")) return;
    auto *shown = s.Find<QLabel>("transferText");
    std::filesystem::create_directories(s.dir);
    const std::vector<uint8_t> payload(64, 0x5A);
    std::atomic<bool> over{false};
    std::thread burst([&] {
        SendPaced(static_cast<long>(seconds) * rate, rate, [&](long i) {
            s.sim->SendFrame(tevrolink::kCodeData, static_cast<uint8_t>(i), kStation, hostsim::kAttrFile, payload);
        });
        over = true;
    });
    WindowLateness lateness;
    auto *records = s.Find<meradon::ui::RecordList>("recordList");
    std::vector<double> ms, chunkMs;
    int unanswered = 0;
    bool ended = true;
    const auto firstClick = Clock::now() + 1s;
    MsUntil([&] { return Clock::now() >= firstClick; }, 2s);
    for (std::size_t size = 101; ended && !over.load(); ++size) {
        const auto next = Clock::now() + 1s;
        const std::string path = (s.dir / ("click" + std::to_string(size) + ".bin")).string();
        std::ofstream(path, std::ios::binary).write(std::string(size, 'c').data(), static_cast<std::streamsize>(size));
        s.Type("sendFileEdit", QString::fromStdString(path));
        const QString sent = QString("%1/%1 bytes").arg(size);
        const auto linesBefore = records->Lines().size();
        const auto clicked = Clock::now();
        s.Click("sendButton");
        if (const auto took = MsUntil([&] { return records->Lines().size() > linesBefore; }, 5s))
            ms.push_back(*took);
        else
            ++unanswered;
        if (MsUntil([&] { return shown->text() == sent; }, 5s))
            chunkMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - clicked).count());
        // The next click waits for this sending's end, which takes the node's report.
        MsUntil([&] { return s.Enabled("sendButton") || over.load(); }, 60s);
        ended = s.Enabled("sendButton");
        MsUntil([&] { return Clock::now() >= next || over.load(); }, 2s);
    }
    burst.join();
    lateness.Stop();
    std::printf("window     main window in this process, %d packets a second for %d s: \"传送\" clicked %zu times, ",
                rate, seconds, ms.size() + static_cast<std::size_t>(unanswered));
    if (!ms.empty())
        std::printf("its first record line (the node's answers) shown after median %.1f ms, worst %.1f ms", Median(ms),
                    *std::max_element(ms.begin(), ms.end()));
    if (unanswered) std::printf("%s%d not shown within 5 s", ms.empty() ? "" : ", ", unanswered);
    std::printf("%s\n", ended ? "" : "; the last sending had not ended when the burst did");
    if (!chunkMs.empty())
        std::printf("           the chunk shown as sent after median %.1f ms, worst %.1f ms, %zu of %zu clicks\n",
                    Median(chunkMs), *std::max_element(chunkMs.begin(), chunkMs.end()), chunkMs.size(),
                    ms.size() + static_cast<std::size_t>(unanswered));
    lateness.Print();
}

// The main window in this process while the history store takes --history-rate link-quality
// samples a second (signal packets of stations 1 to 254 in turn) for --history-seconds, with
// station 1's plot open on the last 7 days and the results view on its last 7 days, both read
// from the store. Every 250 ms the operator acts, in turn: clicks "发送结果" (the results
// view is shown again, reading the store when its last read is 3 s old), or steps the plot's
// span between 7 and 30 days with the arrow keys (the plot reads the store at once). The
// answer is from the event's posting to the end of its handling, waiting included for what
// the window thread was doing. Then the longest that a queuing of a fact waited for the
// store's queue, whichever thread queued it: the worker's record lines and sendings queue
// like the window thread's samples, so that is the longest the worker can have waited on the
// store.
void WindowWhileHistoryWrites(int seconds, int rate) {
    meradon_ui_test::WindowSession s("bench-history");
    if (!OpenInDataMode(s, "history")) return;
    auto *stations = s.Find<QTableWidget>("stationList");
    emit stations->cellDoubleClicked(0, 1);
    auto *plotSpan = s.Find<QComboBox>("qualitySpan");
    plotSpan->setCurrentIndex(3);  // the last 7 days
    s.Click("sendingsButton");
    s.Find<QComboBox>("sendingsSpan")->setCurrentIndex(2);  // the last 7 days
    auto *results = s.Find<QAbstractButton>("sendingsButton");

    std::atomic<bool> over{false};
    std::thread samples([&] {
        SendPaced(static_cast<long>(seconds) * rate, rate,
                  [&](long i) { s.sim->SendSignal(0x40, static_cast<uint8_t>(i % 254 + 1)); });
        over = true;
    });
    WindowLateness lateness;
    Clock::time_point posted;
    std::vector<double> clickMs, spanMs;
    QObject::connect(results, &QAbstractButton::clicked, [&] {
        clickMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
    });
    QObject::connect(plotSpan, &QComboBox::currentIndexChanged, [&] {
        spanMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
    });
    const QPointF centre(results->width() / 2.0, results->height() / 2.0);
    for (long turn = 0; !over.load(); ++turn) {
        MsUntil([&] { return over.load(); }, 250ms);
        posted = Clock::now();
        const std::size_t answered = clickMs.size() + spanMs.size();
        if (turn % 2 == 0) {
            for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                QCoreApplication::postEvent(results, new QMouseEvent(type, centre, results->mapToGlobal(centre),
                                                                     Qt::LeftButton, type == QEvent::MouseButtonPress
                                                                         ? Qt::LeftButton : Qt::NoButton,
                                                                     Qt::NoModifier));
        } else {
            const int key = plotSpan->currentIndex() == 3 ? Qt::Key_Down : Qt::Key_Up;
            QCoreApplication::postEvent(plotSpan, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
        }
        MsUntil([&] { return clickMs.size() + spanMs.size() > answered; }, 5s);
    }
    samples.join();
    lateness.Stop();
    meradon::Core &core = s.window->Core().Context();
    const auto flushStart = Clock::now();
    core.history.Flush();
    const double behindMs = std::chrono::duration<double, std::milli>(Clock::now() - flushStart).count();
    const auto stored = meradon::HistoryReader(s.dir / meradon::kHistoryFileName)
                            .QualityFigures(1, meradon::kFromTheStart, meradon::kUntilNow).count;
    std::printf("history    main window in this process, %d quality samples a second for %d s into the store\n",
                rate, seconds);
    const auto print = [](const char *what, const std::vector<double> &ms) {
        std::printf("           %s: %zu, answered after median %.1f ms, 99 %% %.1f ms, worst %.1f ms\n", what,
                    ms.size(), Median(ms), Percentile(ms, 0.99),
                    ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
    };
    print("\"发送结果\" clicked", clickMs);
    print("the plot's span stepped (7 / 30 days)", spanMs);
    std::printf("           longest wait of a thread queuing a fact %.1f us; writer %.1f ms behind at the end; "
                "station 1 has %lld samples in the store\n",
                std::chrono::duration<double, std::micro>(core.history.LongestQueueWait()).count(), behindMs,
                static_cast<long long>(stored));
    lateness.Print();
}

// ---- the manager core sending a file ---------------------------------------------------

// The stream as the node's record shows it: from the arrival of the first data chunk to
// that of the last, the bytes of the chunks after the first.
struct StreamRecord {
    std::vector<hostsim::RecordedFrame> chunks, reports;
    double bytesPerSecond = 0;
};

StreamRecord StreamFromRecord(const hostsim::HostSim &sim) {
    StreamRecord r;
    for (auto &f : sim.Received())
        if (f.Code() == kStreamFrame && f.Payload().size() > 8) r.chunks.push_back(std::move(f));
    for (auto &f : sim.Sent())
        if (f.Code() == kStatusReport) r.reports.push_back(std::move(f));
    if (r.chunks.size() < 2) return r;
    std::size_t bytes = 0;
    for (std::size_t i = 1; i < r.chunks.size(); ++i) bytes += r.chunks[i].Payload().size();
    r.bytesPerSecond = static_cast<double>(bytes) /
                       std::chrono::duration<double>(r.chunks.back().at - r.chunks.front().at).count();
    return r;
}

// The manager's turn-round: from the last byte of a chunk's report on the line to the
// first byte of the next chunk; in ms.
std::vector<double> TurnRounds(const StreamRecord &stream, double byteSeconds) {
    std::vector<double> turns;
    std::size_t r = 0;
    for (std::size_t i = 0; i + 1 < stream.chunks.size(); ++i) {
        while (r < stream.reports.size() && stream.reports[r].at < stream.chunks[i].at) ++r;
        if (r == stream.reports.size()) break;
        const auto reportEnd =
            stream.reports[r].at +
            std::chrono::duration<double>(byteSeconds * static_cast<double>(stream.reports[r].bytes.size()));
        const auto nextStart =
            stream.chunks[i + 1].at -
            std::chrono::duration<double>(byteSeconds * static_cast<double>(stream.chunks[i + 1].bytes.size()));
        turns.push_back(std::chrono::duration<double, std::milli>(nextStart - reportEnd).count());
    }
    std::sort(turns.begin(), turns.end());
    return turns;
}

struct WriterLoop {
    double bytesPerSecond = 0;
    std::vector<double> turns;  // on the paced pty: its turn-rounds, as the manager's below
};

// The library's writer loop on a link of its own to a fresh hostsim; a rate of 0 when it
// cannot open.
WriterLoop RunWriterLoop(bool udp, std::size_t size) {
    auto sim = bench::OpenShellToHostSim(udp);
    if (!sim) return {};
    WriterLoop loop;
    loop.bytesPerSecond = bench::RunStreamWriterLoop(*sim, size, kStation).bytesPerSecond;
    CloseShell();
    if (!udp) loop.turns = TurnRounds(StreamFromRecord(*sim), 10.0 / kLineRate);
    return loop;
}

void SendFileOverPty(std::size_t size, std::size_t referenceBytes) {
    const double limit = bench::StopAndWaitLimit();
    const WriterLoop loop = RunWriterLoop(false, referenceBytes);
    const double reference = loop.bytesPerSecond;
    std::printf("pty-115200 library's stream writer loop, %zu bytes: %.0f bytes/s, %.1f%% of the stop-and-wait "
                "limit of %.0f bytes/s; turn-round median %.2f ms\n",
                referenceBytes, reference, 100.0 * reference / limit, limit, Median(loop.turns));

    hostsim::PtyOptions pty;
    pty.baud = kLineRate;
    pty.pace = true;
    meradon_test::HostSimSession s("bench-send", hostsim::HostSim::StartPty(pty));
    s.sim->AddStations({kStation}, true);
    s.sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = kStation; });
    if (!s.Open(kLineRate) || !s.EnterDataMode(kStation) ||
        !s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 5s)) {
        std::fprintf(stderr, "pty: the manager did not reach data transfer mode\n");
        return;
    }
    const std::string path = s.WriteFile("bench.bin", meradon_test::Pattern(size, 0x3C));
    const auto start = Clock::now();
    if (s.manager.PrepareSending(path) != meradon::PrepareResult::Armed) return;
    const bool over = s.RunWindowUntil([&] { return s.SendingOver(); }, std::chrono::seconds(60 + size / 4000));
    const double whole = SecondsSince(start);
    const auto files = s.sim->ReceivedFiles(kStation);
    const bool intact = files.size() == 1 && files[0].sizeOk && files[0].crcOk;
    const StreamRecord stream = StreamFromRecord(*s.sim);
    if (!over || stream.chunks.size() < 2 || stream.reports.empty()) {
        std::fprintf(stderr, "pty: the sending did not finish (state %c)\n", s.State().sendState.load());
        return;
    }
    const double percent = 100.0 * stream.bytesPerSecond / limit;
    std::printf("pty-115200 manager core sends %zu bytes to station %u: %s in %.1f s from Send to the report; "
                "stream %.0f bytes/s in %zu chunks, %.1f%% of the stop-and-wait limit, %+.1f points from the "
                "writer loop\n",
                size, kStation, intact ? "arrived intact" : "ARRIVED DAMAGED", whole, stream.bytesPerSecond,
                stream.chunks.size(), percent, percent - 100.0 * reference / limit);
    const auto turns = TurnRounds(stream, 10.0 / kLineRate);
    if (!turns.empty())
        std::printf("           turn-round from a report to the next chunk: median %.2f ms, 90th percentile %.2f ms\n",
                    turns[turns.size() / 2], turns[turns.size() * 9 / 10]);
}

// In the process started with --send-to-port: the manager core sends `size` bytes to the
// node at `port`, and writes "RSS-BEFORE PEAK-RSS SENT-OK" (KiB, KiB, 0 or 1) on standard
// output.
int SendingProcess(uint16_t port, std::size_t size) {
    meradon_test::HostSimSession s("bench-big-send", port);
    s.view.keepEveryProgress = false;
    if (!s.Open() || !s.EnterDataMode(kStation) ||
        !s.RunWindowUntil([&] { return s.State().hostFlags.load() != 0; }, 5s))
        return 1;
    const std::string path = (s.dir / "big.bin").string();
    {
        std::ofstream out(path, std::ios::binary);
        const auto block = meradon_test::Pattern(1 << 20, 0x4D);
        for (std::size_t at = 0; at < size; at += block.size())
            out.write(reinterpret_cast<const char *>(block.data()),
                      static_cast<std::streamsize>(std::min(block.size(), size - at)));
    }
    bench::ResidentSampler rss(getpid());
    if (s.manager.PrepareSending(path) != meradon::PrepareResult::Armed) return 1;
    const bool over = s.RunWindowUntil([&] { return s.SendingOver(); }, std::chrono::seconds(60 + size / 100'000));
    std::printf("%ld %ld %d\n", rss.BeforeKiB(), rss.PeakKiB(), over ? 1 : 0);
    return 0;
}

void SendBigOverUdp(std::size_t size) {
    const double reference = RunWriterLoop(true, size).bytesPerSecond;
    std::printf("udp        library's stream writer loop, %zu bytes: %.0f bytes/s\n", size, reference);

    auto sim = hostsim::HostSim::StartUdp("127.0.0.1", 0);
    sim->AddStations({kStation}, true);
    sim->UpdateSettings([](hostsim::HostSettings &h) { h.peer = kStation; });
    sim->SetDrainRate(100'000'000);  // as for the writer loop: the radio is not what is measured
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    const std::string port = std::to_string(sim->Port()), bytes = std::to_string(size);
    std::vector<const char *> argv = {"/proc/self/exe", "--send-to-port", port.c_str(), "--big-bytes",
                                      bytes.c_str(), nullptr};
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, "/proc/self/exe", &actions, nullptr, const_cast<char **>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string answer;
    char buffer[256];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    if (spawned == 0) waitpid(child, &status, 0);
    long before = 0, peak = 0;
    int over = 0;
    if (spawned != 0 || std::sscanf(answer.c_str(), "%ld %ld %d", &before, &peak, &over) != 3 || !over) {
        std::fprintf(stderr, "udp: the manager core's sending did not finish (%s)\n", answer.c_str());
        return;
    }
    const auto files = sim->ReceivedFiles(kStation);
    const bool intact = files.size() == 1 && files[0].sizeOk && files[0].crcOk;
    const StreamRecord stream = StreamFromRecord(*sim);
    std::printf("udp        manager core sends %zu bytes to station %u: %s; stream %.0f bytes/s in %zu chunks, "
                "%.1f%% of the writer loop's\n",
                size, kStation, intact ? "arrived intact" : "ARRIVED DAMAGED", stream.bytesPerSecond,
                stream.chunks.size(), 100.0 * stream.bytesPerSecond / reference);
    std::printf("           its process: VmRSS %ld KiB before, peak growth %ld KiB during the sending\n", before,
                peak - before);
}

Options Parse(int argc, char **argv) {
    Options o;
    bench::ParseOptions(argc, argv,
                        "[--idle-seconds N] [--quiet-seconds N] [--quiet-spells N] [--flood-seconds N] "
                        "[--flood-rate N] [--burst-seconds N] [--burst-rate N] [--big-bytes N] [--big-rate N] "
                        "[--file-bytes N] [--pty-reference-bytes N] [--history-seconds N] [--history-rate N] "
                        "[--meradon PATH]",
                        [&](const std::string &key, const char *text) {
                            const long value = std::strtol(text, nullptr, 10);
                            const int positive = static_cast<int>(std::max(1L, value));
                            if (key == "--idle-seconds") o.idleSeconds = static_cast<int>(value);
                            else if (key == "--quiet-seconds") o.quietSeconds = static_cast<int>(value);
                            else if (key == "--quiet-spells") o.quietSpells = positive;
                            else if (key == "--flood-seconds") o.floodSeconds = positive;
                            else if (key == "--flood-rate") o.floodRate = positive;
                            else if (key == "--burst-seconds") o.burstSeconds = positive;
                            else if (key == "--burst-rate") o.burstRate = positive;
                            else if (key == "--big-bytes") o.bigBytes = static_cast<std::size_t>(std::max(1L, value));
                            else if (key == "--big-rate") o.bigRate = positive;
                            else if (key == "--file-bytes") o.fileBytes = static_cast<std::size_t>(value);
                            else if (key == "--pty-reference-bytes") o.ptyReferenceBytes = static_cast<std::size_t>(value);
                            else if (key == "--history-seconds") o.historySeconds = positive;
                            else if (key == "--history-rate") o.historyRate = positive;
                            else if (key == "--meradon") o.meradon = text;
                            else if (key == "--send-to-port") o.sendToPort = static_cast<uint16_t>(value);
                            else return false;
                            return true;
                        });
    return o;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);  // in order with what meradon and Qt say on standard error
    const Options options = Parse(argc, argv);
    if (options.sendToPort) return SendingProcess(options.sendToPort, options.bigBytes);
    std::printf("load average at the start: %s\n", bench::LoadAverage().c_str());
    RunMeradon(options);
    {
        // The window sections share the one application object a process may have.
        int argc = 1;
        char name[] = "manager_bench";
        char *qtArgv[] = {name, nullptr};
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QApplication app(argc, qtArgv);
        WindowUnderBurst(options.burstSeconds, options.burstRate);
        WindowWhileHistoryWrites(options.historySeconds, options.historyRate);
    }
    SendFileOverPty(options.fileBytes, options.ptyReferenceBytes);
    SendBigOverUdp(options.bigBytes);
    std::printf("load average at the end:   %s\n", bench::LoadAverage().c_str());
    return 0;
}
