#include "link/Send.h"

#include "link/Codec.h"
#include "link/Connection.h"
#include "link/Frames.h"
#include "link/LinkMessages.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace quorvik {

namespace {

// Blanks and control characters; cp1251 letters above 0x7F stay.
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    auto first = std::find_if_not(text.begin(), text.end(), IsBlank);
    auto last = std::find_if_not(text.rbegin(), text.rend(), IsBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

constexpr uint32_t AnswerIntervalMs = 500;

// UI thread: the frame's last byte has left the port. The interval was set
// when the line was sent, so an answer that came first leaves it right.
void StartAnswerWindow(LinkState& link, uint64_t id) {
    {
        std::lock_guard lock(link.Lock);
        auto it = std::find_if(link.PendingFrame.begin(), link.PendingFrame.end(),
                               [id](const PendingMessage& m) { return m.Id == id; });
        if (it == link.PendingFrame.end())
            return; // answered, or the connection ended, before the write was reported
        it->Sent = true;
    }
    link.Ui->TimerWait->SetEnabled(true);
}

} // namespace

std::string ComposeLine(const std::string& userName, const std::string& time,
                        const std::string& text) {
    return userName + ":[" + time + "] " + Trim(text);
}

std::string TimeText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

void WritePendingFrame(LinkState& link, uint64_t id, const std::vector<uint8_t>& frame) {
    WriteFrame(link, frame.data(), frame.size(),
               [&link, id] { link.Ui->Post([&link, id] { StartAnswerWindow(link, id); }); });
}

void SyncAnswerTimer(LinkState& link) {
    bool waiting;
    {
        std::lock_guard lock(link.Lock);
        waiting = !link.PendingFrame.empty() && link.PendingFrame.front().Sent;
    }
    LinkTimer& timer = *link.Ui->TimerWait;
    timer.SetEnabled(false);
    if (waiting)
        timer.SetEnabled(true); // a fresh window for the next frame in line
}

void Send(LinkState& link, const std::string& line) {
    if (!link.Codecs || !link.Codecs->CodeProc)
        throw LinkError(link.Codecs && link.Codecs->Library ? text::CodeEntryMissing
                                                            : text::CodecLibraryMissing());
    if (line.size() > static_cast<std::size_t>(MaxTextLength))
        throw LinkError(text::MessageTooLong());

    const auto length = static_cast<int32_t>(line.size());
    std::vector<char> encoded(2 * line.size() + 1, 0);
    link.Codecs->CodeProc(encoded.data(), line.data(), length);
    const std::vector<uint8_t> frame =
        MessageFrame(std::vector<uint8_t>(encoded.begin(), encoded.end() - 1));

    uint64_t id = 0;
    {
        std::lock_guard lock(link.Lock);
        if (link.Connected == 1) {
            id = link.NextMessageId++;
            link.PendingFrame.push_back({frame, line, 0, id, false});
        }
    }
    if (id == 0) {
        // The peer never sees it, so no answer may ever apply to it.
        link.Ui->ReportLine(line, LineFate::NotConnected);
        return;
    }
    link.Ui->TimerWait->SetInterval(AnswerIntervalMs);
    WritePendingFrame(link, id, frame);
}

} // namespace quorvik
