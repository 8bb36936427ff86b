#include "link/Connection.h"
#include "link/Receiver.h"
#include "tests/link/LinkFixture.h"

#include <cstdlib>
#include <fcntl.h>

namespace quorvik {
namespace {

using namespace test;

class ReceiverTest : public PeerLinkTest {};

TEST_F(ReceiverTest, HelloIsAnsweredOnlyWhileNotConnected) {
    for (int connected : {0, 1}) {
        SCOPED_TRACE(connected);
        link.Connected = connected;
        ui.wait.SetEnabled(true);
        ui.statuses.clear();
        Handle(FrameEvent::Kind::Hello);
        EXPECT_EQ(Written(), connected ? Bytes({}) : Bytes({1, 4, 2}));
        EXPECT_EQ(link.Connected, 1);
        EXPECT_FALSE(ui.wait.Enabled());
        EXPECT_EQ(ui.images.back(), ImageConnected);
        EXPECT_EQ(ui.statuses, std::vector<std::string>{"Установка параметров порта"});
    }
}

TEST_F(ReceiverTest, ByeReleasesEveryPendingLineAsBroken) {
    Pending("one");
    Pending("two");
    Written();
    Handle(FrameEvent::Kind::Bye);
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_EQ(link.Connected, 0);
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(ui.images.back(), ImageDisconnected);
    EXPECT_EQ(ui.statuses.back(), "Разрыв соединения");
    ASSERT_EQ(ui.lines.size(), 2u);
    EXPECT_EQ(ui.lines[0], std::pair(std::string("one"), LineFate::Broken));
    EXPECT_EQ(ui.lines[1], std::pair(std::string("two"), LineFate::Broken));
}

TEST_F(ReceiverTest, AnswersWithNothingPendingWriteNothingAndStopTheTimer) {
    for (auto kind : {FrameEvent::Kind::Ack, FrameEvent::Kind::Resend}) {
        ui.wait.SetEnabled(true);
        Handle(kind);
        EXPECT_FALSE(ui.wait.Enabled());
    }
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_TRUE(ui.lines.empty());
}

TEST_F(ReceiverTest, AnswersApplyToTheOldestPendingFrame) {
    Pending("first");
    Pending("second");
    Written();
    EXPECT_EQ(ui.wait.starts, 1); // the second Send does not restart the window

    Handle(FrameEvent::Kind::Resend);
    EXPECT_EQ(Written(), MessageFrame(Encoded("first")));
    EXPECT_EQ(link.PendingFrame.front().Resends, 1);
    EXPECT_TRUE(ui.wait.Enabled());

    Handle(FrameEvent::Kind::Ack);
    ASSERT_EQ(ui.lines.size(), 1u);
    EXPECT_EQ(ui.lines[0], std::pair(std::string("first"), LineFate::Delivered));
    EXPECT_TRUE(ui.wait.Enabled()); // the second still waits, in a fresh window
    const int starts = ui.wait.starts;

    Handle(FrameEvent::Kind::Resend);
    EXPECT_EQ(Written(), MessageFrame(Encoded("second")));
    Handle(FrameEvent::Kind::Ack);
    EXPECT_EQ(ui.lines.back(), std::pair(std::string("second"), LineFate::Delivered));
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_GT(ui.wait.starts, starts);
    EXPECT_TRUE(link.PendingFrame.empty());
}

TEST_F(ReceiverTest, EndlessRefusalsEndTheConnection) {
    Pending("never good");
    Written();
    const auto frame = MessageFrame(Encoded("never good"));
    for (int i = 0; i < 5; ++i) {
        Handle(FrameEvent::Kind::Resend);
        ASSERT_EQ(Written(), frame) << i;
    }
    Handle(FrameEvent::Kind::Resend);
    EXPECT_EQ(Written(), Bytes({1, 5, 2}));
    EXPECT_EQ(link.Connected, 0);
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(ui.images.back(), ImageDisconnected);
    EXPECT_EQ(ui.statuses.back(), "Превышен интервал ожидания ответа. Разрыв соединения.");
    EXPECT_EQ(ui.lines.back(), std::pair(std::string("never good"), LineFate::GivenUp));
}

TEST_F(ReceiverTest, PortParamsAreAppliedToThePort) {
    // 9600 baud, parity check off, odd parity, error char 0x3F, 7 bits, 2 stop bits.
    HandleFrameEvent(link,
                     FrameEvent{FrameEvent::Kind::PortParams, {1, 2, 7, 0, 4, 0x3F, 7, 3}, {}});
    ui.RunPosted();
    serial::Dcb port;
    ASSERT_EQ(link.PortHandle->GetState(port), serial::Error::None);
    EXPECT_EQ(port.BaudRate, 9600u);
    EXPECT_EQ(port.Parity, serial::ODDPARITY);
    EXPECT_EQ(port.StopBits, serial::TWOSTOPBITS);
    EXPECT_EQ(port.ByteSize, 7);
    EXPECT_FALSE(link.PortDcb.fParity());
    EXPECT_FALSE(link.PortDcb.fErrorChar());
    EXPECT_EQ(link.PortDcb.BaudRate, 9600u);
    EXPECT_EQ(ui.statuses, std::vector<std::string>{"Установка таймаутов"});
}

TEST_F(ReceiverTest, PortParamsThePortRefusesRaiseTheSettingError) {
    link.Writer.reset();
    link.PortHandle.reset();
    try {
        HandleFrameEvent(link,
                         FrameEvent{FrameEvent::Kind::PortParams, {1, 2, 7, 2, 3, 0, 8, 1}, {}});
        FAIL() << "no error";
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Ошибка утановки параметров порта");
    }
    ui.RunPosted();
    EXPECT_TRUE(ui.statuses.empty());
}

TEST_F(ReceiverTest, TimeoutsAreWidenedWithTheirSign) {
    HandleFrameEvent(
        link, FrameEvent{FrameEvent::Kind::Timeouts, {1, 3, 0x0A, 0xFF, 0x2C, 0, 0xC8, 2}, {}});
    ui.RunPosted();
    EXPECT_EQ(link.PortTimeouts.ReadIntervalTimeout, 10u);
    EXPECT_EQ(link.PortTimeouts.ReadTotalTimeoutMultiplier, 0xFFFFFFFFu);
    EXPECT_EQ(link.PortTimeouts.ReadTotalTimeoutConstant, 44u);
    EXPECT_EQ(link.PortTimeouts.WriteTotalTimeoutConstant, 0xFFFFFFFFu - 55);
    EXPECT_EQ(ui.statuses, std::vector<std::string>{"Cоединение установлено"});
    EXPECT_EQ(ui.statuses[0][0], 'C'); // Latin
}

TEST_F(ReceiverTest, AcceptedTextsQueueWhileNoChatWindowIsOpen) {
    Handle(FrameEvent::Kind::Message, Encoded("Ann:[1:02:03] hi"));
    Handle(FrameEvent::Kind::Message, Encoded("Ann:[1:02:04] again"));
    EXPECT_EQ(Written(), Bytes({1, 6, 2, 1, 6, 2}));
    EXPECT_EQ(link.ReceivedText,
              (std::deque<std::string>{"Ann:[1:02:03] hi", "Ann:[1:02:04] again"}));
    EXPECT_TRUE(ui.newMessage.Enabled());
}

TEST_F(ReceiverTest, AnOpenChatWindowIsHandedTheText) {
    int windowByte = 0;
    link.ChatWindow = &windowByte;
    int shown = 0;
    ui.show = [&] {
        ++shown;
        std::lock_guard lock(link.Lock);
        link.ReceivedText.clear();
    };
    Handle(FrameEvent::Kind::Message, Encoded("x"));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(ui.newMessage.Enabled());

    ui.show = [] { throw std::runtime_error("gone"); };
    HandleFrameEvent(link, FrameEvent{FrameEvent::Kind::Message, {}, Encoded("y")});
    try {
        ui.RunPosted();
        FAIL() << "no error";
    } catch (const LinkError& e) {
        EXPECT_STREQ(e.what(), "Ошибка доступа к EditForm");
    }
}

TEST_F(ReceiverTest, RefusedMessagesAreAskedForOnce) {
    // Odd length, bad bytes, a reader's refusal.
    Handle(FrameEvent::Kind::Message, Bytes({0x41, 0x42, 0x43}));
    Handle(FrameEvent::Kind::Message, Bytes({0x41, 0x7F}));
    Handle(FrameEvent::Kind::Refused);
    EXPECT_EQ(Written(), Bytes({1, 7, 2, 1, 7, 2, 1, 7, 2}));
    EXPECT_EQ(link.DecodeStatus, 0);
    EXPECT_TRUE(link.ReceivedText.empty());
    EXPECT_FALSE(ui.newMessage.Enabled());
}

TEST_F(ReceiverTest, WithoutADecoderAMessageIsDroppedUnanswered) {
    const Codec codeOnly{TestCode, nullptr, nullptr};
    link.Codecs = &codeOnly;
    Handle(FrameEvent::Kind::Message, Encoded("hi"));
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_TRUE(link.ReceivedText.empty());
}

TEST_F(ReceiverTest, ReaderAnswersFramesArrivingInOddPieces) {
    modem.SetReadSizes(Direction::BtoA, ReadSizes::Random, 3);
    StartReader(link);
    const auto hello = ControlFrame(CmdHello);
    WriteAll(peer.Get(), hello.data(), hello.size());
    const auto frame = MessageFrame(Encoded("Bob:[9:00:00] split\r\nin pieces"));
    WriteAll(peer.Get(), frame.data(), frame.size());

    std::vector<uint8_t> answers;
    ASSERT_TRUE(ReadExactly(peer.Get(), 6, 5000, answers));
    EXPECT_EQ(answers, Bytes({1, 4, 2, 1, 6, 2}));
    ASSERT_TRUE(RunUntil(ui, [&] { return ui.newMessage.Enabled(); }));
    std::lock_guard lock(link.Lock);
    EXPECT_EQ(link.ReceivedText, std::deque<std::string>{"Bob:[9:00:00] split\r\nin pieces"});
    EXPECT_EQ(link.Connected, 1);
}

TEST_F(ReceiverTest, AnErrorInTheReaderShowsItsBoxAndEndsOnlyTheReader) {
    link.Connected = 1;
    ui.wait.SetEnabled(true);
    StartReader(link);
    // Three data bits: no port takes them.
    const uint8_t params[] = {1, 2, 7, 2, 3, 0, 3, 1};
    WriteAll(peer.Get(), params, sizeof params);
    ASSERT_TRUE(RunUntil(ui, [&] { return !ui.boxes.empty(); }));
    EXPECT_EQ(ui.boxes, std::vector<std::string>{"Ошибка"});
    EXPECT_TRUE(ui.statuses.empty());
    EXPECT_TRUE(ui.wait.Enabled());
    std::lock_guard lock(link.Lock);
    EXPECT_EQ(link.Connected, 1);
}

TEST(ReaderThread, FarSideClosedEndsTheReaderAsABrokenConnection) {
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY));
    ASSERT_TRUE(master.Valid());
    ASSERT_EQ(grantpt(master.Get()), 0);
    ASSERT_EQ(unlockpt(master.Get()), 0);
    TestUi ui;
    LinkState link;
    link.Ui = &ui.ui;
    serial::Error error;
    link.PortHandle = serial::Port::Open(ptsname(master.Get()), error);
    ASSERT_TRUE(link.PortHandle) << serial::Message(error);
    link.Connected = 1;
    ui.wait.SetEnabled(true);
    StartReader(link);

    master.Reset();
    ASSERT_TRUE(RunUntil(ui, [&] { return !ui.statuses.empty(); }));
    link.ReaderThreadHandle.join(); // it ended by itself
    ui.RunPosted();
    EXPECT_EQ(ui.statuses, std::vector<std::string>{"Разрыв соединения"});
    EXPECT_EQ(ui.images, std::vector<int>{ImageDisconnected});
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(link.Connected, 0);
    EXPECT_TRUE(ui.boxes.empty());
    StopReader(link);
}

} // namespace
} // namespace quorvik
