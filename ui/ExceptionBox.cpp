#include "ui/ExceptionBox.h"

#include <QApplication>
#include <QMessageBox>

namespace quorvik {
namespace {

BoxPresenter& Presenter() {
    static BoxPresenter presenter;
    return presenter;
}

void Show(const QString& text, bool exclamation) {
    if (Presenter()) {
        Presenter()(text, exclamation);
        return;
    }
    QMessageBox box(exclamation ? QMessageBox::Warning : QMessageBox::NoIcon, ApplicationTitle(),
                    text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

QString ApplicationTitle() {
    return QStringLiteral("Программа для посылки сообщения через COM порты");
}

void ShowExceptionBox(const QString& text) {
    Show(text, true);
}
void ShowPlainMessage(const QString& text) {
    Show(text, false);
}
void SetBoxPresenter(BoxPresenter presenter) {
    Presenter() = std::move(presenter);
}

} // namespace quorvik
