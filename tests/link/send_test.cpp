#include "link/Connection.h"
#include "link/Send.h"
#include "tests/link/LinkFixture.h"

#include <regex>

namespace quorvik {
namespace {

using namespace test;

TEST(ComposeLine, TrimsBlanksAndControlsAtBothEndsOnly) {
    struct Case {
        const char* text;
        const char* line;
    } cases[] = {
        {"", "Ann:[9:05:07] "},
        {"  hello \r\n", "Ann:[9:05:07] hello"},
        {"\t\x01one\r\ntwo\x1f", "Ann:[9:05:07] one\r\ntwo"},
        {" \xC0\xC1 ", "Ann:[9:05:07] \xC0\xC1"}, // cp1251 letters are not blanks
        {" \r\n\t ", "Ann:[9:05:07] "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ComposeLine("Ann", "9:05:07", c.text), c.line) << c.text;
}

TEST(TimeText, HoursWithoutLeadingZero) {
    EXPECT_TRUE(std::regex_match(TimeText(), std::regex("(1?[0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]")))
        << TimeText();
}

class SendTest : public PeerLinkTest {
protected:
    void Connect() {
        std::lock_guard lock(link.Lock);
        link.Connected = 1;
    }
};

TEST_F(SendTest, AFrameOfTwiceTheLinePlusFiveStartsTheAnswerWindowOnceSent) {
    Connect();
    const std::string line = ComposeLine("Ann", "9:05:07", "");
    Send(link, line);
    link.Writer->Flush();
    EXPECT_FALSE(ui.wait.Enabled()); // not before the last byte has left

    ui.RunPosted();
    std::vector<uint8_t> frame;
    ASSERT_TRUE(ReadExactly(peer.Get(), 2 * line.size() + 5, 2000, frame));
    EXPECT_EQ(frame.size(), 2 * line.size() + 5);
    EXPECT_EQ(frame[2] | frame[3] << 8, static_cast<int>(2 * line.size()));
    EXPECT_EQ(frame, MessageFrame(Encoded(line)));
    EXPECT_EQ(ReadFor(peer.Get(), 100), Bytes({}));
    EXPECT_TRUE(ui.wait.Enabled());
    EXPECT_EQ(ui.wait.Interval(), 500u);
    ASSERT_EQ(link.PendingFrame.size(), 1u);
    EXPECT_EQ(link.PendingFrame[0].Line, line);
}

TEST_F(SendTest, TheLongestLineFitsTheLengthField) {
    Connect();
    Send(link, std::string(MaxTextLength, 'x'));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(ReadExactly(peer.Get(), 2 * MaxTextLength + 5, 20000, frame));
    EXPECT_EQ(frame[2], 0xFE);
    EXPECT_EQ(frame[3], 0x7F);
    EXPECT_EQ(frame.back(), EndByte);
}

TEST_F(SendTest, AnAnswerBeforeTheWriteIsReportedStillCounts) {
    Connect();
    Send(link, "quick");
    link.Writer->Flush(); // the window's start is posted, not yet run
    HandleFrameEvent(link, FrameEvent{FrameEvent::Kind::Ack, {}, {}});
    ui.RunPosted();
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(ui.wait.starts, 0);
    EXPECT_EQ(ui.wait.Interval(), 500u); // what the settings keep, however the race ran
    ASSERT_EQ(ui.lines.size(), 1u);
    EXPECT_EQ(ui.lines[0], std::pair(std::string("quick"), LineFate::Delivered));
}

TEST_F(SendTest, RefusalsComeBeforeAnythingIsSentOrCleared) {
    Connect();
    Pending("kept");
    ReadFor(peer.Get(), 150);
    const Codec codeless{nullptr, TestDecode, nullptr};
    int library = 0;
    const Codec withoutCode{nullptr, TestDecode, &library};
    struct Case {
        const Codec* codec;
        std::string line;
        std::string message;
    } cases[] = {
        {&TestCodec, std::string(MaxTextLength + 1, 'x'),
         "Сообщение слишком длинное: не больше 16383 знаков"},
        {nullptr, "hi", "Библиотека libKelvane.so не найдена"},
        {&codeless, "hi", "Библиотека libKelvane.so не найдена"},
        {&withoutCode, "hi", "В библиотеке отсутствует нужная функция Code"},
    };
    for (const Case& c : cases) {
        link.Codecs = c.codec;
        try {
            Send(link, c.line);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const LinkError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
    EXPECT_EQ(Written(), Bytes({}));
    ASSERT_EQ(link.PendingFrame.size(), 1u);
    EXPECT_EQ(link.PendingFrame[0].Line, "kept");
    EXPECT_TRUE(ui.lines.empty());
}

TEST_F(SendTest, NotConnectedWritesNothingAndKeepsNothing) {
    ui.wait.SetInterval(1000);
    Send(link, "Ann:[9:05:07] lost");
    ui.RunPosted();
    EXPECT_EQ(Written(), Bytes({}));
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_FALSE(ui.wait.Enabled());
    EXPECT_EQ(ui.wait.Interval(), 1000u);
    ASSERT_EQ(ui.lines.size(), 1u);
    EXPECT_EQ(ui.lines[0], std::pair(std::string("Ann:[9:05:07] lost"), LineFate::NotConnected));

    // An answer that comes later cannot apply to it.
    Handle(FrameEvent::Kind::Ack);
    EXPECT_EQ(ui.lines.size(), 1u);
}

} // namespace
} // namespace quorvik
