#include "settings/Ini.h"
#include "settings/Options.h"
#include "tests/support/StateTimer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

// Every working value the settings file holds.
struct Values {
    serial::Dcb dcb;
    serial::CommTimeouts ct;
    uint32_t timeWait = 1000;
    uint32_t timeOptions = 5500;
    int32_t timeLoad = 50;

    bool operator==(const Values&) const = default;
};

Values Distinct(uint32_t base) {
    Values v;
    v.dcb.BaudRate = base + 1;
    v.dcb.ByteSize = static_cast<uint8_t>(base + 2);
    v.dcb.Parity = static_cast<uint8_t>(base + 3);
    v.dcb.StopBits = static_cast<uint8_t>(base + 4);
    v.dcb.ErrorChar = static_cast<uint8_t>(base + 5);
    v.dcb.Flags =
        (base & 1) ? (serial::Dcb::fParityBit | serial::Dcb::fNullBit) : serial::Dcb::fErrorCharBit;
    v.ct = {base + 6, base + 7, base + 8, base + 9, base + 10};
    v.timeWait = base + 11;
    v.timeOptions = base + 12;
    v.timeLoad = static_cast<int32_t>(base + 13);
    return v;
}

// The link, its timers and TimeLoad, put in and taken out as Values.
class Working {
public:
    explicit Working(const Values& v = {}) : wait_(v.timeWait), options_(v.timeOptions) {
        ui_.TimerWait = &wait_;
        ui_.TimerOptions = &options_;
        link_.PortDcb = v.dcb;
        link_.PortTimeouts = v.ct;
        TimeLoad = v.timeLoad;
    }
    Values Get() const {
        return {link_.PortDcb, link_.PortTimeouts, wait_.Interval(), options_.Interval(), TimeLoad};
    }
    void Load(const std::string& path) { LoadOptions(link_, ui_, path); }
    void Save(const std::string& path) { SaveOptions(link_, ui_, path); }
    StateTimer& Wait() { return wait_; }

private:
    LinkState link_;
    StateTimer wait_;
    StateTimer options_;
    LinkUi ui_;
};

class OptionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quorvik-options-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        path_ = (dir_ / "Options.ini").string();
    }
    void TearDown() override {
        fs::remove_all(dir_);
        TimeLoad = 50;
    }

    void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const {
        std::ostringstream text;
        text << std::ifstream(path_, std::ios::binary).rdbuf();
        return text.str();
    }

    fs::path dir_;
    std::string path_;
};

TEST(OptionsPath, IsBesideTheExecutable) {
    EXPECT_EQ(fs::path(OptionsPath()),
              fs::canonical("/proc/self/exe").parent_path() / "Options.ini");
}

TEST_F(OptionsTest, WithoutFileLoadChangesNothingAndCreatesNothing) {
    Working w;
    w.Load(path_);
    EXPECT_EQ(w.Get(), Values{});
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(OptionsTest, SaveWritesAllKeysInOrderAndForm) {
    Values v;
    v.dcb = {9600, serial::Dcb::fParityBit | serial::Dcb::fNullBit | 1u, 8, 2, 2, 255};
    v.ct = {4294967295u, 0, 100, 2, 300};
    v.timeWait = 500;
    Working w(v);
    w.Save(path_);
    EXPECT_EQ(Get(), "[DCB]\r\nBaudRate=9600\r\nByteSize=8\r\nfParity=1\r\nParity=2\r\n"
                     "StopBits=2\r\nfErrorChar=0\r\nErrorChar=-1\r\nfNull=1\r\n"
                     "[ct]\r\nReadIntervalTimeout=-1\r\nReadTotalTimeoutMultiplier=0\r\n"
                     "ReadTotalTimeoutConstant=100\r\nWriteTotalTimeoutMultiplier=2\r\n"
                     "WriteTotalTimeoutConstant=300\r\n"
                     "[times]\r\nTimeWait=500\r\nTimeOptions=5500\r\nTimeLoad=50\r\n");
}

TEST_F(OptionsTest, SaveThenLoadKeepsEveryValue) {
    Values v;
    v.dcb = {4294967295u, serial::Dcb::fParityBit | serial::Dcb::fErrorCharBit, 255, 4, 1, 128};
    v.ct = {4294967295u, 2147483648u, 1, 2147483647u, 4294967294u};
    v.timeWait = 2147483647u;
    v.timeOptions = 1;
    v.timeLoad = 2147483647;
    Working(v).Save(path_);

    // Other bits of the flags word are neither read nor written.
    Values other = Distinct(0);
    other.dcb.Flags = 0xF0000001u | serial::Dcb::fNullBit;
    Working w(other);
    w.Load(path_);
    Values expected = v;
    expected.dcb.Flags |= 0xF0000001u;
    EXPECT_EQ(w.Get(), expected);
}

TEST_F(OptionsTest, LoadReadsEachFormAsThePlatformDid) {
    struct Case {
        const char* file;
        void (*expect)(Values& v);
    };
    const Case cases[] = {
        {"[DCB]\nByteSize=264\nParity=258\n",
         [](Values& v) { v.dcb.ByteSize = 8, v.dcb.Parity = 2; }},
        {"[DCB]\nfParity=7\nfErrorChar=-1\nfNull=$10\n",
         [](Values& v) {
             v.dcb.Flags |=
                 serial::Dcb::fParityBit | serial::Dcb::fErrorCharBit | serial::Dcb::fNullBit;
         }},
        {"[DCB]\nfParity=0\nfErrorChar=0\nfNull=0\n", [](Values& v) { v.dcb.Flags = 0; }},
        {"[DCB]\nErrorChar=-1\n[ct]\nReadIntervalTimeout=-1\nWriteTotalTimeoutConstant=-2\n",
         [](Values& v) {
             v.dcb.ErrorChar = 255, v.ct.ReadIntervalTimeout = 4294967295u,
             v.ct.WriteTotalTimeoutConstant = 4294967294u;
         }},
        {"[DCB]\nStopBits=1,9\n", [](Values& v) { v.dcb.StopBits = 1; }},
        {"[DCB]\nStopBits=1.9\n", [](Values& v) { v.dcb.StopBits = 1; }},
        {"[DCB]\nStopBits=-0.9\n", [](Values& v) { v.dcb.StopBits = 0; }},
        {"[DCB]\nStopBits=258\n", [](Values& v) { v.dcb.StopBits = 2; }},
        {"[DCB]\nStopBits=1e300\n", [](Values&) {}},
        {"[DCB]\nBaudRate=$1F\n[ct]\nReadTotalTimeoutConstant=0x1F\n",
         [](Values& v) { v.dcb.BaudRate = 31, v.ct.ReadTotalTimeoutConstant = 31; }},
        {"[DCB]\nBaudRate=+19200\n[ct]\nReadTotalTimeoutMultiplier=-0\n",
         [](Values& v) { v.dcb.BaudRate = 19200, v.ct.ReadTotalTimeoutMultiplier = 0; }},
        {"\xEF\xBB\xBF; saved by hand\r\n  [ dcb ]\r\n\tbaudrate \t=  4800 \r\n"
         "[CT]\r\nREADINTERVALTIMEOUT=5\r\n[Times]\r\ntimewait = 700\r\n",
         [](Values& v) { v.dcb.BaudRate = 4800, v.ct.ReadIntervalTimeout = 5, v.timeWait = 700; }},
        {"[DCB]\nBaudRate=fast\nByteSize=\nParity=2147483648\nStopBits=one\nErrorChar=7\n"
         "[ct]\nReadIntervalTimeout=12abc\nReadTotalTimeoutConstant=9\n",
         [](Values& v) { v.dcb.ErrorChar = 7, v.ct.ReadTotalTimeoutConstant = 9; }},
        {"[times]\nTimeWait=0\nTimeOptions=-5\nTimeLoad=0\n", [](Values&) {}},
        {"[times]\nTimeWait=1\nTimeOptions=$10\nTimeLoad=-5\n",
         [](Values& v) { v.timeWait = 1, v.timeOptions = 16; }},
        {"[times]\nTimeLoad=70\n[DCB]\n[ct]\n", [](Values& v) { v.timeLoad = 70; }},
        {"BaudRate=1\n[foreign]\nBaudRate=2\n", [](Values&) {}},
    };
    const Values start = Distinct(1);
    for (const auto& c : cases) {
        Put(c.file);
        Working w(start);
        w.Load(path_);
        Values expected = start;
        c.expect(expected);
        EXPECT_EQ(w.Get(), expected) << c.file;
        EXPECT_EQ(Get(), c.file) << "loading wrote the file";
    }
}

TEST_F(OptionsTest, LoadSetsIntervalsWithoutTouchingEnabled) {
    Put("[times]\nTimeWait=700\n");
    for (const bool enabled : {false, true}) {
        Working w;
        w.Wait().SetEnabled(enabled);
        w.Load(path_);
        EXPECT_EQ(w.Wait().Interval(), 700u);
        EXPECT_EQ(w.Wait().Enabled(), enabled);
    }
}

TEST_F(OptionsTest, SaveKeepsCommentsForeignKeysAndLineEnds) {
    Put("; Quorvik\n[user]\nName=x\n[DCB]\nbaudrate=1\nMine=keep\n\n[times]\nTimeLoad=9\n");
    Working(Distinct(0)).Save(path_);
    const std::string text = Get();
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_EQ(text, "; Quorvik\n[user]\nName=x\n[DCB]\nBaudRate=1\nMine=keep\nByteSize=2\n"
                    "fParity=0\nParity=3\nStopBits=4\nfErrorChar=1\nErrorChar=5\nfNull=0\n\n"
                    "[times]\nTimeLoad=13\nTimeWait=11\nTimeOptions=12\n"
                    "[ct]\nReadIntervalTimeout=6\nReadTotalTimeoutMultiplier=7\n"
                    "ReadTotalTimeoutConstant=8\nWriteTotalTimeoutMultiplier=9\n"
                    "WriteTotalTimeoutConstant=10\n");
    Working w;
    w.Load(path_);
    EXPECT_EQ(w.Get(), Distinct(0));
}

TEST_F(OptionsTest, UnwritableFileRaisesWithItsName) {
    Put("[DCB]\nBaudRate=1\n");
    for (const std::string& target : {path_ + "/Options.ini", dir_.string()}) {
        Working w(Distinct(0));
        try {
            w.Save(target);
            ADD_FAILURE() << "no error for " << target;
        } catch (const IniError& error) {
            EXPECT_NE(std::string(error.what()).find("Не удалось записать файл " + target + ": "),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(Get(), "[DCB]\nBaudRate=1\n");
}

// Each key is written through on its own, so a save cut short leaves the
// first keys new and the rest old, never a damaged file.
TEST_F(OptionsTest, SaveKilledAtAnyMomentLeavesAWholeFile) {
    const std::pair<const char*, const char*> keys[] = {
        {"DCB", "BaudRate"},
        {"DCB", "ByteSize"},
        {"DCB", "fParity"},
        {"DCB", "Parity"},
        {"DCB", "StopBits"},
        {"DCB", "fErrorChar"},
        {"DCB", "ErrorChar"},
        {"DCB", "fNull"},
        {"ct", "ReadIntervalTimeout"},
        {"ct", "ReadTotalTimeoutMultiplier"},
        {"ct", "ReadTotalTimeoutConstant"},
        {"ct", "WriteTotalTimeoutMultiplier"},
        {"ct", "WriteTotalTimeoutConstant"},
        {"times", "TimeWait"},
        {"times", "TimeOptions"},
        {"times", "TimeLoad"},
    };
    // Two versions that differ in every key.
    const Values versions[2] = {Distinct(0), Distinct(101)};
    std::vector<std::string> texts[2];
    for (int v = 0; v < 2; ++v) {
        const std::string path = path_ + std::to_string(v);
        Working(versions[v]).Save(path);
        const IniFile ini(path);
        for (const auto& [section, key] : keys) {
            texts[v].push_back(ini.ReadString(section, key).value());
        }
        fs::remove(path);
    }
    Working(versions[0]).Save(path_);

    std::mt19937 random(12345);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 1;; ++i) {
                Working(versions[i % 2]).Save(path_);
            }
        }
        usleep(std::uniform_int_distribution<useconds_t>(1000, 400000)(random));
        ASSERT_EQ(kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const IniFile ini(path_);
        int changes = 0;
        int previous = -1;
        for (std::size_t i = 0; i < std::size(keys); ++i) {
            const auto text = ini.ReadString(keys[i].first, keys[i].second);
            ASSERT_TRUE(text) << "round " << round << ": " << keys[i].second << " missing";
            const int from = *text == texts[0][i] ? 0 : (*text == texts[1][i] ? 1 : -1);
            ASSERT_NE(from, -1) << "round " << round << ": " << keys[i].second << "=" << *text;
            changes += previous != -1 && from != previous;
            previous = from;
        }
        EXPECT_LE(changes, 1) << "round " << round << ": not new keys followed by old ones";
        // A killed save may leave its temporary file; clear it for the next round.
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path() != path_) {
                fs::remove(entry.path());
            }
        }
    }
}

} // namespace
} // namespace quorvik
