// A null-modem cable for tests: two pseudo-terminals whose master sides are
// joined by a relay thread. The code under test opens PortA() and PortB() as
// ordinary serial port names; the relay can slow the line to a bit rate, cut
// deliveries into small pieces, flip bits, drop bytes or cut the cable.
//
// The simulator keeps one idle descriptor of each slave open, so a port the
// program closes and opens again stays the same device. Bytes that arrive
// while the program's end is closed wait in the device's queue, as they
// would in a port's receive buffer; the program purges them on open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvik {

// An owned file descriptor.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset(int fd = -1);

private:
    int fd_ = -1;
};

// How the relay hands bytes over to the receiving end. Except for Whole, a
// piece is handed over only once the receiver has read the previous one, so
// each of its reads sees at most one piece. That costs about 0.3 ms a piece:
// a 32 KB frame takes some 10 s with One, 1 s with Eight.
enum class ReadSizes {
    Whole,  // everything available at once
    One,    // one byte per piece
    Eight,  // up to eight bytes per piece
    Random, // 1..N bytes per piece, from the seeded generator
};

enum class Direction { AtoB = 0, BtoA = 1 };

struct LineCounters {
    uint64_t relayed = 0;      // bytes handed to the receiving end
    uint64_t flippedBytes = 0; // bytes with at least one bit flipped
    uint64_t flippedBits = 0;
    uint64_t dropped = 0;   // bytes lost to the drop rate
    uint64_t swallowed = 0; // bytes lost to a cut cable
};

class NullModem {
public:
    // Throws std::system_error when the pseudo-terminals cannot be made.
    explicit NullModem(uint64_t seed = 1);
    ~NullModem();
    NullModem(const NullModem&) = delete;
    NullModem& operator=(const NullModem&) = delete;

    // Slave device paths, /dev/pts/N.
    std::string PortA() const { return ends_[0].path; }
    std::string PortB() const { return ends_[1].path; }

    // All settings apply at once, while bytes flow. Setters without a
    // direction set both.
    void SetReadSizes(ReadSizes sizes, std::size_t randomMax = 16);
    void SetReadSizes(Direction dir, ReadSizes sizes, std::size_t randomMax = 16);
    // Bytes arrive as a line of this many bit/s with 10 bits a byte; 0: no delay.
    void SetLineRate(uint32_t bitsPerSecond);
    // Chance of each bit to be inverted, 0..1.
    void SetFlipRate(double perBit);
    void SetFlipRate(Direction dir, double perBit);
    // Chance of each byte to be lost, 0..1.
    void SetDropRate(double perByte);
    void SetDropRate(Direction dir, double perByte);
    // A cut cable swallows every byte in both directions, those on the way too.
    void Cut(bool cut);

    LineCounters Counters(Direction dir) const;

private:
    struct Settings {
        ReadSizes sizes = ReadSizes::Whole;
        std::size_t randomMax = 16;
        double flipRate = 0;
        double dropRate = 0;
    };
    struct End {
        UniqueFd master;
        UniqueFd slave; // held open, never read
        std::string path;
    };

    void Changed();
    void Relay();

    End ends_[2];
    UniqueFd wake_; // eventfd: stop or settings changed
    uint64_t seed_;

    mutable std::mutex mutex_;
    Settings settings_[2];
    uint32_t lineRate_ = 0;
    bool cut_ = false;
    uint64_t cutGeneration_ = 0; // lets the relay drop bytes on the way at a cut
    bool stop_ = false;
    LineCounters counters_[2];

    std::thread thread_;
};

// Helpers for a test that plays a scripted peer on a port itself.

// Opens a terminal device read-write, non-blocking and raw (8N1, no echo,
// no translation). Throws std::system_error on failure.
UniqueFd OpenRaw(const std::string& path);
// Writes every byte, waiting for room. Throws std::system_error on failure.
void WriteAll(int fd, const void* data, std::size_t size);
// Everything that arrives within ms milliseconds.
std::vector<uint8_t> ReadFor(int fd, int ms);
// Reads exactly n bytes (never more) within timeoutMs; out holds what was read.
bool ReadExactly(int fd, std::size_t n, int timeoutMs, std::vector<uint8_t>& out);

} // namespace quorvik
