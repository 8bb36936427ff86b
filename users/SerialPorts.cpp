#include "users/SerialPorts.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

// The number after prefix when the whole rest of name is digits, else -1.
long Number(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return -1;
    return std::stol(digits);
}

// The numbered devices dev/prefixN, in number order.
std::vector<std::pair<long, fs::path>> Numbered(const std::string& dev, const std::string& prefix) {
    std::vector<std::pair<long, fs::path>> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dev, error)) {
        const long n = Number(entry.path().filename().string(), prefix);
        if (n >= 0)
            found.emplace_back(n, entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// An 8250-style port of type 0 (PORT_UNKNOWN) is a slot without a UART.
bool HasUart(const std::string& sysTty, const fs::path& devPath) {
    const fs::path name = devPath.filename();
    std::error_code error;
    if (!fs::exists(fs::path(sysTty) / name / "device", error))
        return false;
    std::ifstream typeFile(fs::path(sysTty) / name / "type");
    if (typeFile) {
        int type = 0;
        return static_cast<bool>(typeFile >> type) && type != PORT_UNKNOWN;
    }
    const int fd = ::open(devPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return true; // there is a device; whether it has a UART cannot be told
    serial_struct info{};
    const bool known = ::ioctl(fd, TIOCGSERIAL, &info) != 0 || info.type != PORT_UNKNOWN;
    ::close(fd);
    return known;
}

} // namespace

std::vector<std::string> SerialPorts(const SerialRoots& roots) {
    std::vector<std::string> ports;

    std::vector<std::string> links;
    std::error_code error;
    for (const auto& entry :
         fs::directory_iterator(fs::path(roots.dev) / "serial" / "by-id", error))
        links.push_back(entry.path().string());
    std::sort(links.begin(), links.end());
    ports.insert(ports.end(), links.begin(), links.end());

    for (const char* prefix : {"ttyUSB", "ttyACM"})
        for (const auto& [n, path] : Numbered(roots.dev, prefix))
            ports.push_back(path.string());

    for (const auto& [n, path] : Numbered(roots.dev, "ttyS"))
        if (HasUart(roots.sysTty, path))
            ports.push_back(path.string());
    return ports;
}

} // namespace quorvik
