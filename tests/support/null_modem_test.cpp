#include "tests/support/NullModem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <random>

#include <poll.h>
#include <unistd.h>

namespace quorvik {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<uint8_t> Payload(std::size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) {
        // Every value shows up, control characters a terminal would eat included.
        bytes[i] = i < 256 ? static_cast<uint8_t>(i) : static_cast<uint8_t>(rng());
    }
    return bytes;
}

// Reads n bytes and the size of each read that brought them.
std::vector<std::size_t> ReadPieces(int fd, std::size_t n, std::vector<uint8_t>& out) {
    std::vector<std::size_t> sizes;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (out.size() < n && Clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) {
            continue;
        }
        uint8_t buf[4096];
        const ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0) {
            out.insert(out.end(), buf, buf + got);
            sizes.push_back(static_cast<std::size_t>(got));
        }
    }
    return sizes;
}

class NullModemTest : public ::testing::Test {
protected:
    NullModem modem{42};
    UniqueFd a = OpenRaw(modem.PortA());
    UniqueFd b = OpenRaw(modem.PortB());
};

struct SizesCase {
    const char* name;
    ReadSizes sizes;
    std::size_t largest; // largest read a prompt reader should see; 0: any
};

class ReadSizesTest : public NullModemTest, public ::testing::WithParamInterface<SizesCase> {};

TEST_P(ReadSizesTest, BytesCrossIntactBothWaysInPiecesOfTheSize) {
    const SizesCase& c = GetParam();
    modem.SetReadSizes(c.sizes, 5);
    const auto toB = Payload(2000, 1);
    const auto toA = Payload(1500, 2);
    WriteAll(a.Get(), toB.data(), toB.size());
    WriteAll(b.Get(), toA.data(), toA.size());

    std::vector<uint8_t> atB;
    std::vector<uint8_t> atA;
    const auto piecesB = ReadPieces(b.Get(), toB.size(), atB);
    const auto piecesA = ReadPieces(a.Get(), toA.size(), atA);
    EXPECT_EQ(atB, toB);
    EXPECT_EQ(atA, toA);
    EXPECT_EQ(modem.Counters(Direction::AtoB).relayed, toB.size());
    EXPECT_EQ(modem.Counters(Direction::BtoA).relayed, toA.size());

    if (c.largest != 0) {
        // Scheduling can merge an odd piece; the pattern must still dominate.
        for (const auto& pieces : {piecesA, piecesB}) {
            const auto small = std::count_if(pieces.begin(), pieces.end(),
                                             [&](std::size_t n) { return n <= c.largest; });
            EXPECT_GE(small * 10, static_cast<long>(pieces.size()) * 9) << c.name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, ReadSizesTest,
                         ::testing::Values(SizesCase{"Whole", ReadSizes::Whole, 0},
                                           SizesCase{"One", ReadSizes::One, 1},
                                           SizesCase{"Eight", ReadSizes::Eight, 8},
                                           SizesCase{"Random", ReadSizes::Random, 5}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(NullModemTest, LineRateDelaysBytesAsTheLineWould) {
    modem.SetLineRate(9600);
    const auto sent = Payload(960, 3);
    const auto start = Clock::now();
    WriteAll(a.Get(), sent.data(), sent.size());
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadExactly(b.Get(), sent.size(), 5000, got));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(800));
    EXPECT_EQ(got, sent);

    // Bytes still on the way when the cable goes away are no obstacle.
    WriteAll(b.Get(), sent.data(), sent.size());
}

TEST_F(NullModemTest, FlippedBitsMatchTheCounterAndStayInTheirDirection) {
    modem.SetFlipRate(Direction::AtoB, 1.0 / 8);
    const auto sent = Payload(2000, 4);
    WriteAll(a.Get(), sent.data(), sent.size());
    std::vector<uint8_t> got;
    ASSERT_TRUE(ReadExactly(b.Get(), sent.size(), 5000, got));

    uint64_t bits = 0;
    uint64_t bytes = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        bits += static_cast<uint64_t>(std::popcount(static_cast<unsigned>(sent[i] ^ got[i])));
        bytes += sent[i] != got[i];
    }
    const LineCounters c = modem.Counters(Direction::AtoB);
    EXPECT_EQ(c.flippedBits, bits);
    EXPECT_EQ(c.flippedBytes, bytes);
    // 16000 bits at one in eight: about 2000.
    EXPECT_GT(bits, 1500u);
    EXPECT_LT(bits, 2500u);

    WriteAll(b.Get(), sent.data(), sent.size());
    ASSERT_TRUE(ReadExactly(a.Get(), sent.size(), 5000, got));
    EXPECT_EQ(got, sent);
    EXPECT_EQ(modem.Counters(Direction::BtoA).flippedBits, 0u);
}

TEST_F(NullModemTest, DroppedBytesLeaveTheRestInOrder) {
    modem.SetDropRate(0.5);
    const auto sent = Payload(2000, 5);
    WriteAll(a.Get(), sent.data(), sent.size());
    const auto got = ReadFor(b.Get(), 500);

    const LineCounters c = modem.Counters(Direction::AtoB);
    EXPECT_EQ(c.dropped + got.size(), sent.size());
    EXPECT_EQ(c.relayed, got.size());
    EXPECT_GT(c.dropped, 500u);
    EXPECT_LT(c.dropped, 1500u);
    // What arrives is the sent stream with holes.
    auto at = sent.begin();
    for (uint8_t byte : got) {
        at = std::find(at, sent.end(), byte);
        ASSERT_NE(at, sent.end());
        ++at;
    }
}

TEST_F(NullModemTest, CutSwallowsBothWaysThenRejoins) {
    const auto sent = Payload(300, 6);
    modem.Cut(true);
    WriteAll(a.Get(), sent.data(), sent.size());
    WriteAll(b.Get(), sent.data(), sent.size());
    EXPECT_TRUE(ReadFor(b.Get(), 300).empty());
    EXPECT_TRUE(ReadFor(a.Get(), 100).empty());
    EXPECT_EQ(modem.Counters(Direction::AtoB).swallowed, sent.size());
    EXPECT_EQ(modem.Counters(Direction::BtoA).swallowed, sent.size());

    modem.Cut(false);
    std::vector<uint8_t> got;
    WriteAll(a.Get(), sent.data(), sent.size());
    ASSERT_TRUE(ReadExactly(b.Get(), sent.size(), 5000, got));
    EXPECT_EQ(got, sent);
    WriteAll(b.Get(), sent.data(), sent.size());
    ASSERT_TRUE(ReadExactly(a.Get(), sent.size(), 5000, got));
    EXPECT_EQ(got, sent);
}

TEST_F(NullModemTest, CutLosesTheBytesOnTheWay) {
    modem.SetLineRate(1200); // 120 bytes/s
    const auto sent = Payload(120, 7);
    WriteAll(a.Get(), sent.data(), sent.size());
    auto got = ReadFor(b.Get(), 300);
    modem.Cut(true);
    const auto late = ReadFor(b.Get(), 300);
    got.insert(got.end(), late.begin(), late.end());

    const LineCounters c = modem.Counters(Direction::AtoB);
    EXPECT_GT(c.swallowed, 0u);
    EXPECT_EQ(c.relayed, got.size());
    EXPECT_EQ(c.relayed + c.swallowed, sent.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));
}

TEST_F(NullModemTest, PortClosedAndReopenedStillWorks) {
    const auto sent = Payload(500, 8);
    std::vector<uint8_t> got;
    for (int round = 0; round < 2; ++round) {
        a.Reset();
        // Bytes for the closed end wait for it, as in a receive buffer.
        WriteAll(b.Get(), sent.data(), sent.size());
        a = OpenRaw(modem.PortA());
        ASSERT_TRUE(ReadExactly(a.Get(), sent.size(), 5000, got));
        EXPECT_EQ(got, sent);

        WriteAll(a.Get(), sent.data(), sent.size());
        ASSERT_TRUE(ReadExactly(b.Get(), sent.size(), 5000, got));
        EXPECT_EQ(got, sent);
    }
}

} // namespace
} // namespace quorvik
