// Loading the codec library and reporting what is missing.
#include "link/Codec.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace quorvik {
namespace {

const std::string NotFound = "Библиотека libKelvane.so не найдена";

void Unload(const Codec& codec) {
    if (codec.Library != nullptr) {
        dlclose(codec.Library);
    }
}

void ExpectWorkingCodec(const Codec& codec) {
    ASSERT_NE(codec.CodeProc, nullptr);
    ASSERT_NE(codec.DecodeProc, nullptr);
    EXPECT_NE(codec.Library, nullptr);
    const std::string text = "Ivan:[12:00:00] \xcf\xf0\xe8\xe2\xe5\xf2";
    std::string data(2 * text.size(), '\0');
    ASSERT_EQ(codec.CodeProc(data.data(), text.data(), static_cast<int32_t>(text.size())), 0);
    std::string decoded(text.size(), '\0');
    ASSERT_EQ(codec.DecodeProc(decoded.data(), data.data(), static_cast<int32_t>(data.size())), 0);
    EXPECT_EQ(decoded, text);
}

void ExpectEmpty(const Codec& codec) {
    EXPECT_EQ(codec.CodeProc, nullptr);
    EXPECT_EQ(codec.DecodeProc, nullptr);
    EXPECT_EQ(codec.Library, nullptr);
}

TEST(CodecLoaderTest, LoadsTheBuiltLibraryByPathAndBesideTheExecutable) {
    // The tests are built into the same folder as the library.
    std::vector<std::string> messages;
    const Codec beside = LoadCodec(messages);
    EXPECT_TRUE(messages.empty());
    ExpectWorkingCodec(beside);
    Unload(beside);

    const Codec byPath = LoadCodecFrom(QUORVIK_BIN_DIR "/libKelvane.so", messages);
    EXPECT_TRUE(messages.empty());
    ExpectWorkingCodec(byPath);
    Unload(byPath);
}

TEST(CodecLoaderTest, ReportsALibraryThatCannotBeLoadedOnce) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("quorvik-codec-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto notALibrary = folder / "libKelvane.so";
    std::ofstream(notALibrary) << "not an ELF file";

    for (const auto& path :
         {(folder / "missing" / "libKelvane.so").string(), notALibrary.string()}) {
        std::vector<std::string> messages;
        const Codec codec = LoadCodecFrom(path, messages);
        EXPECT_EQ(messages, std::vector<std::string>{NotFound}) << path;
        ExpectEmpty(codec);
    }
    std::filesystem::remove_all(folder);
}

TEST(CodecLoaderTest, ReportsBothEntriesMissingFromAForeignLibrary) {
    std::vector<std::string> messages;
    const Codec codec = LoadCodecFrom("libm.so.6", messages);
    EXPECT_EQ(messages,
              (std::vector<std::string>{"В библиотеке отсутствует нужная функция Code",
                                        "В библиотеке отсутствует нужная функция Decode"}));
    ExpectEmpty(codec);
}

} // namespace
} // namespace quorvik
