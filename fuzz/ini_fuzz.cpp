// Options.ini as any bytes: the number parsers, the INI reader, LoadOptions,
// and a save and load again, which must give back what was loaded.
#include "FuzzFiles.h"
#include "settings/Ini.h"
#include "settings/Options.h"
#include "tests/support/StateTimer.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace quorvik;

struct Working {
    LinkState link;
    StateTimer wait{1000};
    StateTimer options{5000};
    LinkUi ui;
    Working() {
        ui.TimerWait = &wait;
        ui.TimerOptions = &options;
        link.PortDcb.BaudRate = 14400;
        link.PortDcb.ByteSize = 8;
        link.PortTimeouts.ReadIntervalTimeout = 50;
    }
};

void Check(bool ok) {
    if (!ok)
        std::abort();
}

std::optional<std::string> WithoutCarriageReturns(std::optional<std::string> text) {
    while (text && text->ends_with('\r'))
        text->pop_back();
    return text;
}

void CheckSame(Working& a, Working& b, int32_t timeLoadA, int32_t timeLoadB) {
    Check(a.link.PortDcb == b.link.PortDcb);
    Check(a.link.PortTimeouts == b.link.PortTimeouts);
    Check(a.wait.Interval() == b.wait.Interval());
    Check(a.options.Interval() == b.options.Interval());
    Check(timeLoadA == timeLoadB);
    Check(a.wait.Interval() > 0 && a.options.Interval() > 0 && timeLoadA > 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    int32_t whole = 7;
    if (!ParseWholeNumber(text, whole))
        Check(whole == 7);
    double real = 0.5;
    if (ParseRealNumber(text, real))
        Check(real - real == 0); // finite
    else
        Check(real == 0.5);

    const std::string path = fuzz::ScratchDir() + "/Options.ini";
    fuzz::WriteFile(path, data, size);

    IniFile ini(path);
    static constexpr std::array<std::string_view, 4> Sections{"DCB", "ct", "times", ""};
    for (const auto section : Sections) {
        ini.ReadString(section, "BaudRate");
        ini.ReadInteger(section, "TimeWait", 1);
        ini.ReadFloat(section, "StopBits", 1.0);
    }

    // A write reads back and leaves the other keys as they were. A rewrite
    // gives every line the file's own line end, so of a "\r\r\n" line in a
    // file of "\n" lines one carriage return goes: left aside here.
    const auto before = WithoutCarriageReturns(ini.ReadString("DCB", "Parity"));
    ini.WriteString("times", "Fuzz", "42");
    const IniFile reread(path);
    Check(reread.ReadString("times", "Fuzz") == "42");
    Check(WithoutCarriageReturns(reread.ReadString("DCB", "Parity")) == before);

    TimeLoad = 50;
    Working loaded;
    LoadOptions(loaded.link, loaded.ui, path);
    const int32_t loadedTimeLoad = TimeLoad;
    SaveOptions(loaded.link, loaded.ui, path);

    TimeLoad = 50;
    Working again;
    LoadOptions(again.link, again.ui, path);
    CheckSame(loaded, again, loadedTimeLoad, TimeLoad);
    return 0;
}
