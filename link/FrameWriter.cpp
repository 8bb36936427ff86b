#include "link/FrameWriter.h"

#include "link/LinkState.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace quorvik {
namespace {

// The port is closing or gone: what is still queued cannot reach the peer.
bool PortEnded(serial::Error error) {
    return error == serial::Error::Cancelled || error == serial::Error::Io ||
           error == serial::Error::Closed;
}

// How long the bytes take on the line at the port's rate, 10 bits a byte
// (start, eight data, stop); zero when the rate is unknown.
std::chrono::steady_clock::duration LineTime(const serial::Port& port, std::size_t bytes) {
    serial::Dcb dcb;
    if (port.GetState(dcb) != serial::Error::None || dcb.BaudRate == 0) {
        return {};
    }
    return std::chrono::microseconds(bytes * 10 * 1000000 / dcb.BaudRate);
}

} // namespace

FrameWriter::FrameWriter(serial::Port& port) : port_(port), thread_([this] { Run(); }) {}

FrameWriter::~FrameWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void FrameWriter::Write(const uint8_t* bytes, std::size_t length, std::function<void()> onSent) {
    Item item{std::vector<uint8_t>(bytes, bytes + length), std::move(onSent)};
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(item));
    }
    wake_.notify_one();
}

bool FrameWriter::Flush(int timeoutMs) {
    std::unique_lock lock(mutex_);
    auto done = [this] { return queue_.empty() && !busy_; };
    if (timeoutMs < 0) {
        idle_.wait(lock, done);
        return true;
    }
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

void FrameWriter::Run() {
    using Clock = std::chrono::steady_clock;
    // When the bytes written so far are all on the wire, as far as the rate
    // tells: a drain returns once a pseudo-terminal or a USB adapter has
    // taken them, long before that.
    Clock::time_point lineFree;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        Item item = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        lock.unlock();

        // Each frame is tried once: a failing port costs one call per frame,
        // never a loop. The answer window starts even after a failed write, so
        // a dead line ends the connection through the answer timer.
        const Clock::time_point began = Clock::now();
        serial::Error result = port_.Write(item.bytes.data(), item.bytes.size());
        if (result == serial::Error::None) {
            lineFree = std::max(lineFree, began) + LineTime(port_, item.bytes.size());
            if (item.onSent) {
                result = port_.Drain();
            }
        }
        lock.lock();
        if (item.onSent && result == serial::Error::None &&
            wake_.wait_until(lock, lineFree, [this] { return stop_; })) {
            // Stopped early: a cancelled port must not report the frame sent.
            lock.unlock();
            result = port_.Drain();
            lock.lock();
        }
        lock.unlock();
        const bool cancelled =
            result == serial::Error::Cancelled || result == serial::Error::Closed;
        if (item.onSent && !cancelled) {
            item.onSent();
        }
        item = {};

        lock.lock();
        busy_ = false;
        if (stop_ && PortEnded(result)) {
            queue_.clear();
        }
        if (queue_.empty()) {
            idle_.notify_all();
        }
    }
}

void WriteFrame(LinkState& link, const uint8_t* bytes, std::size_t length,
                std::function<void()> onSent) {
    if (link.Writer) {
        link.Writer->Write(bytes, length, std::move(onSent));
    }
}

} // namespace quorvik
