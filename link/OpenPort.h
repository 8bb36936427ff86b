// The serial half of a login: open the named port, purge it, clear break,
// give it the fixed line settings and start the reader and writer.
#pragma once

#include "link/LinkState.h"

#include <string>

namespace quorvik {

// Raises LinkError with the failing step's message; nothing is left open then.
void OpenPort(LinkState& link, const std::string& portName);

} // namespace quorvik
