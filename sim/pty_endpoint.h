// Pseudo-terminal end of the link: the PC opens the slave like a serial port.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "sim/endpoint.h"
#include "sim/frame_reader.h"

namespace hostsim {

struct PtyOptions {
    std::string linkPath;  // if set, a symbolic link to the slave is made here
    uint32_t baud = 0;     // 0: answer at any line speed
    bool pace = false;     // hand bytes to the slave no faster than `baud` allows
};

class PtyEndpoint final : public Endpoint {
public:
    // Throws std::system_error when the pty or the link cannot be made.
    explicit PtyEndpoint(const PtyOptions &options);
    ~PtyEndpoint() override;

    int Descriptor() const override { return master_; }
    bool WantsWrite() const override { return !outQueue_.empty() && !options_.pace; }
    Clock::time_point NextDue() const override;
    void ReadFrames(std::vector<IncomingFrame> &out) override;
    void FlushWrites() override;
    void Send(const Bytes &frame) override;
    bool Answering() override;
    std::string Describe() const override { return slavePath_; }

    const std::string &SlavePath() const { return slavePath_; }
    uint32_t LineSpeed() const;
    void SetBaud(uint32_t baud) { options_.baud = baud; }

private:
    PtyOptions options_;
    int master_ = -1;
    int slave_ = -1;  // held open so that the PC closing its side does not hang up the pty
    std::string slavePath_;
    // Paced: the time one byte takes on the line (ten bits at the node's speed), zero
    // when the line is not paced.
    Clock::duration ByteTime() const;
    // The same for what the node sends, at the slave's speed when the node has none.
    Clock::duration OutputByteTime() const;
    void ReleaseArrived(Clock::time_point now, std::vector<IncomingFrame> &out);

    FrameReader reader_;
    Bytes outQueue_;
    Clock::time_point nextWrite_{};
    // Paced input: a frame has arrived only once its bytes would have crossed the line.
    struct InFlight {
        Clock::time_point arrives;
        IncomingFrame frame;
    };
    std::deque<InFlight> inFlight_;
    Clock::time_point lineInFree_{};
};

}  // namespace hostsim
