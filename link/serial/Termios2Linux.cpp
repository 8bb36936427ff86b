#include "link/serial/Termios2Linux.h"

#include <asm/termbits.h>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace serial {

static_assert(NCCS <= std::tuple_size_v<decltype(Termios2::cc)>);

int GetTermios2(int fd, Termios2& t) {
    termios2 k{};
    if (ioctl(fd, TCGETS2, &k) != 0) {
        return errno;
    }
    t.iflag = k.c_iflag;
    t.oflag = k.c_oflag;
    t.cflag = k.c_cflag;
    t.lflag = k.c_lflag;
    t.line = k.c_line;
    t.cc = {};
    std::memcpy(t.cc.data(), k.c_cc, NCCS);
    t.ispeed = k.c_ispeed;
    t.ospeed = k.c_ospeed;
    return 0;
}

int SetTermios2(int fd, const Termios2& t) {
    termios2 k{};
    k.c_iflag = t.iflag;
    k.c_oflag = t.oflag;
    k.c_cflag = t.cflag;
    k.c_lflag = t.lflag;
    k.c_line = t.line;
    std::memcpy(k.c_cc, t.cc.data(), NCCS);
    k.c_ispeed = t.ispeed;
    k.c_ospeed = t.ospeed;
    return ioctl(fd, TCSETS2, &k) == 0 ? 0 : errno;
}

void SetAnySpeed(Termios2& t, uint32_t baud) {
    // An input rate field of zero makes the input rate follow the output rate.
    t.cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.cflag |= BOTHER;
    t.ispeed = baud;
    t.ospeed = baud;
}

} // namespace serial
