// The main window: the frame of the program's life. An MDI parent for the
// chat window and the two settings dialogs, the user tree on the right, the
// link status in the status bar, and the owner of the link's UI group.
#pragma once

#include "link/Codec.h"
#include "link/LinkState.h"
#include "link/LinkUi.h"
#include "users/ViewUser.h"

#include <QMainWindow>
#include <QPointer>

#include <QList>
#include <QString>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace quorvik {

class QtLinkTimer;
class TEditForm;
class TLoader;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    // folder holds Options.ini and viewUsers.xml (the executable's folder in
    // the program). Loads the codec and the settings and creates the login
    // dialog, whose failure to read the user directory escapes.
    TMain(LinkState& link, const QString& folder, QWidget* parent = nullptr);
    ~TMain() override;

    // The first login and the start of the connection; false when the login
    // was not confirmed and the program is to end.
    bool FormCreate();
    // Re-login. Raises when the settings cannot be saved (nothing changed then).
    void ChangeUser();
    void OpenChatWindow();
    void TimerNewMessageTimer();
    void AOptionsEditExecute();
    void ATimesEditExecute();
    void AboutExecute();
    void MainExitExecute();

    // Puts a form into a new MDI child window, shown and active.
    QMdiSubWindow* AddChild(QWidget* form);
    // The open chat window, or null.
    TEditForm* ChatForm() const;

    TLoader* LoginDialog = nullptr;
    ECViewUserReader Users;
    QTreeWidgetItem* ConnectNode = nullptr;

    QToolBar* ToolBar1;
    QSplitter* Splitter1;
    QMdiArea* MdiArea;
    QTreeWidget* TreeUsers;
    QLabel* StatusPanel; // panel 0 of the status bar

    QMenu* ProgramMenu;
    QMenu* SettingsMenu;
    QMenu* WindowMenu;
    QMenu* HelpMenu;

    QAction* Connect;
    QAction* Dicconect;
    QAction* MainExit;
    QAction* ChangUserAcc;
    QAction* AOptionsEdit;
    QAction* ATimesEdit;
    QAction* About;
    QAction* WindowTileVertical1;
    QAction* WindowCascade1;
    QAction* WindowArrange1;
    QAction* WindowTileHorizontal1;
    QAction* WindowMinimizeAll1;
    QAction* WindowClose1;

    QtLinkTimer* TimerWait;
    QtLinkTimer* TimerOptions;
    QtLinkTimer* TimerNewMessage;
    LinkUi Group;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildComponents();
    void BuildActions();
    void BuildMenus();
    void BuildGroup();
    // The shut-down steps; false when the window is to stay open.
    bool FormClose();
    void SetUserCaption();
    void BuildTree();
    void AddDirectoryUsers();
    TEditForm* CreateChatWindow();
    // Closes every child window; false when one refuses.
    bool CloseChildren();
    void ShowChild(QMdiSubWindow* child);
    void UpdateWindowActions();
    void UpdateMergedMenu();
    void FillWindowList();
    void TileSubWindows(bool vertical);
    void ArrangeIcons();

    LinkState& link_;
    QString optionsPath_;
    Codec codec_;
    QTreeWidgetItem* allUsers_ = nullptr;
    QPointer<QMenu> mergedMenu_;
    QList<QAction*> windowList_;
};

// The program's main window while it exists.
extern TMain* Main;

} // namespace quorvik
