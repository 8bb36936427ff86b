#include "link/Frames.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvik {
namespace {

using Bytes = std::vector<uint8_t>;

template <typename Frame> Bytes ToBytes(const Frame& frame) {
    return Bytes(frame.begin(), frame.end());
}

TEST(Frames, ControlFramesAreStartCommandEnd) {
    EXPECT_EQ(ToBytes(ControlFrame(CmdHello)), (Bytes{0x01, 0x04, 0x02}));
    EXPECT_EQ(ToBytes(ControlFrame(CmdBye)), (Bytes{0x01, 0x05, 0x02}));
    EXPECT_EQ(ToBytes(ControlFrame(CmdAck)), (Bytes{0x01, 0x06, 0x02}));
    EXPECT_EQ(ToBytes(ControlFrame(CmdResend)), (Bytes{0x01, 0x07, 0x02}));
}

TEST(Frames, MessageFrameCarriesLittleEndianLength) {
    // A 12-byte chat line encodes to 24 bytes.
    Bytes encoded(24);
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        encoded[i] = static_cast<uint8_t>(0x30 + i);
    }
    const Bytes frame = MessageFrame(encoded);
    ASSERT_EQ(frame.size(), 29u);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 4), (Bytes{0x01, 0x01, 0x18, 0x00}));
    EXPECT_EQ(Bytes(frame.begin() + 4, frame.end() - 1), encoded);
    EXPECT_EQ(frame.back(), 0x02);

    const Bytes longest = MessageFrame(Bytes(2 * MaxTextLength));
    ASSERT_EQ(longest.size(), 2u * MaxTextLength + 5);
    EXPECT_EQ(longest[2], 0xFE);
    EXPECT_EQ(longest[3], 0x7F);
}

TEST(Frames, CodeTablesRoundTripAndUnknownIsZero) {
    const uint32_t bauds[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                              19200, 38400, 56000, 57600, 115200, 128000, 256000};
    for (uint8_t code = 1; code <= 15; ++code) {
        EXPECT_EQ(BaudCode(bauds[code - 1]), code);
        uint32_t baud = 0;
        EXPECT_TRUE(BaudFromCode(code, baud));
        EXPECT_EQ(baud, bauds[code - 1]);
    }
    const uint8_t parities[] = {serial::EVENPARITY, serial::MARKPARITY, serial::NOPARITY,
                                serial::ODDPARITY, serial::SPACEPARITY};
    for (uint8_t code = 1; code <= 5; ++code) {
        EXPECT_EQ(ParityCode(parities[code - 1]), code);
    }
    EXPECT_EQ(StopBitsCode(serial::ONESTOPBIT), 1);
    EXPECT_EQ(StopBitsCode(serial::ONE5STOPBITS), 2);
    EXPECT_EQ(StopBitsCode(serial::TWOSTOPBITS), 3);

    EXPECT_EQ(BaudCode(0), 0);
    EXPECT_EQ(BaudCode(230400), 0);
    EXPECT_EQ(ParityCode(5), 0);
    EXPECT_EQ(StopBitsCode(3), 0);
}

TEST(Frames, PortParamsFrameLayout) {
    serial::Dcb dcb;
    dcb.BaudRate = 19200;
    dcb.SetFlag(serial::Dcb::fParityBit, true);
    dcb.Parity = serial::ODDPARITY;
    dcb.ErrorChar = 0x3F;
    dcb.ByteSize = 7;
    dcb.StopBits = serial::TWOSTOPBITS;
    EXPECT_EQ(ToBytes(PortParamsFrame(dcb)), (Bytes{0x01, 0x02, 9, 1, 4, 0x3F, 7, 3}));

    // Without parity checking, and values no table holds: sent as 0.
    dcb.SetFlag(serial::Dcb::fParityBit, false);
    dcb.BaudRate = 12345;
    dcb.Parity = 9;
    dcb.StopBits = 7;
    EXPECT_EQ(ToBytes(PortParamsFrame(dcb)), (Bytes{0x01, 0x02, 0, 2, 0, 0x3F, 7, 0}));
}

TEST(Frames, ApplyPortParamsFollowsReceiverRules) {
    serial::Dcb start;
    start.BaudRate = 9600;
    start.Flags = serial::Dcb::fParityBit | serial::Dcb::fErrorCharBit | serial::Dcb::fNullBit;
    start.ByteSize = 8;
    start.Parity = serial::EVENPARITY;
    start.StopBits = serial::ONESTOPBIT;
    start.ErrorChar = 0x11;

    struct Case {
        uint8_t baud, check, parity, stop;
        uint32_t wantBaud;
        bool wantParityCheck;
        uint8_t wantParity, wantStop;
    };
    const Case cases[] = {
        {0, 1, 0, 0, 9600, true, serial::EVENPARITY, serial::ONESTOPBIT},
        {16, 0, 6, 4, 9600, false, serial::EVENPARITY, serial::ONESTOPBIT},
        {10, 2, 3, 3, 38400, false, serial::NOPARITY, serial::TWOSTOPBITS},
        {11, 1, 5, 2, 56000, true, serial::SPACEPARITY, serial::ONE5STOPBITS},
        {12, 3, 2, 1, 57600, false, serial::MARKPARITY, serial::ONESTOPBIT},
        {13, 1, 4, 3, 115200, true, serial::ODDPARITY, serial::TWOSTOPBITS},
        {14, 1, 1, 1, 128000, true, serial::EVENPARITY, serial::ONESTOPBIT},
        {15, 0xFF, 3, 0, 256000, false, serial::NOPARITY, serial::ONESTOPBIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "baud code " << int(c.baud));
        serial::Dcb dcb = start;
        ApplyPortParams({0x01, 0x02, c.baud, c.check, c.parity, 0x24, 7, c.stop}, dcb);
        EXPECT_EQ(dcb.BaudRate, c.wantBaud);
        EXPECT_EQ(dcb.fParity(), c.wantParityCheck);
        EXPECT_EQ(dcb.Parity, c.wantParity);
        EXPECT_EQ(dcb.StopBits, c.wantStop);
        EXPECT_FALSE(dcb.fErrorChar());
        EXPECT_TRUE(dcb.fNull());
        EXPECT_EQ(dcb.ErrorChar, 0x24);
        EXPECT_EQ(dcb.ByteSize, 7);
    }

    serial::Dcb noNull = start;
    noNull.SetFlag(serial::Dcb::fNullBit, false);
    ApplyPortParams(PortParamsFrame(start), noNull);
    EXPECT_FALSE(noNull.fNull());
}

TEST(Frames, TimeoutsTravelAsSignExtendedLowBytes) {
    serial::CommTimeouts sent;
    sent.ReadIntervalTimeout = 10;
    sent.ReadTotalTimeoutMultiplier = 0xFFFFFFFF;
    sent.ReadTotalTimeoutConstant = 300;
    sent.WriteTotalTimeoutMultiplier = 200;
    sent.WriteTotalTimeoutConstant = 127;
    const Frame8 frame = TimeoutsFrame(sent);
    EXPECT_EQ(ToBytes(frame), (Bytes{0x01, 0x03, 0x0A, 0xFF, 0x2C, 0xC8, 0x7F, 0x02}));

    serial::CommTimeouts got;
    ApplyTimeouts(frame, got);
    EXPECT_EQ(got.ReadIntervalTimeout, 10u);
    EXPECT_EQ(got.ReadTotalTimeoutMultiplier, 4294967295u);
    EXPECT_EQ(got.ReadTotalTimeoutConstant, 44u);
    EXPECT_EQ(got.WriteTotalTimeoutMultiplier, 4294967240u);
    EXPECT_EQ(got.WriteTotalTimeoutConstant, 127u);
}

} // namespace
} // namespace quorvik
