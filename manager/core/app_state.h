// AppState: the one state record of the manager, shared by the window thread and the
// worker thread. Fields that both threads touch are atomic; the files have owners of their
// own (SendFile and TraceLog take a lock; the receive file belongs to the window thread).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>

#include "manager/core/clock.h"
#include "manager/core/file_handle.h"
#include "manager/core/link_mode.h"
#include "manager/core/send_file.h"
#include "manager/core/spsc_queue.h"
#include "manager/core/trace_log.h"

namespace meradon {

// `linkMode`: who may use the link.
constexpr uint8_t LINK_NO_MODE = 0xFF;   // link open, no mode: poll and drop what arrives
constexpr uint8_t LINK_WINDOW = 0;       // the window thread talks to the host node
constexpr uint8_t LINK_DATA = 1;         // data transfer: dispatch, watch, poll, send
constexpr uint8_t LINK_SEARCH = 2;       // network search: dispatch only

// `sendState`, stored as the characters '@' to 'H'.
enum SendState : char {
    ACTIVATE = '@',
    SEND_INFO = 'A',
    START = 'B',
    STREAM = 'C',
    FILE_END = 'D',
    FINISH = 'E',
    REPORT = 'F',
    END_PASS = 'G',
    IDLE = 'H',
};

// Station state bits (stationState, signal packets, hostFlags).
constexpr uint8_t STATION_ACTIVE = 0x80;
constexpr uint8_t STATION_ONLINE = 0x40;
constexpr uint8_t STATION_LINK = 0x10;
constexpr uint8_t STATION_SUSPENDED = 0x04;
// Host flags of the status profile.
constexpr uint8_t HOST_RECEIVER_ACTIVE = 0x80;
constexpr uint8_t HOST_NEEDS_ACTIVATION = 0x08;
constexpr uint8_t HOST_RECEIVER_SUSPENDED = 0x04;

constexpr uint8_t LINK_PICTURE_IDLE = 0xFF;
constexpr int kStations = 255;  // stations 1-255 have a row and a state byte

constexpr std::size_t kPacketSize = 248;
constexpr std::size_t kProfileSize = 32;
using PacketRecord = std::array<uint8_t, kPacketSize>;
using StatusProfile = std::array<uint8_t, kProfileSize>;

// A signal packet with the time the worker took it from the link: the window may take
// it from the queue much later (a flood, a busy window), and the quality history and the
// day's file keep when the station reported.
struct SignalRecord {
    PacketRecord packet{};
    int64_t timeMs = 0;  // the core's clock
    LocalTime local;
};

// A time that lies long before any clock reading, so intervals measured from it have
// passed (the state of a time that was never set).
constexpr int64_t kLongAgo = std::numeric_limits<int64_t>::min() / 4;

struct NetLinkSettings {
    uint16_t localPort = 10086;
    std::string localAddress;  // empty: any local address
};

struct SerialLinkSettings {
    uint32_t baudRate = 19200;
    std::string portName;
};

struct AppState {
    AppState() {
        for (auto &s : stationState) s.store(0xFF, std::memory_order_relaxed);
        for (auto &r : rxBytes) r = 0;
    }

    NetLinkSettings netSettings;      // window thread only
    SerialLinkSettings comSettings;   // window thread only

    std::atomic<uint8_t> peerNode{0};     // receiving station; 0 = broadcast
    std::atomic<uint16_t> txCredit{0};    // bytes the host node accepts now

    SpscQueue<PacketRecord, 16> dataQueue;       // worker -> window
    SpscQueue<StatusProfile, 128> statusQueue;   // worker -> window
    SpscQueue<SignalRecord, 16> signalQueue;     // worker -> window

    std::atomic<uint32_t> loopCount{0};  // passes completed in loop sending
    // Bytes received from each station, indexed by station number (0 unused). Window only.
    std::array<uint32_t, 256> rxBytes;

    LinkMode linkMode{LINK_NO_MODE};
    // Packets enter the queues under this lock, and only while `linkMode` lets the worker
    // dispatch them: closing the link takes it to empty the queues, so no packet of a closed
    // link is handed on afterwards.
    std::mutex dispatchGate;
    // The PC's retransmission setting of data transfer mode (SetHostHandShake), which the
    // sending sets again to bring a link back from a frame whose acknowledgement was lost.
    std::atomic<uint8_t> handShake{0};
    // The window opened a link and has not closed it since: the worker watches it end.
    std::atomic<bool> linkOpen{false};
    // The out-of-step box has told the operator of the present trouble on the link.
    std::atomic<bool> outOfStepShown{false};
    // The operator has been told that the host node does not answer; cleared when it does.
    std::atomic<bool> hostSilent{false};
    // A sending ended early: the host node is told to leave the receiver until it reports
    // that it has. Worker only.
    std::atomic<bool> disconnectPending{false};

    // Times in milliseconds of the core's clock.
    std::atomic<int64_t> lastPollTime{kLongAgo};
    std::atomic<int64_t> sendStartTime{kLongAgo};
    std::atomic<int64_t> passStartTime{kLongAgo};
    std::atomic<int64_t> traceFileTime{kLongAgo};
    std::atomic<int64_t> stepTime{kLongAgo};
    std::atomic<int64_t> lastRxTime{kLongAgo};
    std::atomic<int64_t> autoSaveTime{kLongAgo};
    // Last frame from the host node, and the worker's last pass (silence on the link is
    // counted only while the worker listens).
    std::atomic<int64_t> lastHeardTime{kLongAgo};
    std::atomic<int64_t> lastTickTime{kLongAgo};
    // Since when the link has awaited the acknowledgement of a stream frame; kLongAgo
    // while it awaits none. Worker only.
    std::atomic<int64_t> ackWaitStart{kLongAgo};
    // When the sending last told the host node to disconnect. Worker only.
    std::atomic<int64_t> stopHostTime{kLongAgo};

    std::atomic<uint32_t> sendSize{0};
    std::atomic<uint32_t> sendCrc{0};  // CRC-32 of the file when it was armed
    std::atomic<uint32_t> sendDone{0};
    uint32_t recvSize = 0;  // window only

    // Last known state byte of each station, index = station number - 1.
    std::array<std::atomic<uint8_t>, kStations> stationState;
    // The quality bytes last shown in each station's row (window only). Compared per
    // station: a station whose quality equals another's last signal is still redrawn.
    std::array<std::array<uint8_t, 4>, kStations> lastSignal{};

    std::atomic<int32_t> retryCount{0};
    std::atomic<uint8_t> linkPicture{LINK_PICTURE_IDLE};
    std::atomic<uint8_t> hostFlags{0};
    std::atomic<uint32_t> listPrimed{0};

    // The file being received: window thread only.
    uint8_t recvAnnounced = 0;
    uint32_t recvCrc = 0;
    FileHandle recvFile;
    std::string recvPath;
    uint8_t recvStation = 0;  // whose data opened it
    LocalTime recvStart;      // when it was opened

    std::atomic<uint8_t> loopSend{0};

    SendFile sendFile;    // file being sent and its path
    TraceLog traceFile;   // trace log of debug packets

    std::atomic<char> sendState{IDLE};
};

}  // namespace meradon
