// The texts the codec loader reports (UTF-8).
#pragma once

#include <string>

namespace quorvik::codec_messages {

inline constexpr const char* MissingCode = "В библиотеке отсутствует нужная функция Code";
inline constexpr const char* MissingDecode = "В библиотеке отсутствует нужная функция Decode";

inline std::string LibraryNotFound(const std::string& name) {
    return "Библиотека " + name + " не найдена";
}

} // namespace quorvik::codec_messages
