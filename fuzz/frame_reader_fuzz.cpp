// The frame reader over any byte stream. The first bytes choose the silence
// limit, the read sizes and the time between reads; the rest is the line.
// The same stream read in one piece and in those pieces, with no time passing,
// must give the same events; with time passing, every deadline must hold.
#include "link/FrameReader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using quorvik::FrameEvent;
using quorvik::FrameReader;

constexpr std::size_t Pattern = 4;

struct Plan {
    uint32_t baud = 9600;
    std::array<std::size_t, Pattern> sizes{};
    std::array<int64_t, Pattern> gaps{}; // ms before each read
    const uint8_t* line = nullptr;
    std::size_t lineSize = 0;
};

bool Same(const FrameEvent& a, const FrameEvent& b) {
    return a.kind == b.kind && a.Frame == b.Frame && a.Data == b.Data;
}

void Check(bool ok) {
    if (!ok)
        std::abort();
}

// Every event on its own must be well formed.
void CheckEvents(const std::vector<FrameEvent>& events) {
    for (const auto& e : events) {
        if (e.kind == FrameEvent::Kind::Message)
            Check(!e.Data.empty() && e.Data.size() <= 0x7FFF);
        else
            Check(e.Data.empty());
        if (e.kind == FrameEvent::Kind::PortParams || e.kind == FrameEvent::Kind::Timeouts)
            Check(e.Frame[0] == quorvik::StartByte);
        if (e.kind == FrameEvent::Kind::Timeouts)
            Check(e.Frame[7] == quorvik::EndByte);
    }
}

std::vector<FrameEvent> InPieces(const Plan& plan, bool timePasses) {
    FrameReader reader;
    reader.SetSilenceLimit(FrameReader::SilenceLimitFor(plan.baud));
    std::vector<FrameEvent> events;
    int64_t now = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; at < plan.lineSize; ++i) {
        const std::size_t piece = std::min(plan.sizes[i % Pattern], plan.lineSize - at);
        if (timePasses) {
            const int64_t gap = plan.gaps[i % Pattern];
            // Odd gaps wake the reader at its deadline first, as the reader thread does.
            if (gap % 2 == 1 && reader.Deadline() >= 0) {
                const int64_t deadline = reader.Deadline();
                Check(deadline >= now);
                reader.Expire(deadline - 1, events);
                Check(reader.Deadline() == deadline);
                now = std::max(now, deadline);
                reader.Expire(now, events);
                Check(reader.Deadline() == -1);
            }
            now += gap;
        }
        reader.Feed(plan.line + at, piece, now, events);
        at += piece;
        Check(reader.Deadline() == -1 || reader.Deadline() >= now);
    }
    const std::size_t before = events.size();
    if (reader.Deadline() >= 0) {
        reader.Expire(reader.Deadline(), events);
        Check(reader.Deadline() == -1);
        Check(events.size() <= before + 1);
    }
    // An idle reader stays idle and quiet.
    reader.Expire(now + 1000000, events);
    Check(reader.Deadline() == -1);
    return events;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    constexpr std::size_t Header = 1 + 2 * Pattern;
    if (size < Header)
        return 0;
    static constexpr std::array<uint32_t, 8> Bauds{110,   1200,   9600, 19200,
                                                   57600, 115200, 0,    4000000};
    Plan plan;
    plan.baud = Bauds[data[0] % Bauds.size()];
    for (std::size_t i = 0; i < Pattern; ++i) {
        plan.sizes[i] = 1 + data[1 + i] % 32;
        plan.gaps[i] = data[1 + Pattern + i];
    }
    plan.line = data + Header;
    plan.lineSize = size - Header;

    FrameReader whole;
    std::vector<FrameEvent> expected;
    whole.Feed(plan.line, plan.lineSize, 0, expected);
    CheckEvents(expected);

    const auto pieces = InPieces(plan, false);
    // Without time passing, the end check may have refused one unfinished message.
    Check(pieces.size() == expected.size() || pieces.size() == expected.size() + 1);
    for (std::size_t i = 0; i < expected.size(); ++i)
        Check(Same(pieces[i], expected[i]));

    CheckEvents(InPieces(plan, true));
    return 0;
}
