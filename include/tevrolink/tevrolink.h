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
 * figures of the file transfer functions.
 *
 * Threads: every function takes one process-wide lock, so two threads may call the library
 * at once without a data race. A frame reported by one poll is only valid until the next
 * poll by any thread, so one thread at a time should own the receive side.
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

/* The status profile decoded from the host node's status reports (32 bytes). */
#define TEVROLINK_STATUS_SIZE 32

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
 * "255.255.255.255", select broadcast mode (no bind). Otherwise the socket is bound to
 * `localAddress` (NULL or unconvertible text: any address) and `localPort`, which must not
 * be 0. Closes any shell that was open, except when `remoteAddress` is NULL or 0.0.0.0.
 * Keeps the link state and sequence numbers as they were. Returns 1 or 0. */
TEVROLINK_API int OpenNETShell(const char *localAddress, const char *remoteAddress,
                               uint16_t localPort, uint16_t remotePort);

/* Closes the shell if it is open and resets the receive state. Always returns 0. */
TEVROLINK_API int CloseShell(void);

/* 1 if the shell is open, else 0. */
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
 * NULL) receives the raw credit field of the status profile. */
TEVROLINK_API int IsShellReadable(uint8_t *linkState, uint16_t *credit);

/* ---- Packet tests and profiles -------------------------------------------------------- */

/* 1 if `frame` (NULL: the receive frame) is a status report: code 0x9D gives kind 1 and
 * applies the acknowledgement rules to the link state; code 0x9C gives kind 2. Else 0. */
TEVROLINK_API int IsValidStatusPacket(const uint8_t *frame, uint8_t *kind);

/* Copies the 32-byte status profile to `profile` (if not NULL) and marks it read.
 * Returns 1. */
TEVROLINK_API int GetStatusPacketProfile(uint8_t *profile);

#ifdef __cplusplus
}

static_assert(sizeof(LinkFrameRecord) == 248, "a frame record is 248 bytes");
#endif

#endif /* TEVROLINK_TEVROLINK_H */
