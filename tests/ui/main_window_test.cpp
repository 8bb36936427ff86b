// The main window on real files in a temporary folder and a real port of the
// null-modem simulator; the login dialog is answered as a user would.
#include "ui/Chat.h"

#include "link/Connection.h"
#include "link/Cp1251.h"
#include "link/EventLoop.h"
#include "link/LinkMessages.h"
#include "link/OpenPort.h"
#include "settings/OptionsEdit.h"
#include "settings/Timers.h"
#include "tests/support/NullModem.h"
#include "ui/AboutBox.h"
#include "ui/Application.h"
#include "ui/EditForm.h"
#include "ui/ExceptionBox.h"
#include "ui/QtLinkUi.h"
#include "ui/StateList.h"
#include "users/Floader.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

using namespace quorvik;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new quorvik::QtAppEnvironment<Application>);

using Bytes = std::vector<uint8_t>;
const Bytes HelloBytes{0x01, 0x04, 0x02};
const Bytes ByeBytes{0x01, 0x05, 0x02};

constexpr int Patience = 10000; // ms

const char* const Directory = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n"
                              "<users>\n"
                              "  <user name=\"Orlek\" port=\"Com1\"/>\n"
                              "  <user name=\"Ivan\" port=\"Com2\"/>\n"
                              "</users>\n";
// Short delays, so a connection is made within a test.
const char* const Options = "[times]\nTimeWait=1000\nTimeOptions=200\nTimeLoad=1\n";

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Runs deferred deletions and pending events.
void Settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

QImage ImageOf(const QIcon& icon) {
    return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
}
QImage StateImageAt(int index) {
    return StateImage(index).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The other computer: a link on a loop of its own, as the other program runs it.
class Peer {
public:
    explicit Peer(const std::string& port) {
        std::vector<std::string> messages;
        codec_ = LoadCodecFrom(std::string(QUORVIK_BIN_DIR) + "/" + CodecLibraryName(), messages);
        link.Codecs = &codec_;
        link.UserName = "Peer";
        ui_.TimerWait = &loop_.CreateTimer(1000, [this] { Run([&] { TimerWaitTimer(link); }); });
        ui_.TimerOptions =
            &loop_.CreateTimer(200, [this] { Run([&] { TimerOptionsTimer(link); }); });
        ui_.TimerNewMessage =
            &loop_.CreateTimer(100, [this] { ui_.TimerNewMessage->SetEnabled(false); });
        ui_.SetStatus = [](const std::string&) {};
        ui_.SetConnectImage = [](int) {};
        ui_.ShowIncomingMessage = [] {};
        ui_.ShowMessage = [](const std::string& text) { ADD_FAILURE() << text; };
        ui_.ReportLine = [](const std::string&, LineFate) {};
        ui_.Post = [this](std::function<void()> task) { loop_.Post(std::move(task)); };
        link.Ui = &ui_;
        link.ChatWindow = &ui_;
        thread_ = std::thread([this] { loop_.Run(); });
        Do([&] { OpenPort(link, port); });
    }
    ~Peer() {
        Do([this] { CloseLink(link); });
        loop_.Quit();
        thread_.join();
    }

    // Runs f on the peer's loop and waits for it.
    void Do(std::function<void()> f) {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        loop_.Post([&] {
            Run(f);
            std::lock_guard lock(mutex);
            finished = true;
            done.notify_one();
        });
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return finished; });
    }

    LinkState link;

private:
    static void Run(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& error) {
            ADD_FAILURE() << error.what();
        }
    }

    Codec codec_;
    EventLoop loop_;
    LinkUi ui_;
    std::thread thread_;
};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        previousDir = QDir::currentPath();
        // History files are kept relative to the working directory.
        QDir::setCurrent(dir.path());
        WriteFile(Path("viewUsers.xml"), Directory);
        WriteFile(Path("Options.ini"), Options);
        SetBoxPresenter([this](const QString& text, bool exclamation) {
            (exclamation ? boxes : plainBoxes) << text;
        });
    }
    void TearDown() override {
        window.reset();
        Settle();
        SetBoxPresenter(nullptr);
        QDir::setCurrent(previousDir);
    }

    QString Path(const QString& name) const { return dir.filePath(name); }

    void Create() { window = std::make_unique<TMain>(link, dir.path()); }

    // Answers the login dialog once it is up (earlier events must not answer it).
    void WhenLoginShown(std::function<void(TLoader&)> answer) {
        auto* poll = new QTimer(window.get());
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, answer] {
            if (!window->LoginDialog->isVisible())
                return;
            poll->deleteLater();
            poll->stop();
            answer(*window->LoginDialog);
        });
        poll->start(10);
    }
    void AnswerLogin(const QString& user, const QString& port) {
        WhenLoginShown([user, port](TLoader& login) {
            login.UserEdit->setEditText(user);
            login.ComboPort->addItem(port);
            login.ComboPort->setCurrentText(port);
            login.Button1Click();
        });
    }
    void RefuseLogin() {
        WhenLoginShown([](TLoader& login) { login.ExitButtonClick(); });
    }
    bool StartAs(const QString& user) {
        Create();
        AnswerLogin(user, QString::fromStdString(modem.PortA()));
        return window->FormCreate();
    }

    QList<QMdiSubWindow*> Children() const { return window->MdiArea->subWindowList(); }

    // Selects a node and presses Enter on the tree.
    void EnterOn(QTreeWidgetItem* node) {
        window->TreeUsers->setCurrentItem(node);
        QTest::keyClick(window->TreeUsers, Qt::Key_Return);
    }

    NullModem modem;
    LinkState link;
    QTemporaryDir dir;
    QString previousDir;
    std::unique_ptr<TMain> window;
    QStringList boxes;      // exception boxes
    QStringList plainBoxes; // plain messages
};

TEST_F(MainWindowTest, UnreadableDirectoryEscapesTheConstructor) {
    ASSERT_TRUE(QFile::remove(Path("viewUsers.xml")));
    try {
        Create();
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Не могу прочитать настройки пользователей");
    }
    EXPECT_EQ(Main, nullptr);
    EXPECT_EQ(link.Ui, nullptr);
}

TEST_F(MainWindowTest, RefusedLoginAtStartLeavesNoTrace) {
    UniqueFd peer = OpenRaw(modem.PortB());
    Create();
    EXPECT_EQ(Main, window.get());
    RefuseLogin();
    EXPECT_FALSE(window->FormCreate());
    EXPECT_FALSE(window->isVisible());
    window.reset();

    EXPECT_EQ(ReadFor(peer.Get(), 300), Bytes{}) << "something went on the line";
    EXPECT_EQ(ReadAll(Path("Options.ini")), QByteArray(Options));
    EXPECT_EQ(ReadAll(Path("viewUsers.xml")), QByteArray(Directory));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              (QStringList{"Options.ini", "viewUsers.xml"}));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
    EXPECT_EQ(Main, nullptr);
}

TEST_F(MainWindowTest, FirstLoginRecordsTheUserBuildsTheTreeAndGreets) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Пётр")));
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Пользователь: Пётр"));
    EXPECT_TRUE(ReadAll(Path("viewUsers.xml")).contains(Utf8ToCp1251("Пётр").c_str()));

    struct Node {
        QString text;
        int image;
        QStringList children;
        int childImage;
    };
    const Node expected[] = {
        {QStringLiteral("Чат пользователь:"), 1, {QStringLiteral("Connect")}, ImageDisconnected},
        {QStringLiteral("Все пользователи системы:"),
         1,
         {QStringLiteral("Orlek"), QStringLiteral("Ivan"), QStringLiteral("Пётр")},
         4},
    };
    QTreeWidget* tree = window->TreeUsers;
    ASSERT_EQ(tree->topLevelItemCount(), 2);
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QTreeWidgetItem* root = tree->topLevelItem(i);
        EXPECT_EQ(root->text(0), expected[i].text);
        EXPECT_EQ(ImageOf(root->icon(0)), StateImageAt(expected[i].image));
        ASSERT_EQ(root->childCount(), expected[i].children.size());
        for (int j = 0; j < root->childCount(); ++j) {
            EXPECT_EQ(root->child(j)->text(0), expected[i].children[j]);
            EXPECT_EQ(root->child(j)->childCount(), 0);
            EXPECT_EQ(ImageOf(root->child(j)->icon(0)), StateImageAt(expected[i].childImage));
        }
    }
    EXPECT_EQ(window->ConnectNode, tree->topLevelItem(0)->child(0));

    Bytes greeting;
    EXPECT_TRUE(ReadExactly(peer.Get(), HelloBytes.size(), Patience, greeting));
    EXPECT_EQ(greeting, HelloBytes);
    EXPECT_EQ(link.Connected, 1);
    EXPECT_TRUE(window->TimerWait->Enabled());
    EXPECT_TRUE(window->TimerOptions->Enabled());
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(MainWindowTest, DirectoryLostAfterLoginShowsTheErrorAndDoesNotConnect) {
    UniqueFd peer = OpenRaw(modem.PortB());
    Create();
    WriteFile(Path("viewUsers.xml"), "not a directory");
    AnswerLogin(QStringLiteral("Orlek"), QString::fromStdString(modem.PortA()));
    ASSERT_TRUE(window->FormCreate());
    EXPECT_TRUE(window->isVisible());
    ASSERT_FALSE(boxes.isEmpty());
    EXPECT_EQ(boxes.last(), QStringLiteral("Не могу прочитать настройки пользователей"));
    EXPECT_EQ(window->TreeUsers->topLevelItemCount(), 2);
    EXPECT_EQ(window->TreeUsers->topLevelItem(1)->childCount(), 0);
    EXPECT_EQ(link.Connected, 0);
    EXPECT_EQ(ReadFor(peer.Get(), 300), Bytes{});
}

TEST_F(MainWindowTest, MenusCarryTheirTextsAndHints) {
    Create();
    struct Entry {
        QString text; // empty: a separator
        QString hint;
    };
    struct Menu {
        QString title;
        std::vector<Entry> entries;
    };
    const Menu expected[] = {
        {QStringLiteral("Программа"),
         {{QStringLiteral("Вход под другим пользователем"),
           QStringLiteral("Войти под другим пользователем")},
          {},
          {QStringLiteral("Выход"), QStringLiteral("Выход из программы")}}},
        {QStringLiteral("Настройки"),
         {{QStringLiteral("Настройка порта и сети"),
           QStringLiteral("Настройка структуры DCB и таймаутов ")},
          {QStringLiteral("Настройка &таймаутов"), {}}}},
        {QStringLiteral("Окна"),
         {{QStringLiteral("&Tile Vertically"), QStringLiteral("Tile Vertical")},
          {QStringLiteral("&Cascade"), QStringLiteral("Cascade")},
          {QStringLiteral("&Arrange"), {}},
          {QStringLiteral("Tile &Horizontally"), QStringLiteral("Tile Horizontal")},
          {QStringLiteral("&Minimize All"), QStringLiteral("Minimize All")},
          {},
          {QStringLiteral("C&lose"), QStringLiteral("Close")}}},
        {QStringLiteral("Помощь"),
         {{QStringLiteral("О программе.."), QStringLiteral("Общая информация о программе...")}}},
    };
    const auto tops = window->menuBar()->actions();
    ASSERT_EQ(tops.size(), 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].title.toStdString());
        EXPECT_EQ(tops[i]->text(), expected[i].title);
        const auto entries = tops[i]->menu()->actions();
        ASSERT_EQ(entries.size(), static_cast<qsizetype>(expected[i].entries.size()));
        for (int j = 0; j < entries.size(); ++j) {
            const Entry& entry = expected[i].entries[j];
            EXPECT_EQ(entries[j]->isSeparator(), entry.text.isEmpty()) << j;
            if (!entry.text.isEmpty()) {
                EXPECT_EQ(entries[j]->text(), entry.text);
                EXPECT_EQ(entries[j]->statusTip(), entry.hint);
            }
        }
    }
    const auto tools = window->ToolBar1->actions();
    ASSERT_EQ(tools.size(), 4);
    EXPECT_EQ(tools[0]->text(), QStringLiteral("Connect"));
    EXPECT_EQ(tools[1]->text(), QStringLiteral("Dicconect"));
    EXPECT_TRUE(tools[2]->isSeparator());
    EXPECT_EQ(tools[3], window->MainExit);
    EXPECT_EQ(ImageOf(tools[0]->icon()), StateImageAt(2));
    EXPECT_EQ(ImageOf(tools[1]->icon()), StateImageAt(3));
    EXPECT_EQ(ImageOf(tools[3]->icon()), StateImageAt(9));
}

TEST_F(MainWindowTest, WindowActionsOnlyWhileAChildIsOpen) {
    Create();
    const QAction* actions[] = {window->WindowTileVertical1, window->WindowCascade1,
                                window->WindowArrange1,      window->WindowTileHorizontal1,
                                window->WindowMinimizeAll1,  window->WindowClose1};
    auto enabled = [&](bool on) {
        for (const QAction* action : actions)
            EXPECT_EQ(action->isEnabled(), on) << action->text().toStdString();
    };
    enabled(false);
    QMdiSubWindow* child = window->AddChild(new QWidget);
    Settle();
    enabled(true);
    child->close();
    Settle();
    EXPECT_TRUE(Children().isEmpty());
    enabled(false);
}

// An event handler that raises.
class Throwing : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("Ошибка в обработчике");
        return QObject::event(event);
    }
};

TEST_F(MainWindowTest, ExceptionEscapingAHandlerIsShownAndTheProgramGoesOn) {
    Throwing receiver;
    QEvent first(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &first);
    EXPECT_EQ(boxes, QStringList{QStringLiteral("Ошибка в обработчике")});

    // The real box: exclamation, the application title as caption, one OK.
    SetBoxPresenter(nullptr);
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->standardButtons();
        box->accept();
    });
    QEvent second(QEvent::User);
    QCoreApplication::sendEvent(&receiver, &second);
    EXPECT_EQ(caption, QStringLiteral("Программа для посылки сообщения через COM порты"));
    EXPECT_EQ(text, QStringLiteral("Ошибка в обработчике"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

TEST_F(MainWindowTest, ChatWindowOpensOnlyFromTheConnectNodeWhileConnectedAndOnlyOnce) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    QTreeWidget* tree = window->TreeUsers;
    EnterOn(tree->topLevelItem(0));
    EnterOn(tree->topLevelItem(1));
    EnterOn(tree->topLevelItem(1)->child(0));
    EXPECT_EQ(link.ChatWindow, nullptr);
    {
        std::lock_guard lock(link.Lock);
        link.Connected = 0;
    }
    EnterOn(window->ConnectNode);
    EXPECT_EQ(link.ChatWindow, nullptr);
    {
        std::lock_guard lock(link.Lock);
        link.Connected = 1;
    }
    // A double-click opens it as Enter does.
    tree->setCurrentItem(nullptr);
    const QRect node = tree->visualItemRect(window->ConnectNode);
    ASSERT_FALSE(node.isEmpty());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, node.center());
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, node.center());
    ASSERT_NE(link.ChatWindow, nullptr);
    TEditForm* chat = window->ChatForm();
    EnterOn(window->ConnectNode);
    window->OpenChatWindow();
    Settle();
    EXPECT_EQ(window->ChatForm(), chat);
    ASSERT_EQ(Children().size(), 1);
    EXPECT_EQ(Children().first()->widget(), chat);

    // A message that arrives just as the user opened the window goes to it.
    link.ReceivedText.push_back("Orlek:[1:02:03] hello");
    window->TimerNewMessage->SetEnabled(true);
    window->TimerNewMessageTimer();
    EXPECT_FALSE(window->TimerNewMessage->Enabled());
    EXPECT_TRUE(link.ReceivedText.empty());
    Settle();
    EXPECT_EQ(Children().size(), 1);
    EXPECT_EQ(window->ChatForm(), chat);

    // While active its menu sits between "Окна" and "Помощь".
    window->MdiArea->setActiveSubWindow(Children().first());
    Settle();
    const auto tops = window->menuBar()->actions();
    ASSERT_EQ(tops.size(), 5);
    EXPECT_EQ(tops[3], chat->ChatMenu()->menuAction());
    EXPECT_EQ(tops[4]->text(), QStringLiteral("Помощь"));
    // Another child active: the chat's menu leaves.
    window->ATimesEditExecute();
    Settle();
    EXPECT_EQ(window->menuBar()->actions().size(), 4);
    window->MdiArea->setActiveSubWindow(Children().first());
    Settle();
    EXPECT_EQ(window->menuBar()->actions().size(), 5);
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(MainWindowTest, IncomingMessageOpensTheChatWindowWithTheText) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    link.ReceivedText.push_back("Orlek:[1:02:03] incoming");
    window->TimerNewMessageTimer();
    ASSERT_NE(window->ChatForm(), nullptr);
    EXPECT_TRUE(link.ReceivedText.empty());
    ASSERT_TRUE(window->close());
    EXPECT_TRUE(ReadAll(Path("History/Ivan.txt")).contains("incoming"));
}

TEST_F(MainWindowTest, ReachesEstablishedWithAPeer) {
    Peer other(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window->StatusPanel->text() == QString::fromUtf8(text::StatusEstablished); },
        Patience))
        << window->StatusPanel->text().toStdString();
    EXPECT_EQ(ImageOf(window->ConnectNode->icon(0)), StateImageAt(ImageConnected));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
    ASSERT_TRUE(window->close());
}

TEST_F(MainWindowTest, ChangeUserClosesTheChildrenAndOpensANewPort) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    EnterOn(window->ConnectNode);
    window->AOptionsEditExecute();
    window->ATimesEditExecute();
    Settle();
    ASSERT_EQ(Children().size(), 3);
    ASSERT_NE(OptionsEdit, nullptr);
    ASSERT_NE(Times, nullptr);
    Bytes greeting;
    ASSERT_TRUE(ReadExactly(peer.Get(), HelloBytes.size(), Patience, greeting));
    const QByteArray directory = ReadAll(Path("viewUsers.xml"));
    window->StatusPanel->setText(QStringLiteral("Соединение установлено"));

    AnswerLogin(QStringLiteral("Petr"), QString::fromStdString(modem.PortA()));
    window->ChangeUser();
    Settle();

    EXPECT_TRUE(Children().isEmpty());
    EXPECT_EQ(link.ChatWindow, nullptr);
    EXPECT_EQ(OptionsEdit, nullptr);
    EXPECT_EQ(Times, nullptr);
    EXPECT_TRUE(QFile::exists(Path("History/Ivan.txt"))) << "the chat's history was not written";
    EXPECT_TRUE(ReadAll(Path("Options.ini")).contains("BaudRate")) << "settings not saved";
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Пользователь: Petr"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->StatusPanel->text().isEmpty());
    ASSERT_NE(link.PortHandle, nullptr);
    EXPECT_EQ(link.Connected, 1);
    EXPECT_TRUE(window->TimerOptions->Enabled());
    Bytes line;
    EXPECT_TRUE(ReadExactly(peer.Get(), ByeBytes.size() + HelloBytes.size(), Patience, line));
    Bytes expected = ByeBytes;
    expected.insert(expected.end(), HelloBytes.begin(), HelloBytes.end());
    EXPECT_EQ(line, expected);
    // Only the first login of a run adds to the directory and the tree.
    EXPECT_EQ(ReadAll(Path("viewUsers.xml")), directory);
    EXPECT_EQ(window->TreeUsers->topLevelItem(1)->childCount(), 2);

    // A reader runs on the new port: the peer's greeting lights the node.
    WriteAll(peer.Get(), HelloBytes.data(), HelloBytes.size());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return ImageOf(window->ConnectNode->icon(0)) == StateImageAt(ImageConnected); },
        Patience));
    EXPECT_TRUE(boxes.isEmpty()) << boxes.join('\n').toStdString();
}

TEST_F(MainWindowTest, ChatHistoryThatCannotBeWrittenKeepsTheProgramOpen) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    EnterOn(window->ConnectNode);
    ASSERT_NE(window->ChatForm(), nullptr);
    // A folder where the history file should be: no one can write it.
    ASSERT_TRUE(QFile::remove(Path("History/Ivan.txt")));
    ASSERT_TRUE(QDir(dir.path()).mkpath("History/Ivan.txt"));

    AnswerLogin(QStringLiteral("Petr"), QString::fromStdString(modem.PortA()));
    window->ChangeUser();
    Settle();
    EXPECT_FALSE(boxes.isEmpty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Пользователь: Ivan"));
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(window->ChatForm(), nullptr);
    EXPECT_FALSE(window->LoginDialog->isVisible());

    boxes.clear();
    EXPECT_FALSE(window->close());
    EXPECT_FALSE(boxes.isEmpty());
    EXPECT_NE(window->ChatForm(), nullptr);

    ASSERT_TRUE(QDir(Path("History")).rmdir("Ivan.txt"));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(QFile::exists(Path("History/Ivan.txt")));
}

TEST_F(MainWindowTest, UnwritableSettingsStopReloginAndCloseOtherwiseCloseSavesAndSaysGoodbye) {
    UniqueFd peer = OpenRaw(modem.PortB());
    ASSERT_TRUE(StartAs(QStringLiteral("Ivan")));
    Bytes greeting;
    ASSERT_TRUE(ReadExactly(peer.Get(), HelloBytes.size(), Patience, greeting));

    ASSERT_TRUE(QFile::remove(Path("Options.ini")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Options.ini"));
    // Re-login stops at its first step, the connection unchanged.
    EXPECT_ANY_THROW(window->ChangeUser());
    EXPECT_FALSE(window->LoginDialog->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Пользователь: Ivan"));
    EXPECT_NE(link.PortHandle, nullptr);
    EXPECT_TRUE(window->TimerOptions->Enabled());

    EXPECT_FALSE(window->close());
    EXPECT_EQ(boxes.size(), 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_NE(link.PortHandle, nullptr);
    EXPECT_EQ(ReadFor(peer.Get(), 300), Bytes{});

    ASSERT_TRUE(QDir(dir.path()).rmdir("Options.ini"));
    EXPECT_TRUE(window->close());
    EXPECT_TRUE(ReadAll(Path("Options.ini")).contains("TimeOptions"));
    EXPECT_EQ(link.PortHandle, nullptr);
    Bytes goodbye;
    EXPECT_TRUE(ReadExactly(peer.Get(), ByeBytes.size(), Patience, goodbye));
    EXPECT_EQ(goodbye, ByeBytes);
}

TEST_F(MainWindowTest, AboutBoxNamesTheProductAndClosesWithOk) {
    TAboutBox about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About"));
    QStringList texts;
    for (const QLabel* label : about.findChildren<QLabel*>())
        if (!label->text().isEmpty())
            texts << label->text();
    texts.sort();
    EXPECT_EQ(texts, (QStringList{"0.2", "Product Name:", "Quorvik", "Version:"}));
    EXPECT_TRUE(about.findChild<QLabel*>("ProductName")->font().bold());
    EXPECT_FALSE(about.findChild<QLabel*>("ProgramIcon")->pixmap().isNull());
    EXPECT_TRUE(about.OKButton->isDefault());
    QTimer::singleShot(0, &about, [&] { QTest::keyClick(&about, Qt::Key_Return); });
    EXPECT_EQ(about.exec(), QDialog::Accepted);
}

} // namespace
