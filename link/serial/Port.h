// The serial port as the link needs it: open by name, purge, clear break,
// port parameters and timeouts, count/read/write, and a wait for incoming
// bytes that another thread can end at once. One backend per platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace serial {

// Failures of this layer. Message() gives the system's text for each.
enum class Error {
    None,        // success
    NotFound,    // no such device or file
    Busy,        // another opener holds the port
    Access,      // permission denied
    NotTerminal, // the name opened but is not a serial device
    Unsupported, // a parameter the port cannot take; the port is unchanged
    Io,          // the device failed or went away (EIO, hang-up)
    Cancelled,   // the wait or write was ended by Cancel()
    Closed,      // the port is not open
};

const char* Message(Error error);

// Parity codes as the port-parameter block holds them.
enum : uint8_t { NOPARITY = 0, ODDPARITY = 1, EVENPARITY = 2, MARKPARITY = 3, SPACEPARITY = 4 };
// Stop-bit codes as the port-parameter block holds them.
enum : uint8_t { ONESTOPBIT = 0, ONE5STOPBITS = 1, TWOSTOPBITS = 2 };

// The members of the port-parameter block the program uses. The three
// switches live in one flags word at the bit places the settings file stores.
struct Dcb {
    static constexpr uint32_t fParityBit = 1u << 1;
    static constexpr uint32_t fErrorCharBit = 1u << 10;
    static constexpr uint32_t fNullBit = 1u << 11;

    uint32_t BaudRate = 0;
    uint32_t Flags = 0;
    uint8_t ByteSize = 0;
    uint8_t Parity = 0;
    uint8_t StopBits = 0;
    uint8_t ErrorChar = 0;

    bool fParity() const { return Flags & fParityBit; }
    bool fErrorChar() const { return Flags & fErrorCharBit; }
    bool fNull() const { return Flags & fNullBit; }
    void SetFlag(uint32_t bit, bool on) { Flags = on ? (Flags | bit) : (Flags & ~bit); }

    bool operator==(const Dcb&) const = default;
};

struct CommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;

    bool operator==(const CommTimeouts&) const = default;
};

enum class WaitResult { Readable, Cancelled, Timeout, Failed };

// An open serial port. Closing restores the terminal settings found at open.
// Reading, writing and settings may be used from different threads at once.
class Port {
public:
    // A name that exists as a path is opened as it stands; otherwise "ComN"
    // in any letter case means the N-th serial device. Opening is exclusive.
    static std::unique_ptr<Port> Open(const std::string& name, Error& error);

    ~Port();
    Port(const Port&) = delete;
    Port& operator=(const Port&) = delete;

    Error Purge();      // drop both directions' queued bytes
    Error ClearBreak(); // end any break state

    Error GetState(Dcb& dcb) const;
    // Applies every member or none: a refused value leaves the port as it was.
    Error SetState(const Dcb& dcb);
    Error GetTimeouts(CommTimeouts& timeouts) const;
    Error SetTimeouts(const CommTimeouts& timeouts);

    // Bytes waiting to be read.
    Error BytesWaiting(std::size_t& count) const;
    // Reads what is there, up to size bytes, without waiting; got may be 0.
    Error Read(uint8_t* data, std::size_t size, std::size_t& got);
    // Waits up to timeoutMs (negative: no limit) for bytes to read.
    WaitResult WaitReadable(int timeoutMs);
    // Writes all bytes, waiting for room as needed, unless cancelled.
    Error Write(const uint8_t* data, std::size_t size);
    // Waits until every written byte has left the port.
    Error Drain();
    // Ends every present and future wait and write at once (used before close).
    void Cancel();

    struct Impl;

private:
    explicit Port(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The name the backend opens for a port name: a name that exists as a path
// stays as it is; "ComN" in any letter case (N >= 1) names the N-th serial
// device; any other name stays as it is.
std::string ResolvePortName(const std::string& name);

// What the port parameters ask of received bytes. With `marked` the bytes
// carry the line discipline's error marks: 0xFF 0x00 X for a byte X received
// with an error, 0xFF 0xFF for a literal 0xFF.
struct ReceiveFilter {
    bool marked = false;
    bool replaceErrors = false; // a byte received with an error becomes errorChar
    uint8_t errorChar = 0;
    bool dropNul = false; // received NUL bytes are discarded
};

// The start of a mark cut off at the end of one read, kept for the next.
struct ReceiveMarks {
    uint8_t held = 0; // 0, 1 (0xFF) or 2 (0xFF 0x00)
};

// Appends to out the bytes the program sees for the size bytes read.
void FilterReceived(const ReceiveFilter& filter, ReceiveMarks& marks, const uint8_t* data,
                    std::size_t size, std::vector<uint8_t>& out);

} // namespace serial
