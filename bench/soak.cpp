// The soak run: two ends chatting both ways for minutes over a line with
// every fault at once, plus a third writer flooding one end with hostile
// frames. The cable is X - noisy simulator - tap - clean simulator - Y; the
// tap forwards both ways, counts the frames it passes and injects the flood
// toward Y. Nothing may crash, memory must stay bounded, every line shown
// must be one that was sent, intact, and the link must come back once the
// cable is whole again.
#include "bench/Ends.h"
#include "link/FrameReader.h"
#include "link/Frames.h"
#include "tests/support/NullModem.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <set>

#include <poll.h>
#include <unistd.h>

namespace quorvik::bench {
namespace {

using Bytes = std::vector<uint8_t>;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
        .count();
}

long RssKb() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Frames of one direction as the tap passes them.
struct FrameCount {
    FrameReader reader;
    std::vector<FrameEvent> events;
    uint64_t messages = 0, acks = 0, resends = 0, hellos = 0, byes = 0, refusedByReader = 0;

    void Feed(const uint8_t* data, std::size_t size) {
        reader.Feed(data, size, NowMs(), events);
        for (const FrameEvent& e : events) {
            switch (e.kind) {
            case FrameEvent::Kind::Message:
                ++messages;
                break;
            case FrameEvent::Kind::Ack:
                ++acks;
                break;
            case FrameEvent::Kind::Resend:
                ++resends;
                break;
            case FrameEvent::Kind::Hello:
                ++hellos;
                break;
            case FrameEvent::Kind::Bye:
                ++byes;
                break;
            case FrameEvent::Kind::Refused:
                ++refusedByReader;
                break;
            default:
                break;
            }
        }
        events.clear();
    }
};

// One hostile item: control frames, absurd lengths, noise. Noise holds no
// start byte: a random PortParamsFrame would be a real order to the port.
Bytes FloodItem(std::mt19937_64& rng) {
    auto noise = [&](std::size_t n) {
        Bytes b;
        for (std::size_t i = 0; i < n; ++i)
            b.push_back(static_cast<uint8_t>(2 + rng() % 254));
        return b;
    };
    auto with = [](Bytes head, const Bytes& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    switch (rng() % 8) {
    case 0:
        return {0x01, 0x04, 0x02}; // HelloFrame
    case 1:
        return {0x01, 0x07, 0x02}; // ResendFrame
    case 2:
        return with({0x01, 0x01, 0xFF, 0x7F}, noise(rng() % 200)); // 32767 announced
    case 3:
        return with({0x01, 0x01, 0x00, 0x80}, noise(rng() % 50)); // -32768
    case 4:
        return with({0x01, 0x01, 0xFE, 0xFF}, noise(rng() % 50)); // -2
    case 5:
        return {0x01, 0x01, 0x00, 0x00, 0x02}; // length 0
    case 6: {
        const std::size_t n = 16 + rng() % 100; // plausible, but random data
        Bytes b{0x01, 0x01, static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>(n >> 8)};
        b = with(b, noise(n));
        b.push_back(0x02);
        return b;
    }
    default:
        return noise(1 + rng() % 300);
    }
}

class Tap {
public:
    Tap(const std::string& towardX, const std::string& towardY, uint64_t seed)
        : x_(OpenRaw(towardX)), y_(OpenRaw(towardY)), rng_(seed) {
        thread_ = std::thread([this] { Run(); });
    }
    ~Tap() {
        stop_ = true;
        thread_.join();
    }
    void SetFlood(bool on) { flood_ = on; }

    std::mutex mutex; // guards the counts
    FrameCount fromX, fromY;
    uint64_t injected = 0, injectedBytes = 0;

private:
    void Run() {
        int64_t nextFlood = NowMs() + 100;
        while (!stop_) {
            pollfd fds[2] = {{x_.Get(), POLLIN, 0}, {y_.Get(), POLLIN, 0}};
            const int wait = static_cast<int>(std::clamp<int64_t>(nextFlood - NowMs(), 0, 50));
            poll(fds, 2, wait);
            for (int i = 0; i < 2; ++i) {
                if (!(fds[i].revents & POLLIN))
                    continue;
                uint8_t buf[4096];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n <= 0)
                    continue;
                WriteAll(i == 0 ? y_.Get() : x_.Get(), buf, static_cast<std::size_t>(n));
                std::lock_guard lock(mutex);
                (i == 0 ? fromX : fromY).Feed(buf, static_cast<std::size_t>(n));
            }
            if (NowMs() >= nextFlood) {
                nextFlood = NowMs() + 20 + static_cast<int64_t>(rng_() % 300);
                if (flood_) {
                    const Bytes item = FloodItem(rng_);
                    WriteAll(y_.Get(), item.data(), item.size());
                    std::lock_guard lock(mutex);
                    ++injected;
                    injectedBytes += item.size();
                }
            }
        }
    }

    UniqueFd x_, y_;
    std::mt19937_64 rng_;
    std::atomic<bool> flood_{true};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Lines sent by both ends, and the check of every line shown.
struct Ledger {
    std::mutex mutex;
    std::set<std::string> sent, seen;
    uint64_t shown = 0, wrong = 0, repeated = 0; // a line shown again: its AckFrame was lost

    void Sent(const std::string& line) {
        std::lock_guard lock(mutex);
        sent.insert(line);
    }
    void Shown(const std::string& line) {
        std::lock_guard lock(mutex);
        ++shown;
        repeated += !seen.insert(line).second;
        if (!sent.count(line)) {
            ++wrong;
            std::fprintf(stderr, "WRONG LINE shown (%zu bytes): %s\n", line.size(),
                         Cp1251ToUtf8(line).c_str());
        }
    }
};

// One end's chatting: a line at a time, greeting again whenever it is down.
class Talker {
public:
    Talker(BenchEnd& end, const std::string& port, const std::string& tag, Ledger& ledger,
           uint64_t seed)
        : end_(end), port_(port), tag_(tag), ledger_(ledger), rng_(seed) {
        // The handlers change on the UI thread, which calls them.
        end_.Do([this] {
            end_.OnFate = [this](const std::string&, LineFate) {
                {
                    std::lock_guard lock(mutex_);
                    ++fates_;
                }
                answered_.notify_all();
            };
            end_.OnShown = [this](const std::string& line) { ledger_.Shown(line); };
        });
    }
    ~Talker() {
        end_.Do([this] {
            end_.OnFate = nullptr;
            end_.OnShown = nullptr;
        });
    }

    // One step; returns whether a line went out.
    bool Step() {
        RecoverReader();
        if (!end_.Connected()) {
            if (wasConnected_) {
                wasConnected_ = false;
                ++downs;
            }
            end_.Do([this] { ConnectExecute(end_.link); });
            ++greetings;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return false;
        }
        if (!wasConnected_) {
            wasConnected_ = true;
            ++reconnections;
        }
        const std::string text =
            tag_ + " #" + std::to_string(sent) + " " + std::string(rng_() % 200, 'a' + rng_() % 26);
        uint64_t before;
        {
            std::lock_guard lock(mutex_);
            before = fates_;
        }
        const std::string line = ComposeLine(end_.link.UserName, TimeText(), text);
        ledger_.Sent(line);
        end_.Do([&] { Send(end_.link, line); });
        ++sent;
        std::unique_lock lock(mutex_);
        answered_.wait_for(lock, std::chrono::seconds(5), [&] { return fates_ > before; });
        return true;
    }

    uint64_t sent = 0, greetings = 0, downs = 0, reconnections = 0, reopened = 0;

private:
    // The reader thread ends on an error it shows ("Ошибка"); the user would
    // log in again, so the port is closed and opened anew.
    void RecoverReader() {
        const auto errors = end_.Errors();
        const auto failures =
            static_cast<std::size_t>(std::count(errors.begin(), errors.end(), text::ReaderFailed));
        if (failures == failuresSeen_)
            return;
        failuresSeen_ = failures;
        ++reopened;
        end_.Do([this] {
            CloseLink(end_.link);
            OpenPort(end_.link, port_);
        });
    }

    BenchEnd& end_;
    std::string port_, tag_;
    Ledger& ledger_;
    std::mt19937_64 rng_;
    std::mutex mutex_;
    std::condition_variable answered_;
    uint64_t fates_ = 0;
    bool wasConnected_ = true;
    std::size_t failuresSeen_ = 0;
};

void PrintEnd(const char* name, BenchEnd& end, const Talker& talker) {
    std::printf("%s: lines sent %llu, acknowledged %d, timed out %d, given up %d, broken %d, "
                "not connected %d; connection lost %llu times, greetings %llu, reconnections %llu, "
                "reader restarts %llu\n",
                name, static_cast<unsigned long long>(talker.sent),
                end.FateCount(LineFate::Delivered), end.FateCount(LineFate::TimedOut),
                end.FateCount(LineFate::GivenUp), end.FateCount(LineFate::Broken),
                end.FateCount(LineFate::NotConnected),
                static_cast<unsigned long long>(talker.downs),
                static_cast<unsigned long long>(talker.greetings),
                static_cast<unsigned long long>(talker.reconnections),
                static_cast<unsigned long long>(talker.reopened));
    for (const auto& e : end.Errors())
        std::printf("  %s showed: %s\n", name, e.c_str());
}

} // namespace
} // namespace quorvik::bench

int main(int argc, char** argv) {
    using namespace quorvik;
    using namespace quorvik::bench;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 180;
    const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    try {
        const Codec codec = LoadTheCodec();
        const long rssStart = RssKb();
        NullModem noisy(seed);
        NullModem clean(seed + 1);
        noisy.SetReadSizes(ReadSizes::Random, 16);
        clean.SetReadSizes(ReadSizes::Random, 16);
        Tap tap(noisy.PortB(), clean.PortA(), seed + 2);
        BenchEnd x("Икс", codec);
        BenchEnd y("Игрек", codec);
        tap.SetFlood(false);
        if (!ConnectPair(x, y, noisy.PortA(), clean.PortB()))
            throw std::runtime_error("the ends did not connect");
        std::printf("soak: %d s, seed %llu; RSS at start %ld KB\n", seconds,
                    static_cast<unsigned long long>(seed), rssStart);
        noisy.SetFlipRate(1e-4);
        noisy.SetDropRate(1e-4);
        tap.SetFlood(true);

        Ledger ledger;
        Talker tx(x, noisy.PortA(), "X", ledger, seed + 3);
        Talker ty(y, clean.PortB(), "Y", ledger, seed + 4);
        std::atomic<bool> running{true};
        std::atomic<int> failedSteps{0};
        auto talk = [&](Talker& t) {
            while (running) {
                try {
                    t.Step();
                } catch (const std::exception& e) {
                    ++failedSteps;
                    std::fprintf(stderr, "soak: a step failed: %s\n", e.what());
                }
            }
        };
        std::thread talkX([&] { talk(tx); });
        std::thread talkY([&] { talk(ty); });

        // The cable is cut and joined at random.
        std::mt19937_64 rng(seed + 5);
        uint64_t cuts = 0;
        long rssMax = RssKb();
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        auto nextReport = Clock::now() + std::chrono::seconds(30);
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2000 + rng() % 6000));
            noisy.Cut(true);
            ++cuts;
            std::this_thread::sleep_for(std::chrono::milliseconds(200 + rng() % 1800));
            noisy.Cut(false);
            rssMax = std::max(rssMax, RssKb());
            if (Clock::now() >= nextReport) {
                nextReport += std::chrono::seconds(30);
                std::printf("  ... RSS %ld KB, lines sent %llu + %llu, shown %llu\n", RssKb(),
                            static_cast<unsigned long long>(tx.sent),
                            static_cast<unsigned long long>(ty.sent),
                            static_cast<unsigned long long>(ledger.shown));
                std::fflush(stdout);
            }
        }

        // The cable whole and quiet again: the link must come back.
        noisy.Cut(false);
        noisy.SetFlipRate(0);
        noisy.SetDropRate(0);
        tap.SetFlood(false);
        running = false;
        talkX.join();
        talkY.join();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // answer windows run out
        const uint64_t xBefore = static_cast<uint64_t>(x.FateCount(LineFate::Delivered));
        const uint64_t yBefore = static_cast<uint64_t>(y.FateCount(LineFate::Delivered));
        bool recovered = false;
        for (int i = 0; i < 40 && !recovered; ++i) {
            tx.Step();
            ty.Step();
            recovered = static_cast<uint64_t>(x.FateCount(LineFate::Delivered)) > xBefore &&
                        static_cast<uint64_t>(y.FateCount(LineFate::Delivered)) > yBefore;
        }

        std::printf("line: %llu cuts; X->Y flipped bits %llu, dropped %llu, swallowed %llu; "
                    "Y->X flipped bits %llu, dropped %llu, swallowed %llu\n",
                    static_cast<unsigned long long>(cuts),
                    static_cast<unsigned long long>(noisy.Counters(Direction::AtoB).flippedBits),
                    static_cast<unsigned long long>(noisy.Counters(Direction::AtoB).dropped),
                    static_cast<unsigned long long>(noisy.Counters(Direction::AtoB).swallowed),
                    static_cast<unsigned long long>(noisy.Counters(Direction::BtoA).flippedBits),
                    static_cast<unsigned long long>(noisy.Counters(Direction::BtoA).dropped),
                    static_cast<unsigned long long>(noisy.Counters(Direction::BtoA).swallowed));
        {
            std::lock_guard lock(tap.mutex);
            std::printf("flood toward Y: %llu items, %llu bytes\n",
                        static_cast<unsigned long long>(tap.injected),
                        static_cast<unsigned long long>(tap.injectedBytes));
            // Y's frames pass the tap before any fault; X's after the noisy half.
            std::printf("frames from Y (exact): messages %llu (of which resent %lld), acks %llu, "
                        "refusals (ResendFrames) %llu, hellos %llu, byes %llu\n",
                        static_cast<unsigned long long>(tap.fromY.messages),
                        static_cast<long long>(tap.fromY.messages) -
                            static_cast<long long>(ty.sent),
                        static_cast<unsigned long long>(tap.fromY.acks),
                        static_cast<unsigned long long>(tap.fromY.resends),
                        static_cast<unsigned long long>(tap.fromY.hellos),
                        static_cast<unsigned long long>(tap.fromY.byes));
            std::printf("frames from X (as damaged): messages %llu, acks %llu, refusals %llu, "
                        "hellos %llu, byes %llu, unreadable %llu\n",
                        static_cast<unsigned long long>(tap.fromX.messages),
                        static_cast<unsigned long long>(tap.fromX.acks),
                        static_cast<unsigned long long>(tap.fromX.resends),
                        static_cast<unsigned long long>(tap.fromX.hellos),
                        static_cast<unsigned long long>(tap.fromX.byes),
                        static_cast<unsigned long long>(tap.fromX.refusedByReader));
        }
        PrintEnd("X", x, tx);
        PrintEnd("Y", y, ty);
        const uint64_t wrong = [&] {
            std::lock_guard lock(ledger.mutex);
            std::printf("lines shown %llu (again %llu), wrong lines %llu\n",
                        static_cast<unsigned long long>(ledger.shown),
                        static_cast<unsigned long long>(ledger.repeated),
                        static_cast<unsigned long long>(ledger.wrong));
            return ledger.wrong;
        }();
        std::printf("link back after the cable was joined: %s\n", recovered ? "yes" : "NO");
        // The ledger of every line sent grows with the run; the link should not.
        std::printf("RSS at start %ld KB, at end %ld KB, highest seen %ld KB\n", rssStart, RssKb(),
                    std::max(rssMax, RssKb()));
        std::printf("steps that raised an error %d\n", failedSteps.load());
        const bool ok = wrong == 0 && recovered;
        std::printf("soak: %s\n", ok ? "passed" : "FAILED");
        return ok ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "soak: %s\n", e.what());
        return 1;
    }
}
