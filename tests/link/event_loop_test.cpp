#include "link/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace quorvik {
namespace {

// T starts at 0 (enabled or not, with its interval); A fires once at 100 ms
// and acts on T; Ref fires once at 250 ms; the run ends with End at 450 ms.
// Timers fire in deadline order, so the log shows when T's deadlines lay.
struct TimerRow {
    const char* name;
    uint32_t interval;
    bool enabled;
    std::function<void(LinkTimer&)> atA;
    const char* log;
};

class TimerSemantics : public testing::TestWithParam<TimerRow> {};

TEST_P(TimerSemantics, FiresWhereThePlatformWould) {
    const TimerRow& row = GetParam();
    EventLoop loop;
    std::string log;
    bool ended = false;
    LinkTimer& t = loop.CreateTimer(row.interval, [&] { log += "T "; });
    LinkTimer* a = nullptr;
    a = &loop.CreateTimer(100, [&] {
        log += "A ";
        a->SetEnabled(false);
        row.atA(t);
    });
    LinkTimer* ref = nullptr;
    ref = &loop.CreateTimer(250, [&] {
        log += "Ref ";
        ref->SetEnabled(false);
    });
    LinkTimer* end = nullptr;
    end = &loop.CreateTimer(450, [&] {
        log += "End";
        end->SetEnabled(false);
        ended = true;
    });
    t.SetEnabled(row.enabled);
    a->SetEnabled(true);
    ref->SetEnabled(true);
    end->SetEnabled(true);

    ASSERT_TRUE(loop.RunUntil([&] { return ended; }, 10000));
    EXPECT_EQ(log, row.log);
    EXPECT_FALSE(a->Enabled()); // handlers that disable themselves stay disabled
}

const auto enable = [](LinkTimer& t) { t.SetEnabled(true); };

INSTANTIATE_TEST_SUITE_P(
    Table, TimerSemantics,
    testing::Values(
        // Deadlines of T: 200, 400.
        TimerRow{"EnablingARunningTimerKeepsItsDeadline", 200, true, enable, "A T Ref T End"},
        TimerRow{"SameIntervalChangesNothing", 200, true, [](LinkTimer& t) { t.SetInterval(200); },
                 "A T Ref T End"},
        // 100 + 201 = 301.
        TimerRow{"NewIntervalRestartsIt", 200, true, [](LinkTimer& t) { t.SetInterval(201); },
                 "A Ref T End"},
        TimerRow{"IntervalZeroDoesNotRun", 200, true, [](LinkTimer& t) { t.SetInterval(0); },
                 "A Ref End"},
        // Deadlines 300.
        TimerRow{"DisableThenEnableStartsAfresh", 200, true,
                 [](LinkTimer& t) {
                     t.SetEnabled(false);
                     t.SetEnabled(true);
                 },
                 "A Ref T End"},
        TimerRow{"EnablingAStoppedTimerStartsIt", 200, false, enable, "A Ref T End"},
        // Interval 0 while enabled: a later interval starts it, 200, 300, 400.
        TimerRow{"ZeroIntervalStartsWhenGivenOne", 0, true,
                 [](LinkTimer& t) { t.SetInterval(100); }, "A T Ref T T End"},
        TimerRow{"DisabledTimerNeverFires", 100, false, [](LinkTimer&) {}, "A Ref End"}),
    [](const testing::TestParamInfo<TimerRow>& info) { return info.param.name; });

TEST(EventLoop, PostsFromOtherThreadsRunInOrderOnTheLoopThread) {
    EventLoop loop;
    constexpr int Threads = 4;
    constexpr int PerThread = 500;
    std::vector<std::vector<int>> seen(Threads);
    int total = 0;
    bool wrongThread = false;
    const auto loopThread = std::this_thread::get_id();
    std::vector<std::thread> posters;
    for (int p = 0; p < Threads; ++p) {
        posters.emplace_back([&, p] {
            for (int i = 0; i < PerThread; ++i) {
                loop.Post([&, p, i] {
                    wrongThread = wrongThread || std::this_thread::get_id() != loopThread;
                    seen[p].push_back(i);
                    ++total;
                });
            }
        });
    }
    const bool done = loop.RunUntil([&] { return total == Threads * PerThread; }, 20000);
    for (auto& poster : posters)
        poster.join();
    ASSERT_TRUE(done);
    EXPECT_FALSE(wrongThread);
    for (const auto& order : seen) {
        ASSERT_EQ(order.size(), static_cast<std::size_t>(PerThread));
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    }
}

TEST(EventLoop, QuitFromAnotherThreadEndsRunAndATimeoutEndsRunUntil) {
    EventLoop loop;
    std::thread quitter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        loop.Quit();
    });
    loop.Run(); // returns only through Quit: nothing else is scheduled
    quitter.join();

    EXPECT_FALSE(loop.RunUntil([] { return false; }, 50));
    bool ran = false;
    loop.Post([&] { ran = true; });
    EXPECT_TRUE(loop.RunUntil([&] { return ran; }, 10000));
}

TEST(EventLoop, AThrowingTaskLeavesTheLoopUsable) {
    EventLoop loop;
    bool ran = false;
    loop.Post([] { throw std::runtime_error("boom"); });
    loop.Post([&] { ran = true; });
    EXPECT_THROW(loop.RunUntil([&] { return ran; }, 10000), std::runtime_error);
    EXPECT_TRUE(loop.RunUntil([&] { return ran; }, 10000));
}

} // namespace
} // namespace quorvik
