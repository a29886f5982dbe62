// A manager on a recording view, talking to a hostsim host node over UDP on 127.0.0.1 or
// over a pty, with the test thread acting as the window thread: it handles posted commands
// and steps the core every millisecond, which stands in for the main window's wake-ups.
#pragma once

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

#include "manager/core/dispatch.h"
#include "manager/core/manager.h"
#include "sim/host_sim.h"
#include "tests/manager/core_fixture.h"
#include "tests/support/free_udp_port.h"
#include "tevrolink/tevrolink.h"

namespace meradon_test {

using test_support::FreeUdpPort;

enum class SimCarrier { kUdp, kPty };

// The system's clock, which a test can move on at once past a time-out that would
// otherwise take its full time.
class SkippingClock final : public meradon::Clock {
public:
    int64_t NowMs() override { return system_.NowMs() + skipped_.load(); }
    meradon::LocalTime Local() override { return system_.Local(); }
    void Skip(int64_t ms) { skipped_.fetch_add(ms); }

private:
    meradon::SystemClock system_;
    std::atomic<int64_t> skipped_{0};
};

inline constexpr uint32_t kPtyBaud = 115200;

// A host node on UDP at 127.0.0.1, or on a pty that answers at kPtyBaud.
inline std::unique_ptr<hostsim::HostSim> StartHost(SimCarrier carrier) {
    if (carrier == SimCarrier::kUdp) return hostsim::HostSim::StartUdp("127.0.0.1", 0);
    hostsim::PtyOptions options;
    options.baud = kPtyBaud;
    return hostsim::HostSim::StartPty(options);
}

class HostSimSession {
public:
    explicit HostSimSession(const std::string &label, SimCarrier carrier = SimCarrier::kUdp)
        : HostSimSession(label, StartHost(carrier)) {}
    HostSimSession(const std::string &label, std::unique_ptr<hostsim::HostSim> host)
        : sim(std::move(host)),
          dir(FreshDirectory(label)),
          manager(view, clock, dir) {
        // The window's answers to the worker: a refresh reads the node status; boxes are
        // closed by the operator at once.
        view.onCommand = [this](int command) {
            if (command == meradon::CMD_REFRESH) manager.RefreshFromHost();
            manager.CommandFinished();
        };
        view.onMessageBox = [this](const std::string &text) { manager.MessageBoxClosed(text); };
        std::filesystem::create_directories(dir);
    }
    // Towards a host node that runs in another process, on UDP at 127.0.0.1:`hostPort`;
    // its settings are that process's to make.
    HostSimSession(const std::string &label, uint16_t hostPort) : HostSimSession(label, nullptr) {
        hostPort_ = hostPort;
    }
    ~HostSimSession() {
        manager.Stop();
        ::CloseShell();
        std::filesystem::remove_all(dir);
    }

    meradon::AppState &State() { return manager.State(); }

    // Opens the link and starts the worker, as opening the main window and "打开" do;
    // `baudRate` is the serial line's rate when the host node is on a pty.
    bool Open(uint32_t baudRate = kPtyBaud) {
        manager.Start();
        return OpenLink(baudRate);
    }

    // "打开" towards `sim`: the shell, then the core's part.
    bool OpenLink(uint32_t baudRate = kPtyBaud) {
        const std::string pty = sim ? sim->PtyPath() : "";
        const int opened = pty.empty()
                               ? ::OpenNETShell("127.0.0.1", "127.0.0.1", FreeUdpPort(), sim ? sim->Port() : hostPort_)
                               : ::OpenCOMShell(pty.c_str(), baudRate);
        if (opened != 1) return false;
        manager.LinkOpened();
        return true;
    }

    // "数据传输模式" with `peer` typed as the receiving station, and retransmission support
    // checked or not.
    bool EnterDataMode(uint8_t peer, bool retransmission = false) {
        meradon::HandLinkToWindow(State());
        State().peerNode = peer;
        ::SetHostHandShake(0);
        if (::StartNetCenter(1) != 1 || ::StartMonitorService(0) != 1) return false;
        // The host node's own setting (its resending of data packets) matches the PC's.
        if (sim) sim->UpdateSettings([&](hostsim::HostSettings &h) { h.handShake = retransmission; });
        State().handShake = retransmission ? 1 : 0;
        if (retransmission) ::SetHostHandShake(1);
        State().linkMode = meradon::LINK_DATA;
        return true;
    }

    // "撤消", as the window does it: the sending listed as cancelled, its end posted, the
    // host node told to disconnect.
    void Cancel() {
        manager.SendingCancelled();
        view.PostCommand(meradon::CMD_TRANSFER_END);
        ::StopHost();
    }

    // No sending under way and its file closed, and over for the window too: the end it is told of has been handled.
    bool SendingOver() {
        return State().sendState.load() == meradon::IDLE && !State().sendFile.IsOpen() && !view.AnyPosted();
    }

    std::string WriteFile(const std::string &name, const std::vector<uint8_t> &bytes) {
        auto path = dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Runs the window's side until `done` holds; false after `timeout`. `eachTick` runs
    // first on every tick.
    bool RunWindowUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout,
                        const std::function<void()> &eachTick = {}) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < end) {
            if (eachTick) eachTick();
            for (int command : view.TakePosted()) {
                if (command == meradon::CMD_TRANSFER_END || command == meradon::CMD_FILE_SENT)
                    manager.FinishSending();
                if (command == meradon::CMD_LINK_LOST) {
                    manager.CloseLink();
                    ++linksLost;
                }
            }
            manager.PumpQueues();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the window's wake-ups
        }
        return false;
    }

    std::unique_ptr<hostsim::HostSim> sim;
    int linksLost = 0;  // CMD_LINK_LOST handled
    RecordingView view;
    SkippingClock clock;
    std::filesystem::path dir;
    meradon::Manager manager;

private:
    uint16_t hostPort_ = 0;
};

inline std::vector<uint8_t> Pattern(std::size_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed ^ (i * 31 + i / 7));
    return b;
}

}  // namespace meradon_test
