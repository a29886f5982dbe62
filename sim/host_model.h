// Everything the host node knows and keeps while it runs: its settings, the stations,
// its own output devices and the transmit buffer. The link protocol and the commands act
// on it; status reports are read from it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "sim/output_devices.h"
#include "sim/station.h"
#include "sim/transmit_buffer.h"
#include "sim/wire.h"

namespace hostsim {

// Host state nibble of status reports (the PC shows it as a picture).
constexpr uint8_t kHostCommandMode = 0x00;
constexpr uint8_t kHostDataIdle = 0x10;
constexpr uint8_t kHostSending = 0x20;
constexpr uint8_t kHostConnected = 0x40;
constexpr uint8_t kHostSearching = 0x90;

// Host flags of status reports.
constexpr uint8_t kHostFlagReceiverActive = 0x80;
constexpr uint8_t kHostFlagNeedsActivation = 0x08;
constexpr uint8_t kHostFlagSuspended = 0x04;

constexpr uint8_t kDefaultBaudCode = 0x22;  // 19200 bit/s

struct HostSettings {
    uint8_t nodeId = 1;
    bool master = true;           // a slave node sends only to its master
    uint8_t peer = 0;             // receiving station; 0 = the active stations
    uint8_t pointX1 = 0;          // frequency points, 0 to 16
    uint8_t pointX2 = 0;
    uint8_t power = 0;            // level 0 (+10 dBm) to 7 (-20 dBm)
    bool handShake = false;       // retransmission of data packets to the PC
    std::array<uint8_t, 7> clock{};  // as last set: s, min, h, day, weekday, month, year-2000
    uint8_t baudCode = kDefaultBaudCode;  // takes effect at the next start
    bool dataMode = false;        // data transfer mode (else command set mode)
    bool monitor = false;         // debug packets wanted
    Bytes firmware = {'H', 'o', 's', 't', 'S', 'i', 'm', ' ', 'V', '1', '.', '0', '0'};
};

struct HostModel {
    HostSettings settings;
    StationTable stations;
    OutputDevices devices;        // the host's own, for data addressed to node 255
    TransmitBuffer txBuffer;
    bool searching = false;
    // A connection carries the PC's stream data to the receiving station(s): it opens with
    // the first stream frame and lasts until the PC ends it (StopHost, command set mode).
    bool connected = false;
    // Status report fields that tests may force: the gate word must be 0 for the PC to
    // write; `flagsOverride` replaces the computed flags when set (>= 0).
    uint16_t statusGate = 0;
    int flagsOverride = -1;

    uint8_t HostState() const;
    uint8_t HostFlags() const;
    // Brings the receiving station(s) up, as the start of data transfer mode does.
    void Activate();
    // Ends the connection and drops every radio link (the PC's StopHost).
    void Disconnect();
    // Hands a packet that the radio has finished sending to its station(s).
    void DeliverToStations(const QueuedPacket &packet);
    // Acts on a packet for one station: file data or an embedded command.
    void DeliverToStation(Station &station, uint8_t attribute, std::span<const uint8_t> payload);
};

// Applies an output-device command frame (0x71 select, 0x06 clear) to `devices`; false if
// the frame is neither or names an unknown device.
bool ApplyDeviceCommand(OutputDevices &devices, uint8_t code, std::span<const uint8_t> payload);

}  // namespace hostsim
