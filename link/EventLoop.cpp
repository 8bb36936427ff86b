#include "link/EventLoop.h"

namespace quorvik {

// Its state is guarded by the loop's mutex, so the loop can sleep until the
// next deadline and be woken by any change.
class EventLoop::Timer : public LinkTimer {
public:
    Timer(EventLoop& loop, uint32_t intervalMs, std::function<void()> handler)
        : loop_(loop), interval_(intervalMs), handler_(std::move(handler)) {}

    void SetEnabled(bool on) override {
        std::lock_guard lock(loop_.mutex_);
        if (on == enabled_)
            return;
        enabled_ = on;
        Restart();
    }
    bool Enabled() const override {
        std::lock_guard lock(loop_.mutex_);
        return enabled_;
    }
    void SetInterval(uint32_t ms) override {
        std::lock_guard lock(loop_.mutex_);
        if (ms == interval_)
            return;
        interval_ = ms;
        Restart();
    }
    uint32_t Interval() const override {
        std::lock_guard lock(loop_.mutex_);
        return interval_;
    }

    // Under the loop's mutex.
    bool Running() const { return enabled_ && interval_ > 0; }
    Clock::time_point Deadline() const { return deadline_; }
    // Keeps the schedule but never fires twice to catch up after a stall.
    void Fired(Clock::time_point now) {
        deadline_ += Period();
        if (deadline_ <= now)
            deadline_ = now + Period();
    }
    const std::function<void()>& Handler() const { return handler_; }

private:
    Clock::duration Period() const { return std::chrono::milliseconds(interval_); }
    void Restart() {
        if (Running()) {
            deadline_ = Clock::now() + Period();
            loop_.wake_.notify_all();
        }
    }

    EventLoop& loop_;
    uint32_t interval_;
    bool enabled_ = false;
    Clock::time_point deadline_{};
    const std::function<void()> handler_;
};

EventLoop::EventLoop() = default;
EventLoop::~EventLoop() = default;

LinkTimer& EventLoop::CreateTimer(uint32_t intervalMs, std::function<void()> handler) {
    std::lock_guard lock(mutex_);
    timers_.push_back(std::make_unique<Timer>(*this, intervalMs, std::move(handler)));
    return *timers_.back();
}

void EventLoop::Post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
}

void EventLoop::Run() {
    Loop([] { return false; }, Clock::time_point::max());
}

bool EventLoop::RunUntil(const std::function<bool()>& done, int timeoutMs) {
    return Loop(done, Clock::now() + std::chrono::milliseconds(timeoutMs));
}

void EventLoop::Quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

bool EventLoop::Loop(const std::function<bool()>& done, Clock::time_point until) {
    for (;;) {
        if (done())
            return true;
        std::unique_lock lock(mutex_);
        if (quit_) {
            quit_ = false;
            return false;
        }
        const Clock::time_point now = Clock::now();
        Timer* next = nullptr;
        for (const auto& timer : timers_) {
            if (timer->Running() && (!next || timer->Deadline() < next->Deadline()))
                next = timer.get();
        }
        // A due timer goes first, so a stream of posts cannot starve the timers.
        if (next && next->Deadline() <= now) {
            next->Fired(now);
            lock.unlock();
            next->Handler()();
            continue;
        }
        if (!tasks_.empty()) {
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            continue;
        }
        if (now >= until)
            return false;
        const Clock::time_point wakeAt = next ? std::min(next->Deadline(), until) : until;
        if (wakeAt == Clock::time_point::max())
            wake_.wait(lock);
        else
            wake_.wait_until(lock, wakeAt);
    }
}

} // namespace quorvik
