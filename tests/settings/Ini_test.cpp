#include "settings/Ini.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

TEST(ParseWholeNumber, TakesWhatStrToIntTakes) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"0", true, 0},
        {"9600", true, 9600},
        {"-1", true, -1},
        {"+12", true, 12},
        {"  42", true, 42},
        {"$1F", true, 31},
        {"0x1F", true, 31},
        {"0X1f", true, 31},
        {"-$10", true, -16},
        {"-0x10", true, -16},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, INT32_MIN},
        {"$7FFFFFFF", true, INT32_MAX},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"$80000000", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"$", false, 0},
        {"0x", false, 0},
        {"abc", false, 0},
        {"12abc", false, 0},
        {"12 ", false, 0},
        {"1.5", false, 0},
        {"$1G", false, 0},
        {"--1", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 77;
        EXPECT_EQ(ParseWholeNumber(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 77) << c.text;
    }
}

TEST(ParseRealNumber, AcceptsEitherSeparatorOnly) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    };
    const Case cases[] = {
        {"1", true, 1},    {"1.9", true, 1.9},  {"1,9", true, 1.9},  {"-2.5", true, -2.5},
        {"+2", true, 2},   {".5", true, 0.5},   {"1e2", true, 100},  {"1,5E-1", true, 0.15},
        {"", false, 0},    {"abc", false, 0},   {"1,2.3", false, 0}, {"inf", false, 0},
        {"nan", false, 0}, {"0x1p3", false, 0}, {"1 ", false, 0},    {"+-1", false, 0},
        {"1e", false, 0},  {"1e999", false, 0},
    };
    for (const auto& c : cases) {
        double value = 7;
        EXPECT_EQ(ParseRealNumber(c.text, value), c.ok) << c.text;
        EXPECT_DOUBLE_EQ(value, c.ok ? c.value : 7) << c.text;
    }
}

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/quorvik-ini-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        path_ = (dir_ / "Options.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Put(const std::string& text) const { std::ofstream(path_, std::ios::binary) << text; }
    std::string Get() const {
        std::ostringstream text;
        text << std::ifstream(path_, std::ios::binary).rdbuf();
        return text.str();
    }
    std::vector<fs::path> Entries() const {
        return {fs::directory_iterator(dir_), fs::directory_iterator()};
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(IniFileTest, ReadsTheFormsOfTheWindowsProfile) {
    Put("\xEF\xBB\xBF; comment=1\r\n"
        "top=0\r\n"
        "  [ Dcb ]  \r\n"
        ";BaudRate=1\r\n"
        "  baudRATE  =  9600  \r\n"
        "BaudRate=1200\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "[other]\r\n"
        "Key=other\r\n"
        "[DCB]\r\n"
        "Late=second section\r\n");
    const IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("DCB", "BaudRate"), "9600"); // first one wins, comment skipped
    EXPECT_EQ(ini.ReadInteger("dcb", "BAUDRATE", 0), 9600);
    EXPECT_EQ(ini.ReadString("DCB", "Empty"), "");
    EXPECT_EQ(ini.ReadString("DCB", "NoEquals"), std::nullopt);
    EXPECT_EQ(ini.ReadString("DCB", "Key"), std::nullopt);
    EXPECT_EQ(ini.ReadString("DCB", "Late"), std::nullopt); // only the first [DCB] counts
    EXPECT_EQ(ini.ReadString("Other", "key"), "other");
    EXPECT_EQ(ini.ReadString("DCB", "top"), std::nullopt);
    EXPECT_EQ(ini.ReadString("missing", "Key"), std::nullopt);
    EXPECT_EQ(ini.ReadInteger("DCB", "Empty", -3), -3);
    EXPECT_DOUBLE_EQ(ini.ReadFloat("DCB", "Empty", 2.5), 2.5);
}

TEST_F(IniFileTest, MissingFileReadsEmptyAndFirstWriteCreatesItWithCrlf) {
    IniFile ini(path_);
    EXPECT_EQ(ini.ReadString("a", "b"), std::nullopt);
    EXPECT_TRUE(Entries().empty());
    ini.WriteInteger("a", "b", -1);
    EXPECT_EQ(Get(), "[a]\r\nb=-1\r\n");
    ini.WriteFloat("a", "c", 2);
    ini.WriteString("z", "d", "x");
    EXPECT_EQ(Get(), "[a]\r\nb=-1\r\nc=2\r\n[z]\r\nd=x\r\n");
    EXPECT_EQ(ini.ReadString("a", "c"), "2");
    EXPECT_EQ(Entries().size(), 1u) << "no temporary file left behind";
}

TEST_F(IniFileTest, WriteUpdatesInPlaceAndKeepsEverythingElse) {
    struct Case {
        const char* name;
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"LF kept, key replaced in place, missing key at end of its section",
         "; settings\n[DCB]\nBaudRate = 1\n; note\nOther=x\n\n[foreign]\nk=v\n",
         "; settings\n[DCB]\nBaudRate=9600\n; note\nOther=x\nByteSize=8\n\n[foreign]\nk=v\n[ct]\n"
         "A=1\n"},
        {"CRLF and BOM kept, names matched in any case", "\xEF\xBB\xBF[dcb]\r\nbaudrate=1\r\n",
         "\xEF\xBB\xBF[dcb]\r\nBaudRate=9600\r\nByteSize=8\r\n[ct]\r\nA=1\r\n"},
        {"file without a final line end", "[DCB]\nBaudRate=1",
         "[DCB]\nBaudRate=9600\nByteSize=8\n[ct]\nA=1\n"},
    };
    for (const auto& c : cases) {
        Put(c.before);
        IniFile ini(path_);
        ini.WriteInteger("DCB", "BaudRate", 9600);
        ini.WriteInteger("DCB", "ByteSize", 8);
        ini.WriteInteger("ct", "A", 1);
        EXPECT_EQ(Get(), c.after) << c.name;
    }
}

TEST_F(IniFileTest, UnwritablePathRaisesWithTheNameAndReason) {
    Put("[DCB]\nBaudRate=1\n");
    const std::string underFile = path_ + "/Options.ini"; // parent is a regular file
    const std::string directory = dir_.string();          // the path is a directory
    for (const auto& target : {underFile, directory}) {
        IniFile ini(target);
        EXPECT_EQ(ini.ReadString("DCB", "BaudRate"), std::nullopt) << target;
        try {
            ini.WriteInteger("DCB", "BaudRate", 2);
            ADD_FAILURE() << "no error for " << target;
        } catch (const IniError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("Не удалось записать файл " + target + ": ", 0), 0u) << message;
            EXPECT_GT(message.size(), ("Не удалось записать файл " + target + ": ").size());
        }
    }
    EXPECT_EQ(Get(), "[DCB]\nBaudRate=1\n");
    EXPECT_EQ(Entries().size(), 1u);
}

} // namespace
} // namespace quorvik
