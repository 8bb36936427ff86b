#include "link/FrameReader.h"

#include <algorithm>

namespace quorvik {

namespace {

// PortParams: start, command and six bytes, no end byte.
constexpr std::size_t PortParamsBytes = 8;
// Timeouts: start, command and five bytes; the end byte is not waited for,
// so a lost one cannot hold back the next frame.
constexpr std::size_t TimeoutsBytes = 7;

constexpr int64_t SilenceChars = 40;
constexpr int64_t BitsPerChar = 10;
constexpr int64_t MinSilenceMs = 20;
constexpr int64_t MaxSilenceMs = 250;

FrameEvent Event(FrameEvent::Kind kind) {
    return FrameEvent{kind, {}, {}};
}

} // namespace

void FrameReader::Feed(const uint8_t* data, std::size_t size, int64_t nowMs,
                       std::vector<FrameEvent>& out) {
    if (size == 0)
        return;
    Expire(nowMs, out);
    lastByteMs_ = nowMs;
    for (std::size_t i = 0; i < size; ++i)
        Step(data[i], out);
}

int64_t FrameReader::Deadline() const {
    return state_ == State::Idle ? -1 : lastByteMs_ + silenceMs_;
}

void FrameReader::Expire(int64_t nowMs, std::vector<FrameEvent>& out) {
    if (state_ == State::Idle || nowMs < Deadline())
        return;
    if (state_ == State::Length || state_ == State::Data)
        out.push_back(Event(FrameEvent::Kind::Refused));
    Abandon();
}

int64_t FrameReader::SilenceLimitFor(uint32_t baudRate) {
    if (baudRate == 0)
        return MaxSilenceMs;
    const int64_t ms = (SilenceChars * BitsPerChar * 1000 + baudRate - 1) / baudRate;
    return std::clamp(ms, MinSilenceMs, MaxSilenceMs);
}

void FrameReader::Step(uint8_t byte, std::vector<FrameEvent>& out) {
    switch (state_) {
    case State::Idle:
        // Anything outside a frame is skipped up to the next start byte.
        if (byte == StartByte)
            state_ = State::Command;
        break;
    case State::Command:
        StartFrame(byte, out);
        break;
    case State::Fixed:
        fixed_[fixedGot_++] = byte;
        if (fixedGot_ == fixedNeed_) {
            FrameEvent event = Event(fixed_[1] == CmdPortParams ? FrameEvent::Kind::PortParams
                                                                : FrameEvent::Kind::Timeouts);
            event.Frame = fixed_;
            if (fixedNeed_ == TimeoutsBytes)
                event.Frame[7] = EndByte;
            out.push_back(std::move(event));
            Abandon();
        }
        break;
    case State::Length:
        if (!haveLow_) {
            lengthLow_ = byte;
            haveLow_ = true;
            break;
        }
        messageLength_ = static_cast<int16_t>(static_cast<uint16_t>(lengthLow_ | byte << 8));
        if (messageLength_ > 0)
            messageBuffer_.reserve(static_cast<std::size_t>(messageLength_));
        state_ = State::Data;
        break;
    case State::Data:
        if (byte == EndByte) {
            EndMessage(out);
            break;
        }
        if (std::ssize(messageBuffer_) >= messageLength_) {
            // More data than announced: the end byte was lost or the length is
            // wrong. Refuse now and take this byte as one between frames, so
            // a frame that follows a lost end byte is not swallowed.
            out.push_back(Event(FrameEvent::Kind::Refused));
            Abandon();
            Step(byte, out);
            break;
        }
        messageBuffer_.push_back(byte);
        break;
    }
}

void FrameReader::StartFrame(uint8_t command, std::vector<FrameEvent>& out) {
    switch (command) {
    case CmdMessage:
        haveLow_ = false;
        state_ = State::Length;
        return;
    case CmdPortParams:
    case CmdTimeouts:
        fixed_ = Frame8{StartByte, command};
        fixedGot_ = 2;
        fixedNeed_ = command == CmdPortParams ? PortParamsBytes : TimeoutsBytes;
        state_ = State::Fixed;
        return;
    case CmdHello:
        out.push_back(Event(FrameEvent::Kind::Hello));
        break;
    case CmdBye:
        out.push_back(Event(FrameEvent::Kind::Bye));
        break;
    case CmdAck:
        out.push_back(Event(FrameEvent::Kind::Ack));
        break;
    case CmdResend:
        out.push_back(Event(FrameEvent::Kind::Resend));
        break;
    default:
        // An unknown command is ignored; it is never 01, which is a message head.
        break;
    }
    // A control frame acts at its command byte; its end byte is skipped as
    // noise, so a lost one never swallows the next frame.
    state_ = State::Idle;
}

void FrameReader::EndMessage(std::vector<FrameEvent>& out) {
    if (messageLength_ > 0 && std::ssize(messageBuffer_) == messageLength_) {
        FrameEvent event = Event(FrameEvent::Kind::Message);
        event.Data = std::move(messageBuffer_);
        out.push_back(std::move(event));
    } else {
        out.push_back(Event(FrameEvent::Kind::Refused));
    }
    Abandon();
}

void FrameReader::Abandon() {
    state_ = State::Idle;
    messageLength_ = 0;
    messageBuffer_ = {};
}

} // namespace quorvik
