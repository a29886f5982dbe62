// Every packet test and profile reader on frames built from the input: a 248-byte frame
// record handed in by the caller, the library's 263-byte receive buffer, a status payload,
// and a run of records for SetPacketAttribute in a buffer of exactly the size its caller
// must provide. Each lives in a heap block of its own size, so a read or write past it is
// caught.
//
// Input: [link: bit 0 hand-shake, bits 1-2 link state][sequence number sent last]
// [attribute flags][frame record: 248][receive buffer: 263][record run: header, then
// as many bytes as its length byte says].
#include <algorithm>
#include <cstdint>
#include <memory>

#include "link/shell.h"
#include "link/status_profile.h"
#include "tests/fuzz/fuzz_input.h"
#include "tevrolink/tevrolink.h"

namespace {

using fuzz::FuzzInput;
using fuzz::TouchBytes;

constexpr std::size_t kStatusPayload = 31;  // payload bytes a status report decodes from
constexpr std::size_t kRunSlack = 16;       // bytes SetPacketAttribute may touch past a run

std::unique_ptr<uint8_t[]> Block(FuzzInput &in, std::size_t size) {
    auto block = std::make_unique<uint8_t[]>(size);
    in.Fill(block.get(), size);
    return block;
}

// The shell as the last frames left it: hand-shake, link state, last sequence number.
void SetLink(uint8_t link, uint8_t txSeq) {
    SetHostHandShake(link & 1);
    tevrolink::Shell &shell = tevrolink::TheShell();
    shell.linkState = static_cast<uint8_t>((link >> 1 & 3) % 3);
    shell.txSeq = txSeq;
}

// `frame` is the caller's record, or null for the receive frame.
void ReadFrame(const uint8_t *frame) {
    uint8_t kind = 0;
    IsValidDataPacket(frame, &kind);
    IsDataPacketHead(frame);
    IsDataPacketTail(frame);
    IsDataPacketInfo(frame);
    uint8_t station = 0, length = 0;
    const uint8_t *payload = GetDataPacketProfile(frame, &station, &length);
    TouchBytes(payload, frame ? TEVROLINK_FRAME_PAYLOAD : length);
    if (IsValidStatusPacket(frame, &kind)) {
        auto profile = std::make_unique<uint8_t[]>(tevrolink::kStatusSize);
        GetStatusPacketProfile(profile.get());
    }
    if (IsValidSignalPacket(frame)) TouchBytes(GetSignalPacketProfile(frame), TEVROLINK_FRAME_PAYLOAD);
}

void DecodeStatus(const uint8_t *record) {
    auto payload = std::make_unique<uint8_t[]>(kStatusPayload);
    std::copy(record + TEVROLINK_FRAME_HEADER, record + TEVROLINK_FRAME_HEADER + kStatusPayload,
              payload.get());
    auto profile = std::make_unique<uint8_t[]>(tevrolink::kStatusSize);
    tevrolink::DecodeStatusPayload(payload.get(), profile.get());
}

void ReadDebugPacket() {
    uint8_t kind = 0, event = 0;
    if (IsValidDebugPacket(&kind)) TouchBytes(GetDebugPacketProfile(&event), 255);
}

void MarkRecordRun(FuzzInput &in, int flags) {
    uint8_t header[TEVROLINK_FRAME_HEADER];
    in.Fill(header, sizeof header);
    const std::size_t size = sizeof header + header[5] + kRunSlack;
    auto buffer = std::make_unique<uint8_t[]>(size);
    std::copy(header, header + sizeof header, buffer.get());
    in.Fill(buffer.get() + sizeof header, size - sizeof header);
    SetPacketAttribute(buffer.get(), flags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    FuzzInput in(data, size);
    const uint8_t link = in.Byte();
    const uint8_t txSeq = in.Byte();
    const int flags = in.Byte();
    const auto record = Block(in, TEVROLINK_FRAME_SIZE);
    in.Fill(tevrolink::TheShell().port.rxBuffer, tevrolink::kReceiveBufferSize);

    SetLink(link, txSeq);
    ReadFrame(record.get());
    SetLink(link, txSeq);
    ReadFrame(nullptr);
    ReadDebugPacket();
    DecodeStatus(record.get());
    MarkRecordRun(in, flags);
    return 0;
}
