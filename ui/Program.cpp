// The process entry: the application, the main window with the first login,
// the About box and the message loop.
#include "link/LinkState.h"
#include "ui/AboutBox.h"
#include "ui/Application.h"
#include "ui/Chat.h"
#include "ui/ExceptionBox.h"
#include "ui/StateList.h"

#include <QLocale>
#include <QMessageBox>

#include <exception>
#include <memory>

int main(int argc, char** argv) {
    using namespace quorvik;
    Application app(argc, argv);
    app.setApplicationName(ApplicationTitle());
    app.setWindowIcon(StateIcon(4));
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    // The main window hides itself during a login; only its closing ends the program.
    app.setQuitOnLastWindowClosed(false);

    std::unique_ptr<TMain> window;
    std::unique_ptr<TAboutBox> about;
    try {
        window = std::make_unique<TMain>(Link(), QCoreApplication::applicationDirPath());
        if (!window->FormCreate())
            return 0;
        about = std::make_unique<TAboutBox>();
        AboutBox = about.get();
        app.exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, ApplicationTitle(), QString::fromUtf8(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, ApplicationTitle(), QString());
    }
    AboutBox = nullptr;
    return 0;
}
