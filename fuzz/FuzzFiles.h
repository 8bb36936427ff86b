// Scratch files for the fuzz targets that read from disk: one folder per
// process, on a memory file system when there is one, as every input is
// written, fsynced and renamed many times a second.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace quorvik::fuzz {

inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        if (const char* tmp = std::getenv("QUORVIK_FUZZ_TMP"))
            base = tmp;
        std::string name = base + "/quorvik-fuzz-XXXXXX";
        if (::mkdtemp(name.data()) == nullptr)
            std::abort();
        return name;
    }();
    return dir;
}

inline void WriteFile(const std::string& path, const uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out.flush())
        std::abort();
}

} // namespace quorvik::fuzz
