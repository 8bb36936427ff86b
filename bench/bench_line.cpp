// The longest chat line at an emulated 115200 bit/s: Send to the handling of
// its AckFrame, against the time the frame itself needs on such a line.
#include "bench/Ends.h"
#include "link/Frames.h"
#include "tests/support/NullModem.h"

#include <cstdio>

int main() {
    using namespace quorvik;
    using namespace quorvik::bench;
    constexpr uint32_t Rate = 115200;
    try {
        const Codec codec = LoadTheCodec();
        NullModem modem;
        modem.SetLineRate(Rate);
        BenchEnd a("Алиса", codec);
        BenchEnd b("Борис", codec);
        if (!ConnectPair(a, b, modem.PortA(), modem.PortB()))
            throw std::runtime_error("the ends did not connect");
        // Both ports at the line's rate, as the port options dialog would set them.
        a.SetBaudRate(Rate);
        b.SetBaudRate(Rate);

        std::string line = ComposeLine(a.link.UserName, TimeText(), "");
        for (int i = 0; line.size() < static_cast<std::size_t>(MaxTextLength); ++i)
            line += static_cast<char>('a' + i % 26);
        const std::size_t frameBytes = 2 * line.size() + 5;
        const double boundSeconds = static_cast<double>(frameBytes) * 10.0 / Rate;

        std::mutex mutex;
        std::condition_variable answered;
        std::optional<LineFate> fate;
        Clock::time_point sentAt, answeredAt;
        a.Do([&] {
            a.OnFate = [&](const std::string&, LineFate f) {
                std::lock_guard lock(mutex);
                answeredAt = Clock::now();
                fate = f;
                answered.notify_all();
            };
        });
        a.Post([&] {
            sentAt = Clock::now();
            Send(a.link, line);
        });
        std::unique_lock lock(mutex);
        if (!answered.wait_for(lock, std::chrono::seconds(30), [&] { return fate.has_value(); }))
            throw std::runtime_error("the line got no fate");
        lock.unlock();
        a.Do([&] { a.OnFate = nullptr; });
        const double elapsed = std::chrono::duration<double>(answeredAt - sentAt).count();
        const double share = boundSeconds / elapsed;
        std::printf("bench_line: %zu-byte line, frame %zu bytes at %u bit/s\n", line.size(),
                    frameBytes, Rate);
        std::printf("line time of the frame %.4f s; Send to AckFrame %.4f s; %s\n", boundSeconds,
                    elapsed, *fate == LineFate::Delivered ? "delivered" : "NOT delivered");
        std::printf("share of the bound %.1f%% (target >= 95%%): %s\n", 100 * share,
                    *fate == LineFate::Delivered && share >= 0.95 ? "met" : "MISSED");
        return *fate == LineFate::Delivered ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_line: %s\n", e.what());
        return 1;
    }
}
