// The application object: every exception that escapes an event handler is
// shown in the exception box and the program goes on.
#pragma once

#include <QApplication>

namespace quorvik {

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace quorvik
