// Outgoing chat lines: composition, encoding, framing, the queue of
// unanswered frames and the answer timer.
#pragma once

#include "link/LinkState.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvik {

// The chat line: user name, ":[", time, "] ", the text trimmed of blanks and
// control characters at both ends. All cp1251.
std::string ComposeLine(const std::string& userName, const std::string& time,
                        const std::string& text);
// The time as the line carries it, "H:MM:SS" of the local clock.
std::string TimeText();

// Sends one composed line (cp1251); returns normally once it is queued, or
// reported NotConnected and dropped. Raises LinkError, before anything is sent, for a line too long
// for the length field or a missing codec.
void Send(LinkState& link, const std::string& line);

// Puts the pending frame with this id on the line (any thread). Once its last
// byte has left the port the answer timer starts on the UI thread, unless the
// frame was answered or dropped meanwhile.
void WritePendingFrame(LinkState& link, uint64_t id, const std::vector<uint8_t>& frame);

// After an answer (UI thread): the timer runs on, restarted, while the oldest
// unanswered frame is on the line; otherwise it stops.
void SyncAnswerTimer(LinkState& link);

} // namespace quorvik
