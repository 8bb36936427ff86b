// A connected pair left alone after the options exchange: the CPU each
// thread takes and how often it wakes. Once the exchange is over no timer
// runs, so an idle link should not wake at all.
#include "bench/Ends.h"
#include "tests/support/NullModem.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include <sys/resource.h>

namespace quorvik::bench {
namespace {

struct ThreadFigures {
    uint64_t cpuNs = 0;
    uint64_t wakes = 0; // voluntary context switches
};

std::set<pid_t> Threads() {
    std::set<pid_t> tids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        tids.insert(static_cast<pid_t>(std::stol(entry.path().filename().string())));
    return tids;
}

ThreadFigures Measure(pid_t tid) {
    ThreadFigures f;
    const std::string dir = "/proc/self/task/" + std::to_string(tid);
    std::ifstream(dir + "/schedstat") >> f.cpuNs;
    std::ifstream status(dir + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            f.wakes = std::stoull(line.substr(line.find(':') + 1));
    return f;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

std::set<pid_t> Minus(const std::set<pid_t>& a, const std::set<pid_t>& b) {
    std::set<pid_t> out;
    for (pid_t t : a)
        if (!b.count(t))
            out.insert(t);
    return out;
}

} // namespace
} // namespace quorvik::bench

int main(int argc, char** argv) {
    using namespace quorvik;
    using namespace quorvik::bench;
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    try {
        const Codec codec = LoadTheCodec();
        const auto before = Threads();
        NullModem modem;
        const auto withModem = Threads();
        BenchEnd a("Алиса", codec);
        BenchEnd b("Борис", codec);
        const auto withLoops = Threads();
        if (!ConnectPair(a, b, modem.PortA(), modem.PortB()))
            throw std::runtime_error("the ends did not connect");
        // The greeting side's options timer has stopped; let the last posts run out.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const auto all = Threads();

        std::vector<std::pair<pid_t, std::string>> named;
        for (pid_t t : before)
            named.emplace_back(t, "bench main");
        for (pid_t t : Minus(withModem, before))
            named.emplace_back(t, "simulator relay");
        for (pid_t t : Minus(withLoops, withModem))
            named.emplace_back(t, t == a.UiThreadId() ? "end A UI loop" : "end B UI loop");
        for (pid_t t : Minus(all, withLoops))
            named.emplace_back(t, "link reader/writer");

        std::vector<ThreadFigures> start;
        for (const auto& [tid, name] : named)
            start.push_back(Measure(tid));
        const double cpuStart = CpuSeconds();
        const auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double window = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = CpuSeconds() - cpuStart;

        std::printf("bench_idle: connected pair left alone for %.1f s\n", window);
        uint64_t linkWakes = 0;
        double linkCpu = 0;
        for (std::size_t i = 0; i < named.size(); ++i) {
            const ThreadFigures end = Measure(named[i].first);
            const uint64_t wakes = end.wakes - start[i].wakes;
            const double ms = static_cast<double>(end.cpuNs - start[i].cpuNs) / 1e6;
            std::printf("  tid %-7d %-20s cpu %8.3f ms   wake-ups %llu\n", named[i].first,
                        named[i].second.c_str(), ms, static_cast<unsigned long long>(wakes));
            if (named[i].second != "bench main") {
                linkWakes += wakes;
                linkCpu += ms;
            }
        }
        const double share = 100 * cpu / window;
        std::printf("process CPU %.3f ms over the window = %.4f%% (target < 0.1%%): %s\n",
                    cpu * 1000, share, share < 0.1 ? "met" : "MISSED");
        std::printf("link and simulator threads: cpu %.3f ms, wake-ups %llu (target 0): %s\n",
                    linkCpu, static_cast<unsigned long long>(linkWakes),
                    linkWakes == 0 ? "met" : "MISSED");
        const bool stillUp = a.Connected() && b.Connected();
        std::printf("still connected after the window: %s\n", stillUp ? "yes" : "NO");
        return stillUp ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_idle: %s\n", e.what());
        return 1;
    }
}
