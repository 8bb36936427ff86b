#include "link/serial/Port.h"
#include "link/serial/Termios2Linux.h"
#include "tests/link/serial/Fixtures.h"

#include <gtest/gtest.h>
#include <termios.h>

namespace {

using serial::Dcb;
using serial::Error;
using serial::Port;
using serial::test::Bytes;
using serial::test::PtyPair;

Dcb MakeDcb(uint32_t baud, uint8_t size, uint8_t parity, uint8_t stop, uint32_t flags = 0,
            uint8_t errorChar = 0) {
    Dcb dcb;
    dcb.BaudRate = baud;
    dcb.ByteSize = size;
    dcb.Parity = parity;
    dcb.StopBits = stop;
    dcb.Flags = flags;
    dcb.ErrorChar = errorChar;
    return dcb;
}

class PortSettings : public ::testing::Test {
protected:
    void SetUp() override {
        Error error = Error::Io;
        port = Port::Open(pty.SlavePath(), error);
        ASSERT_NE(port, nullptr);
        ASSERT_EQ(error, Error::None);
    }
    serial::Termios2 Driver() {
        serial::Termios2 t;
        EXPECT_EQ(serial::GetTermios2(pty.Observer(), t), 0);
        return t;
    }

    PtyPair pty;
    std::unique_ptr<Port> port;
};

TEST_F(PortSettings, WhatIsSetIsReportedBack) {
    const Dcb cases[] = {
        MakeDcb(14400, 8, serial::EVENPARITY, serial::ONESTOPBIT, 0, 0xFF),
        MakeDcb(256000, 8, serial::NOPARITY, serial::ONESTOPBIT),
        MakeDcb(300, 7, serial::ODDPARITY, serial::TWOSTOPBITS, Dcb::fParityBit),
        MakeDcb(9600, 6, serial::MARKPARITY, serial::ONESTOPBIT,
                Dcb::fParityBit | Dcb::fErrorCharBit, '?'),
        MakeDcb(56000, 5, serial::SPACEPARITY, serial::ONE5STOPBITS, Dcb::fNullBit),
        MakeDcb(115200, 5, serial::EVENPARITY, serial::TWOSTOPBITS),
        MakeDcb(128000, 8, serial::SPACEPARITY, serial::TWOSTOPBITS,
                Dcb::fParityBit | Dcb::fErrorCharBit | Dcb::fNullBit | 1u, 0x80),
    };
    for (const Dcb& set : cases) {
        SCOPED_TRACE(set.BaudRate);
        ASSERT_EQ(port->SetState(set), Error::None);
        Dcb got;
        ASSERT_EQ(port->GetState(got), Error::None);
        EXPECT_EQ(got, set);
        const serial::Termios2 t = Driver();
        EXPECT_EQ(t.ospeed, set.BaudRate) << "the rate reached the driver";
        EXPECT_EQ((t.iflag & (INPCK | PARMRK)) != 0, set.fParity());
    }
}

TEST_F(PortSettings, RefusedValuesLeaveThePortAsItWas) {
    const Dcb good =
        MakeDcb(14400, 7, serial::EVENPARITY, serial::TWOSTOPBITS, Dcb::fParityBit, 0x7F);
    ASSERT_EQ(port->SetState(good), Error::None);
    const serial::Termios2 driverBefore = Driver();

    const std::pair<const char*, Dcb> refused[] = {
        {"baud 0", MakeDcb(0, 8, serial::NOPARITY, serial::ONESTOPBIT)},
        {"byte size 0", MakeDcb(9600, 0, serial::NOPARITY, serial::ONESTOPBIT)},
        {"byte size 4", MakeDcb(9600, 4, serial::NOPARITY, serial::ONESTOPBIT)},
        {"byte size 9", MakeDcb(9600, 9, serial::NOPARITY, serial::ONESTOPBIT)},
        {"parity 5", MakeDcb(9600, 8, 5, serial::ONESTOPBIT)},
        {"stop bits 3", MakeDcb(9600, 8, serial::NOPARITY, 3)},
        {"1.5 stop bits with 8 data bits",
         MakeDcb(9600, 8, serial::NOPARITY, serial::ONE5STOPBITS)},
    };
    for (const auto& [name, dcb] : refused) {
        EXPECT_EQ(port->SetState(dcb), Error::Unsupported) << name;
        Dcb got;
        ASSERT_EQ(port->GetState(got), Error::None);
        EXPECT_EQ(got, good) << name;
        const serial::Termios2 t = Driver();
        EXPECT_EQ(t.cflag, driverBefore.cflag) << name;
        EXPECT_EQ(t.iflag, driverBefore.iflag) << name;
        EXPECT_EQ(t.ospeed, driverBefore.ospeed) << name;
    }
}

TEST_F(PortSettings, TimeoutsAreKeptAsSet) {
    serial::CommTimeouts got;
    ASSERT_EQ(port->GetTimeouts(got), Error::None);
    EXPECT_EQ(got, serial::CommTimeouts{});
    const serial::CommTimeouts set{10, 0, 0xFFFFFFFF, 3, 4};
    ASSERT_EQ(port->SetTimeouts(set), Error::None);
    ASSERT_EQ(port->GetTimeouts(got), Error::None);
    EXPECT_EQ(got, set);
}

TEST_F(PortSettings, PurgeDropsQueuedInputAndClearBreakSucceeds) {
    pty.Write(Bytes("abc"));
    ASSERT_EQ(port->WaitReadable(5000), serial::WaitResult::Readable);
    EXPECT_EQ(port->ClearBreak(), Error::None);
    ASSERT_EQ(port->Purge(), Error::None);
    std::size_t count = 99;
    ASSERT_EQ(port->BytesWaiting(count), Error::None);
    EXPECT_EQ(count, 0u);
    uint8_t buffer[8];
    std::size_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), Error::None);
    EXPECT_EQ(got, 0u);
}

// A pseudo-terminal cannot make parity errors, but with checking on the line
// discipline still doubles each received 0xFF, which the read path undoes.
TEST_F(PortSettings, ReadPathFollowsParityCheckingAndNulDiscarding) {
    ASSERT_EQ(port->SetState(MakeDcb(14400, 8, serial::EVENPARITY, serial::ONESTOPBIT,
                                     Dcb::fParityBit | Dcb::fNullBit | Dcb::fErrorCharBit, '?')),
              Error::None);
    pty.Write({'a', 0x00, 0xFF, 'b', 0xFF, 0xFF, 0x00, 'c'});
    EXPECT_EQ(serial::test::ReadPort(*port, 6),
              (std::vector<uint8_t>{'a', 0xFF, 'b', 0xFF, 0xFF, 'c'}));

    ASSERT_EQ(port->SetState(MakeDcb(14400, 8, serial::NOPARITY, serial::ONESTOPBIT)), Error::None);
    pty.Write({'a', 0x00, 0xFF});
    EXPECT_EQ(serial::test::ReadPort(*port, 3), (std::vector<uint8_t>{'a', 0x00, 0xFF}));
}

} // namespace
