// The seven frames of the line, byte for byte, and the three code tables.
#pragma once

#include "link/serial/Port.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvik {

inline constexpr uint8_t StartByte = 0x01;
inline constexpr uint8_t EndByte = 0x02;

enum Command : uint8_t {
    CmdMessage = 1,
    CmdPortParams = 2,
    CmdTimeouts = 3,
    CmdHello = 4,
    CmdBye = 5,
    CmdAck = 6,
    CmdResend = 7,
};

// The longest text whose encoding fits the signed 16-bit length field.
inline constexpr int MaxTextLength = 16383;

using Frame8 = std::array<uint8_t, 8>;

std::array<uint8_t, 3> ControlFrame(Command command); // Hello, Bye, Ack, Resend
Frame8 PortParamsFrame(const serial::Dcb& dcb);
Frame8 TimeoutsFrame(const serial::CommTimeouts& timeouts);
// 01 01 length(2, little-endian) data 02; data.size() must be at most 32767.
std::vector<uint8_t> MessageFrame(const std::vector<uint8_t>& encoded);

// Code tables. A value outside a table gives code 0, which every receiver ignores.
uint8_t BaudCode(uint32_t baudRate);
uint8_t ParityCode(uint8_t parity);
uint8_t StopBitsCode(uint8_t stopBits);
// A code outside its table returns false and leaves the value alone.
bool BaudFromCode(uint8_t code, uint32_t& baudRate);
bool ParityFromCode(uint8_t code, uint8_t& parity);
bool StopBitsFromCode(uint8_t code, uint8_t& stopBits);

// The receiver's rules: fParity only for 1, fErrorChar cleared, fNull kept,
// a code outside its table leaves its member unchanged.
void ApplyPortParams(const Frame8& frame, serial::Dcb& dcb);
// Each timeout byte widened with its sign: FF arrives as 4294967295.
void ApplyTimeouts(const Frame8& frame, serial::CommTimeouts& timeouts);

} // namespace quorvik
