// MQTT bridge benchmark: what meradond's bridge costs and how fast and whole its messages
// reach a subscriber, against Debian's mosquitto started here on a free loopback port.
// Prints figures; decides nothing.
//
//   bridge_bench [--part latency|load|outage|fleet|all] [--samples N]
//                [--load-seconds N] [--load-rate N] [--outage-seconds N] [--outage-rate N]
//                [--gateways N] [--fleet-seconds N] [--fleet-rate N]
//
// Every hostsim runs inside this process, so the moment it is told to send a datagram and its
// message's arrival (the subscriber's callback, libmosquitto in this process) are stamped on
// one steady clock. meradond runs as a process of its own, so that the CPU and memory
// figures of its process are its own; so does the broker.
#include <arpa/inet.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <numeric>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "manager/daemon/bridge_payloads.h"
#include "sim/host_sim.h"
#include "sim/station_traffic.h"
#include "tests/bench/bench_options.h"
#include "tests/bench/child_process.h"
#include "tests/bench/pacing.h"
#include "tests/bench/process_figures.h"
#include "tests/support/free_udp_port.h"

namespace {

using bench::Clock;
using bench::SecondsSince;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr uint8_t kStatusQuery = 0x1C;
constexpr uint8_t kStation = 5;
constexpr unsigned kStations = 254;

struct Options {
    std::string part = "all";
    int samples = 1000;
    int loadSeconds = 60;
    int loadRate = 1000;
    int outageSeconds = 60;
    int outageRate = 100;
    int gateways = 16;
    int fleetSeconds = 30;
    int fleetRate = 100;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// ---- the broker ---------------------------------------------------------------------------

// mosquitto on 127.0.0.1 with a store of its own, so that a persistent session outlives a
// restart; it holds any number of messages for a session that is away (its default of 1,000
// would drop some of an outage's), and publishes its $SYS figures every second.
class Broker {
public:
    explicit Broker(const fs::path &dir) : port_(test_support::FreeTcpPort()), dir_(dir) {
        fs::create_directories(dir / "store");
        std::ofstream(dir / "mosquitto.conf") << "listener " << port_ << " 127.0.0.1\nallow_anonymous true\n"
                                              << "persistence true\npersistence_location " << (dir / "store").string()
                                              << "/\nmax_queued_messages 0\nsys_interval 1\nlog_dest none\n";
    }
    // Starts it on its port and waits until it takes connections.
    bool Start() {
        process_ = std::make_unique<bench::ChildProcess>(
            MOSQUITTO_PROGRAM, std::vector<std::string>{"-c", (dir_ / "mosquitto.conf").string()});
        for (const auto until = Clock::now() + 10s; Clock::now() < until; std::this_thread::sleep_for(20ms))
            if (Listening()) return true;
        return false;
    }
    void Stop() { process_.reset(); }
    uint16_t Port() const { return port_; }
    std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
    const bench::ChildProcess &Process() const { return *process_; }

private:
    bool Listening() const {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port_);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool up = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
        ::close(fd);
        return up;
    }

    uint16_t port_;
    fs::path dir_;
    std::unique_ptr<bench::ChildProcess> process_;
};

// ---- a subscriber in this process ---------------------------------------------------------

struct Message {
    std::string topic;
    std::string payload;
    Clock::time_point at;
};

// A libmosquitto client on its own thread, subscribed to `filter` at QoS 1 on every
// connection; it reconnects every second while the broker is away. A persistent one (clean
// session off, a fixed client id) has the broker keep what arrives meanwhile. It keeps the
// messages when asked to, else only counts them.
class Subscriber {
public:
    Subscriber(uint16_t port, const std::string &filter, bool keep, const std::string &persistentId = {})
        : filter_(filter), keep_(keep) {
        static const int initialised = mosquitto_lib_init();
        (void)initialised;
        client_ = mosquitto_new(persistentId.empty() ? nullptr : persistentId.c_str(), persistentId.empty(), this);
        mosquitto_connect_callback_set(client_, [](mosquitto *client, void *self, int result) {
            if (result == 0) mosquitto_subscribe(client, nullptr, static_cast<Subscriber *>(self)->filter_.c_str(), 1);
        });
        mosquitto_subscribe_callback_set(client_, [](mosquitto *, void *self, int, int, const int *) {
            auto *s = static_cast<Subscriber *>(self);
            std::lock_guard lock(s->mutex_);
            s->subscribed_ = true;
            s->changed_.notify_all();
        });
        mosquitto_message_callback_set(client_, [](mosquitto *, void *self, const mosquitto_message *m) {
            static_cast<Subscriber *>(self)->Take(m);
        });
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect(client_, "127.0.0.1", port, 30);
        mosquitto_loop_start(client_);
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, true);
        mosquitto_destroy(client_);
    }
    Subscriber(const Subscriber &) = delete;
    Subscriber &operator=(const Subscriber &) = delete;

    bool WaitSubscribed(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return subscribed_; });
    }
    // The first kept message at index >= `from` with this topic (and whose payload holds
    // `part`, when given).
    std::optional<Message> WaitFor(const std::string &topic, std::chrono::milliseconds timeout, std::size_t from = 0,
                                   const std::string &part = {}) {
        std::unique_lock lock(mutex_);
        std::optional<Message> found;
        changed_.wait_for(lock, timeout, [&] {
            for (; from < messages_.size(); ++from)
                if (messages_[from].topic == topic && messages_[from].payload.find(part) != std::string::npos) {
                    found = messages_[from];
                    return true;
                }
            return false;
        });
        return found;
    }
    // Waits until `count` messages have come, or none for `quiet`; the count.
    long WaitForCount(long count, std::chrono::milliseconds quiet) {
        std::unique_lock lock(mutex_);
        for (long seen = -1; count_ < count && seen != count_;) {
            seen = count_;
            changed_.wait_for(lock, quiet, [&] { return count_ >= count || count_ != seen; });
        }
        return count_;
    }
    long Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::size_t Kept() {
        std::lock_guard lock(mutex_);
        return messages_.size();
    }
    std::vector<Message> Messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    void Forget() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

private:
    void Take(const mosquitto_message *m) {
        const auto at = Clock::now();
        std::lock_guard lock(mutex_);
        ++count_;
        if (keep_)
            messages_.push_back({m->topic, std::string(static_cast<const char *>(m->payload),
                                                       static_cast<std::size_t>(m->payloadlen)),
                                 at});
        changed_.notify_all();
    }

    std::string filter_;
    bool keep_;
    mosquitto *client_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool subscribed_ = false;
    long count_ = 0;
    std::vector<Message> messages_;
};

// ---- a site: hostsim and its gateway ------------------------------------------------------

// A hostsim on UDP with stations 1 to 254 present, online and active, and a meradond that
// runs it and publishes below `base`; the gateway's log goes into `dir`. Each gateway has a
// client id of its own: the default is made from the host name, which the gateways of a
// fleet have each their own but those of this benchmark share, and a broker takes a second
// connection with the same id for the first one come back, and closes the first.
class Site {
public:
    Site(const Broker &broker, const fs::path &dir, const std::string &base)
        : sim_(hostsim::HostSim::StartUdp("127.0.0.1", 0)), base_(base) {
        sim_->With([](hostsim::HostNode &n) {
            for (unsigned s = 1; s <= kStations; ++s) {
                hostsim::Station &st = n.Model().stations.At(s);
                st.present = st.online = st.active = true;
            }
        });
        fs::create_directories(dir);
        std::ofstream(dir / "meradond.toml") << "local_port = " << test_support::FreeUdpPort() << "\n[mqtt]\n"
                                             << "client_id = \"" << dir.filename().string() << "\"\n";
        gateway_ = std::make_unique<bench::ChildProcess>(
            MERADOND_PROGRAM,
            std::vector<std::string>{"--config", (dir / "meradond.toml").string(), "--connect",
                                     "127.0.0.1:" + std::to_string(sim_->Port()), "--output-dir",
                                     (dir / "out").string(), "--broker", broker.Url(), "--base", base},
            (dir / "meradond.log").string());
    }
    // In data transfer mode once the worker asks for the node's status.
    bool WaitForDataMode() { return sim_->WaitForReceived(hostsim::WithCode(kStatusQuery), 30s).has_value(); }

    hostsim::HostSim &Sim() { return *sim_; }
    const bench::ChildProcess &Gateway() const { return *gateway_; }
    const std::string &Base() const { return base_; }

    // The `n`th signal packet, from `station`: its link quality differs from the packet's
    // before it (whatever its station), which the manager takes for a change of the station's
    // row, so that its topic changes; the quality it gives.
    int SendChangedSignal(uint8_t station, long n) {
        const auto lqi = static_cast<uint8_t>(1 + n % 250);
        sim_->With([&](hostsim::HostNode &node) {
            node.Model().stations.At(station).hostLqi = lqi;
            node.SendSignal(node.Model().HostState(), station);
        });
        return lqi;
    }

private:
    std::unique_ptr<hostsim::HostSim> sim_;
    std::string base_;
    std::unique_ptr<bench::ChildProcess> gateway_;
};

bool Ready(Site &site, Subscriber &sub) {
    if (!site.Gateway().Running() || !site.WaitForDataMode()) {
        std::fprintf(stderr, "meradond did not reach data transfer mode\n");
        return false;
    }
    if (!sub.WaitFor(site.Base() + "/bridge/state", 20s, 0, "online")) {
        std::fprintf(stderr, "meradond did not say it is online\n");
        return false;
    }
    return true;
}

// ---- latency ------------------------------------------------------------------------------

// From hostsim being told to send a datagram to the message on `topic` that tells of it (its
// payload holds what the trigger returns), `samples` times, 5 ms apart. The start is taken
// before the call, so hostsim's own work (and for a data packet, which its link protocol
// sends from its own thread, that thread's waking) is in the figure. hostsim's record of
// a frame is no stamp for this: it is taken after the sending, and a preemption between
// the two has put it after the message's arrival.
std::vector<double> Latencies(Site &site, Subscriber &sub, int samples, const std::string &topic,
                              const std::function<std::string(long)> &trigger) {
    std::vector<double> ms;
    for (long i = 0; i < samples; ++i) {
        std::this_thread::sleep_for(5ms);
        site.Sim().ClearRecord();
        sub.Forget();
        const auto start = Clock::now();
        const std::string told = trigger(i);
        if (const auto message = sub.WaitFor(topic, 5s, 0, told)) ms.push_back(Ms(message->at - start));
    }
    return ms;
}

void PrintLatencies(const char *what, int samples, const std::vector<double> &ms) {
    std::printf("latency    %s: %zu of %d arrived; median %.2f ms, 99th percentile %.2f ms, best %.2f ms, worst "
                "%.2f ms\n",
                what, ms.size(), samples, bench::Median(ms), bench::Percentile(ms, 0.99),
                ms.empty() ? 0.0 : *std::min_element(ms.begin(), ms.end()),
                ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
}

void Latency(const Broker &broker, const fs::path &dir, int samples) {
    Site site(broker, dir / "latency", "bench/latency");
    Subscriber sub(broker.Port(), site.Base() + "/#", true);
    if (!sub.WaitSubscribed(10s) || !Ready(site, sub)) return;
    sub.WaitForCount(std::numeric_limits<long>::max(), 1s);  // the start's retained topics are through
    const std::string station = site.Base() + "/station/" + std::to_string(kStation);
    PrintLatencies("a signal packet to its station's topic", samples,
                   Latencies(site, sub, samples, station,
                             [&](long i) {
                                 return "\"host_lqi\":" + std::to_string(site.SendChangedSignal(kStation, i)) + ",";
                             }));
    // A file of one packet, head and tail at once, with no information packet before it (which
    // would hold the file's packet back until the PC's acknowledgement).
    hostsim::FileSendOptions onePacket;
    onePacket.announce = false;
    PrintLatencies("a small file (one data packet) to its received message", samples,
                   Latencies(site, sub, samples, station + "/received", [&](long i) {
                       const std::string text = "reading " + std::to_string(i);
                       site.Sim().SendFileFromStation(kStation, std::vector<uint8_t>(text.begin(), text.end()),
                                                      onePacket);
                       return "\"data\":\"" + meradon::daemon::Base64(text) + "\"";
                   }));
}

// ---- load ---------------------------------------------------------------------------------

// `rate` packets a second, every other one a data packet (the middle of one long file from
// one station, as a flood in the manager's benchmark) and the others signal packets of the
// 254 stations in turn, each with changed link quality, so each is a message.
void Load(const Broker &broker, const fs::path &dir, int seconds, int rate) {
    Site site(broker, dir / "load", "bench/load");
    Subscriber sub(broker.Port(), site.Base() + "/#", true);
    if (!sub.WaitSubscribed(10s) || !Ready(site, sub)) return;
    sub.WaitForCount(std::numeric_limits<long>::max(), 1s);  // the start's retained topics are through
    sub.Forget();
    const pid_t pid = site.Gateway().Pid();
    std::vector<long> rss = {bench::ResidentKiB(pid)};
    const long dropsBefore = bench::UdpDrops(pid);
    const long messagesBefore = sub.Count();
    const double cpuBefore = site.Gateway().CpuSeconds();
    const auto threadsBefore = bench::TicksOfThreads(pid);
    const std::vector<uint8_t> payload(64, 0x5A);
    int second = 0;
    const auto start = Clock::now();
    const long count = static_cast<long>(seconds) * rate;
    bench::SendPaced(
        count, rate,
        [&](long i) {
            if (i % 2 == 0)
                site.Sim().SendFrame(tevrolink::kCodeData, static_cast<uint8_t>(i / 2), kStation, hostsim::kAttrFile,
                                     payload);
            else
                site.SendChangedSignal(static_cast<uint8_t>(1 + (i / 2) % kStations), i / 2);
        },
        [&] {
            site.Sim().ClearRecord();
            sub.Forget();
            if (++second % 10 == 0 || second == seconds) rss.push_back(bench::ResidentKiB(pid));
        });
    const double wall = SecondsSince(start);
    const double cpu = site.Gateway().CpuSeconds() - cpuBefore;
    std::this_thread::sleep_for(1s);  // the last messages arrive
    const long messages = sub.Count() - messagesBefore;
    std::printf("load       %ld packets in %.1f s (%.0f a second, half signal, half data): meradond CPU %.2f%% of one "
                "core; %ld messages at the subscriber (%.0f a second); %ld datagrams dropped by its socket\n",
                count, wall, static_cast<double>(count) / wall, 100.0 * cpu / wall, messages,
                static_cast<double>(messages) / wall, bench::UdpDrops(pid) - dropsBefore);
    std::printf("           VmRSS every 10 s:");
    for (long kib : rss) std::printf(" %ld", kib);
    std::printf(" KiB (start %ld, middle %ld, end %ld)\n", rss.front(), rss[rss.size() / 2], rss.back());
    std::printf("           its threads, %% of one core:");
    const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
    for (const auto &[tid, now] : bench::TicksOfThreads(pid)) {
        const auto was = threadsBefore.find(tid);
        const long spent = now.ticks - (was == threadsBefore.end() ? 0 : was->second.ticks);
        if (spent > 0)
            std::printf(" %s%s %.1f", tid == pid ? "main " : "", now.name.c_str(),
                        100.0 * static_cast<double>(spent) / tick / wall);
    }
    std::printf("\n");
}

// ---- broker outage ------------------------------------------------------------------------

// Small files, `rate` a second from stations 1 to 8 in turn, each carrying its number, for
// 5 s, then through `seconds` with the broker stopped, then 5 s more after its restart on the
// same port and store. A persistent subscriber (clean session off, QoS 1) counts what
// arrives: every event, in order, and how many twice.
void Outage(Broker &broker, const fs::path &dir, int seconds, int rate) {
    constexpr int kBefore = 5, kAfter = 5;
    Site site(broker, dir / "outage", "bench/outage");
    Subscriber state(broker.Port(), site.Base() + "/bridge/state", true);
    if (!state.WaitSubscribed(10s) || !Ready(site, state)) return;
    auto sub = std::make_unique<Subscriber>(broker.Port(), site.Base() + "/station/+/received", true,
                                            "bridge-bench-outage");
    if (!sub->WaitSubscribed(10s)) return;

    const long count = static_cast<long>(kBefore + seconds + kAfter) * rate;
    std::map<std::string, long> eventOf;  // the base64 a received message carries
    std::vector<std::vector<uint8_t>> contents;
    for (long i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "event %07ld", i);
        eventOf[meradon::daemon::Base64(text)] = i;
        contents.emplace_back(text, text + std::strlen(text));
    }
    const pid_t pid = site.Gateway().Pid();
    std::optional<bench::ResidentSampler> rss(pid);
    std::atomic<long> sent{0};
    std::thread events([&] {
        bench::SendPaced(
            count, rate,
            [&](long i) {
                site.Sim().SendFileFromStation(static_cast<uint8_t>(1 + i % 8), contents[i]);
                sent = i + 1;
            },
            [&] { site.Sim().ClearRecord(); });
    });
    std::this_thread::sleep_for(std::chrono::seconds(kBefore));
    broker.Stop();
    const auto stopped = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long sentWhileAway = sent.load();
    const bool restarted = broker.Start();
    const auto back = Clock::now();
    events.join();
    sub->WaitForCount(count, 30s);
    std::printf("outage     %ld events (small files) %d a second; the broker stopped for %.1f s, %s; meradond VmRSS "
                "%ld KiB before, peak %ld KiB\n",
                count, rate, std::chrono::duration<double>(back - stopped).count(),
                restarted ? "then started again on its port and store" : "AND DID NOT START AGAIN", rss->BeforeKiB(),
                rss->PeakKiB());
    rss.reset();

    std::vector<long> arrived;
    long unreadable = 0;
    auto backlogIn = back;  // when the last of the events sent before the restart had come
    for (const Message &m : sub->Messages()) {
        const auto json = nlohmann::json::parse(m.payload, nullptr, false);
        const auto found = json.is_object() && json.contains("data") && json["data"].is_string()
                               ? eventOf.find(json["data"].get<std::string>())
                               : eventOf.end();
        if (found == eventOf.end()) {
            ++unreadable;
            continue;
        }
        arrived.push_back(found->second);
        if (found->second < sentWhileAway) backlogIn = std::max(backlogIn, m.at);
    }
    std::set<long> distinct;
    long twice = 0, early = 0, highest = -1;
    for (long e : arrived) {
        if (!distinct.insert(e).second) {
            ++twice;
            continue;
        }
        if (e < highest) ++early;  // a first arrival behind a later event
        highest = std::max(highest, e);
    }
    std::printf("           the subscriber got %zu messages: %zu of %ld events, %ld missing, %ld twice, %ld first "
                "arrivals out of order, %ld not ours; the events sent before the restart were all in %.2f s after it\n",
                arrived.size() + static_cast<std::size_t>(unreadable), distinct.size(), count,
                count - static_cast<long>(distinct.size()), twice, early, unreadable,
                std::chrono::duration<double>(backlogIn - back).count());
    if (distinct.size() < static_cast<std::size_t>(count)) {
        long firstMissing = 0;
        while (distinct.count(firstMissing)) ++firstMissing;
        std::printf("           first missing event %ld (sent %.1f s into the run)\n", firstMissing,
                    static_cast<double>(firstMissing) / rate);
    }
}

// ---- fleet --------------------------------------------------------------------------------

// `gateways` sites to one broker, each hostsim's 254 stations sending `rate` signal packets a
// second between them, each a message. The broker's count of messages received (its $SYS
// topic), the subscriber's count, and each process's CPU share.
void Fleet(const Broker &broker, const fs::path &dir, int gateways, int seconds, int rate) {
    std::vector<std::unique_ptr<Site>> sites;
    Subscriber states(broker.Port(), "bench/fleet/+/bridge/state", true);
    for (int g = 0; g < gateways; ++g)
        sites.push_back(std::make_unique<Site>(broker, dir / ("fleet" + std::to_string(g)),
                                               "bench/fleet/site" + std::to_string(g + 1)));
    if (!states.WaitSubscribed(10s)) return;
    for (auto &site : sites)
        if (!Ready(*site, states)) return;
    std::this_thread::sleep_for(5s);  // every gateway's retained topics of the start are through
    Subscriber sub(broker.Port(), "bench/fleet/#", false);
    // What mosquitto counts as messages received: every PUBLISH and the subscribers'
    // acknowledgements (its count of PUBLISH packets alone stays 0 in Debian 12's version).
    const std::string published = "$SYS/broker/messages/received";
    Subscriber sys(broker.Port(), published, true);
    if (!sub.WaitSubscribed(10s) || !sys.WaitSubscribed(10s)) return;
    sub.WaitForCount(std::numeric_limits<long>::max(), 1s);  // the retained topics, on subscription
    // The broker's figure so far, as it last told (it tells each second when the figure has
    // changed, and on subscription).
    const auto brokerCount = [&] {
        const auto kept = sys.Messages();
        return kept.empty() ? -1L : std::stol(kept.back().payload);
    };
    sys.WaitFor(published, 3s);
    const std::string loadBefore = bench::LoadAverage();
    const long brokerBefore = brokerCount();
    const long subBefore = sub.Count();
    std::vector<double> cpuBefore;
    for (auto &site : sites) cpuBefore.push_back(site->Gateway().CpuSeconds());
    const double brokerCpuBefore = broker.Process().CpuSeconds();
    const long ownTicksBefore = bench::ProcessTicks(::getpid());
    const auto start = Clock::now();
    const long count = static_cast<long>(seconds) * rate * gateways;
    bench::SendPaced(
        count, rate * gateways,
        [&](long i) {
            Site &site = *sites[static_cast<std::size_t>(i % gateways)];
            const long n = i / gateways;
            site.SendChangedSignal(static_cast<uint8_t>(1 + n % kStations), n);
        },
        [&] {
            for (auto &site : sites) site->Sim().ClearRecord();
        });
    const double wall = SecondsSince(start);
    const double brokerCpu = broker.Process().CpuSeconds() - brokerCpuBefore;
    const double ownCpu =
        static_cast<double>(bench::ProcessTicks(::getpid()) - ownTicksBefore) / static_cast<double>(sysconf(_SC_CLK_TCK));
    std::vector<double> shares;
    for (std::size_t g = 0; g < sites.size(); ++g)
        shares.push_back(100.0 * (sites[g]->Gateway().CpuSeconds() - cpuBefore[g]) / wall);
    std::this_thread::sleep_for(2s);  // the last messages arrive, and the broker tells its figure
    const long subMessages = sub.Count() - subBefore;
    const long brokerReceived = brokerCount() - brokerBefore;
    std::printf("fleet      %d gateways of %u stations, %d signal packets a second each, %.1f s: the subscriber got "
                "%ld messages (%.0f a second); the broker counted %ld packets received (%.0f a second, the subscriber's acknowledgements among them); mosquitto CPU "
                "%.1f%% of one core\n",
                gateways, kStations, rate, wall, subMessages, static_cast<double>(subMessages) / wall, brokerReceived,
                static_cast<double>(brokerReceived) / wall,
                100.0 * brokerCpu / wall);
    std::printf("           meradond CPU %% of one core, each:");
    for (double s : shares) std::printf(" %.1f", s);
    std::printf(" (median %.1f, highest %.1f, sum %.1f)\n", bench::Median(shares),
                *std::max_element(shares.begin(), shares.end()), std::accumulate(shares.begin(), shares.end(), 0.0));
    std::printf("           this benchmark (the hostsims and the subscribers) %.1f%% of one core; load average before: "
                "%s\n",
                100.0 * ownCpu / wall, loadBefore.c_str());
}

}  // namespace

int main(int argc, char **argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each figure as it comes, also into a file
    Options o;
    bench::ParseOptions(
        argc, argv,
        "[--part latency|load|outage|fleet|all] [--samples N] [--load-seconds N] [--load-rate N] "
        "[--outage-seconds N] [--outage-rate N] [--gateways N] [--fleet-seconds N] [--fleet-rate N]",
        [&](const std::string &name, const char *value) {
            const std::map<std::string, int *> numbers = {
                {"--samples", &o.samples},       {"--load-seconds", &o.loadSeconds},
                {"--load-rate", &o.loadRate},    {"--outage-seconds", &o.outageSeconds},
                {"--outage-rate", &o.outageRate}, {"--gateways", &o.gateways},
                {"--fleet-seconds", &o.fleetSeconds}, {"--fleet-rate", &o.fleetRate}};
            if (name == "--part") {
                o.part = value;
                return std::set<std::string>{"latency", "load", "outage", "fleet", "all"}.count(o.part) > 0;
            }
            const auto number = numbers.find(name);
            if (number == numbers.end()) return false;
            *number->second = std::atoi(value);
            return *number->second > 0;
        });
    const fs::path dir = fs::temp_directory_path() / ("bridge-bench-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    {
        Broker broker(dir / "broker");
        if (!broker.Start()) {
            std::fprintf(stderr, "mosquitto (%s) did not start\n", MOSQUITTO_PROGRAM);
            return 1;
        }
        std::printf("load average at the start: %s\n", bench::LoadAverage().c_str());
        const auto runs = [&](const char *part) { return o.part == "all" || o.part == part; };
        if (runs("latency")) Latency(broker, dir, o.samples);
        if (runs("load")) Load(broker, dir, o.loadSeconds, o.loadRate);
        if (runs("outage")) Outage(broker, dir, o.outageSeconds, o.outageRate);
        if (runs("fleet")) Fleet(broker, dir, o.gateways, o.fleetSeconds, o.fleetRate);
        std::printf("load average at the end: %s\n", bench::LoadAverage().c_str());
    }
    fs::remove_all(dir);
    return 0;
}
