// The texts of the port opening (UTF-8).
#pragma once

namespace quorvik::open_port_messages {

inline constexpr const char* NoPortName = "Не указано имя порта";
inline constexpr const char* CannotOpen = "Не удалось открыть порт";
inline constexpr const char* CannotPurge = "Не могу произвести очистку порта";
inline constexpr const char* CannotClearBreak = "Восстановление порта не удалось";
inline constexpr const char* CannotGetState = "Невозможно получить параметры порта";
inline constexpr const char* CannotSetState = "Ошибка утановки параметров порта";
inline constexpr const char* CannotSetTimeouts = "Невозможно установить параметры порта";
inline constexpr const char* CannotStartReader = "Невозможно создать поток данных.";

} // namespace quorvik::open_port_messages
