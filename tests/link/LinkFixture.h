// Test support for the link's protocol logic: a UI stand-in whose posted
// tasks run when the test says, a codec stand-in, and a link whose port is
// one end of a null modem while the test plays the peer on the other.
#pragma once

#include "link/Codec.h"
#include "link/Frames.h"
#include "link/LinkState.h"
#include "link/Receiver.h"
#include "link/Send.h"
#include "tests/support/NullModem.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvik::test {

// The platform's timer rules, counting how often it (re)starts.
class TestTimer : public LinkTimer {
public:
    void SetEnabled(bool on) override {
        if (on && !on_)
            ++starts;
        on_ = on;
    }
    bool Enabled() const override { return on_; }
    void SetInterval(uint32_t ms) override {
        if (ms != interval_ && on_)
            ++starts;
        interval_ = ms;
    }
    uint32_t Interval() const override { return interval_; }
    int starts = 0;

private:
    bool on_ = false;
    uint32_t interval_ = 1000;
};

// The UI thread's side: posted tasks wait until the test runs them.
struct TestUi {
    TestTimer wait, options, newMessage;
    std::vector<std::string> statuses, boxes;
    std::vector<int> images;
    std::vector<std::pair<std::string, LineFate>> lines;
    std::function<void()> show = [] {};
    std::mutex mutex;
    std::deque<std::function<void()>> posted;
    LinkUi ui;

    TestUi() {
        ui.TimerWait = &wait;
        ui.TimerOptions = &options;
        ui.TimerNewMessage = &newMessage;
        ui.SetStatus = [this](const std::string& s) { statuses.push_back(s); };
        ui.SetConnectImage = [this](int image) { images.push_back(image); };
        ui.ShowIncomingMessage = [this] { show(); };
        ui.ShowMessage = [this](const std::string& s) { boxes.push_back(s); };
        ui.ReportLine = [this](const std::string& line, LineFate fate) {
            lines.emplace_back(line, fate);
        };
        ui.Post = [this](std::function<void()> task) {
            std::lock_guard lock(mutex);
            posted.push_back(std::move(task));
        };
    }
    void RunPosted() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex);
                if (posted.empty())
                    return;
                task = std::move(posted.front());
                posted.pop_front();
            }
            task();
        }
    }
};

// Two hex digits a byte, never 01 or 02 on the line; odd text is refused.
inline int32_t TestCode(char* out, const char* text, int32_t length) {
    for (int32_t i = 0; i < length; ++i) {
        const auto b = static_cast<uint8_t>(text[i]);
        out[2 * i] = static_cast<char>(0x40 | (b >> 4));
        out[2 * i + 1] = static_cast<char>(0x40 | (b & 0x0F));
    }
    return 0;
}
inline int32_t TestDecode(char* out, const char* data, int32_t length) {
    if (length <= 0 || length % 2 != 0)
        return 0x101; // only the low byte counts
    for (int32_t i = 0; i < length; ++i)
        if ((static_cast<uint8_t>(data[i]) & 0xF0) != 0x40)
            return 7;
    for (int32_t i = 0; i < length / 2; ++i)
        out[i] = static_cast<char>((data[2 * i] & 0x0F) << 4 | (data[2 * i + 1] & 0x0F));
    return 0;
}
inline const Codec TestCodec{TestCode, TestDecode, nullptr};

inline std::vector<uint8_t> Encoded(const std::string& text) {
    std::vector<char> out(2 * text.size());
    TestCode(out.data(), text.data(), static_cast<int32_t>(text.size()));
    return {out.begin(), out.end()};
}

inline std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> bytes) {
    return bytes;
}
template <std::size_t N> std::vector<uint8_t> Bytes(const std::array<uint8_t, N>& a) {
    return {a.begin(), a.end()};
}

// A link whose port is one end of a null modem; the test plays the peer.
class PeerLinkTest : public ::testing::Test {
protected:
    PeerLinkTest() {
        link.Ui = &ui.ui;
        link.Codecs = &TestCodec;
        serial::Error error;
        link.PortHandle = serial::Port::Open(modem.PortA(), error);
        if (!link.PortHandle)
            throw std::runtime_error(serial::Message(error));
        link.Writer = std::make_unique<FrameWriter>(*link.PortHandle);
    }
    ~PeerLinkTest() override { StopReader(link); }

    void Handle(FrameEvent::Kind kind, std::vector<uint8_t> data = {}) {
        HandleFrameEvent(link, FrameEvent{kind, {}, std::move(data)});
        ui.RunPosted();
    }
    // Everything this side wrote, once the writer is idle and the UI has
    // taken its reports.
    std::vector<uint8_t> Written(int ms = 150) {
        link.Writer->Flush();
        ui.RunPosted();
        return ReadFor(peer.Get(), ms);
    }
    // A line queued and on the line, its answer window running.
    void Pending(const std::string& line) {
        {
            std::lock_guard lock(link.Lock);
            link.Connected = 1;
        }
        Send(link, line);
        link.Writer->Flush();
        ui.RunPosted();
    }

    TestUi ui;
    NullModem modem;
    UniqueFd peer = OpenRaw(modem.PortB());
    LinkState link;
};

// Polls the posted tasks until done() holds.
inline bool RunUntil(TestUi& ui, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        ui.RunPosted();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace quorvik::test
