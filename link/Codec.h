// The codec library's two entry points, loaded from disk at start-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvik {

using CodeFn = int32_t (*)(char* out, const char* text, int32_t length);
using DecodeFn = int32_t (*)(char* out, const char* data, int32_t length);

struct Codec {
    CodeFn CodeProc = nullptr;
    DecodeFn DecodeProc = nullptr;
    void* Library = nullptr; // kept loaded for the whole run
};

// Loads the codec library: beside the executable first, then by the system's
// search. Each failure adds its message (UTF-8) to messages; a missing
// library or entry leaves that entry null and start-up goes on.
Codec LoadCodec(std::vector<std::string>& messages);

// The same from one given path (or bare name, by the system's search).
Codec LoadCodecFrom(const std::string& path, std::vector<std::string>& messages);

// The library's file name on this platform.
const char* CodecLibraryName();

} // namespace quorvik
