// The codec library as built, loaded the way the program loads it.
#include "link/Codec.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace quorvik {
namespace {

constexpr char Sentinel = 0x5A;

class KelvaneTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<std::string> messages;
        codec_ = LoadCodecFrom(QUORVIK_BIN_DIR "/libKelvane.so", messages);
        ASSERT_TRUE(messages.empty()) << messages.front();
        ASSERT_NE(codec_.CodeProc, nullptr);
        ASSERT_NE(codec_.DecodeProc, nullptr);
    }
    void TearDown() override {
        if (codec_.Library != nullptr) {
            dlclose(codec_.Library);
        }
    }

    // Encodes into a zeroed buffer one byte longer than the result.
    std::string Encode(const std::string& text) {
        std::string out(2 * text.size() + 1, '\0');
        EXPECT_EQ(codec_.CodeProc(out.data(), text.data(), static_cast<int32_t>(text.size())), 0);
        EXPECT_EQ(out.back(), '\0') << "wrote past 2 * length";
        out.pop_back();
        return out;
    }

    // Decodes into a buffer of length / 2 plus guard bytes; checks the guard and
    // returns the result's low byte, the only part the program looks at.
    int DecodeGuarded(const std::string& data, std::string& text) {
        const auto half = data.size() / 2;
        std::string out(half + 16, Sentinel);
        const int32_t result =
            codec_.DecodeProc(out.data(), data.data(), static_cast<int32_t>(data.size()));
        EXPECT_EQ(out.substr(half), std::string(16, Sentinel)) << "wrote past length / 2";
        text = out.substr(0, half);
        return result & 0xFF;
    }

    void ExpectRoundTrip(const std::string& text) {
        const std::string data = Encode(text);
        ASSERT_EQ(data.size(), 2 * text.size());
        for (char byte : data) {
            ASSERT_GT(static_cast<uint8_t>(byte), 0x02) << "a control byte in the encoding";
        }
        std::string decoded;
        ASSERT_EQ(DecodeGuarded(data, decoded), 0);
        EXPECT_EQ(decoded, text);
    }

    // The 16 codewords, as the encoding of the bytes 00 to 0F ends in them.
    std::vector<char> Codewords() {
        std::vector<char> words;
        for (int half = 0; half < 16; ++half) {
            words.push_back(Encode(std::string(1, static_cast<char>(half)))[1]);
        }
        return words;
    }

    Codec codec_;
};

TEST_F(KelvaneTest, RoundTripsEveryByteValueAndRandomTexts) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    ExpectRoundTrip(all);
    ExpectRoundTrip("");

    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> length(1, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int trial = 0; trial < 200; ++trial) {
        std::string text(length(random), '\0');
        for (char& c : text) {
            c = static_cast<char>(byte(random));
        }
        ExpectRoundTrip(text);
    }
}

TEST_F(KelvaneTest, AcceptsExactlyTheSixteenCodewords) {
    const auto words = Codewords();
    int accepted = 0;
    for (int byte = 0; byte < 256; ++byte) {
        std::string decoded;
        std::string data{words[0], static_cast<char>(byte)};
        accepted += DecodeGuarded(data, decoded) == 0 ? 1 : 0;
    }
    EXPECT_EQ(accepted, 16);
}

TEST_F(KelvaneTest, RefusesEveryOneToThreeBitError) {
    const auto words = Codewords();
    const char valid = words[5];
    for (char word : words) {
        for (unsigned flips = 1; flips < 256; ++flips) {
            if (std::popcount(flips) > 3) {
                continue;
            }
            const char broken = static_cast<char>(static_cast<uint8_t>(word) ^ flips);
            std::string decoded;
            EXPECT_NE(DecodeGuarded({broken, valid}, decoded), 0)
                << std::hex << int(static_cast<uint8_t>(word)) << " ^ " << flips;
            EXPECT_NE(DecodeGuarded({valid, broken}, decoded), 0)
                << std::hex << int(static_cast<uint8_t>(word)) << " ^ " << flips;
        }
    }
}

TEST_F(KelvaneTest, RefusesBadLengthsWithoutWriting) {
    const std::string input(8, static_cast<char>(0x87));
    for (int32_t length : {1, 3, 7, -1, -2, INT32_MIN}) {
        std::string out(16, Sentinel);
        EXPECT_NE(codec_.DecodeProc(out.data(), input.data(), length) & 0xFF, 0) << length;
        EXPECT_EQ(out, std::string(16, Sentinel)) << length;
    }
    for (int32_t length : {-1, INT32_MIN}) {
        std::string out(16, Sentinel);
        EXPECT_NE(codec_.CodeProc(out.data(), input.data(), length) & 0xFF, 0) << length;
        EXPECT_EQ(out, std::string(16, Sentinel)) << length;
    }
}

TEST_F(KelvaneTest, DamagedDataIsRefusedWithinHalfTheLength) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(1, 100);
    for (int trial = 0; trial < 300; ++trial) {
        std::string text(length(random), '\0');
        for (char& c : text) {
            c = static_cast<char>(byte(random));
        }
        std::string data = Encode(text);
        // A single damaged byte late in the data lets Decode write the most.
        const auto at = std::uniform_int_distribution<std::size_t>(0, data.size() - 1)(random);
        unsigned flips = 0;
        while (std::popcount(flips) < 1 || std::popcount(flips) > 3) {
            flips = static_cast<unsigned>(byte(random));
        }
        data[at] = static_cast<char>(static_cast<uint8_t>(data[at]) ^ flips);
        std::string decoded;
        EXPECT_NE(DecodeGuarded(data, decoded), 0);

        std::string garbage(2 * text.size(), '\0');
        for (char& c : garbage) {
            c = static_cast<char>(byte(random));
        }
        DecodeGuarded(garbage, decoded);
    }
}

} // namespace
} // namespace quorvik
