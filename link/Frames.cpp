#include "link/Frames.h"

#include <algorithm>
#include <iterator>

namespace quorvik {
namespace {

// Index + 1 is the code on the line.
constexpr std::array<uint32_t, 15> BaudTable = {110,   300,   600,    1200,   2400,
                                                4800,  9600,  14400,  19200,  38400,
                                                56000, 57600, 115200, 128000, 256000};
constexpr std::array<uint8_t, 5> ParityTable = {serial::EVENPARITY, serial::MARKPARITY,
                                                serial::NOPARITY, serial::ODDPARITY,
                                                serial::SPACEPARITY};
constexpr std::array<uint8_t, 3> StopBitsTable = {serial::ONESTOPBIT, serial::ONE5STOPBITS,
                                                  serial::TWOSTOPBITS};

template <typename T, std::size_t N> uint8_t CodeOf(const std::array<T, N>& table, T value) {
    const auto it = std::find(table.begin(), table.end(), value);
    return it == table.end() ? 0 : static_cast<uint8_t>(std::distance(table.begin(), it) + 1);
}

template <typename T, std::size_t N>
bool ValueOf(const std::array<T, N>& table, uint8_t code, T& value) {
    if (code == 0 || code > N) {
        return false;
    }
    value = table[code - 1];
    return true;
}

// The receiver widens each byte with its sign.
uint32_t Widened(uint8_t byte) {
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte)));
}

} // namespace

std::array<uint8_t, 3> ControlFrame(Command command) {
    return {StartByte, command, EndByte};
}

Frame8 PortParamsFrame(const serial::Dcb& dcb) {
    return {StartByte,
            CmdPortParams,
            BaudCode(dcb.BaudRate),
            static_cast<uint8_t>(dcb.fParity() ? 1 : 2),
            ParityCode(dcb.Parity),
            dcb.ErrorChar,
            dcb.ByteSize,
            StopBitsCode(dcb.StopBits)};
}

Frame8 TimeoutsFrame(const serial::CommTimeouts& timeouts) {
    return {StartByte,
            CmdTimeouts,
            static_cast<uint8_t>(timeouts.ReadIntervalTimeout),
            static_cast<uint8_t>(timeouts.ReadTotalTimeoutMultiplier),
            static_cast<uint8_t>(timeouts.ReadTotalTimeoutConstant),
            static_cast<uint8_t>(timeouts.WriteTotalTimeoutMultiplier),
            static_cast<uint8_t>(timeouts.WriteTotalTimeoutConstant),
            EndByte};
}

std::vector<uint8_t> MessageFrame(const std::vector<uint8_t>& encoded) {
    const std::size_t n = encoded.size();
    std::vector<uint8_t> frame;
    frame.reserve(n + 5);
    frame.push_back(StartByte);
    frame.push_back(CmdMessage);
    frame.push_back(static_cast<uint8_t>(n & 0xFF));
    frame.push_back(static_cast<uint8_t>((n >> 8) & 0xFF));
    frame.insert(frame.end(), encoded.begin(), encoded.end());
    frame.push_back(EndByte);
    return frame;
}

uint8_t BaudCode(uint32_t baudRate) {
    return CodeOf(BaudTable, baudRate);
}
uint8_t ParityCode(uint8_t parity) {
    return CodeOf(ParityTable, parity);
}
uint8_t StopBitsCode(uint8_t stopBits) {
    return CodeOf(StopBitsTable, stopBits);
}

bool BaudFromCode(uint8_t code, uint32_t& baudRate) {
    return ValueOf(BaudTable, code, baudRate);
}
bool ParityFromCode(uint8_t code, uint8_t& parity) {
    return ValueOf(ParityTable, code, parity);
}
bool StopBitsFromCode(uint8_t code, uint8_t& stopBits) {
    return ValueOf(StopBitsTable, code, stopBits);
}

void ApplyPortParams(const Frame8& frame, serial::Dcb& dcb) {
    BaudFromCode(frame[2], dcb.BaudRate);
    dcb.SetFlag(serial::Dcb::fParityBit, frame[3] == 1);
    ParityFromCode(frame[4], dcb.Parity);
    dcb.SetFlag(serial::Dcb::fErrorCharBit, false);
    dcb.ErrorChar = frame[5];
    dcb.ByteSize = frame[6];
    StopBitsFromCode(frame[7], dcb.StopBits);
}

void ApplyTimeouts(const Frame8& frame, serial::CommTimeouts& timeouts) {
    timeouts.ReadIntervalTimeout = Widened(frame[2]);
    timeouts.ReadTotalTimeoutMultiplier = Widened(frame[3]);
    timeouts.ReadTotalTimeoutConstant = Widened(frame[4]);
    timeouts.WriteTotalTimeoutMultiplier = Widened(frame[5]);
    timeouts.WriteTotalTimeoutConstant = Widened(frame[6]);
}

} // namespace quorvik
