// The program's files under a process killed at any moment while saving
// them: afterwards each file loads and holds the last finished save or the
// one under way, never a torn mixture or a lost entry.
#include "settings/Options.h"
#include "tests/support/StateTimer.h"
#include "users/ViewUser.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

constexpr int Rounds = 30;

class CrashSafety : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvik-crash-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs save(1), save(2), ... in a child killed at a random moment, Rounds
    // times; the numbering goes on across rounds. After each kill, check gets
    // the last save that finished (0: none yet) and must find the file at it
    // or at the next one.
    void KillWhileSaving(const std::function<void(int)>& save,
                         const std::function<void(int done)>& check) {
        std::mt19937 random(20261211);
        int done = 0;
        for (int round = 0; round < Rounds && !HasFatalFailure(); ++round) {
            int pipeFds[2];
            ASSERT_EQ(::pipe(pipeFds), 0);
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::close(pipeFds[0]);
                ::fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
                for (int version = done + 1;; ++version) {
                    try {
                        save(version);
                    } catch (...) {
                        ::_exit(2);
                    }
                    if (::write(pipeFds[1], &version, sizeof version) != sizeof version)
                        ::_exit(3); // a report lost would make the check wrong
                }
            }
            ::close(pipeFds[1]);
            // At least one save of this round has finished, then a random moment.
            int finished = 0;
            ASSERT_EQ(::read(pipeFds[0], &finished, sizeof finished), sizeof finished);
            ::usleep(std::uniform_int_distribution<useconds_t>(0, 40000)(random));
            ASSERT_EQ(::kill(child, SIGKILL), 0);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
                << "the saving child ended by itself: " << status;
            while (::read(pipeFds[0], &finished, sizeof finished) == sizeof finished) {
            }
            ::close(pipeFds[0]);
            ASSERT_GT(finished, done);
            done = finished;
            SCOPED_TRACE("round " + std::to_string(round) + ", last save " + std::to_string(done));
            check(done);
        }
    }

    fs::path dir_;
};

// The sixteen working values, in the order SaveOptions writes them.
using OptionValues = std::array<uint32_t, 16>;

// Each version differs from the next in every value.
OptionValues OptionsVersion(int version) {
    const auto v = static_cast<uint32_t>(version);
    return {9600 + v,   v % 256,  v % 2,      (v + 1) % 256, (v + 2) % 256, (v + 1) % 2,
            v % 256,    v % 2,    100000 + v, 200000 + v,    300000 + v,    400000 + v,
            500000 + v, 1000 + v, 5000 + v,   50 + v};
}

struct WorkingOptions {
    LinkState link;
    StateTimer wait{0};
    StateTimer options{0};
    LinkUi ui;

    WorkingOptions() {
        ui.TimerWait = &wait;
        ui.TimerOptions = &options;
    }
    void Set(const OptionValues& x) {
        serial::Dcb& d = link.PortDcb;
        d.BaudRate = x[0];
        d.ByteSize = static_cast<uint8_t>(x[1]);
        d.SetFlag(serial::Dcb::fParityBit, x[2] != 0);
        d.Parity = static_cast<uint8_t>(x[3]);
        d.StopBits = static_cast<uint8_t>(x[4]);
        d.SetFlag(serial::Dcb::fErrorCharBit, x[5] != 0);
        d.ErrorChar = static_cast<uint8_t>(x[6]);
        d.SetFlag(serial::Dcb::fNullBit, x[7] != 0);
        serial::CommTimeouts& t = link.PortTimeouts;
        t.ReadIntervalTimeout = x[8];
        t.ReadTotalTimeoutMultiplier = x[9];
        t.ReadTotalTimeoutConstant = x[10];
        t.WriteTotalTimeoutMultiplier = x[11];
        t.WriteTotalTimeoutConstant = x[12];
        wait.SetInterval(x[13]);
        options.SetInterval(x[14]);
        TimeLoad = static_cast<int32_t>(x[15]);
    }
    OptionValues Get() const {
        const serial::Dcb& d = link.PortDcb;
        const serial::CommTimeouts& t = link.PortTimeouts;
        return {d.BaudRate,
                d.ByteSize,
                d.fParity(),
                d.Parity,
                d.StopBits,
                d.fErrorChar(),
                d.ErrorChar,
                d.fNull(),
                t.ReadIntervalTimeout,
                t.ReadTotalTimeoutMultiplier,
                t.ReadTotalTimeoutConstant,
                t.WriteTotalTimeoutMultiplier,
                t.WriteTotalTimeoutConstant,
                wait.Interval(),
                options.Interval(),
                static_cast<uint32_t>(TimeLoad)};
    }
};

// Options.ini is written key by key, each key whole: a save cut short leaves
// the first keys at the save under way and the rest at the one before.
TEST_F(CrashSafety, OptionsIniLoadsAtTheLastSaveOrTheOneUnderWay) {
    const std::string path = (dir_ / "Options.ini").string();
    const auto save = [&](int version) {
        WorkingOptions working;
        working.Set(OptionsVersion(version));
        SaveOptions(working.link, working.ui, path);
    };
    save(0);
    const int32_t timeLoad = TimeLoad;
    KillWhileSaving(save, [&](int done) {
        WorkingOptions loaded;
        // Values no version has, so a key that is missing shows.
        loaded.Set(OptionValues{1, 255, 0, 254, 253, 0, 252, 0, 1, 1, 1, 1, 1, 7, 7, 7});
        LoadOptions(loaded.link, loaded.ui, path);
        const OptionValues got = loaded.Get();
        const OptionValues old = OptionsVersion(done);
        const OptionValues next = OptionsVersion(done + 1);
        bool oldSeen = false;
        for (std::size_t i = 0; i < got.size(); ++i) {
            ASSERT_TRUE(got[i] == old[i] || got[i] == next[i])
                << "value " << i << " is " << got[i] << ", from neither " << old[i] << " nor "
                << next[i];
            ASSERT_FALSE(oldSeen && got[i] == next[i]) << "value " << i << " newer than one before";
            oldSeen = oldSeen || got[i] == old[i];
        }
    });
    TimeLoad = timeLoad;
}

constexpr int DirectoryUsers = 5;

std::string UserName(int i) {
    return "User" + std::to_string(i);
}

// Save number v gives user v % 5 the port "P<v>"; at first every port is "P0".
std::string PortAfter(int user, int version) {
    int last = version - ((version - user) % DirectoryUsers + DirectoryUsers) % DirectoryUsers;
    return "P" + std::to_string(last >= 1 ? last : 0);
}

// viewUsers.xml is replaced whole by each save.
TEST_F(CrashSafety, UserDirectoryLoadsAtTheLastSaveOrTheOneUnderWay) {
    const std::string path = (dir_ / "viewUsers.xml").string();
    {
        std::ofstream out(path, std::ios::binary);
        out << "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<users>\n";
        for (int i = 0; i < DirectoryUsers; ++i)
            out << "  <user name=\"" << UserName(i) << "\" port=\"P0\"/>\n";
        out << "</users>\n";
    }
    const auto save = [&](int version) {
        ECViewUserReader(path).SaveUser(UserName(version % DirectoryUsers),
                                        "P" + std::to_string(version));
    };
    KillWhileSaving(save, [&](int done) {
        ECViewUserReader reader(path);
        ASSERT_EQ(reader.Load(), DirectoryUsers);
        int at = -1;
        for (int version : {done, done + 1}) {
            bool all = true;
            for (int i = 0; i < DirectoryUsers; ++i)
                all = all && reader.Item(i)->Name == UserName(i) &&
                      reader.Item(i)->Port == PortAfter(i, version);
            at = all ? version : at;
        }
        ASSERT_NE(at, -1) << "the directory is at neither save";
    });
}

} // namespace
} // namespace quorvik
