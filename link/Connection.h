// The course of a connection as the UI thread drives it: the greeting, the
// answer timer, the two-step options timer, the user's disconnect and the
// closing of the link. Failures are raised as LinkError.
#pragma once

#include "link/LinkState.h"

#include <stdexcept>

namespace quorvik {

// A failure with the system's message (UTF-8), shown in the exception box.
class LinkError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void BeginConnection(LinkState& link);
void ConnectExecute(LinkState& link); // BeginConnection unless connected
void EndConnection(LinkState& link);  // the user's disconnect
// ByeFrame, then the reader ended and joined, the writer flushed, the port closed.
void CloseLink(LinkState& link);
void TimerWaitTimer(LinkState& link);
void TimerOptionsTimer(LinkState& link);

} // namespace quorvik
