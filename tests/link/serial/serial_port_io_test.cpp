#include "link/serial/Port.h"
#include "tests/link/serial/Fixtures.h"

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace {

using serial::Error;
using serial::Port;
using serial::WaitResult;
using serial::test::Bytes;
using serial::test::PtyPair;
using serial::test::ReadPort;

class PortIo : public ::testing::Test {
protected:
    void SetUp() override {
        Error error = Error::Io;
        port = Port::Open(pty.SlavePath(), error);
        ASSERT_NE(port, nullptr);
    }

    PtyPair pty;
    std::unique_ptr<Port> port;
};

std::vector<uint8_t> Pattern(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = uint8_t(i * 7 + i / 251);
    }
    return bytes;
}

TEST_F(PortIo, LargeTransfersBothWays) {
    // More than the pseudo-terminal buffers, so writes must wait for room.
    const auto out = Pattern(256 * 1024);
    auto reader = std::async(std::launch::async, [&] { return pty.Read(out.size(), 30000); });
    EXPECT_EQ(port->Write(out.data(), out.size()), Error::None);
    EXPECT_EQ(port->Drain(), Error::None);
    EXPECT_EQ(reader.get(), out);

    const auto in = Pattern(3000);
    pty.Write(in);
    EXPECT_EQ(ReadPort(*port, in.size()), in);
}

TEST_F(PortIo, WaitTimesOutWhenIdleAndWakesForBytes) {
    EXPECT_EQ(port->WaitReadable(30), WaitResult::Timeout);
    std::size_t count = 99;
    ASSERT_EQ(port->BytesWaiting(count), Error::None);
    EXPECT_EQ(count, 0u);
    uint8_t buffer[4];
    std::size_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), Error::None);
    EXPECT_EQ(got, 0u);

    pty.Write(Bytes("hi"));
    ASSERT_EQ(port->WaitReadable(-1), WaitResult::Readable);
    ASSERT_EQ(port->BytesWaiting(count), Error::None);
    EXPECT_EQ(count, 2u);
}

TEST_F(PortIo, CancelEndsAWaitFromAnotherThreadAndStays) {
    auto waiter = std::async(std::launch::async, [&] { return port->WaitReadable(-1); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->Cancel();
    if (waiter.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        pty.CloseMaster(); // unblock the waiter so the test can end
        FAIL() << "wait not ended by Cancel";
    }
    EXPECT_EQ(waiter.get(), WaitResult::Cancelled);

    pty.Write(Bytes("x"));
    EXPECT_EQ(port->WaitReadable(-1), WaitResult::Cancelled);
    const uint8_t byte = 'y';
    EXPECT_EQ(port->Write(&byte, 1), Error::Cancelled);
    EXPECT_EQ(port->Drain(), Error::Cancelled);
}

TEST_F(PortIo, CancelEndsAWriteWaitingForRoom) {
    const auto out = Pattern(1024 * 1024); // nobody reads the far side
    auto writer =
        std::async(std::launch::async, [&] { return port->Write(out.data(), out.size()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port->Cancel();
    if (writer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        pty.Read(out.size(), 10000); // let the write finish so the test can end
        FAIL() << "write not ended by Cancel";
    }
    EXPECT_EQ(writer.get(), Error::Cancelled);
}

TEST_F(PortIo, FarSideClosedFailsInsteadOfSpinning) {
    pty.CloseMaster();
    // Each wait must report the hang-up, never a readable line without bytes.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(port->WaitReadable(-1), WaitResult::Failed);
    }
    uint8_t buffer[4];
    std::size_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), Error::Io);
    EXPECT_EQ(got, 0u);
    const uint8_t byte = 'y';
    EXPECT_EQ(port->Write(&byte, 1), Error::Io);
}

} // namespace
