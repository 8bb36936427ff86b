#include "settings/Options.h"

#include "settings/Ini.h"

#include <cerrno>
#include <cmath>
#include <limits.h>
#include <unistd.h>

namespace quorvik {

int32_t TimeLoad = 50;

namespace {

constexpr const char* kDcb = "DCB";
constexpr const char* kTimeouts = "ct";
constexpr const char* kTimes = "times";

uint32_t ReadWord(const IniFile& ini, const char* section, const char* key, uint32_t current) {
    return static_cast<uint32_t>(ini.ReadInteger(section, key, static_cast<int32_t>(current)));
}

uint8_t ReadByte(const IniFile& ini, const char* key, uint8_t current) {
    return static_cast<uint8_t>(ini.ReadInteger(kDcb, key, current));
}

void ReadFlag(const IniFile& ini, const char* key, serial::Dcb& dcb, uint32_t bit) {
    dcb.SetFlag(bit, ini.ReadInteger(kDcb, key, (dcb.Flags & bit) ? 1 : 0) != 0);
}

uint8_t ReadCode(const IniFile& ini, const char* key, uint8_t current) {
    const double value = std::trunc(ini.ReadFloat(kDcb, key, current));
    // Beyond this the whole-number conversion is undefined; keep the code.
    if (!(std::fabs(value) < 0x1p63)) {
        return current;
    }
    return static_cast<uint8_t>(static_cast<int64_t>(value));
}

// A delay of 0 or less would stop its timer for good: keep the one we have.
int32_t ReadDelay(const IniFile& ini, const char* key, int32_t current) {
    const int32_t value = ini.ReadInteger(kTimes, key, current);
    return value > 0 ? value : current;
}

void ReadInterval(const IniFile& ini, const char* key, LinkTimer* timer) {
    if (timer == nullptr) {
        return;
    }
    const int32_t current = static_cast<int32_t>(timer->Interval());
    const int32_t value = ini.ReadInteger(kTimes, key, current);
    if (value > 0) {
        timer->SetInterval(static_cast<uint32_t>(value));
    }
}

void ReadDcb(const IniFile& ini, serial::Dcb& dcb) {
    dcb.BaudRate = ReadWord(ini, kDcb, "BaudRate", dcb.BaudRate);
    dcb.ByteSize = ReadByte(ini, "ByteSize", dcb.ByteSize);
    ReadFlag(ini, "fParity", dcb, serial::Dcb::fParityBit);
    dcb.Parity = ReadByte(ini, "Parity", dcb.Parity);
    dcb.StopBits = ReadCode(ini, "StopBits", dcb.StopBits);
    ReadFlag(ini, "fErrorChar", dcb, serial::Dcb::fErrorCharBit);
    dcb.ErrorChar = ReadByte(ini, "ErrorChar", dcb.ErrorChar);
    ReadFlag(ini, "fNull", dcb, serial::Dcb::fNullBit);
}

void ReadTimeouts(const IniFile& ini, serial::CommTimeouts& ct) {
    ct.ReadIntervalTimeout =
        ReadWord(ini, kTimeouts, "ReadIntervalTimeout", ct.ReadIntervalTimeout);
    ct.ReadTotalTimeoutMultiplier =
        ReadWord(ini, kTimeouts, "ReadTotalTimeoutMultiplier", ct.ReadTotalTimeoutMultiplier);
    ct.ReadTotalTimeoutConstant =
        ReadWord(ini, kTimeouts, "ReadTotalTimeoutConstant", ct.ReadTotalTimeoutConstant);
    ct.WriteTotalTimeoutMultiplier =
        ReadWord(ini, kTimeouts, "WriteTotalTimeoutMultiplier", ct.WriteTotalTimeoutMultiplier);
    ct.WriteTotalTimeoutConstant =
        ReadWord(ini, kTimeouts, "WriteTotalTimeoutConstant", ct.WriteTotalTimeoutConstant);
}

void WriteWord(IniFile& ini, const char* section, const char* key, uint32_t value) {
    ini.WriteInteger(section, key, static_cast<int32_t>(value));
}

void WriteFlag(IniFile& ini, const char* key, const serial::Dcb& dcb, uint32_t bit) {
    ini.WriteInteger(kDcb, key, (dcb.Flags & bit) ? 1 : 0);
}

} // namespace

std::string OptionsPath() {
    char exe[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe);
    if (length < 0 || static_cast<std::size_t>(length) >= sizeof exe) {
        throw IniError::NoProgramDir(length < 0 ? errno : ENAMETOOLONG);
    }
    std::string path(exe, static_cast<std::size_t>(length));
    path.erase(path.rfind('/') + 1);
    return path + "Options.ini";
}

void LoadOptions(LinkState& link, LinkUi& ui, const std::string& path) {
    const IniFile ini(path);
    {
        // The reader thread writes these too; the reads below touch no file.
        std::lock_guard lock(link.Lock);
        ReadDcb(ini, link.PortDcb);
        ReadTimeouts(ini, link.PortTimeouts);
    }
    ReadInterval(ini, "TimeWait", ui.TimerWait);
    ReadInterval(ini, "TimeOptions", ui.TimerOptions);
    TimeLoad = ReadDelay(ini, "TimeLoad", TimeLoad);
}

void SaveOptions(LinkState& link, const LinkUi& ui, const std::string& path) {
    serial::Dcb dcb;
    serial::CommTimeouts ct;
    {
        std::lock_guard lock(link.Lock);
        dcb = link.PortDcb;
        ct = link.PortTimeouts;
    }
    IniFile ini(path);
    WriteWord(ini, kDcb, "BaudRate", dcb.BaudRate);
    ini.WriteInteger(kDcb, "ByteSize", dcb.ByteSize);
    WriteFlag(ini, "fParity", dcb, serial::Dcb::fParityBit);
    ini.WriteInteger(kDcb, "Parity", dcb.Parity);
    ini.WriteFloat(kDcb, "StopBits", dcb.StopBits);
    WriteFlag(ini, "fErrorChar", dcb, serial::Dcb::fErrorCharBit);
    ini.WriteInteger(kDcb, "ErrorChar", static_cast<int8_t>(dcb.ErrorChar));
    WriteFlag(ini, "fNull", dcb, serial::Dcb::fNullBit);

    WriteWord(ini, kTimeouts, "ReadIntervalTimeout", ct.ReadIntervalTimeout);
    WriteWord(ini, kTimeouts, "ReadTotalTimeoutMultiplier", ct.ReadTotalTimeoutMultiplier);
    WriteWord(ini, kTimeouts, "ReadTotalTimeoutConstant", ct.ReadTotalTimeoutConstant);
    WriteWord(ini, kTimeouts, "WriteTotalTimeoutMultiplier", ct.WriteTotalTimeoutMultiplier);
    WriteWord(ini, kTimeouts, "WriteTotalTimeoutConstant", ct.WriteTotalTimeoutConstant);

    if (ui.TimerWait != nullptr) {
        WriteWord(ini, kTimes, "TimeWait", ui.TimerWait->Interval());
    }
    if (ui.TimerOptions != nullptr) {
        WriteWord(ini, kTimes, "TimeOptions", ui.TimerOptions->Interval());
    }
    ini.WriteInteger(kTimes, "TimeLoad", TimeLoad);
}

} // namespace quorvik
