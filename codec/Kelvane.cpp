// The message codec: each 4-bit half of a byte becomes one byte of the
// extended Hamming (8,4) code. The code's minimum distance of 4 lets Decode
// refuse every byte with 1 to 3 flipped bits; a one-bit mask keeps the line's
// control bytes 00, 01 and 02 out of the encoded data.
#include <array>
#include <cstddef>
#include <cstdint>

#define KELVANE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t Ok = 0;
constexpr int32_t BadArguments = 1;
constexpr int32_t BadData = 2;

// Every codeword is XORed with this; the unmasked code holds 00, and 01/02
// would be at distance 1 from it.
constexpr uint8_t Mask = 0x80;
constexpr uint8_t NotACodeword = 0xFF;

// Systematic form: the half in the low 4 bits, above it 4 parity bits, each
// the XOR of the three other data bits.
constexpr uint8_t Codeword(unsigned half) {
    unsigned parity = 0;
    for (unsigned i = 0; i < 4; ++i) {
        unsigned others = 0;
        for (unsigned j = 0; j < 4; ++j) {
            if (j != i) {
                others ^= (half >> j) & 1u;
            }
        }
        parity |= others << i;
    }
    return static_cast<uint8_t>((half | (parity << 4)) ^ Mask);
}

constexpr std::array<uint8_t, 16> MakeCodeTable() {
    std::array<uint8_t, 16> table{};
    for (unsigned half = 0; half < 16; ++half) {
        table[half] = Codeword(half);
    }
    return table;
}

constexpr std::array<uint8_t, 256> MakeDecodeTable(const std::array<uint8_t, 16>& code) {
    std::array<uint8_t, 256> table{};
    table.fill(NotACodeword);
    for (unsigned half = 0; half < 16; ++half) {
        table[code[half]] = static_cast<uint8_t>(half);
    }
    return table;
}

constexpr auto CodeTable = MakeCodeTable();
constexpr auto DecodeTable = MakeDecodeTable(CodeTable);

constexpr bool AvoidsControlBytes() {
    for (uint8_t word : CodeTable) {
        if (word <= 0x02) {
            return false;
        }
    }
    return true;
}

constexpr int MinimumDistance() {
    int minimum = 8;
    for (unsigned a = 0; a < 16; ++a) {
        for (unsigned b = a + 1; b < 16; ++b) {
            int distance = 0;
            for (unsigned bits = CodeTable[a] ^ CodeTable[b]; bits != 0; bits &= bits - 1) {
                ++distance;
            }
            minimum = distance < minimum ? distance : minimum;
        }
    }
    return minimum;
}

static_assert(AvoidsControlBytes(), "a codeword is 00, 01 or 02");
static_assert(MinimumDistance() >= 4, "the code cannot detect every 3-bit error");

} // namespace

KELVANE_EXPORT int32_t Code(char* out, const char* text, int32_t length) {
    if (length < 0 || (length > 0 && (out == nullptr || text == nullptr))) {
        return BadArguments;
    }
    for (int32_t i = 0; i < length; ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        const std::size_t at = 2 * static_cast<std::size_t>(i);
        out[at] = static_cast<char>(CodeTable[byte >> 4]);
        out[at + 1] = static_cast<char>(CodeTable[byte & 0x0F]);
    }
    return Ok;
}

KELVANE_EXPORT int32_t Decode(char* out, const char* data, int32_t length) {
    if (length < 0 || length % 2 != 0 || (length > 0 && (out == nullptr || data == nullptr))) {
        return BadArguments;
    }
    for (int32_t i = 0; i < length / 2; ++i) {
        const std::size_t at = 2 * static_cast<std::size_t>(i);
        const uint8_t high = DecodeTable[static_cast<uint8_t>(data[at])];
        const uint8_t low = DecodeTable[static_cast<uint8_t>(data[at + 1])];
        if (high == NotACodeword || low == NotACodeword) {
            return BadData;
        }
        out[i] = static_cast<char>((high << 4) | low);
    }
    return Ok;
}
