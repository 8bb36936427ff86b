#include "link/Connection.h"
#include "link/Receiver.h"
#include "tests/link/LinkFixture.h"

namespace quorvik {
namespace {

using namespace test;

class ConnectionTest : public PeerLinkTest {};

TEST_F(ConnectionTest, BeginGreetsAndArmsBothTimers) {
    link.OptionsStep = false;
    BeginConnection(link);
    EXPECT_EQ(link.Connected, 1);
    EXPECT_EQ(Written(), Bytes({1, 4, 2}));
    EXPECT_TRUE(ui.wait.Enabled());
    EXPECT_TRUE(link.OptionsStep);
    EXPECT_TRUE(ui.options.Enabled());
}

TEST_F(ConnectionTest, ConnectDoesNothingWhileConnected) {
    link.Connected = 1; // the greeting, say
    ConnectExecute(link);
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_FALSE(ui.options.Enabled());

    link.Connected = 0;
    ConnectExecute(link);
    EXPECT_EQ(Written(), Bytes({1, 4, 2}));
    EXPECT_EQ(link.Connected, 1);
}

TEST_F(ConnectionTest, DisconnectSaysByeEvenWhenNotConnectedAndLeavesTheRestAlone) {
    for (int connected : {0, 1}) {
        SCOPED_TRACE(connected);
        link.Connected = connected;
        ui.wait.SetEnabled(true);
        ui.options.SetEnabled(true);
        link.PendingFrame.push_back({{1, 1}, "waiting", 0, 99, true});
        EndConnection(link);
        EXPECT_EQ(Written(), Bytes({1, 5, 2}));
        EXPECT_EQ(ui.statuses.back(), "Разрыв соединения");
        EXPECT_EQ(link.Connected, 0);
        EXPECT_EQ(ui.images.back(), ImageDisconnected);
        EXPECT_TRUE(ui.wait.Enabled());
        EXPECT_TRUE(ui.options.Enabled());
        EXPECT_FALSE(link.PendingFrame.empty());
        link.PendingFrame.clear();
    }
}

TEST_F(ConnectionTest, AnswerTimeoutEndsTheConnectionAndItsPendingLines) {
    Pending("unanswered");
    Written();
    ASSERT_TRUE(ui.wait.Enabled());
    TimerWaitTimer(link);
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(link.Connected, 0);
    EXPECT_EQ(ui.statuses.back(), "Превышен интервал ожидания ответа. Разрыв соединения.");
    EXPECT_EQ(Written(), Bytes({1, 5, 2}));
    EXPECT_EQ(ui.images.back(), ImageDisconnected);
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_EQ(ui.lines,
              (std::vector<std::pair<std::string, LineFate>>{{"unanswered", LineFate::TimedOut}}));

    // An answer after a reconnect does not apply to it.
    BeginConnection(link);
    Handle(FrameEvent::Kind::Ack);
    EXPECT_EQ(ui.lines.size(), 1u);
}

TEST_F(ConnectionTest, OptionsGoInTwoStepsWhileConnected) {
    link.Connected = 1;
    link.OptionsStep = true;
    link.PortTimeouts = {10, 0, 0, 0, 300};
    ui.options.SetEnabled(true);

    TimerOptionsTimer(link);
    serial::Dcb port;
    ASSERT_EQ(link.PortHandle->GetState(port), serial::Error::None);
    EXPECT_EQ(link.PortDcb, port);
    const Frame8 params = PortParamsFrame(port);
    EXPECT_EQ(Written(), Bytes(params));
    EXPECT_FALSE(link.OptionsStep);
    EXPECT_EQ(ui.statuses, std::vector<std::string>{"Установка таймаутов"});
    EXPECT_TRUE(ui.options.Enabled());

    TimerOptionsTimer(link);
    EXPECT_EQ(Written(), Bytes({1, 3, 10, 0, 0, 0, 0x2C, 2}));
    EXPECT_TRUE(link.OptionsStep);
    EXPECT_EQ(ui.statuses.back(), "Соединение установлено");
    EXPECT_NE(ui.statuses.back()[0], 'C'); // Cyrillic here
    EXPECT_FALSE(ui.options.Enabled());
}

TEST_F(ConnectionTest, AnOptionsTickWhileNotConnectedOnlyStopsTheTimer) {
    for (bool step : {true, false}) {
        link.OptionsStep = step;
        ui.options.SetEnabled(true);
        TimerOptionsTimer(link);
        EXPECT_FALSE(ui.options.Enabled());
        EXPECT_EQ(link.OptionsStep, step);
    }
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_TRUE(ui.statuses.empty());
}

TEST_F(ConnectionTest, OptionsStepsWithoutAPortRaiseTheirErrors) {
    link.Writer.reset();
    link.PortHandle.reset();
    link.Connected = 1;
    for (bool step : {true, false}) {
        link.OptionsStep = step;
        ui.options.SetEnabled(true);
        try {
            TimerOptionsTimer(link);
            ADD_FAILURE() << "no error";
        } catch (const LinkError& e) {
            EXPECT_STREQ(e.what(), step ? "Невозможно получить параметры порта"
                                        : "Ошибка установики таймаутов порта");
        }
        EXPECT_FALSE(ui.options.Enabled());
        EXPECT_EQ(link.OptionsStep, step);
    }
}

TEST_F(ConnectionTest, CloseSaysByeThenEndsReaderWriterAndPort) {
    StartReader(link);
    Pending("in flight");
    ReadFor(peer.Get(), 150);
    CloseLink(link);
    EXPECT_FALSE(link.ReaderThreadHandle.joinable());
    EXPECT_EQ(link.Writer, nullptr);
    EXPECT_EQ(link.PortHandle, nullptr);
    EXPECT_EQ(ReadFor(peer.Get(), 300), Bytes({1, 5, 2}));
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_EQ(ui.lines.back(), std::pair(std::string("in flight"), LineFate::Broken));
    EXPECT_TRUE(ui.boxes.empty());

    // The same device opens again for the next login, with a reader of its own.
    serial::Error error;
    link.PortHandle = serial::Port::Open(modem.PortA(), error);
    ASSERT_NE(link.PortHandle, nullptr) << serial::Message(error);
    link.Writer = std::make_unique<FrameWriter>(*link.PortHandle);
    StartReader(link);
    const auto hello = ControlFrame(CmdHello);
    WriteAll(peer.Get(), hello.data(), hello.size());
    ASSERT_TRUE(RunUntil(ui, [&] { return !ui.images.empty(); }));
    EXPECT_EQ(ui.images.back(), ImageConnected);
    CloseLink(link);
}

} // namespace
} // namespace quorvik
