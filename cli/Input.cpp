#include "cli/Input.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace quorvik {

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

SignalReceiver::SignalReceiver() {
    const sigset_t set = StopSignals();
    if (int rc = pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0)
        throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
    fd_ = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0)
        ThrowErrno("signalfd");
}

// The signals stay blocked: one that came too late to be watched must not
// kill a program that is already ending in order.
SignalReceiver::~SignalReceiver() {
    close(fd_);
}

void SignalReceiver::Consume() {
    signalfd_siginfo info;
    while (read(fd_, &info, sizeof info) < 0 && errno == EINTR) {
    }
}

InputWatcher::InputWatcher(SignalReceiver& signals, InputHandlers handlers)
    : signals_(signals), handlers_(std::move(handlers)) {
    if (pipe2(stopPipe_, O_CLOEXEC) != 0)
        ThrowErrno("pipe2");
    thread_ = std::thread([this] { Run(); });
}

InputWatcher::~InputWatcher() {
    const char stop = 0;
    while (write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    close(stopPipe_[0]);
    close(stopPipe_[1]);
}

void InputWatcher::Run() {
    std::string pending;
    bool inputOpen = true;
    for (;;) {
        pollfd fds[3] = {{stopPipe_[0], POLLIN, 0},
                         {signals_.Fd(), POLLIN, 0},
                         {inputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents)
            return;
        if (fds[1].revents & POLLIN) {
            signals_.Consume();
            handlers_.Signal();
        }
        if (fds[2].revents) {
            char buffer[4096];
            const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (got <= 0) {
                inputOpen = false;
                if (!pending.empty())
                    handlers_.Line(std::move(pending));
                pending.clear();
                handlers_.End();
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                handlers_.Line(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }
}

} // namespace quorvik
