#include "link/Codec.h"

#include "link/CodecMessages.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace quorvik {

namespace {

// Gives the library back after a missing entry; a failed release adds the
// loader's own text.
void Release(void* library, std::vector<std::string>& messages) {
    if (dlclose(library) != 0) {
        const char* error = dlerror();
        messages.emplace_back(error != nullptr ? error : "dlclose");
    }
}

Codec BindEntries(void* library, std::vector<std::string>& messages) {
    Codec codec;
    codec.Library = library;
    codec.CodeProc = reinterpret_cast<CodeFn>(dlsym(library, "Code"));
    if (codec.CodeProc == nullptr) {
        messages.emplace_back(codec_messages::MissingCode);
        Release(library, messages);
        codec.Library = nullptr;
        // Once released, Decode can only be missing too.
        messages.emplace_back(codec_messages::MissingDecode);
        return codec;
    }
    codec.DecodeProc = reinterpret_cast<DecodeFn>(dlsym(library, "Decode"));
    if (codec.DecodeProc == nullptr) {
        messages.emplace_back(codec_messages::MissingDecode);
        Release(library, messages);
        codec.Library = nullptr;
        codec.CodeProc = nullptr; // points into the released library
    }
    return codec;
}

std::filesystem::path BesideExecutable() {
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return executable.parent_path() / CodecLibraryName();
}

} // namespace

const char* CodecLibraryName() {
    return "libKelvane.so";
}

Codec LoadCodec(std::vector<std::string>& messages) {
    void* library = nullptr;
    if (const auto beside = BesideExecutable(); !beside.empty()) {
        library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (library == nullptr) {
        library = dlopen(CodecLibraryName(), RTLD_NOW | RTLD_LOCAL);
    }
    if (library == nullptr) {
        messages.push_back(codec_messages::LibraryNotFound(CodecLibraryName()));
        return {};
    }
    return BindEntries(library, messages);
}

Codec LoadCodecFrom(const std::string& path, std::vector<std::string>& messages) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        messages.push_back(codec_messages::LibraryNotFound(CodecLibraryName()));
        return {};
    }
    return BindEntries(library, messages);
}

} // namespace quorvik
