#include "tests/support/NullModem.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace quorvik {

namespace {

using Clock = std::chrono::steady_clock;

// A piece waits this long after the previous one before the receiver's queue
// is looked at, so the kernel has moved the previous piece into it.
constexpr auto kMinGap = std::chrono::microseconds(200);
// Longest wait between looks at a receiver that does not read.
constexpr auto kMaxGap = std::chrono::milliseconds(10);
// Wait before a master that failed (no slave open) is tried again.
constexpr auto kRetry = std::chrono::milliseconds(20);
// Bytes held per direction before the sender's end is no longer read.
constexpr std::size_t kMaxQueued = std::size_t{1} << 20;
// Longest wait of WriteAll for room.
constexpr int kWriteTimeoutMs = 10000;

[[noreturn]] void Fail(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void MakeRaw(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        Fail("tcgetattr");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        Fail("tcsetattr");
    }
}

void SetNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail("fcntl");
    }
}

int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

struct Pending {
    uint8_t byte;
    Clock::time_point due;
};

// One direction of the cable as the relay thread sees it.
struct Lane {
    std::deque<Pending> queue;
    std::vector<uint8_t> piece; // being written to the receiving master
    std::size_t pieceDone = 0;
    Clock::time_point lineFree{};
    Clock::time_point nextPieceAt{};
    Clock::duration gap = kMinGap;
    std::mt19937_64 rng;
    bool waitWritable = false;

    std::size_t InFlight() const { return queue.size() + piece.size() - pieceDone; }
    void Clear() {
        queue.clear();
        piece.clear();
        pieceDone = 0;
        waitWritable = false;
    }
};

bool Chance(std::mt19937_64& rng, double p) {
    return p > 0 && std::bernoulli_distribution(std::min(p, 1.0))(rng);
}

// Puts bytes read from the sending end on the line, faults applied. Each
// byte is due when a line of the given byte time would have delivered it.
void TakeIn(Lane& lane, const uint8_t* data, std::size_t size, bool cut, double flipRate,
            double dropRate, Clock::duration byteTime, Clock::time_point now, LineCounters& delta) {
    for (std::size_t i = 0; i < size; ++i) {
        if (cut) {
            ++delta.swallowed;
            continue;
        }
        lane.lineFree = std::max(now, lane.lineFree) + byteTime;
        if (Chance(lane.rng, dropRate)) {
            ++delta.dropped;
            continue;
        }
        uint8_t byte = data[i];
        for (int bit = 0; flipRate > 0 && bit < 8; ++bit) {
            if (Chance(lane.rng, flipRate)) {
                byte ^= static_cast<uint8_t>(1u << bit);
                ++delta.flippedBits;
            }
        }
        delta.flippedBytes += byte != data[i];
        lane.queue.push_back({byte, lane.lineFree});
    }
}

// Writes due bytes to the receiving master in pieces of the chosen size and
// counts them in relayed under the lock, so a reader that has a byte sees it
// counted. Lowers deadline to when more can go; returns false when the master
// refuses for another reason than a full queue.
bool HandOver(Lane& lane, int master, int slave, ReadSizes sizes, std::size_t randomMax,
              Clock::time_point now, Clock::time_point& deadline, std::mutex& mutex,
              uint64_t& relayed) {
    for (;;) {
        if (lane.pieceDone < lane.piece.size()) {
            std::unique_lock lock(mutex);
            const ssize_t n = write(master, lane.piece.data() + lane.pieceDone,
                                    lane.piece.size() - lane.pieceDone);
            if (n > 0) {
                relayed += static_cast<uint64_t>(n);
                lock.unlock();
                lane.pieceDone += static_cast<std::size_t>(n);
                continue;
            }
            lane.waitWritable = n < 0 && (errno == EAGAIN || errno == EINTR);
            return lane.waitWritable;
        }
        lane.waitWritable = false;
        lane.piece.clear();
        lane.pieceDone = 0;
        if (lane.queue.empty()) {
            return true;
        }
        if (lane.queue.front().due > now) {
            deadline = std::min(deadline, lane.queue.front().due);
            return true;
        }
        std::size_t limit = SIZE_MAX;
        if (sizes != ReadSizes::Whole) {
            if (now < lane.nextPieceAt) {
                deadline = std::min(deadline, lane.nextPieceAt);
                return true;
            }
            // The slave's input queue is shared by every open descriptor of it.
            int unread = 0;
            if (ioctl(slave, FIONREAD, &unread) == 0 && unread > 0) {
                lane.gap = std::min<Clock::duration>(lane.gap * 2, kMaxGap);
                lane.nextPieceAt = now + lane.gap;
                deadline = std::min(deadline, lane.nextPieceAt);
                return true;
            }
            lane.gap = kMinGap;
            lane.nextPieceAt = now + kMinGap;
            limit = sizes == ReadSizes::One ? 1
                    : sizes == ReadSizes::Eight
                        ? 8
                        : std::uniform_int_distribution<std::size_t>(1, randomMax)(lane.rng);
        }
        while (lane.piece.size() < limit && !lane.queue.empty() && lane.queue.front().due <= now) {
            lane.piece.push_back(lane.queue.front().byte);
            lane.queue.pop_front();
        }
    }
}

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        Reset(other.Release());
    }
    return *this;
}

int UniqueFd::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0) {
        close(fd_);
    }
    fd_ = fd;
}

NullModem::NullModem(uint64_t seed) : seed_(seed) {
    for (End& end : ends_) {
        end.master.Reset(posix_openpt(O_RDWR | O_NOCTTY));
        if (!end.master.Valid()) {
            Fail("posix_openpt");
        }
        const int m = end.master.Get();
        if (fcntl(m, F_SETFD, FD_CLOEXEC) != 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
            Fail("pty set-up");
        }
        char name[128];
        if (ptsname_r(m, name, sizeof name) != 0) {
            Fail("ptsname_r");
        }
        end.path = name;
        SetNonBlocking(m);
        MakeRaw(m);
        end.slave.Reset(open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!end.slave.Valid()) {
            Fail("open pty slave");
        }
        MakeRaw(end.slave.Get());
    }
    wake_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_.Valid()) {
        Fail("eventfd");
    }
    thread_ = std::thread([this] { Relay(); });
}

NullModem::~NullModem() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    Changed();
    thread_.join();
}

void NullModem::Changed() {
    const uint64_t one = 1;
    // A full counter already means a pending wake-up.
    [[maybe_unused]] const ssize_t n = write(wake_.Get(), &one, sizeof one);
}

void NullModem::SetReadSizes(ReadSizes sizes, std::size_t randomMax) {
    SetReadSizes(Direction::AtoB, sizes, randomMax);
    SetReadSizes(Direction::BtoA, sizes, randomMax);
}

void NullModem::SetReadSizes(Direction dir, ReadSizes sizes, std::size_t randomMax) {
    {
        std::lock_guard lock(mutex_);
        Settings& s = settings_[static_cast<int>(dir)];
        s.sizes = sizes;
        s.randomMax = std::max<std::size_t>(randomMax, 1);
    }
    Changed();
}

void NullModem::SetLineRate(uint32_t bitsPerSecond) {
    {
        std::lock_guard lock(mutex_);
        lineRate_ = bitsPerSecond;
    }
    Changed();
}

void NullModem::SetFlipRate(double perBit) {
    SetFlipRate(Direction::AtoB, perBit);
    SetFlipRate(Direction::BtoA, perBit);
}

void NullModem::SetFlipRate(Direction dir, double perBit) {
    std::lock_guard lock(mutex_);
    settings_[static_cast<int>(dir)].flipRate = perBit;
}

void NullModem::SetDropRate(double perByte) {
    SetDropRate(Direction::AtoB, perByte);
    SetDropRate(Direction::BtoA, perByte);
}

void NullModem::SetDropRate(Direction dir, double perByte) {
    std::lock_guard lock(mutex_);
    settings_[static_cast<int>(dir)].dropRate = perByte;
}

void NullModem::Cut(bool cut) {
    {
        std::lock_guard lock(mutex_);
        if (cut && !cut_) {
            ++cutGeneration_;
        }
        cut_ = cut;
    }
    Changed();
}

LineCounters NullModem::Counters(Direction dir) const {
    std::lock_guard lock(mutex_);
    return counters_[static_cast<int>(dir)];
}

// Lane d carries bytes read from master d to master 1 - d.
void NullModem::Relay() {
    Lane lanes[2];
    lanes[0].rng.seed(seed_);
    lanes[1].rng.seed(seed_ ^ 0x9e3779b97f4a7c15ull);
    Clock::time_point retryAt[2]{}; // per end: its master failed, leave it alone until then
    uint64_t seenCut = 0;
    pollfd fds[3] = {{wake_.Get(), POLLIN, 0}, {-1, 0, 0}, {-1, 0, 0}};

    for (;;) {
        // Settings are taken after each wake-up, so bytes read now meet them.
        Settings settings[2];
        uint32_t rate = 0;
        bool cut = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_) {
                return;
            }
            if (cutGeneration_ != seenCut) {
                seenCut = cutGeneration_;
                for (int d = 0; d < 2; ++d) {
                    counters_[d].swallowed += lanes[d].InFlight();
                    lanes[d].Clear();
                }
            }
            settings[0] = settings_[0];
            settings[1] = settings_[1];
            rate = lineRate_;
            cut = cut_;
        }
        Clock::time_point now = Clock::now();

        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(wake_.Get(), &count, sizeof count);
        }
        const auto byteTime = rate == 0 ? Clock::duration::zero()
                                        : std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::nanoseconds(10'000'000'000ll / rate));
        for (int e = 0; e < 2; ++e) {
            const pollfd& pfd = fds[1 + e];
            if (pfd.fd < 0 || (pfd.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
                continue;
            }
            if ((pfd.events & POLLIN) == 0) {
                retryAt[e] = now + kRetry; // hung up while only waiting for room
                continue;
            }
            uint8_t buf[4096];
            const ssize_t n = read(pfd.fd, buf, sizeof buf);
            if (n <= 0) {
                if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                    retryAt[e] = now + kRetry; // EIO: no slave open at the moment
                }
                continue;
            }
            LineCounters delta;
            TakeIn(lanes[e], buf, static_cast<std::size_t>(n), cut, settings[e].flipRate,
                   settings[e].dropRate, byteTime, now, delta);
            std::lock_guard lock(mutex_);
            LineCounters& c = counters_[e];
            c.swallowed += delta.swallowed;
            c.dropped += delta.dropped;
            c.flippedBits += delta.flippedBits;
            c.flippedBytes += delta.flippedBytes;
        }

        Clock::time_point deadline = Clock::time_point::max();
        for (int d = 0; d < 2; ++d) {
            const End& to = ends_[1 - d];
            if (now < retryAt[1 - d]) {
                continue;
            }
            if (!HandOver(lanes[d], to.master.Get(), to.slave.Get(), settings[d].sizes,
                          settings[d].randomMax, now, deadline, mutex_, counters_[d].relayed)) {
                retryAt[1 - d] = now + kRetry;
            }
        }

        for (int e = 0; e < 2; ++e) {
            fds[1 + e] = {-1, 0, 0};
            if (now < retryAt[e]) {
                deadline = std::min(deadline, retryAt[e]);
                continue;
            }
            short events = 0;
            if (lanes[e].queue.size() < kMaxQueued) {
                events |= POLLIN;
            }
            if (lanes[1 - e].waitWritable) {
                events |= POLLOUT;
            }
            if (events != 0) {
                fds[1 + e] = {ends_[e].master.Get(), events, 0};
            }
        }
        timespec timeout{};
        timespec* wait = nullptr;
        if (deadline != Clock::time_point::max()) {
            const auto left = std::max(deadline - Clock::now(), Clock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
            wait = &timeout;
        }
        if (ppoll(fds, 3, wait, nullptr) < 0) {
            for (pollfd& pfd : fds) {
                pfd.revents = 0;
            }
        }
    }
}

UniqueFd OpenRaw(const std::string& path) {
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        Fail("open");
    }
    MakeRaw(fd.Get());
    return fd;
}

void WriteAll(int fd, const void* data, std::size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            Fail("write");
        }
        pollfd pfd{fd, POLLOUT, 0};
        const int ready = poll(&pfd, 1, kWriteTimeoutMs);
        if (ready == 0) {
            errno = ETIMEDOUT;
        }
        if (ready <= 0 && errno != EINTR) {
            Fail("write: no room");
        }
    }
}

namespace {

// Reads up to max bytes into out before the deadline; false once the fd fails.
bool ReadUntil(int fd, std::size_t max, Clock::time_point deadline, std::vector<uint8_t>& out) {
    while (max > 0) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, MsUntil(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return ready == 0;
        }
        uint8_t buf[4096];
        const ssize_t n = read(fd, buf, std::min(max, sizeof buf));
        if (n > 0) {
            out.insert(out.end(), buf, buf + n);
            max -= static_cast<std::size_t>(n);
            if (Clock::now() >= deadline) {
                break;
            }
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<uint8_t> ReadFor(int fd, int ms) {
    std::vector<uint8_t> out;
    ReadUntil(fd, SIZE_MAX, Clock::now() + std::chrono::milliseconds(ms), out);
    return out;
}

bool ReadExactly(int fd, std::size_t n, int timeoutMs, std::vector<uint8_t>& out) {
    out.clear();
    ReadUntil(fd, n, Clock::now() + std::chrono::milliseconds(timeoutMs), out);
    return out.size() == n;
}

} // namespace quorvik
