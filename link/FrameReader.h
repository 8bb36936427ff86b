// The byte-stream frame reader: it yields the same frames whatever the sizes
// of the reads, acts on every frame of a read in order and never discards a
// byte it has not parsed. Pure: time is passed in.
#pragma once

#include "link/Frames.h"

#include <cstdint>
#include <vector>

namespace quorvik {

struct FrameEvent {
    enum class Kind {
        Hello,
        Bye,
        Ack,
        Resend,
        PortParams, // Frame holds the 8 bytes
        Timeouts,   // Frame holds the 8 bytes; byte 7 is 02, the end byte is not waited for
        Message,    // Data holds the MessageLength encoded bytes
        Refused,    // a message with a wrong count, a length of 0 or less, or cut off by silence
    };
    Kind kind;
    Frame8 Frame{};
    std::vector<uint8_t> Data;
};

class FrameReader {
public:
    // Feeds bytes received at nowMs and appends the events they complete.
    // A frame left unfinished for the silence limit is abandoned first.
    void Feed(const uint8_t* data, std::size_t size, int64_t nowMs, std::vector<FrameEvent>& out);
    // When an unfinished frame is pending, the time at which the silence
    // limit passes; -1 when idle.
    int64_t Deadline() const;
    // Call at or after Deadline(): abandons the unfinished frame (a message
    // is refused once). Does nothing while idle or before the deadline.
    void Expire(int64_t nowMs, std::vector<FrameEvent>& out);
    // How long the line may be silent inside a frame; set from the port's rate.
    void SetSilenceLimit(int64_t ms) { silenceMs_ = ms; }
    static int64_t SilenceLimitFor(uint32_t baudRate);

private:
    enum class State { Idle, Command, Fixed, Length, Data };
    void Step(uint8_t byte, std::vector<FrameEvent>& out);
    void StartFrame(uint8_t command, std::vector<FrameEvent>& out);
    void EndMessage(std::vector<FrameEvent>& out);
    void Abandon();

    State state_ = State::Idle;
    int64_t silenceMs_ = 50;
    int64_t lastByteMs_ = 0;
    Frame8 fixed_{};
    std::size_t fixedGot_ = 0;
    std::size_t fixedNeed_ = 0;
    uint8_t lengthLow_ = 0;
    bool haveLow_ = false;
    int16_t messageLength_ = 0;
    std::vector<uint8_t> messageBuffer_;
};

} // namespace quorvik
