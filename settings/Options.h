// The settings file Options.ini beside the executable: port parameters,
// port timeouts and the program's delays, moved between the file and the
// working values.
#pragma once

#include "link/LinkState.h"
#include "link/LinkUi.h"

#include <cstdint>
#include <string>

namespace quorvik {

// Step interval of the login dialog's fade-in, ms.
extern int32_t TimeLoad;

// The directory of the running executable + "/Options.ini". Throws IniError.
std::string OptionsPath();

// Reads every key into link.PortDcb, link.PortTimeouts, the intervals of
// ui.TimerWait and ui.TimerOptions and TimeLoad. A missing file, section or
// key, or a value that is not a number, keeps the working value; so does a
// delay of 0 or less. Creates no file.
void LoadOptions(LinkState& link, LinkUi& ui, const std::string& path = OptionsPath());

// Writes every working value, key by key, keeping the rest of the file.
// Throws IniError when the file cannot be written; the keys before the
// failing one are then written already.
void SaveOptions(LinkState& link, const LinkUi& ui, const std::string& path = OptionsPath());

} // namespace quorvik
