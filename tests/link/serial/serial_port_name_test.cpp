#include "link/serial/Port.h"
#include "tests/link/serial/Fixtures.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TEST(ResolvePortName, ComNamesInAnyCaseMapToSerialDevices) {
    const std::pair<const char*, const char*> cases[] = {
        {"Com1", "/dev/ttyS0"},
        {"COM2", "/dev/ttyS1"},
        {"cOM12", "/dev/ttyS11"},
        {"com256", "/dev/ttyS255"},
    };
    for (const auto& [name, device] : cases) {
        EXPECT_EQ(serial::ResolvePortName(name), device) << name;
    }
}

TEST(ResolvePortName, OtherNamesStayUnchanged) {
    for (const char* name : {"Com0", "ComX", "Com", "", "Com-1", "Com+1", "Com1 ", " Com1", "Com01",
                             "Com1x", "Cam1", "Com99999999999999999999", "/dev/nonexistent-port"}) {
        EXPECT_EQ(serial::ResolvePortName(name), name) << '"' << name << '"';
    }
}

TEST(ResolvePortName, ExistingRelativePathIsKept) {
    namespace fs = std::filesystem;
    serial::test::TempDir dir;
    std::ofstream(dir.Path() / "Com3") << "x";
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    const std::string kept = serial::ResolvePortName("Com3");
    const std::string mapped = serial::ResolvePortName("Com4");
    fs::current_path(before);
    EXPECT_EQ(kept, "Com3");
    EXPECT_EQ(mapped, "/dev/ttyS3");
}

} // namespace
