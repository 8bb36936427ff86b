// The serial ports this machine has, for the login dialog's port list.
#pragma once

#include <string>
#include <vector>

namespace quorvik {

// Where to look; the tests point both at folders of their own.
struct SerialRoots {
    std::string dev = "/dev";
    std::string sysTty = "/sys/class/tty";
};

// Device paths in this order: the /dev/serial/by-id links, ttyUSB*, ttyACM*,
// then the ttyS* that have a port behind them; each group in number order.
std::vector<std::string> SerialPorts(const SerialRoots& roots = {});

} // namespace quorvik
