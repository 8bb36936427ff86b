#include "link/serial/Port.h"
#include "tests/link/serial/Fixtures.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <termios.h>

namespace {

using serial::Error;
using serial::Port;
using serial::test::Bytes;
using serial::test::PtyPair;
using serial::test::TempDir;

TEST(PortOpen, MissingNamesAreNotFound) {
    TempDir dir;
    for (const std::string& name :
         {(dir.Path() / "none").string(), std::string(), std::string("ComX")}) {
        Error error = Error::None;
        EXPECT_EQ(Port::Open(name, error), nullptr) << name;
        EXPECT_EQ(error, Error::NotFound) << name;
    }
}

TEST(PortOpen, OrdinaryFileOpensByRelativeNameAndFailsAtPurge) {
    TempDir dir;
    std::ofstream(dir.Path() / "Com1") << "data";
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    Error error = Error::Io;
    auto port = Port::Open("Com1", error);
    std::filesystem::current_path(before);

    ASSERT_NE(port, nullptr);
    EXPECT_EQ(error, Error::None);
    EXPECT_EQ(port->Purge(), Error::NotTerminal);
    serial::Dcb dcb;
    EXPECT_EQ(port->GetState(dcb), Error::NotTerminal);
    const uint8_t byte = 'x';
    EXPECT_EQ(port->Write(&byte, 1), Error::NotTerminal);
    port.reset();
    std::ifstream in(dir.Path() / "Com1");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "data");
}

TEST(PortOpen, SecondOpenerIsBusyUntilTheFirstCloses) {
    PtyPair pty;
    Error error = Error::Io;
    auto first = Port::Open(pty.SlavePath(), error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(error, Error::None);

    EXPECT_EQ(Port::Open(pty.SlavePath(), error), nullptr);
    EXPECT_EQ(error, Error::Busy);

    first.reset();
    auto again = Port::Open(pty.SlavePath(), error);
    EXPECT_NE(again, nullptr);
    EXPECT_EQ(error, Error::None);
}

TEST(PortOpen, MakesTheTerminalRawAndRestoresItOnClose) {
    PtyPair pty;
    termios original{};
    ASSERT_EQ(tcgetattr(pty.Observer(), &original), 0);
    ASSERT_TRUE(original.c_lflag & ICANON) << "a fresh pseudo-terminal is canonical";
    ASSERT_TRUE(original.c_lflag & ECHO);

    Error error = Error::Io;
    auto port = Port::Open(pty.SlavePath(), error);
    ASSERT_NE(port, nullptr);
    termios raw{};
    ASSERT_EQ(tcgetattr(pty.Observer(), &raw), 0);
    EXPECT_FALSE(raw.c_lflag & (ICANON | ECHO | ISIG | IEXTEN));
    EXPECT_FALSE(raw.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP));
    EXPECT_FALSE(raw.c_oflag & OPOST);
    EXPECT_EQ(raw.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));

    port.reset();
    termios restored{};
    ASSERT_EQ(tcgetattr(pty.Observer(), &restored), 0);
    EXPECT_EQ(restored.c_iflag, original.c_iflag);
    EXPECT_EQ(restored.c_oflag, original.c_oflag);
    EXPECT_EQ(restored.c_cflag, original.c_cflag);
    EXPECT_EQ(restored.c_lflag, original.c_lflag);
    EXPECT_EQ(cfgetospeed(&restored), cfgetospeed(&original));
}

// A read that may return nothing at once would look like a hang-up.
TEST(PortOpen, EmptyLineReadsAsEmptyWhateverThePreviousUserLeft) {
    PtyPair pty;
    termios t{};
    ASSERT_EQ(tcgetattr(pty.Observer(), &t), 0);
    cfmakeraw(&t);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    ASSERT_EQ(tcsetattr(pty.Observer(), TCSANOW, &t), 0);

    Error error = Error::Io;
    auto port = Port::Open(pty.SlavePath(), error);
    ASSERT_NE(port, nullptr);
    uint8_t buffer[4];
    std::size_t got = 99;
    EXPECT_EQ(port->Read(buffer, sizeof buffer, got), Error::None);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(port->WaitReadable(30), serial::WaitResult::Timeout);
}

TEST(PortOpen, BytesPassUntranslatedAndAreNotEchoed) {
    PtyPair pty;
    Error error = Error::Io;
    auto port = Port::Open(pty.SlavePath(), error);
    ASSERT_NE(port, nullptr);

    // CR, LF, the signal, end-of-file, flow-control, erase and suspend characters.
    const auto in = Bytes("a\r\n\x03\x04\x11\x13\x7f\x1a\x1c\x15z");
    pty.Write(in);
    EXPECT_EQ(serial::test::ReadPort(*port, in.size()), in);
    EXPECT_TRUE(pty.Read(1, 200).empty()) << "echoed back";

    const auto out = Bytes("x\n\r\ty");
    ASSERT_EQ(port->Write(out.data(), out.size()), Error::None);
    EXPECT_EQ(pty.Read(out.size()), out);
}

} // namespace
