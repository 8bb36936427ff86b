#include "link/FrameWriter.h"

#include "link/Frames.h"
#include "link/LinkState.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvik {
namespace {

using Bytes = std::vector<uint8_t>;

// A pseudo-terminal pair: the port under test on the slave, the master read
// raw as the far end of the line.
class PtyLine {
public:
    PtyLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            return;
        }
        port_ = serial::Port::Open(ptsname(master_), error_);
        // Every frame costs its line time at the port's rate: a fast one,
        // unless a test asks for a slow line.
        if (port_ && !SetRate(FastRate)) {
            port_.reset();
        }
        // Raw in both directions, set through the master, so every byte
        // arrives as written.
        termios raw{};
        tcgetattr(master_, &raw);
        cfmakeraw(&raw);
        tcsetattr(master_, TCSANOW, &raw);
    }
    ~PtyLine() { CloseMaster(); }
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    static constexpr uint32_t FastRate = 4000000;

    bool SetRate(uint32_t baud) {
        serial::Dcb dcb;
        if (port_->GetState(dcb) != serial::Error::None) {
            return false;
        }
        dcb.BaudRate = baud;
        return port_->SetState(dcb) == serial::Error::None;
    }
    serial::Port* Port() const { return port_.get(); }
    const char* OpenError() const { return serial::Message(error_); }
    std::unique_ptr<serial::Port> TakePort() { return std::move(port_); }

    void CloseMaster() {
        if (master_ >= 0) {
            close(master_);
            master_ = -1;
        }
    }

    // Reads until count bytes have come; a stall of 30 s ends it short.
    Bytes Read(std::size_t count) const {
        Bytes got;
        uint8_t buffer[4096];
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 30000) <= 0) {
                break;
            }
            const ssize_t n = read(master_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }

private:
    int master_ = -1;
    serial::Error error_ = serial::Error::None;
    std::unique_ptr<serial::Port> port_;
};

Bytes Pattern(std::size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    }
    return bytes;
}

TEST(FrameWriter, FramesFromTwoThreadsArriveWholeAndInOrder) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    LinkState link;
    link.PortHandle = line.TakePort();
    link.Writer = std::make_unique<FrameWriter>(*link.PortHandle);

    // Frame k of writer w carries w, k and a length that varies, so a frame
    // split by another would break the parse below.
    constexpr int PerThread = 300;
    auto frameOf = [](uint8_t writer, int k) {
        Bytes data = Pattern(16 + (k * 37) % 1500, static_cast<uint8_t>(k));
        data[0] = writer;
        data[1] = static_cast<uint8_t>(k);
        data[2] = static_cast<uint8_t>(k >> 8);
        return MessageFrame(data);
    };
    std::size_t total = 0;
    for (uint8_t w = 0; w < 2; ++w) {
        for (int k = 0; k < PerThread; ++k) {
            total += frameOf(w, k).size();
        }
    }

    std::atomic<int> sent{0};
    auto writeAll = [&](uint8_t writer) {
        for (int k = 0; k < PerThread; ++k) {
            const Bytes frame = frameOf(writer, k);
            WriteFrame(link, frame.data(), frame.size(), [&] { ++sent; });
        }
    };
    std::thread first(writeAll, 0);
    std::thread second(writeAll, 1);
    const Bytes got = line.Read(total);
    first.join();
    second.join();
    link.Writer->Flush();
    ASSERT_EQ(got.size(), total);
    EXPECT_EQ(sent, 2 * PerThread);

    int next[2] = {0, 0};
    std::size_t at = 0;
    while (at < got.size()) {
        ASSERT_LE(at + 4, got.size());
        ASSERT_EQ(got[at], StartByte) << "at " << at;
        ASSERT_EQ(got[at + 1], CmdMessage) << "at " << at;
        const std::size_t length = got[at + 2] | (got[at + 3] << 8);
        ASSERT_LE(at + length + 5, got.size());
        const uint8_t writer = got[at + 4];
        ASSERT_LT(writer, 2);
        const int k = got[at + 5] | (got[at + 6] << 8);
        ASSERT_EQ(k, next[writer]) << "writer " << int(writer);
        const Bytes frame(got.begin() + at, got.begin() + at + length + 5);
        ASSERT_EQ(frame, frameOf(writer, k));
        ++next[writer];
        at += frame.size();
    }
    EXPECT_EQ(next[0], PerThread);
    EXPECT_EQ(next[1], PerThread);
}

TEST(FrameWriter, WithoutWriterNothingIsWritten) {
    LinkState link;
    bool sent = false;
    const auto hello = ControlFrame(CmdHello);
    WriteFrame(link, hello.data(), hello.size(), [&] { sent = true; });
    EXPECT_FALSE(sent);
}

TEST(FrameWriter, LongFrameDoesNotHoldTheCaller) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    // Far more than a pseudo-terminal buffers: nothing can finish while the
    // far end is not read.
    const Bytes big = Pattern(256 * 1024, 3);
    const auto ack = ControlFrame(CmdAck);
    std::atomic<bool> bigSent{false};
    std::atomic<bool> ackSent{false};
    {
        FrameWriter writer(*line.Port());
        writer.Write(big.data(), big.size(), [&] { bigSent = true; });
        writer.Write(ack.data(), ack.size(), [&] {
            EXPECT_TRUE(bigSent);
            ackSent = true;
        });
        EXPECT_FALSE(bigSent);

        Bytes expected = big;
        expected.insert(expected.end(), ack.begin(), ack.end());
        EXPECT_EQ(line.Read(expected.size()), expected);
        writer.Flush();
        EXPECT_TRUE(bigSent);
        EXPECT_TRUE(ackSent);
    }
}

// A drain returns once the driver has taken the bytes; the report waits
// for the frame's time on the line at the port's rate, frame after frame.
TEST(FrameWriter, SentIsReportedOnceTheLineTimeHasPassed) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    ASSERT_TRUE(line.SetRate(9600));
    using Clock = std::chrono::steady_clock;
    const Bytes frame = MessageFrame(Pattern(475, 1)); // 480 bytes: 0.5 s at 9600 bit/s
    const auto ack = ControlFrame(CmdAck);
    std::atomic<Clock::duration> frameSent{}, ackSent{};
    FrameWriter writer(*line.Port());
    const Clock::time_point began = Clock::now();
    writer.Write(frame.data(), frame.size(), [&] { frameSent = Clock::now() - began; });
    writer.Write(ack.data(), ack.size(), [&] { ackSent = Clock::now() - began; });
    EXPECT_EQ(line.Read(frame.size() + ack.size()).size(), frame.size() + ack.size());
    writer.Flush();
    EXPECT_GE(frameSent.load(), std::chrono::milliseconds(500));
    EXPECT_GE(ackSent.load(), frameSent.load());
    EXPECT_GE(ackSent.load(), std::chrono::microseconds(503125)); // its own 3 ms behind
}

// Closing must not sit out the line time of a slow line: the wait ends at
// once, and the frame counts as sent unless the port was cancelled.
TEST(FrameWriter, StoppingEndsTheLineWait) {
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "not cancelled");
        PtyLine line;
        ASSERT_NE(line.Port(), nullptr) << line.OpenError();
        ASSERT_TRUE(line.SetRate(300));
        const Bytes frame = MessageFrame(Pattern(9000, 2)); // five minutes at 300 bit/s
        std::atomic<bool> sent{false};
        {
            FrameWriter writer(*line.Port());
            writer.Write(frame.data(), frame.size(), [&] { sent = true; });
            EXPECT_EQ(line.Read(frame.size()).size(), frame.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(50)); // into the wait
            if (cancel) {
                line.Port()->Cancel();
            }
        }
        EXPECT_EQ(sent, !cancel);
    }
}

TEST(FrameWriter, DestructionWritesWhatIsQueued) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    Bytes expected;
    int callbacks = 0;
    std::thread farEnd;
    Bytes got;
    {
        FrameWriter writer(*line.Port());
        for (int k = 0; k < 40; ++k) {
            const Bytes frame = MessageFrame(Pattern(2000, static_cast<uint8_t>(k)));
            writer.Write(frame.data(), frame.size(), [&] { ++callbacks; });
            expected.insert(expected.end(), frame.begin(), frame.end());
        }
        farEnd = std::thread([&] { got = line.Read(expected.size()); });
    }
    farEnd.join();
    EXPECT_EQ(got, expected);
    EXPECT_EQ(callbacks, 40);
}

TEST(FrameWriter, CancelledPortDropsTheRestOnDestruction) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    const Bytes big = Pattern(256 * 1024, 5);
    std::atomic<int> callbacks{0};
    {
        FrameWriter writer(*line.Port());
        for (int k = 0; k < 10; ++k) {
            writer.Write(big.data(), big.size(), [&] { ++callbacks; });
        }
        // The first frame is stuck on the unread line; cancelling ends it.
        line.Port()->Cancel();
    }
    EXPECT_EQ(callbacks, 0);
}

TEST(FrameWriter, FailingPortIsTriedOncePerFrame) {
    PtyLine line;
    ASSERT_NE(line.Port(), nullptr) << line.OpenError();
    line.CloseMaster();
    // Each write fails at once; the answer window still starts, so a dead
    // line ends the connection through the answer timer.
    std::atomic<int> callbacks{0};
    FrameWriter writer(*line.Port());
    const auto hello = ControlFrame(CmdHello);
    for (int k = 0; k < 100; ++k) {
        writer.Write(hello.data(), hello.size(), [&] { ++callbacks; });
    }
    writer.Flush();
    EXPECT_EQ(callbacks, 100);
}

} // namespace
} // namespace quorvik
