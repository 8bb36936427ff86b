// The texts of the reader thread, the connection's course and outgoing
// messages (UTF-8), in one place.
#pragma once

#include "link/Codec.h"
#include "link/Frames.h"

#include <string>

namespace quorvik::text {

// Status texts.
inline constexpr const char* StatusSettingPortParams = "Установка параметров порта";
inline constexpr const char* StatusSettingTimeouts = "Установка таймаутов";
inline constexpr const char* StatusEstablished = "Соединение установлено";
// The peer's timeouts applied: the first letter is a Latin C.
inline constexpr const char* StatusEstablishedByPeer = "Cоединение установлено";
inline constexpr const char* StatusBroken = "Разрыв соединения";
inline constexpr const char* StatusTimedOut =
    "Превышен интервал ожидания ответа. Разрыв соединения.";

// The reader thread shows this box whatever ended it.
inline constexpr const char* ReaderFailed = "Ошибка";
inline constexpr const char* ChatWindowFailed = "Ошибка доступа к EditForm";

// Port errors.
inline constexpr const char* CannotGetPortParams = "Невозможно получить параметры порта";
inline constexpr const char* CannotSetPortParams = "Ошибка утановки параметров порта";
inline constexpr const char* CannotSetPortTimeouts = "Ошибка установики таймаутов порта";

// Refusals of Send.
inline std::string CodecLibraryMissing() {
    return std::string("Библиотека ") + CodecLibraryName() + " не найдена";
}
inline constexpr const char* CodeEntryMissing = "В библиотеке отсутствует нужная функция Code";
inline std::string MessageTooLong() {
    return "Сообщение слишком длинное: не больше " + std::to_string(MaxTextLength) + " знаков";
}

} // namespace quorvik::text
