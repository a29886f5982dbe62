// Reassembly of frames from the serial byte stream, over a real pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "link/checksum.h"
#include "link/frame.h"
#include "tests/support/test_frames.h"
#include "link/shell.h"
#include "tevrolink/tevrolink.h"

using namespace tevrolink;
using testing_frames::WireFrame;

namespace {

class SerialReceive : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        ASSERT_EQ(::OpenCOMShell(ptsname(master_), 115200), 1) << std::strerror(errno);
        slave_ = TheShell().port.link->Descriptor();
        ::SetHostHandShake(0);
    }
    void TearDown() override {
        ::CloseShell();
        ::close(master_);
    }

    // Writes bytes as the host node would and waits until the PC side has them queued.
    void HostSends(const std::vector<uint8_t> &bytes) {
        int before = Queued();
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        WaitQueued(before + static_cast<int>(bytes.size()));
    }
    int Queued() const {
        int n = 0;
        ioctl(slave_, FIONREAD, &n);
        return n;
    }
    // The pty hands written bytes over asynchronously, and poll() says nothing about the
    // count: with bytes already queued it returns at once. So wait on the clock, in short
    // naps, until the count is there (2 s is far beyond any scheduling delay).
    void WaitQueued(int n) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (Queued() < n && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        ASSERT_GE(Queued(), n);
    }
    int Poll() { return ::IsShellReadable(nullptr, nullptr); }
    // Polls until a frame is reported (the frame stays until the next poll); the count of
    // frames reported within `polls` polls.
    int PollForWireFrame(int polls) {
        for (int i = 0; i < polls; ++i)
            if (Poll()) return 1;
        return 0;
    }
    std::vector<uint8_t> Received() {
        uint8_t rec[kFrameSize];
        ::CopyShell(rec);
        return std::vector<uint8_t>(rec, rec + FrameWireSize(rec));
    }

    int master_ = -1;
    int slave_ = -1;
};

TEST_F(SerialReceive, FramesNeedTwoPollsWithoutPayloadAndThreeWithIt) {
    const auto bare = WireFrame(0x95);
    HostSends(bare);
    EXPECT_EQ(Poll(), 0);  // sync byte
    EXPECT_EQ(Poll(), 1);  // header, no payload
    EXPECT_EQ(Received(), bare);

    const auto full = WireFrame(0x95, {7, 1});
    HostSends(full);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Received(), full);
}

TEST_F(SerialReceive, HeaderArrivingInPiecesWaitsForAllSevenBytes) {
    const auto f = WireFrame(0x9B, {9});
    HostSends({f.begin(), f.begin() + 7});  // sync + six header bytes
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Queued(), 0) << "the partial header is taken in: poll() wakes only for bytes left unread";
    HostSends({f.begin() + 7, f.end()});
    EXPECT_EQ(Poll(), 0);  // the whole header
    EXPECT_EQ(Poll(), 1);  // the payload
    EXPECT_EQ(Received(), f);
}

TEST_F(SerialReceive, GarbageBeforeTheSyncByteIsSkippedInOnePoll) {
    const auto f = WireFrame(0x93, {3});
    std::vector<uint8_t> bytes = {0x00, 0x55, 0x13, 0xFF, 0x9D};
    bytes.insert(bytes.end(), f.begin(), f.end());
    HostSends(bytes);
    EXPECT_EQ(Poll(), 0);  // garbage and the sync byte
    EXPECT_EQ(Queued(), static_cast<int>(f.size() - 1));
    EXPECT_EQ(Poll(), 0);
    EXPECT_EQ(Poll(), 1);
    EXPECT_EQ(Received(), f);
}

TEST_F(SerialReceive, BadFrameIsDroppedAndTheNextGoodOneReported) {
    auto bad = WireFrame(0x95, {1, 1});
    bad[kPayload] ^= 0x10;
    const auto good = WireFrame(0x95, {2, 0});
    std::vector<uint8_t> bytes = bad;
    bytes.insert(bytes.end(), good.begin(), good.end());
    HostSends(bytes);
    EXPECT_EQ(PollForWireFrame(8), 1);
    EXPECT_EQ(Received(), good);
}

TEST_F(SerialReceive, LengthAboveTheFramePayloadIsReadInFullAndJudgedByItsCrc) {
    // 250 payload bytes, CRC deliberately wrong: all 258 bytes must be consumed so that
    // the frame behind it is found intact.
    std::vector<uint8_t> big(kFrameHeader + 250, 0x11);
    big[kSync] = kSyncByte;
    big[kCode] = 0x1E;
    big[kLength] = 250;
    big[kCrcHigh] = 0;
    big[kCrcLow] = 0;
    const auto good = WireFrame(0x9B, {4});
    std::vector<uint8_t> bytes = big;
    bytes.insert(bytes.end(), good.begin(), good.end());
    HostSends(bytes);
    EXPECT_EQ(PollForWireFrame(8), 1);
    EXPECT_EQ(Received(), good);

    // The same length with a valid CRC is a frame; its reader gets the first 248 bytes.
    const uint16_t crc = Crc16Modbus(big.data(), big.size());
    big[kCrcHigh] = static_cast<uint8_t>(crc >> 8);
    big[kCrcLow] = static_cast<uint8_t>(crc & 0xFF);
    HostSends(big);
    EXPECT_EQ(PollForWireFrame(4), 1);
    uint8_t rec[kFrameSize];
    ::CopyShell(rec);
    EXPECT_EQ(rec[kLength], 250);
    EXPECT_EQ(rec[kFrameSize - 1], 0x11);
}

TEST_F(SerialReceive, SyncFramesAreNeverReportedToTheCaller) {
    for (uint8_t code : {0x27, 0x28, 0x29}) {
        HostSends(WireFrame(code));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(Poll(), 0) << std::hex << int(code);
    }
    EXPECT_EQ(TheShell().linkState, kLinkReady);
}

TEST_F(SerialReceive, PayloadlessFrameGoesOutAsOneEightByteWrite) {
    uint8_t frame[kFrameSize] = {};
    frame[kCode] = 0x15;
    WriteFrame(TheShell().port, frame);
    uint8_t wire[16];
    struct pollfd p {master_, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(::read(master_, wire, sizeof wire), 8);
    EXPECT_EQ(std::vector<uint8_t>(wire, wire + 8), WireFrame(0x15));
}

TEST(SerialOpen, MissingDeviceFailsAndSaysSo) {
    errno = 0;
    EXPECT_EQ(::OpenCOMShell("ttyNoSuchPortHere0", 19200), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(TheShell().port.linkKind, kLinkSerial);
    EXPECT_EQ(::IsShellActive(), 0);
}

TEST(SerialOpen, APortHeldElsewhereIsRefusedAsBusyAndFreedOnClose) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    const std::string path = ptsname(master);

    // Another program holding the port's lock keeps us out with EBUSY.
    const int other = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    errno = 0;
    EXPECT_EQ(::OpenCOMShell(path.c_str(), 57600), 0);
    EXPECT_EQ(errno, EBUSY);
    ::close(other);

    // Once we hold it, others are kept out; after CloseShell it is free again.
    ASSERT_EQ(::OpenCOMShell(path.c_str(), 57600), 1);
    const int probe = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (probe >= 0) {  // root passes the exclusive flag, never the lock
        EXPECT_EQ(flock(probe, LOCK_EX | LOCK_NB), -1);
        ::close(probe);
    }
    ::CloseShell();
    ASSERT_EQ(::OpenCOMShell(path.c_str(), 57600), 1);
    ::CloseShell();
    ::close(master);
}

}  // namespace
