#include "ui/Chat.h"

#include "link/Connection.h"
#include "link/Cp1251.h"
#include "link/Frames.h"
#include "settings/Options.h"
#include "settings/OptionsEdit.h"
#include "settings/Timers.h"
#include "ui/AboutBox.h"
#include "ui/EditForm.h"
#include "ui/ExceptionBox.h"
#include "ui/QtLinkUi.h"
#include "ui/StateList.h"
#include "users/Floader.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>

#include <stdexcept>

namespace quorvik {

TMain* Main = nullptr;

namespace {

namespace text {
const char* const CannotReadUsers = "Не могу прочитать настройки пользователей";
const char* const CannotReceive = "Ошибка получения сообщения";
} // namespace text

constexpr int TreeWidth = 211;
constexpr int SplitterWidth = 5;

QAction* NewAction(QObject* owner, const QString& text, const QString& hint) {
    auto* action = new QAction(text, owner);
    action->setStatusTip(hint);
    if (!hint.isEmpty())
        action->setToolTip(hint);
    return action;
}

// Connects an action to a handler whose errors go to the exception box.
template <typename F> void OnTriggered(QAction* action, QObject* context, F handler) {
    QObject::connect(action, &QAction::triggered, context, [handler] { Guarded(handler); });
}

void WriteHello(LinkState& link) {
    const auto frame = ControlFrame(CmdHello);
    WriteFrame(link, frame.data(), frame.size());
}

} // namespace

TMain::TMain(LinkState& link, const QString& folder, QWidget* parent)
    : QMainWindow(parent), Users((folder + QStringLiteral("/viewUsers.xml")).toStdString()),
      link_(link), optionsPath_(folder + QStringLiteral("/Options.ini")) {
    Main = this;
    try {
        BuildComponents();
        BuildGroup();
        link_.UserName.clear();
        link_.PortName.clear();

        std::vector<std::string> messages;
        codec_ = LoadCodec(messages);
        for (const auto& message : messages)
            ShowPlainMessage(QString::fromStdString(message));
        link_.Codecs = &codec_;
        link_.Ui = &Group;

        LoadOptions(link_, Group, optionsPath_.toStdString());
        LoginDialog = new TLoader(Users, link_, TimeLoad, this);
    } catch (...) {
        link_.Ui = nullptr;
        link_.Codecs = nullptr;
        Main = nullptr;
        throw;
    }
    {
        std::lock_guard lock(link_.Lock);
        link_.Connected = 0;
        link_.PendingFrame.clear();
    }
}

TMain::~TMain() {
    // A window torn down without closing (the program ending on a refused
    // re-login, a test) must not leave the reader running on this UI group.
    if (link_.Ui == &Group) {
        try {
            CloseLink(link_);
        } catch (...) {
        }
        link_.Ui = nullptr;
    }
    if (link_.Codecs == &codec_)
        link_.Codecs = nullptr;
    link_.ChatWindow = nullptr;
    // The children go down with the base class; this part must hear nothing of it.
    MdiArea->disconnect(this);
    MdiArea->viewport()->removeEventFilter(this);
    TreeUsers->removeEventFilter(this);
    if (Main == this)
        Main = nullptr;
}

void TMain::BuildComponents() {
    setWindowTitle(QStringLiteral("Quorvik"));
    setGeometry(295, 128, 795, 658);
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);

    BuildActions();

    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->addAction(Connect);
    ToolBar1->addAction(Dicconect);
    ToolBar1->addSeparator();
    ToolBar1->addAction(MainExit);

    MdiArea = new QMdiArea;
    MdiArea->setBackground(Qt::white);
    MdiArea->viewport()->installEventFilter(this);
    connect(MdiArea, &QMdiArea::subWindowActivated, this, [this] {
        UpdateMergedMenu();
        UpdateWindowActions();
    });

    TreeUsers = new QTreeWidget;
    TreeUsers->setObjectName(QStringLiteral("TreeUsers"));
    TreeUsers->setHeaderHidden(true);
    TreeUsers->setIndentation(19);
    TreeUsers->setFont(QFont(QStringLiteral("Comic Sans MS"), 10));
    TreeUsers->setMouseTracking(true);
    // Sky blue, with the item under the mouse underlined (hot tracking).
    TreeUsers->setStyleSheet(
        QStringLiteral("QTreeWidget { background-color: #A6CAF0; }"
                       "QTreeWidget::item:hover { color: #0000FF; text-decoration: underline; }"));
    TreeUsers->installEventFilter(this);
    connect(TreeUsers, &QTreeWidget::itemDoubleClicked, this,
            [this] { Guarded([this] { OpenChatWindow(); }); });

    Splitter1 = new QSplitter(Qt::Horizontal);
    Splitter1->setHandleWidth(SplitterWidth);
    Splitter1->addWidget(MdiArea);
    Splitter1->addWidget(TreeUsers);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({width() - TreeWidth - SplitterWidth, TreeWidth});
    setCentralWidget(Splitter1);

    StatusPanel = new QLabel;
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    statusBar()->addWidget(StatusPanel, 1);

    BuildMenus();
    UpdateWindowActions();
}

void TMain::BuildActions() {
    Connect = NewAction(this, QStringLiteral("Connect"), QString());
    Connect->setIcon(StateIcon(ImageConnected));
    OnTriggered(Connect, this, [this] { ConnectExecute(link_); });
    Dicconect = NewAction(this, QStringLiteral("Dicconect"), QString());
    Dicconect->setIcon(StateIcon(ImageDisconnected));
    OnTriggered(Dicconect, this, [this] { EndConnection(link_); });
    MainExit = NewAction(this, QStringLiteral("Выход"), QStringLiteral("Выход из программы"));
    MainExit->setIcon(StateIcon(9));
    OnTriggered(MainExit, this, [this] { MainExitExecute(); });
    ChangUserAcc = NewAction(this, QStringLiteral("Вход под другим пользователем"),
                             QStringLiteral("Войти под другим пользователем"));
    OnTriggered(ChangUserAcc, this, [this] { ChangeUser(); });
    AOptionsEdit = NewAction(this, QStringLiteral("Настройка порта и сети"),
                             QStringLiteral("Настройка структуры DCB и таймаутов "));
    OnTriggered(AOptionsEdit, this, [this] { AOptionsEditExecute(); });
    ATimesEdit = NewAction(this, QStringLiteral("Настройка &таймаутов"), QString());
    OnTriggered(ATimesEdit, this, [this] { ATimesEditExecute(); });
    About = NewAction(this, QStringLiteral("О программе.."),
                      QStringLiteral("Общая информация о программе..."));
    OnTriggered(About, this, [this] { AboutExecute(); });

    WindowTileVertical1 =
        NewAction(this, QStringLiteral("&Tile Vertically"), QStringLiteral("Tile Vertical"));
    OnTriggered(WindowTileVertical1, this, [this] { TileSubWindows(true); });
    WindowCascade1 = NewAction(this, QStringLiteral("&Cascade"), QStringLiteral("Cascade"));
    OnTriggered(WindowCascade1, this, [this] { MdiArea->cascadeSubWindows(); });
    WindowArrange1 = NewAction(this, QStringLiteral("&Arrange"), QString());
    OnTriggered(WindowArrange1, this, [this] { ArrangeIcons(); });
    WindowTileHorizontal1 =
        NewAction(this, QStringLiteral("Tile &Horizontally"), QStringLiteral("Tile Horizontal"));
    OnTriggered(WindowTileHorizontal1, this, [this] { TileSubWindows(false); });
    WindowMinimizeAll1 =
        NewAction(this, QStringLiteral("&Minimize All"), QStringLiteral("Minimize All"));
    OnTriggered(WindowMinimizeAll1, this, [this] {
        for (auto* sub : MdiArea->subWindowList())
            sub->showMinimized();
    });
    WindowClose1 = NewAction(this, QStringLiteral("C&lose"), QStringLiteral("Close"));
    OnTriggered(WindowClose1, this, [this] { MdiArea->closeActiveSubWindow(); });
}

void TMain::BuildMenus() {
    ProgramMenu = menuBar()->addMenu(QStringLiteral("Программа"));
    ProgramMenu->addAction(ChangUserAcc);
    ProgramMenu->addSeparator();
    ProgramMenu->addAction(MainExit);

    SettingsMenu = menuBar()->addMenu(QStringLiteral("Настройки"));
    SettingsMenu->addAction(AOptionsEdit);
    SettingsMenu->addAction(ATimesEdit);

    WindowMenu = menuBar()->addMenu(QStringLiteral("Окна"));
    WindowMenu->addAction(WindowTileVertical1);
    WindowMenu->addAction(WindowCascade1);
    WindowMenu->addAction(WindowArrange1);
    WindowMenu->addAction(WindowTileHorizontal1);
    WindowMenu->addAction(WindowMinimizeAll1);
    WindowMenu->addSeparator();
    WindowMenu->addAction(WindowClose1);
    connect(WindowMenu, &QMenu::aboutToShow, this, [this] { FillWindowList(); });

    HelpMenu = menuBar()->addMenu(QStringLiteral("Помощь"));
    HelpMenu->addAction(About);
}

void TMain::BuildGroup() {
    TimerWait = new QtLinkTimer(
        1000, [this] { TimerWaitTimer(link_); }, this);
    TimerOptions = new QtLinkTimer(
        5500, [this] { TimerOptionsTimer(link_); }, this);
    TimerNewMessage = new QtLinkTimer(
        100, [this] { TimerNewMessageTimer(); }, this);
    Group.TimerWait = TimerWait;
    Group.TimerOptions = TimerOptions;
    Group.TimerNewMessage = TimerNewMessage;
    Group.SetStatus = [this](const std::string& utf8) {
        StatusPanel->setText(QString::fromStdString(utf8));
    };
    Group.SetConnectImage = [this](int image) {
        if (ConnectNode)
            ConnectNode->setIcon(0, StateIcon(image));
    };
    Group.ShowIncomingMessage = [this] {
        if (auto* chat = ChatForm())
            chat->ShowIncomingMessage();
    };
    Group.ShowMessage = [](const std::string& utf8) {
        ShowPlainMessage(QString::fromStdString(utf8));
    };
    Group.ReportLine = [this](const std::string& line, LineFate fate) {
        if (auto* chat = ChatForm())
            chat->ReportLine(line, fate);
    };
    Group.Post = [this](std::function<void()> task) { PostTo(this, std::move(task)); };
}

bool TMain::FormCreate() {
    if (isVisible())
        hide();
    if (LoginDialog->exec() != QDialog::Accepted)
        return false;
    SetUserCaption();
    Guarded([this] { Users.SaveUser(link_.UserName, link_.PortName); });
    BuildTree();
    Guarded([this] {
        AddDirectoryUsers();
        BeginConnection(link_);
    });
    show();
    return true;
}

void TMain::SetUserCaption() {
    setWindowTitle(QStringLiteral("Пользователь: %1")
                       .arg(QString::fromStdString(Cp1251ToUtf8(link_.UserName))));
}

void TMain::BuildTree() {
    auto* chatUser = new QTreeWidgetItem(TreeUsers, {QStringLiteral("Чат пользователь:")});
    chatUser->setIcon(0, StateIcon(1));
    ConnectNode = new QTreeWidgetItem(chatUser, {QStringLiteral("Connect")});
    ConnectNode->setIcon(0, StateIcon(ImageDisconnected));
    allUsers_ = new QTreeWidgetItem(TreeUsers, {QStringLiteral("Все пользователи системы:")});
    allUsers_->setIcon(0, StateIcon(1));
    TreeUsers->expandAll();
}

void TMain::AddDirectoryUsers() {
    // The directory was just written by SaveUser: read it afresh.
    Users.Release();
    if (Users.Load() == 0)
        throw std::runtime_error(text::CannotReadUsers);
    for (int32_t i = 0; i < Users.Count(); ++i) {
        const ECViewUser* user = Users.Item(i);
        auto* item =
            new QTreeWidgetItem(allUsers_, {QString::fromStdString(Cp1251ToUtf8(user->Name))});
        item->setIcon(0, StateIcon(4));
    }
    allUsers_->setExpanded(true);
}

void TMain::ChangeUser() {
    SaveOptions(link_, Group, optionsPath_.toStdString());
    CloseLink(link_);
    // With the port closed these would only report its absence during the login.
    TimerWait->SetEnabled(false);
    TimerOptions->SetEnabled(false);
    StatusPanel->clear();
    if (!CloseChildren())
        return;
    if (isVisible())
        hide();
    if (LoginDialog->exec() != QDialog::Accepted) {
        QCoreApplication::quit();
        return;
    }
    SetUserCaption();
    {
        std::lock_guard lock(link_.Lock);
        link_.Connected = 1;
    }
    WriteHello(link_);
    TimerWait->SetEnabled(true);
    LoadOptions(link_, Group, optionsPath_.toStdString());
    link_.OptionsStep = true;
    TimerOptions->SetEnabled(true);
    show();
}

bool TMain::CloseChildren() {
    for (;;) {
        const auto children = MdiArea->subWindowList();
        if (children.isEmpty())
            return true;
        QPointer<QMdiSubWindow> child = children.first();
        if (!child->close())
            return false; // the child has shown why
        QCoreApplication::processEvents();
        delete child.data(); // a child that only hid itself
    }
}

void TMain::closeEvent(QCloseEvent* event) {
    bool closing = false;
    Guarded([&] { closing = FormClose(); });
    if (!closing) {
        event->ignore();
        return;
    }
    event->accept();
    QCoreApplication::quit();
}

bool TMain::FormClose() {
    // The chat window writes its history as it closes; its lines must not be lost.
    if (TEditForm* chat = ChatForm()) {
        auto* child = qobject_cast<QMdiSubWindow*>(chat->parentWidget());
        if (!(child ? child->close() : chat->close()))
            return false;
        if (child)
            delete child;
    }
    SaveOptions(link_, Group, optionsPath_.toStdString());
    CloseLink(link_);
    return true;
}

void TMain::MainExitExecute() {
    close();
}

TEditForm* TMain::ChatForm() const {
    return static_cast<TEditForm*>(link_.ChatWindow);
}

TEditForm* TMain::CreateChatWindow() {
    auto* chat = new TEditForm(link_, link_.UserName);
    connect(chat, &QObject::destroyed, [link = &link_, chat] {
        if (link->ChatWindow == chat)
            link->ChatWindow = nullptr;
    });
    link_.ChatWindow = chat;
    AddChild(chat);
    return chat;
}

void TMain::OpenChatWindow() {
    QTreeWidgetItem* node = TreeUsers->currentItem();
    if (!node || node->childCount() > 0 || node != ConnectNode)
        return;
    {
        std::lock_guard lock(link_.Lock);
        if (link_.Connected == 0)
            return;
    }
    if (TEditForm* chat = ChatForm()) {
        if (auto* child = qobject_cast<QMdiSubWindow*>(chat->parentWidget()))
            ShowChild(child);
        return;
    }
    CreateChatWindow()->OpenHistory();
}

void TMain::TimerNewMessageTimer() {
    TimerNewMessage->SetEnabled(false);
    try {
        // The user may have opened the chat window since the timer was armed.
        TEditForm* chat = ChatForm();
        if (!chat) {
            chat = CreateChatWindow();
            chat->OpenHistory();
        }
        chat->ShowIncomingMessage();
    } catch (const std::exception&) {
        throw std::runtime_error(text::CannotReceive);
    }
}

void TMain::AOptionsEditExecute() {
    ShowOptionsEdit(link_, MdiArea);
}

void TMain::ATimesEditExecute() {
    ShowTimes(Group, MdiArea);
}

void TMain::AboutExecute() {
    if (AboutBox)
        AboutBox->exec();
}

QMdiSubWindow* TMain::AddChild(QWidget* form) {
    QMdiSubWindow* child = MdiArea->addSubWindow(form);
    child->setAttribute(Qt::WA_DeleteOnClose);
    // A form that deletes itself takes its frame along.
    // Held as a QObject: the frame may be midway through its own destruction.
    QPointer<QObject> frame = child;
    connect(form, &QObject::destroyed, child, [frame] {
        if (frame)
            frame->deleteLater();
    });
    child->show();
    MdiArea->setActiveSubWindow(child);
    UpdateWindowActions();
    return child;
}

void TMain::ShowChild(QMdiSubWindow* child) {
    if (child->isMinimized())
        child->showNormal();
    child->show();
    MdiArea->setActiveSubWindow(child);
    child->raise();
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TreeUsers && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            Guarded([this] { OpenChatWindow(); });
    } else if (watched == MdiArea->viewport() &&
               (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildRemoved)) {
        // The area's list changes after this event: look once it has.
        QMetaObject::invokeMethod(
            this,
            [this] {
                UpdateWindowActions();
                UpdateMergedMenu();
            },
            Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMain::UpdateWindowActions() {
    const bool any = !MdiArea->subWindowList().isEmpty();
    for (QAction* action : {WindowTileVertical1, WindowCascade1, WindowArrange1,
                            WindowTileHorizontal1, WindowMinimizeAll1, WindowClose1})
        action->setEnabled(any);
}

void TMain::UpdateMergedMenu() {
    QMenu* wanted = nullptr;
    if (TEditForm* chat = ChatForm()) {
        QMdiSubWindow* current = MdiArea->currentSubWindow();
        if (current && current->widget() == chat)
            wanted = chat->ChatMenu();
    }
    if (wanted == mergedMenu_)
        return;
    if (mergedMenu_)
        menuBar()->removeAction(mergedMenu_->menuAction());
    mergedMenu_ = wanted;
    if (wanted)
        menuBar()->insertAction(HelpMenu->menuAction(), wanted->menuAction());
}

void TMain::FillWindowList() {
    qDeleteAll(windowList_);
    windowList_.clear();
    const auto children = MdiArea->subWindowList();
    if (children.isEmpty())
        return;
    windowList_.append(WindowMenu->addSeparator());
    int number = 1;
    for (QMdiSubWindow* child : children) {
        auto* action =
            WindowMenu->addAction(QStringLiteral("&%1 %2").arg(number++).arg(child->windowTitle()));
        action->setCheckable(true);
        action->setChecked(child == MdiArea->activeSubWindow());
        QPointer<QMdiSubWindow> target = child;
        connect(action, &QAction::triggered, this, [this, target] {
            if (target)
                ShowChild(target);
        });
        windowList_.append(action);
    }
}

void TMain::TileSubWindows(bool vertical) {
    QList<QMdiSubWindow*> shown;
    for (auto* child : MdiArea->subWindowList())
        if (!child->isMinimized() && !child->isHidden())
            shown.append(child);
    if (shown.isEmpty())
        return;
    const QRect area = MdiArea->viewport()->rect();
    const int n = static_cast<int>(shown.size());
    for (int i = 0; i < n; ++i) {
        shown[i]->showNormal();
        if (vertical) {
            const int w = area.width() / n;
            shown[i]->setGeometry(i * w, 0, w, area.height());
        } else {
            const int h = area.height() / n;
            shown[i]->setGeometry(0, i * h, area.width(), h);
        }
    }
}

void TMain::ArrangeIcons() {
    int x = 0;
    const int bottom = MdiArea->viewport()->height();
    for (auto* child : MdiArea->subWindowList()) {
        if (!child->isMinimized())
            continue;
        const QSize size = child->size();
        child->move(x, bottom - size.height());
        x += size.width();
    }
}

} // namespace quorvik
