// A small UI-thread loop without a window toolkit, for the headless front
// end and the tests: posted tasks and the platform's timer semantics.
#pragma once

#include "link/LinkUi.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvik {

class EventLoop {
public:
    class Timer;

    EventLoop();
    ~EventLoop();

    // A timer whose handler runs on the loop's thread; owned by the loop and
    // disabled until enabled.
    LinkTimer& CreateTimer(uint32_t intervalMs, std::function<void()> handler);
    // Thread-safe.
    void Post(std::function<void()> task);
    // Runs until Quit().
    void Run();
    // Runs until done() holds or timeoutMs passes; returns done().
    bool RunUntil(const std::function<bool()>& done, int timeoutMs);
    void Quit(); // thread-safe

private:
    using Clock = std::chrono::steady_clock;

    // Runs tasks and due timers until done() holds, Quit() or until passes.
    bool Loop(const std::function<bool()>& done, Clock::time_point until);

    std::mutex mutex_; // guards everything below and every timer's state
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    std::vector<std::unique_ptr<Timer>> timers_;
    bool quit_ = false;
};

} // namespace quorvik
