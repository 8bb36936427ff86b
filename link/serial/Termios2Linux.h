// The kernel's termios2 interface (TCGETS2/TCSETS2), which carries any baud
// rate. Kept behind a plain struct because <asm/termbits.h> cannot be
// included beside <termios.h>; the flag bits are the same in both.
#pragma once

#include <array>
#include <cstdint>

namespace serial {

struct Termios2 {
    uint32_t iflag = 0;
    uint32_t oflag = 0;
    uint32_t cflag = 0;
    uint32_t lflag = 0;
    uint8_t line = 0;
    std::array<uint8_t, 32> cc{}; // indexed like termios' c_cc
    uint32_t ispeed = 0;
    uint32_t ospeed = 0;
};

// Both return 0 or the errno value of the failed call.
int GetTermios2(int fd, Termios2& t);
int SetTermios2(int fd, const Termios2& t);

// Sets both directions to baud, given as a number rather than a B-constant.
void SetAnySpeed(Termios2& t, uint32_t baud);

} // namespace serial
