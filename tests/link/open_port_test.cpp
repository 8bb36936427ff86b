#include "link/OpenPort.h"

#include "link/Connection.h"
#include "link/EventLoop.h"
#include "link/OpenPortMessages.h"
#include "tests/support/NullModem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace quorvik {
namespace {

namespace msg = open_port_messages;

// A link with a UI of its own, as the login leaves it before OpenPort.
struct Rig {
    EventLoop loop;
    LinkUi ui;
    LinkState link;

    Rig() {
        ui.TimerWait = &loop.CreateTimer(1000, [] {});
        ui.TimerOptions = &loop.CreateTimer(5500, [] {});
        ui.TimerNewMessage = &loop.CreateTimer(100, [] {});
        ui.SetStatus = [](const std::string&) {};
        ui.SetConnectImage = [](int) {};
        ui.ShowIncomingMessage = [] {};
        ui.ShowMessage = [](const std::string&) {};
        ui.ReportLine = [](const std::string&, LineFate) {};
        ui.Post = [this](std::function<void()> task) { loop.Post(std::move(task)); };
        link.Ui = &ui;
    }
    ~Rig() { CloseLink(link); }

    // The message OpenPort raised, or "" when it succeeded.
    std::string Open(const std::string& name) {
        try {
            OpenPort(link, name);
            return "";
        } catch (const LinkError& e) {
            return e.what();
        }
    }
    void ExpectNothingOpen() const {
        EXPECT_EQ(link.PortHandle, nullptr);
        EXPECT_EQ(link.Writer, nullptr);
        EXPECT_FALSE(link.ReaderThreadHandle.joinable());
    }
};

TEST(OpenPort, EachFailureHasItsMessageAndLeavesNothingOpen) {
    NullModem modem;
    serial::Error heldError = serial::Error::None;
    auto held = serial::Port::Open(modem.PortB(), heldError);
    ASSERT_TRUE(held) << serial::Message(heldError);

    const auto file = std::filesystem::temp_directory_path() /
                      ("open_port_test_" + std::to_string(getpid()) + ".txt");
    std::ofstream(file) << "not a port\n";

    struct Case {
        std::string name;
        const char* message;
    };
    const Case cases[] = {
        {"", msg::NoPortName},
        {"/dev/no-such-port", msg::CannotOpen},
        {modem.PortB(), msg::CannotOpen}, // held by a second opener
        {file.string(), msg::CannotPurge},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("port '" + c.name + "'");
        Rig rig;
        EXPECT_EQ(rig.Open(c.name), c.message);
        rig.ExpectNothingOpen();
    }
    std::filesystem::remove(file);
}

TEST(OpenPort, GivesThePortTheFixedSettingsWhateverTheImagesHold) {
    NullModem modem;
    Rig rig;
    serial::Dcb images;
    images.BaudRate = 9600;
    images.ByteSize = 7;
    images.Parity = serial::ODDPARITY;
    images.StopBits = serial::TWOSTOPBITS;
    images.ErrorChar = 0x3F;
    images.Flags = serial::Dcb::fParityBit | serial::Dcb::fErrorCharBit | serial::Dcb::fNullBit;
    const serial::CommTimeouts timeoutImages{1, 2, 3, 4, 5};
    rig.link.PortDcb = images;
    rig.link.PortTimeouts = timeoutImages;

    // A second login on the same port: the first one's port and reader are
    // ended before the port is opened again.
    for (int login = 0; login < 2; ++login) {
        SCOPED_TRACE("login " + std::to_string(login));
        ASSERT_EQ(rig.Open(modem.PortA()), "");
        ASSERT_NE(rig.link.PortHandle, nullptr);
        EXPECT_NE(rig.link.Writer, nullptr);
        EXPECT_TRUE(rig.link.ReaderThreadHandle.joinable());

        serial::Dcb dcb;
        ASSERT_EQ(rig.link.PortHandle->GetState(dcb), serial::Error::None);
        EXPECT_EQ(dcb.BaudRate, 14400u);
        EXPECT_EQ(dcb.ByteSize, 8);
        EXPECT_EQ(dcb.Parity, serial::EVENPARITY);
        EXPECT_FALSE(dcb.fParity());
        EXPECT_EQ(dcb.StopBits, serial::ONESTOPBIT);
        EXPECT_FALSE(dcb.fErrorChar());
        EXPECT_FALSE(dcb.fNull());
        serial::CommTimeouts timeouts;
        ASSERT_EQ(rig.link.PortHandle->GetTimeouts(timeouts), serial::Error::None);
        EXPECT_EQ(timeouts, (serial::CommTimeouts{10, 0, 0, 0, 0}));

        EXPECT_EQ(rig.link.PortDcb, images);
        EXPECT_EQ(rig.link.PortTimeouts, timeoutImages);
    }
}

} // namespace
} // namespace quorvik
