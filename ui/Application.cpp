#include "ui/Application.h"

#include "ui/ExceptionBox.h"

#include <exception>

namespace quorvik {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowExceptionBox(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowExceptionBox(QString());
    }
    return false;
}

} // namespace quorvik
