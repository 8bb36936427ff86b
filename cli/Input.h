// The front end's outside events: lines of standard input, its end, and
// SIGINT/SIGTERM, watched by one thread of its own.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace quorvik {

// Blocks SIGINT and SIGTERM for the process and receives them through a
// descriptor instead. Create before any other thread so every thread
// inherits the mask.
class SignalReceiver {
public:
    SignalReceiver();
    ~SignalReceiver();
    SignalReceiver(const SignalReceiver&) = delete;
    SignalReceiver& operator=(const SignalReceiver&) = delete;

    int Fd() const { return fd_; }
    // Takes one pending signal off the descriptor.
    void Consume();

private:
    int fd_ = -1;
};

struct InputHandlers {
    std::function<void(std::string line)> Line; // without its line break
    std::function<void()> End;
    std::function<void()> Signal;
};

// Calls the handlers on its own thread until destroyed.
class InputWatcher {
public:
    InputWatcher(SignalReceiver& signals, InputHandlers handlers);
    ~InputWatcher();
    InputWatcher(const InputWatcher&) = delete;
    InputWatcher& operator=(const InputWatcher&) = delete;

private:
    void Run();

    SignalReceiver& signals_;
    InputHandlers handlers_;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

} // namespace quorvik
