// The Linux backend: a terminal device through termios, poll and eventfd.
#include "link/serial/Port.h"
#include "link/serial/Termios2Linux.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace serial {
namespace {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

Error OpenError(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return Error::NotFound;
    case EBUSY:
        return Error::Busy;
    case EACCES:
    case EPERM:
    case EROFS:
        return Error::Access;
    case EISDIR:
        return Error::NotTerminal;
    default:
        return Error::Io;
    }
}

bool IsPseudoTerminal(int fd) {
    int number = 0;
    if (ioctl(fd, TIOCGPTN, &number) == 0) {
        return true; // a master
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return false;
    }
    const unsigned m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 2 || m == 3; // Unix98 slaves, legacy ptys
}

void MakeRaw(Termios2& t) {
    t.iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                 IXOFF | IXANY | IUCLC | IMAXBEL);
    t.oflag &= ~OPOST;
    t.lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.cflag &= ~(CSIZE | PARENB);
    t.cflag |= CS8 | CLOCAL | CREAD;
    // One byte satisfies a read, so a read of an empty queue fails with EAGAIN
    // and a read of 0 bytes means the line hung up.
    t.cc[VMIN] = 1;
    t.cc[VTIME] = 0;
}

constexpr tcflag_t kFrameBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;

tcflag_t SizeBits(uint8_t byteSize) {
    switch (byteSize) {
    case 5:
        return CS5;
    case 6:
        return CS6;
    case 7:
        return CS7;
    default:
        return CS8;
    }
}

tcflag_t ParityBits(uint8_t parity) {
    switch (parity) {
    case ODDPARITY:
        return PARENB | PARODD;
    case EVENPARITY:
        return PARENB;
    case MARKPARITY:
        return PARENB | CMSPAR | PARODD;
    case SPACEPARITY:
        return PARENB | CMSPAR;
    default:
        return 0;
    }
}

tcflag_t FrameBits(const Dcb& dcb) {
    return SizeBits(dcb.ByteSize) | ParityBits(dcb.Parity) |
           (dcb.StopBits == ONESTOPBIT ? 0 : CSTOPB);
}

// The members of the parameter block the terminal settings express.
Dcb DcbFromTermios(const Termios2& t) {
    Dcb dcb;
    dcb.BaudRate = t.ospeed;
    switch (t.cflag & CSIZE) {
    case CS5:
        dcb.ByteSize = 5;
        break;
    case CS6:
        dcb.ByteSize = 6;
        break;
    case CS7:
        dcb.ByteSize = 7;
        break;
    default:
        dcb.ByteSize = 8;
        break;
    }
    dcb.Parity = NOPARITY;
    for (uint8_t p : {ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY}) {
        if ((t.cflag & (PARENB | PARODD | CMSPAR)) == ParityBits(p)) {
            dcb.Parity = p;
        }
    }
    if (t.cflag & CSTOPB) {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    }
    dcb.SetFlag(Dcb::fParityBit, t.iflag & INPCK);
    return dcb;
}

bool Valid(const Dcb& dcb) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY) {
        return false;
    }
    return dcb.StopBits == ONESTOPBIT || dcb.StopBits == TWOSTOPBITS ||
           (dcb.StopBits == ONE5STOPBITS && dcb.ByteSize == 5);
}

// Drivers round the rate to what their clock divides to; more than 2 % off
// means the rate was not taken.
bool NearRate(uint32_t actual, uint32_t wanted) {
    const uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
    return diff * 50 <= wanted;
}

// The read path's view of the parameter block, packed to be swapped whole.
uint32_t PackFilter(const Dcb& dcb) {
    const bool marked = dcb.fParity();
    return (marked ? 1u : 0u) | (marked && dcb.fErrorChar() ? 2u : 0u) | (dcb.fNull() ? 4u : 0u) |
           (uint32_t{dcb.ErrorChar} << 8);
}

ReceiveFilter UnpackFilter(uint32_t word) {
    ReceiveFilter filter;
    filter.marked = word & 1u;
    filter.replaceErrors = word & 2u;
    filter.dropNul = word & 4u;
    filter.errorChar = static_cast<uint8_t>(word >> 8);
    return filter;
}

// poll() for up to timeoutMs (negative: no limit), resumed after signals.
int PollFor(pollfd* fds, nfds_t count, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        int wait = timeoutMs;
        if (timeoutMs > 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
        }
        const int r = poll(fds, count, wait);
        if (r >= 0 || errno != EINTR) {
            return r;
        }
    }
}

constexpr short kBroken = POLLHUP | POLLERR | POLLNVAL;

} // namespace

std::string ResolvePortName(const std::string& name) {
    struct stat st {};
    if (name.empty() || stat(name.c_str(), &st) == 0 || name.size() < 4) {
        return name;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(name[0]) != 'c' || lower(name[1]) != 'o' || lower(name[2]) != 'm' || name[3] == '0') {
        return name;
    }
    unsigned number = 0;
    const char* end = name.data() + name.size();
    const auto [at, ec] = std::from_chars(name.data() + 3, end, number);
    if (ec != std::errc() || at != end || number == 0) {
        return name;
    }
    return "/dev/ttyS" + std::to_string(number - 1);
}

void FilterReceived(const ReceiveFilter& filter, ReceiveMarks& marks, const uint8_t* data,
                    std::size_t size, std::vector<uint8_t>& out) {
    const auto emit = [&](uint8_t c) {
        if (!(filter.dropNul && c == 0)) {
            out.push_back(c);
        }
    };
    if (!filter.marked && marks.held > 0) {
        // Marking was switched off after the start of a mark: what was held is data.
        out.push_back(0xFF);
        if (marks.held == 2) {
            emit(0);
        }
        marks.held = 0;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (!filter.marked) {
            emit(c);
        } else if (marks.held == 0) {
            if (c == 0xFF) {
                marks.held = 1;
            } else {
                emit(c);
            }
        } else if (marks.held == 1) {
            marks.held = c == 0 ? 2 : 0;
            if (c == 0xFF) {
                out.push_back(0xFF);
            } else if (c != 0) {
                // Not a mark the line discipline makes: keep both bytes.
                out.push_back(0xFF);
                emit(c);
            }
        } else {
            marks.held = 0;
            if (!(filter.dropNul && c == 0)) {
                out.push_back(filter.replaceErrors ? filter.errorChar : c);
            }
        }
    }
}

struct Port::Impl {
    Fd fd;
    Fd wake; // eventfd, written once by Cancel and never read
    bool terminal = false;
    bool pseudo = false;
    bool exclusive = false;
    bool restore = false;
    Termios2 original;
    std::atomic<bool> cancelled{false};

    mutable std::mutex settingsMutex;
    Dcb applied;
    CommTimeouts timeouts;
    std::atomic<uint32_t> filter{0};

    mutable std::mutex readMutex;
    ReceiveMarks marks;
    std::vector<uint8_t> ready; // filtered bytes not yet handed out
    std::vector<uint8_t> raw;

    std::mutex writeMutex;

    ~Impl() {
        if (restore) {
            SetTermios2(fd.get(), original);
        }
        if (exclusive) {
            ioctl(fd.get(), TIOCNXCL);
        }
        if (fd.get() >= 0) {
            flock(fd.get(), LOCK_UN);
        }
    }

    // Bytes in the driver's input queue; 0 when it cannot tell.
    std::size_t Queued() const {
        int count = 0;
        return ioctl(fd.get(), FIONREAD, &count) == 0 && count > 0 ? std::size_t(count) : 0;
    }
};

Port::Port(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Port::~Port() = default;

std::unique_ptr<Port> Port::Open(const std::string& name, Error& error) {
    const std::string path = ResolvePortName(name);
    auto impl = std::make_unique<Impl>();
    impl->fd = Fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    const int fd = impl->fd.get();
    if (fd < 0) {
        error = OpenError(errno);
        return nullptr;
    }
    // TIOCEXCL does not bind root, so a lock keeps a second opener out as well.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        error = Error::Busy;
        return nullptr;
    }
    impl->terminal = isatty(fd) == 1;
    if (impl->terminal) {
        impl->exclusive = ioctl(fd, TIOCEXCL) == 0;
        impl->pseudo = IsPseudoTerminal(fd);
        if (GetTermios2(fd, impl->original) != 0) {
            error = Error::Io;
            return nullptr;
        }
        impl->restore = true;
        Termios2 t = impl->original;
        MakeRaw(t);
        if (SetTermios2(fd, t) != 0 || GetTermios2(fd, t) != 0) {
            error = Error::Io;
            return nullptr;
        }
        impl->applied = DcbFromTermios(t);
    }
    impl->wake = Fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (impl->wake.get() < 0) {
        error = Error::Io;
        return nullptr;
    }
    error = Error::None;
    return std::unique_ptr<Port>(new Port(std::move(impl)));
}

Error Port::Purge() {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    std::lock_guard lock(impl_->readMutex);
    if (tcflush(impl_->fd.get(), TCIOFLUSH) != 0) {
        return Error::Io;
    }
    impl_->ready.clear();
    impl_->marks = {};
    return Error::None;
}

Error Port::ClearBreak() {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    if (ioctl(impl_->fd.get(), TIOCCBRK) == 0) {
        return Error::None;
    }
    // A pseudo-terminal has no break to end.
    if (impl_->pseudo && (errno == ENOTTY || errno == EINVAL)) {
        return Error::None;
    }
    return Error::Io;
}

Error Port::GetState(Dcb& dcb) const {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    std::lock_guard lock(impl_->settingsMutex);
    Termios2 t;
    if (GetTermios2(impl_->fd.get(), t) != 0) {
        return Error::Io;
    }
    dcb = impl_->applied;
    // Someone else may have changed the rate since.
    if (t.ospeed != 0 && !NearRate(t.ospeed, dcb.BaudRate)) {
        dcb.BaudRate = t.ospeed;
    }
    return Error::None;
}

Error Port::SetState(const Dcb& dcb) {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    if (!Valid(dcb)) {
        return Error::Unsupported;
    }
    const int fd = impl_->fd.get();
    std::lock_guard lock(impl_->settingsMutex);
    Termios2 before;
    if (GetTermios2(fd, before) != 0) {
        return Error::Io;
    }
    Termios2 t = before;
    t.cflag = (t.cflag & ~kFrameBits) | FrameBits(dcb);
    t.iflag &= ~(INPCK | PARMRK | IGNPAR);
    if (dcb.fParity()) {
        t.iflag |= INPCK | PARMRK;
    }
    SetAnySpeed(t, dcb.BaudRate);
    if (const int err = SetTermios2(fd, t); err != 0) {
        SetTermios2(fd, before);
        return err == EINVAL ? Error::Unsupported : Error::Io;
    }
    Termios2 back;
    if (GetTermios2(fd, back) != 0) {
        return Error::Io;
    }
    // A pseudo-terminal forces 8 data bits and no parity whatever is asked;
    // a real driver that does so has refused the frame.
    const bool frameTaken = impl_->pseudo || (back.cflag & kFrameBits) == (t.cflag & kFrameBits);
    if (!frameTaken || !NearRate(back.ospeed, dcb.BaudRate)) {
        SetTermios2(fd, before);
        return Error::Unsupported;
    }
    impl_->applied = dcb;
    impl_->filter = PackFilter(dcb);
    return Error::None;
}

Error Port::GetTimeouts(CommTimeouts& timeouts) const {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    std::lock_guard lock(impl_->settingsMutex);
    timeouts = impl_->timeouts;
    return Error::None;
}

Error Port::SetTimeouts(const CommTimeouts& timeouts) {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    std::lock_guard lock(impl_->settingsMutex);
    impl_->timeouts = timeouts;
    return Error::None;
}

Error Port::BytesWaiting(std::size_t& count) const {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    int queued = 0;
    if (ioctl(impl_->fd.get(), FIONREAD, &queued) != 0) {
        return Error::Io;
    }
    std::lock_guard lock(impl_->readMutex);
    count = impl_->ready.size() + std::size_t(std::max(queued, 0));
    return Error::None;
}

Error Port::Read(uint8_t* data, std::size_t size, std::size_t& got) {
    got = 0;
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    if (size == 0) {
        return Error::None;
    }
    std::lock_guard lock(impl_->readMutex);
    auto& ready = impl_->ready;
    if (ready.empty()) {
        impl_->raw.resize(size);
        ssize_t n;
        do {
            n = ::read(impl_->fd.get(), impl_->raw.data(), size);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            return errno == EAGAIN ? Error::None : Error::Io;
        }
        if (n == 0) {
            return Error::Io; // hung up
        }
        FilterReceived(UnpackFilter(impl_->filter), impl_->marks, impl_->raw.data(), std::size_t(n),
                       ready);
    }
    got = std::min(size, ready.size());
    std::copy_n(ready.begin(), got, data);
    ready.erase(ready.begin(), ready.begin() + std::ptrdiff_t(got));
    return Error::None;
}

WaitResult Port::WaitReadable(int timeoutMs) {
    if (impl_->cancelled) {
        return WaitResult::Cancelled;
    }
    if (!impl_->terminal) {
        return WaitResult::Failed;
    }
    {
        std::lock_guard lock(impl_->readMutex);
        if (!impl_->ready.empty()) {
            return WaitResult::Readable;
        }
    }
    pollfd fds[2] = {{impl_->fd.get(), POLLIN, 0}, {impl_->wake.get(), POLLIN, 0}};
    const int r = PollFor(fds, 2, timeoutMs);
    if (r < 0) {
        return WaitResult::Failed;
    }
    if (fds[1].revents != 0) {
        return WaitResult::Cancelled;
    }
    if (r == 0) {
        return WaitResult::Timeout;
    }
    // A hung-up line keeps reporting itself; what it still holds is read first.
    if (fds[0].revents & kBroken) {
        return impl_->Queued() > 0 ? WaitResult::Readable : WaitResult::Failed;
    }
    return WaitResult::Readable;
}

Error Port::Write(const uint8_t* data, std::size_t size) {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    std::lock_guard lock(impl_->writeMutex);
    while (size > 0) {
        if (impl_->cancelled) {
            return Error::Cancelled;
        }
        const ssize_t n = ::write(impl_->fd.get(), data, size);
        if (n > 0) {
            data += n;
            size -= std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return Error::Io;
        }
        pollfd fds[2] = {{impl_->fd.get(), POLLOUT, 0}, {impl_->wake.get(), POLLIN, 0}};
        if (PollFor(fds, 2, -1) < 0) {
            return Error::Io;
        }
        if (fds[1].revents != 0) {
            return Error::Cancelled;
        }
        if (fds[0].revents & kBroken) {
            return Error::Io;
        }
    }
    return Error::None;
}

Error Port::Drain() {
    if (!impl_->terminal) {
        return Error::NotTerminal;
    }
    const int fd = impl_->fd.get();
    // Wait for the driver's queue in steps, so that Cancel can end the wait.
    for (;;) {
        if (impl_->cancelled) {
            return Error::Cancelled;
        }
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) {
            return Error::Io;
        }
        if (queued <= 0) {
            break;
        }
        pollfd wake{impl_->wake.get(), POLLIN, 0};
        PollFor(&wake, 1, 10);
    }
    int r;
    do {
        r = tcdrain(fd);
    } while (r != 0 && errno == EINTR);
    return r == 0 ? Error::None : Error::Io;
}

void Port::Cancel() {
    impl_->cancelled = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(impl_->wake.get(), &one, sizeof one);
}

} // namespace serial
