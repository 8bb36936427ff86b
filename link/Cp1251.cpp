#include "link/Cp1251.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace quorvik {
namespace {

constexpr char32_t Undefined = 0xFFFD;

// Code points of the bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, // C0
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, // C8
    0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, // D0
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, // D8
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, // E0
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, // E8
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, // F0
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F, // F8
};

struct Reverse {
    char16_t codePoint;
    uint8_t byte;
};

// The defined high bytes sorted by code point, for a binary search.
constexpr auto ReverseTable = [] {
    std::array<Reverse, 127> table{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < High.size(); ++i) {
        if (High[i] != Undefined) {
            table[n++] = {High[i], static_cast<uint8_t>(0x80 + i)};
        }
    }
    std::sort(table.begin(), table.end(),
              [](const Reverse& a, const Reverse& b) { return a.codePoint < b.codePoint; });
    return table;
}();

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

int ByteOf(char32_t c) {
    if (c < 0x80) {
        return static_cast<int>(c);
    }
    const auto it = std::lower_bound(
        ReverseTable.begin(), ReverseTable.end(), c,
        [](const Reverse& entry, char32_t value) { return entry.codePoint < value; });
    return it != ReverseTable.end() && it->codePoint == c ? it->byte : -1;
}

// Decodes one character at text[i], advancing i. Returns -1 for an invalid
// sequence, leaving i after its longest valid start, so the next character is
// never swallowed.
int32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<uint8_t>(text[i++]);
    if (lead < 0x80) {
        return lead;
    }
    int extra = 0;
    char32_t c = 0;
    uint8_t low = 0x80;  // bounds of the second byte, which rule out overlong
    uint8_t high = 0xBF; // forms, surrogates and values beyond U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        c = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        c = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return -1;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size()) {
            return -1;
        }
        const auto next = static_cast<uint8_t>(text[i]);
        if (next < low || next > high) {
            return -1;
        }
        low = 0x80;
        high = 0xBF;
        c = (c << 6) | (next & 0x3F);
        ++i;
    }
    return static_cast<int32_t>(c);
}

} // namespace

std::string Cp1251ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char ch : text) {
        const auto byte = static_cast<uint8_t>(ch);
        if (byte < 0x80) {
            out += ch;
        } else {
            AppendUtf8(out, High[byte - 0x80]);
        }
    }
    return out;
}

std::string Utf8ToCp1251(std::string_view text, char replacement) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const int32_t c = NextCodePoint(text, i);
        const int byte = c < 0 ? -1 : ByteOf(static_cast<char32_t>(c));
        out += byte < 0 ? replacement : static_cast<char>(byte);
    }
    return out;
}

char32_t Cp1251CodePoint(unsigned char byte) {
    return byte < 0x80 ? byte : High[byte - 0x80];
}

int Cp1251Byte(char32_t codePoint) {
    return ByteOf(codePoint);
}

} // namespace quorvik
