// Round trip of a chat line: Send on one end to that end's handling of the
// AckFrame, line after line. The floor is the same frame and the three-byte
// answer bounced by a minimal echo over the same simulator.
#include "bench/Ends.h"
#include "link/Frames.h"
#include "tests/support/NullModem.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quorvik::bench {
namespace {

constexpr std::size_t LineLength = 40;

struct Figures {
    double median = 0, p99 = 0, perSecond = 0;
};

Figures Summarise(std::vector<double> ms, double totalSeconds) {
    std::sort(ms.begin(), ms.end());
    return {Quantile(ms, 0.5), Quantile(ms, 0.99), static_cast<double>(ms.size()) / totalSeconds};
}

std::vector<uint8_t> FrameOf(const Codec& codec, const std::string& line) {
    std::vector<char> out(2 * line.size() + 1, 0);
    codec.CodeProc(out.data(), line.data(), static_cast<int32_t>(line.size()));
    return MessageFrame(std::vector<uint8_t>(out.begin(), out.end() - 1));
}

// A line of exactly LineLength bytes as the link composes it.
std::string LineOf(const std::string& user, int i) {
    std::string line = ComposeLine(user, TimeText(), "m" + std::to_string(i) + " ");
    line.resize(LineLength, 'x');
    return line;
}

// Raw bytes: the frame written on A, read whole on B, answered 01 06 02.
Figures Floor(const std::vector<uint8_t>& frame, int count, uint32_t lineRate) {
    NullModem modem;
    modem.SetLineRate(lineRate);
    UniqueFd a = OpenRaw(modem.PortA());
    UniqueFd b = OpenRaw(modem.PortB());
    std::thread echo([&] {
        const auto ack = ControlFrame(CmdAck);
        std::vector<uint8_t> got;
        for (int i = 0; i < count; ++i) {
            if (!ReadExactly(b.Get(), frame.size(), 10000, got))
                return;
            WriteAll(b.Get(), ack.data(), ack.size());
        }
    });
    std::vector<double> ms;
    std::vector<uint8_t> answer;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const auto t0 = Clock::now();
        WriteAll(a.Get(), frame.data(), frame.size());
        if (!ReadExactly(a.Get(), 3, 10000, answer))
            break;
        ms.push_back(Ms(Clock::now() - t0));
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    echo.join();
    if (ms.size() != static_cast<std::size_t>(count))
        throw std::runtime_error("the echo lost a frame");
    return Summarise(ms, total);
}

Figures Link(const Codec& codec, int count, uint32_t lineRate, uint32_t portRate, int& failures) {
    NullModem modem;
    modem.SetLineRate(lineRate);
    BenchEnd a("Алиса", codec);
    BenchEnd b("Борис", codec);
    if (!ConnectPair(a, b, modem.PortA(), modem.PortB()))
        throw std::runtime_error("the ends did not connect");
    a.SetBaudRate(portRate);
    b.SetBaudRate(portRate);

    std::mutex mutex;
    std::condition_variable answered;
    std::vector<double> ms;
    Clock::time_point sentAt;
    bool done = false;
    a.Do([&] {
        a.OnFate = [&](const std::string&, LineFate fate) {
            const auto now = Clock::now();
            std::lock_guard lock(mutex);
            if (fate == LineFate::Delivered)
                ms.push_back(Ms(now - sentAt));
            else
                ++failures;
            done = true;
            answered.notify_all();
        };
    });
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        const std::string line = LineOf(a.link.UserName, i);
        {
            std::lock_guard lock(mutex);
            done = false;
        }
        a.Post([&, line] {
            sentAt = Clock::now();
            Send(a.link, line);
        });
        std::unique_lock lock(mutex);
        if (!answered.wait_for(lock, std::chrono::seconds(10), [&] { return done; }))
            throw std::runtime_error("a line got no fate");
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    a.Do([&] { a.OnFate = nullptr; });
    return Summarise(ms, total);
}

void Print(const char* name, const Figures& f) {
    std::printf("  %-6s median %7.3f ms   p99 %7.3f ms   %8.1f lines/s\n", name, f.median, f.p99,
                f.perSecond);
}

} // namespace
} // namespace quorvik::bench

// One line: the simulator's rate (0: no delay) and the ports' bit rate. The
// writer paces frames to the port's rate, so the unlimited line runs the
// ports so fast that the pacing costs under a microsecond a frame.
struct Setting {
    const char* name;
    uint32_t lineRate;
    uint32_t portRate;
};

int main(int argc, char** argv) {
    using namespace quorvik;
    using namespace quorvik::bench;
    const int count = argc > 1 ? std::atoi(argv[1]) : 3000;
    const Setting settings[] = {
        {"unlimited line, ports at 1 Gbit/s (no pacing to speak of)", 0, 1000000000},
        {"line and ports at 115200 bit/s", 115200, 115200}};
    try {
        const Codec codec = LoadTheCodec();
        const std::vector<uint8_t> frame = FrameOf(codec, LineOf(Utf8ToCp1251("Алиса"), 0));
        std::printf("bench_roundtrip: %d lines of %zu bytes (frame %zu bytes), one at a time\n",
                    count, LineLength, frame.size());
        int failures = 0;
        for (const Setting& setting : settings) {
            const Figures floor = Floor(frame, count, setting.lineRate);
            const Figures link = Link(codec, count, setting.lineRate, setting.portRate, failures);
            std::printf("%s:\n", setting.name);
            Print("floor", floor);
            Print("link", link);
            const double ratio = link.median / floor.median;
            std::printf("  median ratio link/floor %.2f (target <= 1.50): %s; the link adds "
                        "%.0f us\n",
                        ratio, ratio <= 1.5 ? "met" : "MISSED",
                        1000 * (link.median - floor.median));
            std::printf("  p99 ratio link/floor %.2f\n", link.p99 / floor.p99);
        }
        std::printf("lines not delivered %d\n", failures);
        return failures == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_roundtrip: %s\n", e.what());
        return 1;
    }
}
