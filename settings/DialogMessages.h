// The texts of the two settings dialogs (UTF-8), in one place. The port
// errors are the link's own (link/LinkMessages.h): the options timer and the
// options dialog report the same failures alike.
#pragma once

#include <QString>

namespace quorvik::dialog_text {

// The port options dialog.
inline constexpr const char* OptionsCaption = "Опции порта:";
inline constexpr const char* PortGroup = "Настройки порта";
inline constexpr const char* BaudLabel = "Скорость передачи данных";
inline constexpr const char* ParityCheckLabel = "Режим контроля четности:";
inline constexpr const char* ParityLabel = "Контроль четности";
inline constexpr const char* ByteSizeLabel = "Количество бит в байте";
inline constexpr const char* StopBitsLabel = "Количество стоповых бит";
inline constexpr const char* ErrorCharModeLabel = "Режим замены символы с ошибкой:";
inline constexpr const char* ErrorCharLabel = "Символ замены:";
inline constexpr const char* TimeoutsGroup = "Настройки таймаутов порта";
inline constexpr const char* ReadIntervalLabel = "Таймаут ReadIntervalTimiout:";
inline constexpr const char* ReadMultiplierLabel = "Множитель для операции чтения:";
inline constexpr const char* ReadConstantLabel = "Константа для чтения:";
inline constexpr const char* WriteMultiplierLabel = "Множитель для операции записи:";
inline constexpr const char* WriteConstantLabel = "Константа записи:";

// The delays dialog.
inline constexpr const char* TimesCaption = "Настройка задержек программы:";
inline constexpr const char* TimesGroup = "Таймауты:";
inline constexpr const char* AnswerWaitLabel = "Таймер ожидания ответа:";
inline constexpr const char* OptionsDelayLabel = "Таймаут посылки опций:";
inline constexpr const char* SplashDelayLabel = "Таймаут загрузки заставки:";
inline constexpr const char* Milliseconds = "мс";
inline constexpr const char* EnterDigits = "Правильно введите цифры";

// Both.
inline constexpr const char* Ok = "Ок";
inline constexpr const char* Cancel = "Отмена";

// A text that is not a whole number in the signed 32-bit range.
inline QString NotAWholeNumber(const QString& text) {
    return QStringLiteral("'%1' не является целым числом").arg(text);
}

} // namespace quorvik::dialog_text
