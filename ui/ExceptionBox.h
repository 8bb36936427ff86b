// The program's message boxes: the exception box (exclamation icon) and the
// plain message box, both with the application title as caption.
#pragma once

#include <QString>

#include <functional>

namespace quorvik {

// "Программа для посылки сообщения через COM порты"
QString ApplicationTitle();

void ShowExceptionBox(const QString& text);
void ShowPlainMessage(const QString& text);

// Tests put their own presenter in place of the modal boxes.
using BoxPresenter = std::function<void(const QString& text, bool exclamation)>;
void SetBoxPresenter(BoxPresenter presenter);

// Runs a handler and shows what it raises in the exception box, as the
// application-wide handler does for every event handler.
template <typename F> void Guarded(F&& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowExceptionBox(QString::fromUtf8(error.what()));
    }
}

} // namespace quorvik
