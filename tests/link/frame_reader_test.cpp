#include "link/FrameReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace quorvik {
namespace {

using Bytes = std::vector<uint8_t>;
using Kind = FrameEvent::Kind;

constexpr int64_t Limit = 50;

const char* KindName(Kind kind) {
    switch (kind) {
    case Kind::Hello:
        return "Hello";
    case Kind::Bye:
        return "Bye";
    case Kind::Ack:
        return "Ack";
    case Kind::Resend:
        return "Resend";
    case Kind::PortParams:
        return "PortParams";
    case Kind::Timeouts:
        return "Timeouts";
    case Kind::Message:
        return "Message";
    case Kind::Refused:
        return "Refused";
    }
    return "?";
}

std::string Hex(const uint8_t* data, std::size_t size) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(byte, sizeof byte, " %02X", data[i]);
        text += byte;
    }
    return text;
}

// One line per event; long messages by size and hash so a mismatch stays readable.
std::string Describe(const FrameEvent& event) {
    std::string text = KindName(event.kind);
    if (event.kind == Kind::PortParams || event.kind == Kind::Timeouts)
        text += Hex(event.Frame.data(), event.Frame.size());
    if (event.kind == Kind::Message) {
        if (event.Data.size() <= 16) {
            text += Hex(event.Data.data(), event.Data.size());
        } else {
            uint32_t hash = 2166136261u;
            for (uint8_t b : event.Data)
                hash = (hash ^ b) * 16777619u;
            text += " n=" + std::to_string(event.Data.size()) + " hash=" + std::to_string(hash);
        }
    }
    return text;
}

std::vector<std::string> Describe(const std::vector<FrameEvent>& events) {
    std::vector<std::string> lines;
    for (const FrameEvent& event : events)
        lines.push_back(Describe(event));
    return lines;
}

Bytes Control(uint8_t command) {
    return {StartByte, command, EndByte};
}

Bytes Message(const Bytes& data) {
    Bytes frame{StartByte, CmdMessage, static_cast<uint8_t>(data.size()),
                static_cast<uint8_t>(data.size() >> 8)};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(EndByte);
    return frame;
}

// Encoded data never holds 02 but may hold 01 anywhere, also as "01 0x" pairs
// that look like frame heads.
Bytes MessageData(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes data(size);
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(random() % 8 == 0 ? StartByte : random() % 256);
        if (b == EndByte)
            b = 0x03;
    }
    return data;
}

FrameEvent Expected(Kind kind, const uint8_t* frame = nullptr, Bytes data = {}) {
    FrameEvent event{kind, {}, std::move(data)};
    if (frame)
        std::copy(frame, frame + 8, event.Frame.begin());
    return event;
}

// A stream of many frames with noise between some of them, and the events it must give.
struct Script {
    Bytes bytes;
    std::vector<std::size_t> frameEnds;
    std::vector<std::string> expected;

    void Add(const Bytes& frame, const FrameEvent* event) {
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        frameEnds.push_back(bytes.size());
        if (event)
            expected.push_back(Describe(*event));
    }
};

Script ManyFrames() {
    Script script;
    const Bytes hello = Control(CmdHello);
    FrameEvent event = Expected(Kind::Hello);
    script.Add(hello, &event);

    // Fixed frames whose payload holds 01 and 02.
    const Bytes params{StartByte, CmdPortParams, 0x07, 0x01, 0x02, 0x01, 0x08, 0x01};
    event = Expected(Kind::PortParams, params.data());
    script.Add(params, &event);
    const Bytes timeouts{StartByte, CmdTimeouts, 0x0A, 0x01, 0x02, 0xFF, 0x2C, EndByte};
    event = Expected(Kind::Timeouts, timeouts.data());
    script.Add(timeouts, &event);

    script.Add({0x00, 0x02, 0xFF, 0x41}, nullptr);
    script.Add({StartByte, 0x00, StartByte, 0x08, StartByte, 0xFF, EndByte}, nullptr);

    // 2 is one char; 258 has the length bytes 02 01; 32766 is the longest text.
    unsigned seed = 1;
    for (std::size_t size : {2u, 6u, 16u, 258u, 1000u, 32766u}) {
        const Bytes data = MessageData(size, seed++);
        event = Expected(Kind::Message, nullptr, data);
        script.Add(Message(data), &event);
        const Bytes ack = Control(CmdAck);
        FrameEvent ackEvent = Expected(Kind::Ack);
        script.Add(ack, &ackEvent);
    }

    const Bytes resend = Control(CmdResend);
    event = Expected(Kind::Resend);
    script.Add(resend, &event);
    script.Add({0x02, 0x02}, nullptr);
    const Bytes bye = Control(CmdBye);
    event = Expected(Kind::Bye);
    script.Add(bye, &event);
    return script;
}

std::vector<std::string> FeedInChunks(const Bytes& bytes, const std::vector<std::size_t>& sizes) {
    FrameReader reader;
    reader.SetSilenceLimit(Limit);
    std::vector<FrameEvent> events;
    std::size_t at = 0;
    int64_t now = 0;
    for (std::size_t size : sizes) {
        reader.Feed(bytes.data() + at, size, now++, events);
        at += size;
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(reader.Deadline(), -1);
    return Describe(events);
}

std::vector<std::size_t> FixedSizes(std::size_t total, std::size_t size) {
    std::vector<std::size_t> sizes;
    for (std::size_t at = 0; at < total; at += size)
        sizes.push_back(std::min(size, total - at));
    return sizes;
}

std::vector<std::size_t> RandomSizes(std::size_t total, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::size_t> sizes;
    for (std::size_t at = 0; at < total;) {
        const std::size_t size = std::min<std::size_t>(
            random() % 10 == 0 ? 1 + random() % 4000 : 1 + random() % 40, total - at);
        sizes.push_back(size);
        at += size;
    }
    return sizes;
}

std::vector<std::size_t> FramesPerRead(const Script& script, std::size_t frames) {
    std::vector<std::size_t> sizes;
    std::size_t from = 0;
    for (std::size_t i = frames - 1; i < script.frameEnds.size(); i += frames) {
        sizes.push_back(script.frameEnds[i] - from);
        from = script.frameEnds[i];
    }
    if (from < script.bytes.size())
        sizes.push_back(script.bytes.size() - from);
    return sizes;
}

TEST(FrameReader, SameEventsWhateverTheReadSizes) {
    const Script script = ManyFrames();
    const std::size_t total = script.bytes.size();
    struct Split {
        std::string name;
        std::vector<std::size_t> sizes;
    };
    std::vector<Split> splits = {
        {"one byte", FixedSizes(total, 1)},
        {"eight bytes", FixedSizes(total, 8)},
        {"whole stream", {total}},
        {"one frame per read", FramesPerRead(script, 1)},
        {"three frames per read", FramesPerRead(script, 3)},
    };
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u})
        splits.push_back({"random seed " + std::to_string(seed), RandomSizes(total, seed)});
    for (const Split& split : splits) {
        SCOPED_TRACE(split.name);
        EXPECT_EQ(FeedInChunks(script.bytes, split.sizes), script.expected);
    }
}

// Short streams, each fed whole and one byte at a time.
TEST(FrameReader, ParsesEdgeCases) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"two control frames in one read", {1, 6, 2, 1, 4, 2}, {"Ack", "Hello"}},
        {"noise and stray end bytes", {0, 2, 0xFF, 0x7F, 2, 2, 1, 5, 2}, {"Bye"}},
        {"unknown commands ignored", {1, 0, 1, 8, 1, 0xFF, 1, 7, 2}, {"Resend"}},
        {"unknown command with an end byte", {1, 9, 2, 1, 4, 2}, {"Hello"}},
        {"control end byte not examined", {1, 6, 0xFF, 1, 4, 1, 5, 2}, {"Ack", "Hello", "Bye"}},
        {"port params take any six bytes",
         {1, 2, 1, 2, 1, 2, 1, 2, 1, 6, 2},
         {"PortParams 01 02 01 02 01 02 01 02", "Ack"}},
        {"timeouts end byte not examined",
         {1, 3, 0x0A, 1, 2, 0xFF, 0xC8, 0x7E, 1, 5, 2},
         {"Timeouts 01 03 0A 01 02 FF C8 02", "Bye"}},
        {"01 01 is a message head", {1, 1, 3, 0, 1, 1, 4, 2}, {"Message 01 01 04"}},
        {"length bytes 02 and 01 are a length", {1, 1, 2, 1, 2}, {"Refused"}},
        {"too few data bytes", {1, 1, 4, 0, 0x41, 0x42, 0x43, 2, 1, 6, 2}, {"Refused", "Ack"}},
        {"too many data bytes",
         {1, 1, 2, 0, 0x41, 0x42, 0x43, 0x44, 2, 1, 6, 2},
         {"Refused", "Ack"}},
        {"length 0", {1, 1, 0, 0, 2, 1, 6, 2}, {"Refused", "Ack"}},
        {"length 0 with data", {1, 1, 0, 0, 0x41, 0x42, 2, 1, 6, 2}, {"Refused", "Ack"}},
        {"negative length", {1, 1, 0xFE, 0xFF, 0x41, 0x42, 2, 1, 6, 2}, {"Refused", "Ack"}},
        {"most negative length", {1, 1, 0x00, 0x80, 2, 1, 6, 2}, {"Refused", "Ack"}},
        // Only the end byte lost: the next start byte is one byte too many,
        // which refuses at once and starts the next frame.
        {"lost end byte, control frame follows",
         {1, 1, 2, 0, 0x41, 0x42, 1, 6, 2},
         {"Refused", "Ack"}},
        {"lost end byte, message follows",
         {1, 1, 2, 0, 0x41, 0x42, 1, 1, 2, 0, 0x43, 0x44, 2},
         {"Refused", "Message 43 44"}},
        // Data bytes lost with the end byte: the next frame's bytes complete
        // the count and the codec's verdict is the only guard; the frame after
        // is parsed again.
        {"lost data and end byte take the next frame as data",
         {1, 1, 4, 0, 0x41, 0x42, 1, 6, 2, 1, 4, 2},
         {"Message 41 42 01 06", "Hello"}},
        // A stray start byte before a message turns its head into a length:
        // the message is refused (and so asked for again).
        {"stray start byte before a message",
         {1, 1, 1, 2, 0, 0x41, 0x42, 2, 1, 6, 2},
         {"Refused", "Ack"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FeedInChunks(c.bytes, {c.bytes.size()}), c.expected);
        EXPECT_EQ(FeedInChunks(c.bytes, FixedSizes(c.bytes.size(), 1)), c.expected);
    }
}

// Unfinished frames, abandoned once the line has been silent for the limit.
struct Unfinished {
    const char* name;
    Bytes bytes;
    std::vector<std::string> onExpiry;
};

const std::vector<Unfinished> UnfinishedFrames = {
    {"start byte only", {1}, {}},
    {"truncated port params", {1, 2, 7, 1, 3}, {}},
    {"truncated timeouts", {1, 3, 0x0A}, {}},
    {"half a length", {1, 1, 4}, {"Refused"}},
    {"message without end byte", {1, 1, 4, 0, 0x41, 0x42, 0x43, 0x44}, {"Refused"}},
    {"length 0 without end byte", {1, 1, 0, 0}, {"Refused"}},
};

TEST(FrameReader, ExpireAbandonsUnfinishedFrameOnce) {
    const Bytes ack = Control(CmdAck);
    for (const Unfinished& u : UnfinishedFrames) {
        SCOPED_TRACE(u.name);
        FrameReader reader;
        reader.SetSilenceLimit(Limit);
        std::vector<FrameEvent> events;
        reader.Feed(u.bytes.data(), u.bytes.size(), 100, events);
        EXPECT_TRUE(events.empty());
        ASSERT_EQ(reader.Deadline(), 100 + Limit);

        reader.Expire(100 + Limit - 1, events);
        EXPECT_TRUE(events.empty());
        EXPECT_EQ(reader.Deadline(), 100 + Limit);

        reader.Expire(100 + Limit, events);
        EXPECT_EQ(Describe(events), u.onExpiry);
        EXPECT_EQ(reader.Deadline(), -1);
        reader.Expire(1000, events);
        EXPECT_EQ(Describe(events), u.onExpiry);

        events.clear();
        reader.Feed(ack.data(), ack.size(), 1000, events);
        EXPECT_EQ(Describe(events), std::vector<std::string>{"Ack"});
    }
}

TEST(FrameReader, SilentGapBeforeFeedAbandonsFirst) {
    const Bytes ack = Control(CmdAck);
    for (const Unfinished& u : UnfinishedFrames) {
        SCOPED_TRACE(u.name);
        FrameReader reader;
        reader.SetSilenceLimit(Limit);
        std::vector<FrameEvent> events;
        reader.Feed(u.bytes.data(), u.bytes.size(), 100, events);
        reader.Feed(ack.data(), ack.size(), 100 + Limit, events);
        std::vector<std::string> expected = u.onExpiry;
        expected.push_back("Ack");
        EXPECT_EQ(Describe(events), expected);
    }
}

TEST(FrameReader, EachByteRestartsTheSilenceLimit) {
    const Bytes frame = Message({0x41, 0x42, 0x43});
    FrameReader reader;
    reader.SetSilenceLimit(Limit);
    std::vector<FrameEvent> events;
    int64_t now = 0;
    for (uint8_t b : frame) {
        reader.Feed(&b, 1, now, events);
        if (b != EndByte) {
            EXPECT_EQ(reader.Deadline(), now + Limit);
        }
        now += Limit - 1;
    }
    EXPECT_EQ(Describe(events), std::vector<std::string>{"Message 41 42 43"});
    EXPECT_EQ(reader.Deadline(), -1);
}

TEST(FrameReader, SilenceLimitFollowsTheRate) {
    const std::vector<std::pair<uint32_t, int64_t>> cases = {
        {0, 250}, {110, 250}, {2400, 167}, {9600, 42}, {19200, 21}, {115200, 20}, {256000, 20},
    };
    for (const auto& [baud, ms] : cases)
        EXPECT_EQ(FrameReader::SilenceLimitFor(baud), ms) << baud;
}

} // namespace
} // namespace quorvik
