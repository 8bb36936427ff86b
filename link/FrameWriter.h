// The one writer of the line: frames are queued by any thread and written in
// order by a thread of its own, so frames never interleave and no caller
// waits for the line.
#pragma once

#include "link/serial/Port.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorvik {

class FrameWriter {
public:
    // port must outlive the writer.
    explicit FrameWriter(serial::Port& port);
    ~FrameWriter(); // writes what is queued unless the port was cancelled, then joins

    // Copies the frame and returns at once. onSent, if given, runs on the
    // writer thread once the frame's last byte has left the port: drained,
    // and its line time at the port's baud rate passed. Not at all when the
    // port was cancelled meanwhile.
    void Write(const uint8_t* bytes, std::size_t length, std::function<void()> onSent = {});
    // Waits until everything queued so far has been written, or timeoutMs
    // (negative: no limit) has passed; returns whether it was all written.
    bool Flush(int timeoutMs = -1);

private:
    void Run();

    serial::Port& port_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    struct Item {
        std::vector<uint8_t> bytes;
        std::function<void()> onSent;
    };
    std::deque<Item> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread thread_;
};

// The one way a frame goes on the line: copies and returns at once. Writes
// nothing when the link has no port.
struct LinkState;
void WriteFrame(LinkState& link, const uint8_t* bytes, std::size_t length,
                std::function<void()> onSent = {});

} // namespace quorvik
