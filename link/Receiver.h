// The reader thread: the only reader of the port. It parses frames, answers
// the peer itself and carries every user-interface action to the UI thread
// through the link's dispatcher.
#pragma once

#include "link/FrameReader.h"
#include "link/LinkState.h"

namespace quorvik {

// Acts on one frame as the reader thread does (answers written, shared
// fields under the lock, UI actions posted). Pure of I/O but WriteFrame.
void HandleFrameEvent(LinkState& link, const FrameEvent& event);

// Starts ReaderThread on link.PortHandle; at most one per port.
void StartReader(LinkState& link);
// Wakes and joins the reader; safe when none runs.
void StopReader(LinkState& link);

} // namespace quorvik
