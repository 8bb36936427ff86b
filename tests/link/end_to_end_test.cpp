// Two ends of the link over the null-modem simulator, each with a UI loop of
// its own on its own thread, as two programs would run them.
#include "link/Codec.h"
#include "link/Connection.h"
#include "link/Cp1251.h"
#include "link/EventLoop.h"
#include "link/Frames.h"
#include "link/LinkMessages.h"
#include "link/OpenPort.h"
#include "link/Send.h"
#include "tests/support/NullModem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <thread>

namespace quorvik {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes HelloBytes{0x01, 0x04, 0x02};
const Bytes ByeBytes{0x01, 0x05, 0x02};
const Bytes AckBytes{0x01, 0x06, 0x02};
const Bytes ResendBytes{0x01, 0x07, 0x02};

constexpr int Patience = 10000; // ms; a generous bound for any single step

// Each frame costs its line time at the port's rate; tests that send many
// messages raise both ends above the 14400 bit/s the port opens with.
constexpr uint32_t FastRate = 256000;

Codec TestCodec() {
    std::vector<std::string> messages;
    Codec codec = LoadCodecFrom(std::string(QUORVIK_BIN_DIR) + "/" + CodecLibraryName(), messages);
    for (const auto& message : messages)
        ADD_FAILURE() << message;
    return codec;
}

// One end: a link, its UI loop on a thread of its own, and a record of what
// its windows would have shown.
class End {
public:
    explicit End(const std::string& userUtf8) : codec_(TestCodec()) {
        link.Codecs = &codec_;
        link.UserName = Utf8ToCp1251(userUtf8);
        ui_.TimerWait = &loop_.CreateTimer(300, [this] { Guarded([&] { TimerWaitTimer(link); }); });
        ui_.TimerOptions =
            &loop_.CreateTimer(200, [this] { Guarded([&] { TimerOptionsTimer(link); }); });
        ui_.TimerNewMessage = &loop_.CreateTimer(100, [this] {
            ui_.TimerNewMessage->SetEnabled(false);
            ShowReceived();
        });
        ui_.SetStatus = [this](const std::string& text) {
            Record([&] { statuses_.push_back(text); });
        };
        ui_.SetConnectImage = [](int) {};
        ui_.ShowIncomingMessage = [this] { ShowReceived(); };
        ui_.ShowMessage = [this](const std::string& text) {
            Record([&] { errors_.push_back(text); });
        };
        ui_.ReportLine = [this](const std::string& line, LineFate fate) {
            Record([&] { fates_.emplace_back(line, fate); });
        };
        ui_.Post = [this](std::function<void()> task) { loop_.Post(std::move(task)); };
        link.Ui = &ui_;
        link.ChatWindow = &ui_;
        thread_ = std::thread([this] {
            for (bool done = false; !done;)
                Guarded([&] {
                    loop_.Run();
                    done = true;
                });
        });
    }
    ~End() {
        Do([this] { CloseLink(link); });
        loop_.Quit();
        thread_.join();
        std::lock_guard lock(mutex_);
        EXPECT_EQ(errors_, std::vector<std::string>{}) << "boxes shown";
    }

    // Runs f on the UI thread and returns its result.
    template <typename F> auto Do(F f) -> decltype(f()) {
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        loop_.Post([task] { (*task)(); });
        return task->get_future().get();
    }
    // Opens the port; a rate other than 0 replaces the one OpenPort sets.
    void Open(const std::string& port, uint32_t rate = 0) {
        Do([&] {
            OpenPort(link, port);
            if (rate == 0)
                return;
            serial::Dcb dcb;
            ASSERT_EQ(link.PortHandle->GetState(dcb), serial::Error::None);
            dcb.BaudRate = rate;
            ASSERT_EQ(link.PortHandle->SetState(dcb), serial::Error::None);
        });
    }
    // Sends a text typed by the user; returns the chat line as composed.
    std::string Say(const std::string& textUtf8) {
        return Do([&] {
            std::string line = ComposeLine(link.UserName, TimeText(), Utf8ToCp1251(textUtf8));
            Send(link, line);
            return line;
        });
    }

    bool WaitFor(const std::function<bool()>& ready, int ms = Patience) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(ms), ready);
    }
    bool WaitForStatus(const std::string& text, std::size_t count = 1, int ms = Patience) {
        return WaitFor([&] { return StatusCountLocked(text) >= count; }, ms);
    }
    bool WaitShown(std::size_t count) {
        return WaitFor([&] { return shown_.size() >= count; });
    }
    // Waits for the fate of a line and returns it.
    std::optional<LineFate> FateOf(const std::string& line, int ms = Patience) {
        std::optional<LineFate> fate;
        WaitFor(
            [&] {
                for (const auto& [sent, f] : fates_)
                    if (sent == line)
                        fate = f;
                return fate.has_value();
            },
            ms);
        return fate;
    }

    std::vector<std::string> Statuses() { return Copy(statuses_); }
    std::vector<std::string> Shown() { return Copy(shown_); }
    std::size_t StatusCount(const std::string& text) {
        std::lock_guard lock(mutex_);
        return StatusCountLocked(text);
    }
    bool Connected() {
        std::lock_guard lock(link.Lock);
        return link.Connected == 1;
    }

    LinkState link;

private:
    template <typename F> void Guarded(F&& f) {
        try {
            f();
        } catch (const std::exception& e) {
            Record([&] { errors_.push_back(e.what()); });
        }
    }
    template <typename F> void Record(F&& f) {
        {
            std::lock_guard lock(mutex_);
            f();
        }
        changed_.notify_all();
    }
    void ShowReceived() {
        std::deque<std::string> texts;
        {
            std::lock_guard lock(link.Lock);
            texts.swap(link.ReceivedText);
        }
        Record([&] { shown_.insert(shown_.end(), texts.begin(), texts.end()); });
    }
    std::size_t StatusCountLocked(const std::string& text) const {
        return std::count(statuses_.begin(), statuses_.end(), text);
    }
    template <typename T> T Copy(const T& value) {
        std::lock_guard lock(mutex_);
        return value;
    }

    Codec codec_;
    EventLoop loop_;
    LinkUi ui_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> statuses_;
    std::vector<std::string> shown_;
    std::vector<std::pair<std::string, LineFate>> fates_;
    std::vector<std::string> errors_;
    std::thread thread_;
};

// A ends connected to B; A greets (and B too when both start at once).
void Connect(NullModem& modem, End& a, End& b, bool bothGreet, uint32_t rate = 0) {
    a.Open(modem.PortA(), rate);
    b.Open(modem.PortB(), rate);
    // At once means each greeting leaves before the other's arrives: were
    // A's to come first, B would answer it and then greet unanswered. A
    // slower line (15 ms a greeting, a byte well within the reader's silence
    // limit) makes that so.
    if (bothGreet)
        modem.SetLineRate(2000);
    a.Do([&] { BeginConnection(a.link); });
    if (bothGreet)
        b.Do([&] { BeginConnection(b.link); });
    ASSERT_TRUE(a.WaitForStatus(text::StatusEstablished));
    if (bothGreet) {
        ASSERT_TRUE(b.WaitForStatus(text::StatusEstablished));
        ASSERT_TRUE(a.WaitForStatus(text::StatusEstablishedByPeer));
    }
    ASSERT_TRUE(b.WaitForStatus(text::StatusEstablishedByPeer));
    if (bothGreet)
        modem.SetLineRate(0);
}

TEST(EndToEnd, GreetingOptionsMessagesBothWaysAndBye) {
    NullModem modem;
    End a("Алиса");
    End b("Борис");
    ASSERT_NO_FATAL_FAILURE(Connect(modem, a, b, false));
    EXPECT_EQ(a.Statuses(),
              (std::vector<std::string>{text::StatusSettingPortParams, text::StatusSettingTimeouts,
                                        text::StatusEstablished}));
    EXPECT_EQ(b.Statuses(),
              (std::vector<std::string>{text::StatusSettingPortParams, text::StatusSettingTimeouts,
                                        text::StatusEstablishedByPeer}));

    const std::string fromA = a.Say("  Привет, Борис!  ");
    EXPECT_EQ(a.FateOf(fromA), LineFate::Delivered);
    const std::string fromB = b.Say("Здравствуй\nАлиса");
    EXPECT_EQ(b.FateOf(fromB), LineFate::Delivered);
    ASSERT_TRUE(a.WaitShown(1));
    EXPECT_EQ(Cp1251ToUtf8(fromA).substr(0, 12), "Алиса:[");
    EXPECT_EQ(b.Shown(), std::vector<std::string>{fromA});
    EXPECT_EQ(a.Shown(), std::vector<std::string>{fromB});

    a.Do([&] { CloseLink(a.link); });
    EXPECT_TRUE(b.WaitForStatus(text::StatusBroken));
    EXPECT_FALSE(b.Connected());
}

std::string ReadSizesName(const testing::TestParamInfo<ReadSizes>& info) {
    switch (info.param) {
    case ReadSizes::Whole:
        return "Whole";
    case ReadSizes::One:
        return "One";
    case ReadSizes::Eight:
        return "Eight";
    case ReadSizes::Random:
        return "Random";
    }
    return "Unknown";
}

class ReadSizePatterns : public testing::TestWithParam<ReadSizes> {};

// Both ends greet at once and then send at once, lines of many lengths.
TEST_P(ReadSizePatterns, EveryPatternDeliversTheSameTexts) {
    NullModem modem(7);
    modem.SetReadSizes(GetParam(), 13);
    End a("Алиса");
    End b("Борис");
    ASSERT_NO_FATAL_FAILURE(Connect(modem, a, b, true, FastRate));

    std::vector<std::string> texts;
    for (int n : {0, 1, 3, 4, 5, 8, 17, 40, 120})
        texts.push_back(std::string(static_cast<std::size_t>(n), 'x') + "ёЖ" + std::to_string(n));
    std::vector<std::string> fromA, fromB;
    for (const auto& t : texts) {
        fromA.push_back(a.Say(t));
        fromB.push_back(b.Say("ответ " + t));
    }
    for (const auto& line : fromA)
        EXPECT_EQ(a.FateOf(line), LineFate::Delivered);
    for (const auto& line : fromB)
        EXPECT_EQ(b.FateOf(line), LineFate::Delivered);
    EXPECT_TRUE(b.WaitShown(fromA.size()));
    EXPECT_TRUE(a.WaitShown(fromB.size()));
    EXPECT_EQ(b.Shown(), fromA);
    EXPECT_EQ(a.Shown(), fromB);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadSizePatterns,
                         testing::Values(ReadSizes::One, ReadSizes::Eight, ReadSizes::Whole,
                                         ReadSizes::Random),
                         ReadSizesName);

Bytes Encode(const Codec& codec, const std::string& line) {
    std::vector<char> out(2 * line.size() + 1, 0);
    codec.CodeProc(out.data(), line.data(), static_cast<int32_t>(line.size()));
    return MessageFrame(Bytes(out.begin(), out.end() - 1));
}

Bytes Expect(int fd, std::size_t n) {
    Bytes got;
    EXPECT_TRUE(ReadExactly(fd, n, Patience, got)) << "got " << got.size() << " of " << n;
    return got;
}

// The peer is the test itself, checking every answer byte for byte.
TEST(EndToEnd, ScriptedPeerSeesTheExactAnswers) {
    NullModem modem;
    const Codec codec = TestCodec();
    End a("Алиса");
    a.Open(modem.PortA());
    UniqueFd peer = OpenRaw(modem.PortB());

    WriteAll(peer.Get(), HelloBytes.data(), HelloBytes.size());
    EXPECT_EQ(Expect(peer.Get(), 3), HelloBytes);
    EXPECT_TRUE(a.WaitForStatus(text::StatusSettingPortParams));

    const std::string line = Utf8ToCp1251("Борис:[1:02:03] привет");
    const Bytes good = Encode(codec, line);
    Bytes damaged = good;
    damaged[9] ^= 0x10;
    WriteAll(peer.Get(), damaged.data(), damaged.size());
    EXPECT_EQ(Expect(peer.Get(), 3), ResendBytes);
    WriteAll(peer.Get(), good.data(), good.size());
    EXPECT_EQ(Expect(peer.Get(), 3), AckBytes);
    ASSERT_TRUE(a.WaitShown(1));
    EXPECT_EQ(a.Shown(), std::vector<std::string>{line}); // the damaged one never shown

    // Our message refused once: sent again unchanged, then delivered.
    const std::string ours = a.Say("как дела?");
    const Bytes frame = Encode(codec, ours);
    EXPECT_EQ(Expect(peer.Get(), frame.size()), frame);
    WriteAll(peer.Get(), ResendBytes.data(), ResendBytes.size());
    EXPECT_EQ(Expect(peer.Get(), frame.size()), frame);
    WriteAll(peer.Get(), AckBytes.data(), AckBytes.size());
    EXPECT_EQ(a.FateOf(ours), LineFate::Delivered);

    // A silent peer: the answer timer ends the connection with a ByeFrame.
    const std::string unanswered = a.Say("ты здесь?");
    EXPECT_EQ(Expect(peer.Get(), Encode(codec, unanswered).size()), Encode(codec, unanswered));
    EXPECT_EQ(a.FateOf(unanswered), LineFate::TimedOut);
    EXPECT_TRUE(a.WaitForStatus(text::StatusTimedOut));
    EXPECT_EQ(Expect(peer.Get(), 3), ByeBytes);
    EXPECT_FALSE(a.Connected());

    a.Do([&] { CloseLink(a.link); });
    EXPECT_EQ(Expect(peer.Get(), 3), ByeBytes);
    EXPECT_TRUE(ReadFor(peer.Get(), 100).empty());
}

class LongMessage : public testing::TestWithParam<ReadSizes> {};

// Some 4000 bytes spend 2.5 s and more on the line: the answer window counts
// from the last byte on the wire, so a healthy peer keeps the connection.
// The cable runs a little faster than the ports' 14400 bit/s so that a busy
// test machine cannot eat the 500 ms window; counted from the drain, the
// answer would still come seconds late. With pieces of eight bytes the
// reassembly must not overrun either.
TEST_P(LongMessage, AtTheLineRateKeepsTheConnection) {
    NullModem modem;
    modem.SetReadSizes(GetParam());
    modem.SetLineRate(16000);
    End a("Алиса");
    End b("Борис");
    ASSERT_NO_FATAL_FAILURE(Connect(modem, a, b, false));
    std::string text; // 2000 characters of cp1251
    for (int i = 0; text.size() < 2000; ++i)
        text += Utf8ToCp1251("слово") + std::to_string(i) + ' ';
    text.resize(2000);
    text.back() = 'X';
    const std::string line = a.Say(Cp1251ToUtf8(text));
    EXPECT_EQ(a.FateOf(line, 30000), LineFate::Delivered);
    ASSERT_TRUE(b.WaitShown(1));
    EXPECT_EQ(b.Shown(), std::vector<std::string>{line});
    EXPECT_TRUE(a.Connected());
    EXPECT_TRUE(b.Connected());
    EXPECT_EQ(a.StatusCount(text::StatusTimedOut), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, LongMessage, testing::Values(ReadSizes::Whole, ReadSizes::Eight),
                         ReadSizesName);

// A noisy line: damage must cost a resend or a reconnect, never a wrong line.
TEST(EndToEnd, FlippedBitsNeverReachTheChat) {
    NullModem modem(2024);
    End a("Алиса");
    End b("Борис");
    ASSERT_NO_FATAL_FAILURE(Connect(modem, a, b, false, FastRate));
    modem.SetFlipRate(1e-4);

    std::set<std::string> sent;
    int delivered = 0;
    int reconnects = 0;
    std::mt19937 random(5);
    for (int i = 0; i < 2000; ++i) {
        const std::string text =
            "сообщение " + std::to_string(i) + ' ' + std::string(random() % 80, 'z');
        const std::string line = a.Say(text);
        sent.insert(line);
        const auto fate = a.FateOf(line);
        ASSERT_TRUE(fate) << "no fate for message " << i;
        if (*fate == LineFate::Delivered) {
            ++delivered;
            continue;
        }
        // The connection ended; greet again until the peer answers.
        ++reconnects;
        for (int attempt = 0; attempt < 20 && !(a.Connected() && b.Connected()); ++attempt) {
            const std::size_t answered = a.StatusCount(text::StatusSettingPortParams);
            a.Do([&] { ConnectExecute(a.link); });
            a.WaitForStatus(text::StatusSettingPortParams, answered + 1, 2000);
        }
        ASSERT_TRUE(a.Connected() && b.Connected()) << "could not reconnect";
    }
    for (const auto& shown : b.Shown())
        EXPECT_EQ(sent.count(shown), 1u) << "corrupted line shown: " << Cp1251ToUtf8(shown);
    EXPECT_GT(modem.Counters(Direction::AtoB).flippedBytes, 0u);
    EXPECT_GE(delivered, 1900);
    std::cout << delivered << " delivered, " << reconnects << " reconnects, "
              << modem.Counters(Direction::AtoB).flippedBits +
                     modem.Counters(Direction::BtoA).flippedBits
              << " bits flipped\n";
}

} // namespace
} // namespace quorvik
