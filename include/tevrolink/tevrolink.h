/*
 * tevrolink.h - the link library for the host node of a Zelkora radio network.
 *
 * The library keeps exactly one link per process, the shell: a serial port or a UDP
 * socket towards the host node. No function takes a handle.
 *
 * Return conventions, for every function unless its comment says otherwise:
 *   1    success;
 *   0    failure: the shell is closed, the host node gave no (matching) reply, or the
 *        link is not ready;
 *   255  a list or text did not fit the caller's capacity (nothing was written).
 * Output pointers may be NULL unless a comment says "required"; they are written only on
 * success. Nothing is ever printed to a terminal or shown in a window, except the progress
 * figures of the file transfer functions and the one note of a capture that cannot be
 * written (below).
 *
 * A lost link: a serial line that goes away while it is open (a USB adapter pulled out,
 * the far end of a pty closed) closes the shell by itself, at the first poll, wait or write
 * that finds it hung up: from then on IsShellActive returns 0 and every function gives its
 * closed-shell result at once. CloseShell stays harmless, and a port may be opened again.
 * A UDP peer that goes away cannot be told from a silent one: commands give up after their
 * resends and the waits after 5 s without a frame.
 *
 * Captures: when the environment variable TEVROLINK_CAPTURE names a file, every frame the
 * library sends and every frame it takes in (valid or not, stamped with its arrival) is
 * written to that file as a pcap capture, which the packet analyser decodes with the
 * dissector tools/wireshark/tevrolink.lua. Each frame is one IPv4/UDP datagram: over UDP
 * between the real addresses and ports, on a serial line between 127.0.0.1:10086 (the PC)
 * and 127.0.0.2:12580 (the host node). The file is emptied when the first frame passes. A
 * capture that cannot be written is reported once on standard error; the link behaves the
 * same either way.
 *
 * Threads: every function takes one process-wide lock, so two threads may call the library
 * at once without a data race. A frame reported by one poll is only valid until the next
 * poll by any thread, so one thread at a time should own the receive side. The lock is held
 * for the whole call, also by the calls that wait: while one of them runs, every other
 * thread's call (IsShellActive and CloseShell included) waits for it. Their longest
 * durations, each stated at the function:
 *   host-node commands, SendPacketToHostNode, RecvPacketFromHostNode   about 0.8 s
 *   ReadSocketPacket                                                   about 0.2 s
 *   WaitForShellWritable                                               10 s
 *   WaitForShellEmpty                 10 s after the host node's buffer last went down
 *   DownloadFileToHost, DownloadFileToNetwork, UploadFileFromHost      the whole transfer,
 *       and at most about 10 s (DownloadFileToNetwork) or 26 s (UploadFileFromHost)
 *       without progress
 * Every other function returns without waiting for the host node. WaitForShellReadable
 * and WakeShellWaiters are the exceptions to the lock: they never hold it while they wait.
 */
#ifndef TEVROLINK_TEVROLINK_H
#define TEVROLINK_TEVROLINK_H

#include <stdint.h>

#if defined(TEVROLINK_BUILDING)
#define TEVROLINK_API __attribute__((visibility("default")))
#else
#define TEVROLINK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Frame records ----------------------------------------------------------------- */

/* A link frame: 8-byte header (sync 0xAA, code, sequence number, node, attribute, payload
 * length, CRC-16 most significant byte first) and up to 240 payload bytes. Every buffer the
 * library hands frames in or out through is one such zero-filled 248-byte record. */
#define TEVROLINK_FRAME_HEADER  8
#define TEVROLINK_FRAME_PAYLOAD 240
#define TEVROLINK_FRAME_SIZE    248
typedef uint8_t LinkFrameRecord[TEVROLINK_FRAME_SIZE];

/* The status profile: 32 bytes that the library decodes from the host node's status
 * reports (codes 0x9D and 0x9C) and hands out through GetStatusPacketProfile and
 * QueryHostRTxStatus. Byte offsets; 16-bit values are in the PC's byte order (the report
 * carries them most significant byte first, the profile as a uint16_t read with memcpy):
 *   1       host node state; high nibble 0x0 or 0x1 idle, 0x4 connected to a peer,
 *           other values busy
 *   2       the host node's current peer station
 *   3       host flags, TEVROLINK_HOST_* below
 *   5-10    three 16-bit values passed through (report bytes 4-9)
 *   12-13   16-bit: bytes still waiting in the host node's transmit buffer
 *   14-15   16-bit: free space in that buffer, the credit (what IsShellWritable rounds)
 *   16-17   16-bit: size of that buffer
 *   19-20   16-bit: must be 0 for writing
 *   21-24   two 16-bit values passed through (report bytes 20-23)
 *   26-31   three 16-bit values passed through (report bytes 25-30)
 * Bytes 0, 4, 11, 18 and 25 are never written and stay 0. A field keeps its last value
 * until the next report, except that bytes 4 to 17 are zeroed each time a sequenced frame
 * (a stream frame, a read request to the host node) is sent: waiting count, credit and
 * buffer size are 0 until the report that answers it. */
#define TEVROLINK_STATUS_SIZE 32
#define TEVROLINK_PROFILE_STATE       1
#define TEVROLINK_PROFILE_PEER        2
#define TEVROLINK_PROFILE_FLAGS       3
#define TEVROLINK_PROFILE_WAITING     12
#define TEVROLINK_PROFILE_CREDIT      14
#define TEVROLINK_PROFILE_BUFFER_SIZE 16
#define TEVROLINK_PROFILE_GATE        19

/* Host flags, profile byte 3: the state of the station the host node sends to. Writing
 * needs TEVROLINK_HOST_ACTIVE set and TEVROLINK_HOST_SUSPENDED clear. */
#define TEVROLINK_HOST_ACTIVE           0x80 /* a receiving station is active */
#define TEVROLINK_HOST_ONLINE           0x40 /* the receiving station is online */
#define TEVROLINK_HOST_NEEDS_ACTIVATION 0x08 /* it waits to be activated (SetNodeActive) */
#define TEVROLINK_HOST_SUSPENDED        0x04 /* it is suspended: stop writing */

/* Data packets and stream frames: attribute byte = packet kind << 4 | flags. */
#define TEVROLINK_KIND_FILE     1    /* file data: an information packet, then the bytes */
#define TEVROLINK_KIND_COMMAND  2    /* an embedded command frame for the station */
#define TEVROLINK_FLAG_INFO     0x02 /* information packet: file size and CRC-32, 4 bytes
                                        each, least significant byte first */
#define TEVROLINK_FLAG_FIRST    0x04 /* first packet of a file */
#define TEVROLINK_FLAG_LAST     0x08 /* last packet of a file */

/* ---- Checksums ----------------------------------------------------------------------- */
/* For all of them only the low 16 bits of `length` count: at most 65,535 bytes, and a
 * length whose low 16 bits are zero is empty. None of them allocates. */

/* CRC-16/MODBUS, table-driven. 0xFFFF for empty input. Check value ("123456789"): 0x4B37. */
TEVROLINK_API int QuickCRC16(const uint8_t *data, uint32_t length);
/* CRC-16/MODBUS computed bit by bit; same results as QuickCRC16. */
TEVROLINK_API int CRC16(const uint8_t *data, uint32_t length);
/* CRC-16/MCRF4XX. 0xFFFF for empty input. Check value 0x6F91. */
TEVROLINK_API int CRC_CCITT(const uint8_t *data, uint32_t length);
/* CRC-32 (zlib). 0 for empty input. Check value 0xCBF43926. */
TEVROLINK_API uint32_t QuickCRC32(const uint8_t *data, uint32_t length);
/* CRC-32 of a whole file, read in 1024-byte blocks. 0 for an empty file; 0xFFFFFFFF when
 * the file cannot be opened for reading. */
TEVROLINK_API uint32_t QuickFileCRC32(const char *path);
/* MODBUS ASCII longitudinal redundancy check: the negated 8-bit sum. 0 for empty input. */
TEVROLINK_API int ASCII_CRC(const uint8_t *data, uint32_t length);
/* XOR of all bytes (the NMEA sentence checksum). 0 when length is below 2. */
TEVROLINK_API int NEMA_CRC(const uint8_t *data, uint32_t length);

/* ---- The shell ------------------------------------------------------------------------ */

/* Opens a serial port: a name starting with '/' is a device path used as it is, any other
 * name NAME opens /dev/NAME ("ttyUSB0", "pts/3"). Raw 8N1 at `baudRate` (any rate the driver
 * accepts), no flow control, DTR and RTS cleared, opened exclusively. Resets the link state
 * (not synchronised, sequence numbers 255). Does not close a shell that is already open:
 * call CloseShell first. Returns 1, or 0 when the port cannot be opened or configured
 * (errno tells why: ENOENT missing, EBUSY held by another process, EACCES permission). */
TEVROLINK_API int OpenCOMShell(const char *deviceName, uint32_t baudRate);

/* Opens the UDP link. `remoteAddress` is dotted-quad text; text that does not convert, and
 * "255.255.255.255", select broadcast mode (no bind; a `localAddress` that converts chooses
 * the one adapter that device searches and updates leave from). Otherwise the socket is bound to
 * `localAddress` (NULL or unconvertible text: any address) and `localPort`, which must not
 * be 0. Closes any shell that was open, except when `remoteAddress` is NULL or 0.0.0.0.
 * Keeps the link state and sequence numbers as they were. Returns 1 or 0. */
TEVROLINK_API int OpenNETShell(const char *localAddress, const char *remoteAddress,
                               uint16_t localPort, uint16_t remotePort);

/* Closes the shell if it is open and resets the receive state. Always returns 0. */
TEVROLINK_API int CloseShell(void);

/* 1 if the shell is open, else 0: also 0 once a serial line has hung up (see above). */
TEVROLINK_API int IsShellActive(void);

/* Sets the PC side of retransmission support: on (non-zero low byte) makes the link
 * unsynchronised so that polling starts the sync exchange; off makes it ready at once. */
TEVROLINK_API void SetHostHandShake(uint32_t onOff);

/* Copies the 248-byte receive frame record to `frame` (if not NULL). Returns 1. */
TEVROLINK_API int CopyShell(uint8_t *frame);

/* ---- Polling -------------------------------------------------------------------------- */

/* One reception step; never waits. Runs the link keeper when retransmission support is on,
 * takes in at most one step of a serial frame or one UDP datagram, consumes link-control
 * frames and decodes status reports. `linkState` (may be NULL) always receives the link
 * state as it was on entry: 0 not synchronised, 1 ready, 2 awaiting an acknowledgement.
 * Returns 1 when a frame for the caller lies in the receive frame; then `credit` (may be
 * NULL) receives the raw credit field of the status profile. Returns 0 and closes the
 * shell when the serial line has hung up. */
TEVROLINK_API int IsShellReadable(uint8_t *linkState, uint16_t *credit);
/* Sleeps until IsShellReadable may have something to do, so that a polling loop need not
 * poll on a timer: returns 1 when a reception step can make progress now (a datagram or
 * serial bytes arrived, the missing bytes of a serial frame have had their line time, the
 * link keeper has a resend or sync request due), 0 after `milliseconds` with none of these,
 * and 0 at once when WakeShellWaiters is called meanwhile or was called since the last
 * wait ended. Opening, closing the shell and SetHostHandShake wake it too, and so does a
 * stream frame or read request another thread sends with retransmission support on (its
 * resend may fall due first). Without an open shell it just sleeps (woken as above). Unlike
 * every other function it does not hold the library while it sleeps: other threads' calls
 * go on and may take what arrived first, so a 1 is a hint, not a promise. Meant for one
 * waiting thread. A thread cancelled in it (pthread_cancel) leaves nothing behind; a child
 * of fork() starts with no waiter and with wakes of its own. Wakes travel through a
 * descriptor made when the library loads; when none can be made (a full descriptor table)
 * that is said once on standard error, and a wait looks for wakes every 20 ms meanwhile. */
TEVROLINK_API int WaitForShellReadable(uint32_t milliseconds);
/* Ends the WaitForShellReadable in progress, or the next one to begin, with 0. Safe to
 * call from any thread and from a signal handler; never waits. */
TEVROLINK_API void WakeShellWaiters(void);

/* ---- Host-node commands --------------------------------------------------------------- */
/* Each sends one request and waits for the matching reply, resending every 150 ms up to
 * five times (about 750 ms in all, and up to 20 ms before the first send: see below).
 * 1 on success; 0 when the shell is closed or no
 * matching reply came. Outputs are written only on success.
 * A reply carries nothing that names its request, so the library keeps answers that
 * belong to an earlier request from being taken: frames already arriving when a command
 * starts are taken in first (link control and status reports are acted on, the rest is
 * dropped, as everything but the reply is while it waits), and a request goes out no
 * sooner than 20 ms after the last answer to the same code, since a doubled answer travels
 * right behind the first: a command waits up to 20 ms before it sends. A command that had
 * to resend may still be answered once per further send, each answer up to 300 ms after
 * its send: for that long, that many replies of its code that say the same as the answer
 * taken are dropped as late; after a command that got no answer at all, that many replies
 * of its code are. A fresh answer that happens to say the same is dropped in place of a
 * late one and costs a resend, once: a command that resent after dropping a reply like its
 * own answer leaves nothing owed to the commands after it. */

/* Output devices of a node, for the output-file commands. */
#define OUT_UART0   0x24 /* UART-0 port; setting = baud rate */
#define OUT_UART1   0x25 /* UART-1 port; setting = baud rate */
#define OUT_LCD     0x81 /* LCD screen; start = row * 65536 + column */
#define OUT_FLASH   0x01 /* serial Flash; start = byte address */
#define OUT_EEPROM  0x02 /* serial EEPROM; start = byte address */
#define OUT_DEFAULT 0xFF /* the protocol stack's FIFO queue */

/* Station numbers are 1-254; a peer of 0 means broadcast. `out` receives the value now in
 * force, as the host node reports it. */
TEVROLINK_API int SetHostNodeID(int id, uint8_t *out);
/* `role`: non-zero = master node (may address stations and broadcast), 0 = slave node. */
TEVROLINK_API int GetHostNodeID(uint8_t *id, uint8_t *role);
TEVROLINK_API int SetPeerNodeID(int id, uint8_t *out);
TEVROLINK_API int GetPeerNodeID(uint8_t *out);
/* Working frequency points 0-16. */
TEVROLINK_API int SetFrequencyPointX1(int point, uint8_t *out);
TEVROLINK_API int GetFrequencyPointX1(uint8_t *out);
TEVROLINK_API int SetFrequencyPointX2(int point, uint8_t *out);
TEVROLINK_API int GetFrequencyPointX2(uint8_t *out);
/* Transmit power level 0-7 (-20 dBm to +10 dBm); `out` is masked to 0-7. */
TEVROLINK_API int SetWirelessPower(int level, uint8_t *out);
TEVROLINK_API int GetWirelessPower(uint8_t *out);
/* The host node's own retransmission setting (the PC side: SetHostHandShake). */
TEVROLINK_API int SetShellHandShake(int onOff);
TEVROLINK_API int GetShellHandShake(uint8_t *out);
/* Sends the code of `baudRate` (110 ... 256000; unlisted rates send the code of 19200);
 * the host node uses the new rate after it restarts. */
TEVROLINK_API int SetDeviceBaudRate(uint32_t baudRate);
/* Sends nothing; always 1. */
TEVROLINK_API int SetHostBaudRate(uint32_t baudRate);
/* Activates or suspends the `count` (low 8 bits) stations listed. */
TEVROLINK_API int SetNodeActive(const uint8_t *stations, int count);
TEVROLINK_API int SetNodeInactive(const uint8_t *stations, int count);
/* Lists the active stations in ascending order; 255 (nothing written) when more than
 * `capacity` are active. */
TEVROLINK_API int GetActiveNodeList(uint8_t *dest, int capacity, uint8_t *count);
/* Copies the node status reply (four 32-byte station bitmaps: active, online, link,
 * suspended; station n is bit n mod 8 of byte n / 8); 255 when it exceeds `capacity`. */
TEVROLINK_API int GetNetworkNodeStatus(uint8_t *dest, int capacity, uint8_t *length);
TEVROLINK_API int QueryNodeStatus(int station, uint8_t *out);
/* `inOut` (required): non-zero starts a search; replaced by the host node's answer. */
TEVROLINK_API int SearchZelkoraNetwork(uint8_t *inOut);
/* Copies the version text (no terminator added); 255 when it exceeds `capacity`. */
TEVROLINK_API int GetFirmwareVersion(uint8_t *dest, int capacity);
TEVROLINK_API int GetHostMediaInfo(int device, uint16_t *first, uint16_t *second);
/* Sets the host node's clock from the PC's local time. */
TEVROLINK_API int SetHostRTCTimer(void);
/* `mode` 0 = command set mode, non-zero = data transfer mode. */
TEVROLINK_API int StartNetCenter(int mode);
TEVROLINK_API int StartMonitorService(int onOff);
/* Disconnects; sent without waiting for a reply. 1 if sent, 0 if the shell is closed. */
TEVROLINK_API int StopHost(void);
/* Directs what the host node receives to an output device (OUT_*). */
TEVROLINK_API int SetHostNodeOutputFile(int device, uint32_t setting, uint32_t start);
/* Clears `size` characters of a device from `start` (0xFFFFFFFF: the whole device). */
TEVROLINK_API int ClearHostNodeOutputFile(int device, uint32_t start, uint32_t size);
/* The same for a station, sent inside one stream frame; no reply is awaited. 1 when
 * handed to the host node, 0 when the link was not ready (nothing sent). */
TEVROLINK_API int SetPeerNodeOutputFile(int station, int device, uint32_t setting, uint32_t start);
TEVROLINK_API int ClearPeerNodeOutputFile(int station, int device, uint32_t start, uint32_t size);

/* ---- Packet tests and profiles -------------------------------------------------------- */
/* `frame` NULL means the receive frame, which the last poll reported. Returned pointers
 * point into that frame and are valid until the next poll by any thread. */

/* Data packet (code 0x1E): 1, and `kind` = packet kind (1 file data, 2 embedded command). */
TEVROLINK_API int IsValidDataPacket(const uint8_t *frame, uint8_t *kind);
/* Attribute flags of any frame: first packet, last packet, information packet (0 or 1). */
TEVROLINK_API int IsDataPacketHead(const uint8_t *frame);
TEVROLINK_API int IsDataPacketTail(const uint8_t *frame);
TEVROLINK_API int IsDataPacketInfo(const uint8_t *frame);
/* Sending station and payload length; returns the payload. */
TEVROLINK_API uint8_t *GetDataPacketProfile(const uint8_t *frame, uint8_t *station, uint8_t *length);
/* Rewrites the attribute bytes of a run of records that starts at byte 8 of `buffer` and is
 * byte 5 long (each record: an 8-byte header, attribute at 2, payload length at 3): first
 * (0x04) on the first, last (0x08) on the one that ends the run, information (0x02) on
 * all. `buffer` must hold 16 bytes beyond the run's end. Returns the offset reached. */
TEVROLINK_API int SetPacketAttribute(uint8_t *buffer, int flags);

/* 1 if `frame` (NULL: the receive frame) is a status report: code 0x9D gives kind 1 and
 * applies the acknowledgement rules to the link state; code 0x9C gives kind 2. Else 0. */
TEVROLINK_API int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind);

/* Copies the 32-byte status profile to `profile` (if not NULL) and marks it read.
 * Returns 1. */
TEVROLINK_API int GetStatusPacketProfile(uint8_t *profile);

/* Debug packet in the receive frame: kind 1 (code 0x1F) or 2 (code 0x30). */
TEVROLINK_API int IsValidDebugPacket(uint8_t *kind);
/* Event sub-kind of the debug packet in the receive frame; returns its payload. */
TEVROLINK_API uint8_t *GetDebugPacketProfile(uint8_t *subKind);
/* Signal packet (code 0xB1): station state changes. */
TEVROLINK_API int IsValidSignalPacket(const uint8_t *frame);
/* The signal packet's payload, or NULL when `frame` is not one. */
TEVROLINK_API uint8_t *GetSignalPacketProfile(const uint8_t *frame);

/* ---- Streams and flow control --------------------------------------------------------- */

/* Sends one stream frame to `station` (0 = broadcast): the low 8 bits of `length`, at most
 * 240 bytes; attribute = kind << 4 | flags (TEVROLINK_KIND_*, TEVROLINK_FLAG_*). Does not
 * wait for the acknowledgement. 1 if sent; 0 if the shell is closed or the previous frame
 * is not yet acknowledged (nothing sent). The host node acknowledges a stream frame with a
 * status report 0x9D whose byte 2 is the frame's sequence number. Without retransmission
 * support any 0x9D makes the link ready again; with it, one naming this frame does, one
 * naming the frame before changes nothing, and any other number puts the link out of step.
 * A writer therefore polls (IsShellReadable, or WaitForShellWritable) until the
 * acknowledgement has arrived and IsShellWritable grants room before it writes again. With
 * retransmission support on, the library resends an unacknowledged frame every 250 ms, six
 * times, then falls out of step and synchronises anew; without it, nothing resends it. */
TEVROLINK_API int WriteStreamToShell(const uint8_t *source, uint32_t length, int station,
                                     int kind, int flags);
/* Sends up to 240 bytes to the host node itself and waits for its acknowledgement;
 * resends as a command does (about 750 ms at most). Stricter than a bare status report:
 * only a 0x9D whose byte 2 is this frame's sequence number counts as its acknowledgement,
 * so a doubled or late report for an earlier frame is not taken for it. */
TEVROLINK_API int SendPacketToHostNode(const uint8_t *source, uint32_t length);
/* Asks the host node for `count` bytes; returns how many were copied (at most `capacity`),
 * 0 when there was no answer or `dest` is NULL. Waits as a command does (about 750 ms at
 * most). */
TEVROLINK_API int RecvPacketFromHostNode(uint8_t *dest, int capacity, uint32_t count);
/* Copies the status profile to `profile` (if not NULL). 1 if a status report arrived since
 * the profile was last read; otherwise sends a status query and returns 0. */
TEVROLINK_API int QueryHostRTxStatus(uint8_t *profile);
/* 1 when a stream frame may be written now; `size` receives how many bytes (50, 100, 150
 * or 200: the host node's credit rounded down). `linkState` is always written. */
TEVROLINK_API int IsShellWritable(uint8_t *linkState, uint16_t *size);
/* Waits until a stream frame may be written (`size` as IsShellWritable) or the host node
 * reports the receiving station suspended; returns the host flags (TEVROLINK_HOST_*) of
 * its last copy of the profile. It sends a status query every 100 ms while it waits.
 * Returns 0xFF, at once, when the link falls out of step or the shell is closed (also by a
 * serial line hanging up during the wait), after 5 s in which no frame arrived, when a
 * stream frame has gone unacknowledged for 1.75 s (without hand-shake nothing resends it),
 * and 10 s after it began when the host node answered but granted no room (the station
 * never became active): 0xFF has the suspended bit set, so callers that stop on 0x04 stop.
 * So it returns within 10 s. Never ends the process. */
TEVROLINK_API int WaitForShellWritable(uint16_t *size);
/* Waits until the host node's transmit buffer is empty (profile bytes 12-13 are 0): returns
 * 1 and stores the credit. It sends a status query every 100 ms while it waits. Returns 0
 * and stores 0: at once when the shell is closed (also by a serial line hanging up during
 * the wait); after 5 s in which no frame arrived; and when the host node keeps answering
 * but the bytes waiting in its buffer have not gone below the lowest count seen in this
 * wait for 10 s (bytes added meanwhile do not count as progress). So it returns at most
 * 10 s after the count last went down. Nothing may be counted as delivered after a 0. It
 * does not look at the link state. */
TEVROLINK_API int WaitForShellEmpty(uint16_t *credit);

/* ---- File transfer -------------------------------------------------------------------- */
/* Each blocks until the transfer ends, prints its progress on standard output (a figure
 * such as "48.0%" followed by as many backspaces as it has characters) and returns 1 when
 * every byte reached its destination, else 0. Nothing else may use the link meanwhile;
 * other threads' calls wait until the transfer has ended. None of them waits for ever: each
 * step is a command or a wait with the limits above. */

/* Writes a file into the host node's serial Flash from `position`, 240 bytes a frame, each
 * acknowledged. 0 for a file that cannot be read or is empty (nothing sent), and when the
 * host node never confirmed the Flash selection (the bytes are sent all the same). Stops
 * at the first chunk not acknowledged within a command's 0.8 s. */
TEVROLINK_API int DownloadFileToHost(uint32_t position, const char *path);
/* Writes a file into the serial Flash of station `peer` through the radio network, in the
 * chunk sizes the host node grants. Stops with 0 when the station is suspended or the
 * link is lost; returns 1 only after the host node acknowledged the last chunk. A step
 * waits up to 10 s for room (WaitForShellWritable); the last acknowledgement up to 1.75 s,
 * or 5 s without any frame. */
TEVROLINK_API int DownloadFileToNetwork(int peer, uint32_t position, const char *path);
/* Reads `size` bytes from the host node's serial Flash at `position` into a new file.
 * A short answer, or one during which the host node started afresh, is asked for again
 * once a re-positioning is confirmed; 16 failed tries in a row (reads or re-positionings)
 * give up with 0 (the file keeps what arrived). 0 at once for size 0 (no file created).
 * Each try is a command of up to about 0.8 s, so 16 failed ones end it within 26 s. */
TEVROLINK_API int UploadFileFromHost(uint32_t position, uint32_t size, const char *path);

/* ---- Network-attached devices --------------------------------------------------------- */

/* UDP port on which network-attached host nodes take searches and updates. */
#define DEVICE_PORT 12580

/* A device's network configuration, as it travels in searches and updates: addresses in
 * network byte order (first octet first), the port most significant byte first. */
typedef struct DeviceEntry {
    uint8_t ipAddress[4];
    uint8_t subnetMask[4];
    uint8_t gateway[4];
    uint8_t macAddress[6];
    uint8_t primaryDns[4];
    uint8_t secondaryDns[4];
    uint8_t centreAddress[4];   /* the control centre (the PC) */
    uint8_t centrePort[2];
    char description[32];       /* NUL-terminated within the 32 bytes */
    uint8_t autoAddress;        /* non-zero: address, mask and gateway by DHCP */
    uint8_t autoDns;            /* non-zero: DNS servers obtained automatically */
} DeviceEntry;

/* Sends the 8-byte search request on the open shell, which the caller opened with
 * OpenNETShell(NULL, "255.255.255.255", 0, DEVICE_PORT). In broadcast mode the request
 * leaves once through every IPv4 adapter that is up and can broadcast, whatever the routes
 * say (as the limited broadcast from the adapter's own address, or where the adapter
 * refuses that, as its subnet's directed broadcast); a `localAddress` given to
 * OpenNETShell restricts it to the adapter holding that address. Returns 1 when it left on
 * at least one adapter (or went to the one peer of a shell not in broadcast mode), else 0
 * with errno telling why: ENODEV no adapter is up that can broadcast, EADDRNOTAVAIL none
 * of them has an IPv4 address (or the chosen one), ENOTCONN the shell is closed, otherwise
 * the error of the last send. Returns 0 and sends nothing when the open shell is a serial
 * port: the search belongs to the network, not to the host node. */
TEVROLINK_API int SendIPDeviceSearchRequest(void);
/* 1 if `frame` (required) is a search answer with a valid CRC; its DeviceEntry is the 66
 * bytes behind the 8-byte header. */
TEVROLINK_API int IsValidIPAddrResponse(const uint8_t *frame);
/* Zeroes `buffer`, then waits up to about 200 ms (20 checks, 10 ms apart) for one datagram
 * on the shell's socket and receives at most `size` bytes of it; its sender becomes the
 * shell's peer. Returns the datagram's length; 0 when none came, and at once when the
 * shell is closed or is a serial port, so that a loop that reads until 0 ends; negative on
 * a socket error. */
TEVROLINK_API int ReadSocketPacket(uint8_t *buffer, uint32_t size);
/* Copies the name of the network adapter on which the datagram last taken by
 * ReadSocketPacket came in ("eth0") into `name`, NUL-terminated. Returns 1; 0 when it is
 * not known (no datagram yet, or a shell not in broadcast mode); 255 when the name and its
 * NUL need more than `capacity` bytes. IF_NAMESIZE (16) bytes always suffice. */
TEVROLINK_API int GetSocketPacketAdapter(char *name, uint32_t capacity);
/* Points the open UDP shell at another address on the same port (unconvertible text:
 * 255.255.255.255). Returns 1. */
TEVROLINK_API int SetNodeIPAddress(const char *address);
/* Opens the shell in broadcast mode towards DEVICE_PORT (closing what it held) and sends
 * `entry` as an update for the device whose macAddress it carries, through the adapters a
 * search uses: the one that the broadcast shell open before was restricted to, or every
 * one. Returns 1 when it left (also for a NULL `entry`, which sends nothing), else 0 with
 * errno as for SendIPDeviceSearchRequest. */
TEVROLINK_API int UpdateNodeNetworkParameter(const DeviceEntry *entry);

/* ---- Set-up dialogs (libtevrolink-dialogs) ------------------------------------------ */
/* Modal Qt dialogs, in their own library so that programs without a window need no Qt.
 * Window handles are opaque: a `void *` is a QWidget *. Call them on the thread that runs
 * (or will run) the program's QApplication; without one, the dialog makes its own
 * QApplication for as long as it is shown and deletes it afterwards. It makes one only on a
 * platform that can show a window: it tries the platforms Qt would (QT_QPA_PLATFORM, else
 * Wayland in a Wayland session, then X) and connects to their display first. Where none
 * can be opened (a console program in an SSH session without X forwarding) there is no
 * dialog: the functions return 0, and the first such call says why on standard error. A
 * program that runs only a QCoreApplication gets no dialog either (0). They never end the
 * process. An `activeWindow` variable receives the dialog whenever it is activated, and
 * NULL when the dialog ends while it still names it. */

/* The serial set-up record: the caller owns it, the dialog reads and updates it. */
typedef struct ComSettings {
    uint32_t baudRate;   /* rate the dialog opens the port with; a search stores the rate found */
    char portName[256];  /* NUL-terminated port name as OpenCOMShell takes it */
    void **activeWindow; /* may be NULL: the dialog's window while it is active */
} ComSettings;

/* The network set-up record. Addresses are NUL-terminated dotted-quad texts. */
typedef struct NetSettings {
    uint16_t localPort;       /* local UDP port of the caller's link */
    char localAddress[20];    /* local interface address; empty = all interfaces */
    char deviceAddress[20];   /* address of the device last chosen in the device table */
    void *addressWindow;      /* may be NULL: a QWidget whose "text" property receives the
                                 chosen device's address (a QLineEdit, say) */
    void **activeWindow;      /* may be NULL: the dialog's window while it is active */
} NetSettings;

/* Shows the serial dialog for `settings` (required), owned by `owner` (may be NULL). It
 * searches the rate at which the device on settings->portName answers and writes it into
 * settings->baudRate, and can tell the device to use another rate. Returns 1 when the
 * dialog has been closed; 0 when `settings` is NULL or no dialog can be shown. */
TEVROLINK_API int SetupCOMInterface(void *owner, ComSettings *settings);
/* The same for a port name and a rate variable (in and out, may be NULL: the dialog then
 * starts at rate 0). Returns 0 without a dialog when `portName` is NULL or does not fit
 * ComSettings.portName (255 bytes), and when no dialog can be shown; else 1 once closed,
 * the rate copied back. */
TEVROLINK_API int SetupCOMInterface2(const char *portName, uint32_t *baudRate);
/* Shows the network dialog for `settings` (required), owned by `owner` (may be NULL): the
 * PC's adapters, the local address and port of the caller's link (kept by OK only), the
 * network-attached devices found by a search, whose configuration it can change. Choosing
 * a device writes its address into settings->deviceAddress at once. Returns 1 when the
 * dialog has been closed; 0 when `settings` is NULL or no dialog can be shown. */
TEVROLINK_API int SetupNETInterface(void *owner, NetSettings *settings);
/* The same for text buffers of 20 bytes and a port variable, each may be NULL: the local
 * address and port are read from and copied back into `localAddress` and `localPort`, the
 * chosen device's address into `deviceAddress`, however the dialog was closed. Returns 1;
 * 0 when no dialog can be shown (the values are then copied back unchanged). */
TEVROLINK_API int SetupNETInterface2(char *localAddress, uint16_t *localPort,
                                     char *deviceAddress);

#ifdef __cplusplus
}

static_assert(sizeof(LinkFrameRecord) == 248, "a frame record is 248 bytes");
static_assert(sizeof(DeviceEntry) == 66, "a device entry is 66 bytes on the wire");
#endif

#endif /* TEVROLINK_TEVROLINK_H */
