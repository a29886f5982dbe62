// The answer to a device search: a 248-byte record as ReadSocketPacket leaves it (the
// datagram's bytes, zeros behind them) is judged by IsValidIPAddrResponse, and the device
// entry behind a valid one is read as the network set-up dialog and the command line read
// it, description without terminator included.
//
// Input: [bit 0: seal the record's frame][datagram bytes, at most 248].
#include <cstdint>
#include <cstring>
#include <memory>

#include "cli/values.h"
#include "setup/dialogs/device_form.h"
#include "setup/text_encoding.h"
#include "tests/fuzz/frame_sealing.h"
#include "tests/fuzz/fuzz_input.h"
#include "tevrolink/tevrolink.h"

namespace {

void ReadAsDialog(const DeviceEntry &entry) {
    tevrolink::dialogs::DeviceRowTexts(entry);
    const tevrolink::dialogs::DeviceForm form = tevrolink::dialogs::FormFromEntry(entry);
    // Sent back unchanged, the description must again end within its 32 bytes.
    const tevrolink::dialogs::CheckedEntry back = tevrolink::dialogs::EntryFromForm(form);
    if (!back.refusal && back.entry.description[sizeof back.entry.description - 1] != 0)
        __builtin_trap();
}

void ReadAsCommandLine(const DeviceEntry &entry) {
    cli::FormatIpv4(entry.ipAddress);
    cli::FormatIpv4(entry.subnetMask);
    cli::FormatIpv4(entry.gateway);
    cli::FormatMac(entry.macAddress);
    cli::FormatIpv4(entry.primaryDns);
    cli::FormatIpv4(entry.secondaryDns);
    cli::FormatIpv4(entry.centreAddress);
    tevrolink::GbkToUtf8(std::string_view(entry.description, sizeof entry.description));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    const bool seal = in.Byte() & 1;
    // The record on the heap at its own size, so that a read past it is caught.
    const auto record = std::make_unique<uint8_t[]>(TEVROLINK_FRAME_SIZE);
    in.Fill(record.get(), TEVROLINK_FRAME_SIZE);
    if (seal) fuzz::SealWholeFrame(record.get(), TEVROLINK_FRAME_SIZE);
    if (!IsValidIPAddrResponse(record.get())) return 0;
    DeviceEntry entry;
    std::memcpy(&entry, record.get() + TEVROLINK_FRAME_HEADER, sizeof entry);
    ReadAsDialog(entry);
    ReadAsCommandLine(entry);
    return 0;
}
