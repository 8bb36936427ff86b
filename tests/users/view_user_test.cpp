#include "users/UserDirectoryError.h"
#include "users/ViewUser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using quorvik::ECViewUserReader;

namespace {

const char* Example = "<?xml version=\"1.0\"?>\n"
                      "<users>\n"
                      "  <user name=\"Anna\" port=\"Com1\"/>\n"
                      "  <user name=\"Boris\" port=\"Com2\"/>\n"
                      "</users>\n";

class Directory : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvik-users-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        path_ = (dir_ / "viewUsers.xml").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void Write(const std::string& bytes) { std::ofstream(path_, std::ios::binary) << bytes; }
    std::string Read() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::vector<std::pair<std::string, std::string>> Entries() {
        ECViewUserReader reader(path_);
        std::vector<std::pair<std::string, std::string>> out;
        for (int i = 0; i < reader.Load(); ++i)
            out.emplace_back(reader.Item(i)->Name, reader.Item(i)->Port);
        return out;
    }

    fs::path dir_;
    std::string path_;
};

using Users = std::vector<std::pair<std::string, std::string>>;

TEST_F(Directory, ReadsInDocumentOrderAndOnlyOnceUntilReleased) {
    Write(Example);
    ECViewUserReader reader(path_);
    ASSERT_EQ(reader.Count(), 0);
    ASSERT_EQ(reader.Load(), 2);
    EXPECT_EQ(reader.Item(0)->Name, "Anna");
    EXPECT_EQ(reader.Item(1)->Name, "Boris");
    EXPECT_EQ(reader.Item(1)->Port, "Com2");
    EXPECT_EQ(reader.Item(2), nullptr);

    Write("<users><user name=\"Carl\" port=\"Com3\"/></users>");
    EXPECT_EQ(reader.Load(), 2) << "a loaded directory does not look at the file again";
    reader.Release();
    EXPECT_EQ(reader.Count(), 0);
    ASSERT_NE(reader.Item(0), nullptr) << "Item loads afresh after a release";
    EXPECT_EQ(reader.Item(0)->Name, "Carl");
}

TEST_F(Directory, FilesThatHoldNoUsersReadAsNone) {
    const char* cases[] = {
        "",
        "<users>",                                             // malformed
        "<people><user name=\"A\" port=\"Com1\"/></people>",   // other root
        "<users></users>",                                     // no user
        "<users><User name=\"A\" port=\"Com1\"/></users>",     // names match case-sensitively
        "<users><user name=\"A\" port=\"Com1\"/></users><x/>", // two roots
        "\x01\x02\xff garbage",
    };
    for (const char* text : cases) {
        Write(text);
        ECViewUserReader reader(path_);
        EXPECT_EQ(reader.Load(), 0) << text;
        EXPECT_EQ(reader.Item(0), nullptr);
    }
    fs::remove(path_);
    EXPECT_EQ(ECViewUserReader(path_).Load(), 0);
}

TEST_F(Directory, SkipsForeignNodesAndReadsMissingAttributesAsEmpty) {
    Write("<?xml version=\"1.0\"?>\n<!-- the users -->\n<users>\n  <!-- a -->\n"
          "  <user name=\"Anna\" port=\"Com1\" extra=\"x\"/>\n  <USER name=\"no\"/>\n"
          "  <group/>\n  text\n  <user port=\"Com4\"/>\n  <user name=\"Anna\"/>\n</users>\n");
    EXPECT_EQ(Entries(), (Users{{"Anna", "Com1"}, {"", "Com4"}, {"Anna", ""}}));
}

TEST_F(Directory, SaveUserUpdatesTheFirstMatchOrAppends) {
    Write(Example);
    ECViewUserReader reader(path_);
    reader.SaveUser("Boris", "Com1");
    EXPECT_EQ(Entries(), (Users{{"Anna", "Com1"}, {"Boris", "Com1"}}));
    reader.SaveUser("boris", "Com2");
    EXPECT_EQ(Entries(), (Users{{"Anna", "Com1"}, {"Boris", "Com1"}, {"boris", "Com2"}}));
    reader.SaveUser("Anna", "Com9");
    reader.SaveUser("boris", "Com7");
    EXPECT_EQ(Entries(), (Users{{"Anna", "Com9"}, {"Boris", "Com1"}, {"boris", "Com7"}}));
    EXPECT_NE(Read().find("<user name=\"boris\" port=\"Com7\"/>"), std::string::npos)
        << "a new element has name, then port: " << Read();
}

TEST_F(Directory, SaveUserWithDuplicatesChangesOnlyTheFirst) {
    Write("<users><user name=\"A\" port=\"Com1\"/><user name=\"A\" port=\"Com2\"/></users>");
    ECViewUserReader(path_).SaveUser("A", "Com5");
    EXPECT_EQ(Entries(), (Users{{"A", "Com5"}, {"A", "Com2"}}));
}

TEST_F(Directory, SaveUserWithoutAFileCreatesNone) {
    ECViewUserReader(path_).SaveUser("Anna", "Com1");
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(Directory, SaveUserOnAMalformedFileRaisesAndKeepsIt) {
    Write("<users><user name=\"A\"");
    EXPECT_THROW(ECViewUserReader(path_).SaveUser("B", "Com1"), quorvik::UserDirectoryError);
    EXPECT_EQ(Read(), "<users><user name=\"A\"");
}

// Names are cp1251 in memory; the file keeps its own encoding, declaration,
// comments and layout.
TEST_F(Directory, KeepsTheDocumentsEncodingAndEverythingElse) {
    const std::string ivan = "\xC8\xE2\xE0\xED"; // "Иван" in cp1251
    struct Case {
        const char* what;
        std::string bytes;
        std::string mustStay;
    };
    const Case cases[] = {
        {"windows-1251",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<!-- keep -->\n<users>\n  <user "
         "name=\"" +
             ivan + "\" port=\"Com1\"/>\n</users>\n",
         "<!-- keep -->"},
        {"utf-8 without declaration",
         "<users>\n  <user name=\"\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD\" port=\"Com1\"/>\n  <!-- keep "
         "-->\n</users>\n",
         "<!-- keep -->"},
    };
    for (const Case& c : cases) {
        Write(c.bytes);
        ASSERT_EQ(Entries(), (Users{{ivan, "Com1"}})) << c.what;
        ECViewUserReader(path_).SaveUser(ivan, "Com2");
        ECViewUserReader(path_).SaveUser("\xCF\xE5\xF2\xF0", "Com3"); // "Петр"
        EXPECT_EQ(Entries(), (Users{{ivan, "Com2"}, {"\xCF\xE5\xF2\xF0", "Com3"}})) << c.what;
        const std::string after = Read();
        EXPECT_NE(after.find(c.mustStay), std::string::npos) << c.what;
        EXPECT_EQ(after.rfind("<?xml", 0) == 0, c.bytes.rfind("<?xml", 0) == 0) << c.what << after;
        if (c.bytes.find("windows-1251") != std::string::npos) {
            EXPECT_NE(after.find(ivan), std::string::npos) << "still stored as cp1251 bytes";
        }
    }
}

TEST_F(Directory, ReadsAndWritesUtf16WithAByteOrderMark) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><users><user name=\"Anna\" "
                       "port=\"Com1\"/></users>";
    std::string bytes = "\xFF\xFE";
    for (char ch : text) {
        bytes += ch;
        bytes += '\0';
    }
    Write(bytes);
    ASSERT_EQ(Entries(), (Users{{"Anna", "Com1"}}));
    ECViewUserReader(path_).SaveUser("Boris", "Com2");
    EXPECT_EQ(Read().substr(0, 4), std::string("\xFF\xFE<\0", 4));
    EXPECT_EQ(Entries(), (Users{{"Anna", "Com1"}, {"Boris", "Com2"}}));
}

TEST_F(Directory, TheInstalledDefaultHoldsOrlek) {
    ECViewUserReader reader(std::string(QUORVIK_BIN_DIR) + "/viewUsers.xml");
    ASSERT_EQ(reader.Load(), 1);
    EXPECT_EQ(reader.Item(0)->Name, "Orlek");
    EXPECT_EQ(reader.Item(0)->Port, "Com1");
}

} // namespace
