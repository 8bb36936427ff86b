// Fixtures of the port tests: real pseudo-terminals and temporary folders.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "link/serial/Port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace serial::test {

// A fresh pseudo-terminal: the master end plays the far side of the line,
// the slave's /dev/pts path is what the port opens.
class PtyPair {
public:
    PtyPair() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return;
        }
        slavePath_ = ptsname(master_);
        // Opened before the port, so the exclusive open does not keep it out.
        observer_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(observer_, 0);
    }
    ~PtyPair() {
        CloseMaster();
        if (observer_ >= 0) {
            ::close(observer_);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return slavePath_; }
    // A second descriptor of the slave, for looking at its settings.
    int Observer() const { return observer_; }

    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

    void Write(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    // Reads from the master until count bytes came or waitMs passed.
    std::vector<uint8_t> Read(std::size_t count, int waitMs = 5000) {
        std::vector<uint8_t> got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) {
                continue;
            }
            uint8_t buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0) {
                got.insert(got.end(), buffer, buffer + n);
            }
        }
        return got;
    }

private:
    int master_ = -1;
    int observer_ = -1;
    std::string slavePath_;
};

// Reads from the port until count bytes came or a wait ends without bytes.
inline std::vector<uint8_t> ReadPort(Port& port, std::size_t count) {
    std::vector<uint8_t> got;
    while (got.size() < count && port.WaitReadable(5000) == WaitResult::Readable) {
        uint8_t buffer[4096];
        std::size_t n = 0;
        if (port.Read(buffer, sizeof buffer, n) != Error::None) {
            break;
        }
        got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

// A temporary folder, removed with what it holds.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/serial_test_XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::vector<uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

} // namespace serial::test
