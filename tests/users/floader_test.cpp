#include "users/Floader.h"

#include "link/Connection.h"
#include "link/Cp1251.h"
#include "tests/support/NullModem.h"
#include "ui/ExceptionBox.h"
#include "users/LoginPicture.h"
#include "users/SerialPorts.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace quorvik {
namespace {

namespace fs = std::filesystem;

// The offscreen platform warns at every opacity change; the value is kept all the same.
class QtEnvironment : public quorvik::QtAppEnvironment<> {
public:
    void SetUp() override {
        static QtMessageHandler previous = nullptr;
        previous = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.contains(QStringLiteral("window opacity")))
                    previous(type, context, message);
            });
        QtAppEnvironment::SetUp();
    }
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

struct Box {
    QString text;
    bool exclamation;
};

class LoaderTest : public ::testing::Test {
protected:
    LoaderTest() {
        fs::create_directories(dir_);
        WriteFile(directory_, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<users>\n"
                              "  <user name=\"Анна\" port=\"Com1\"/>\n"
                              "  <user name=\"Boris\" port=\"Com2\"/>\n</users>\n");
        SetBoxPresenter([this](const QString& text, bool exclamation) {
            boxes_.push_back({text, exclamation});
        });
        ui_.Post = [](std::function<void()>) {};
        ui_.ReportLine = [](const std::string&, LineFate) {};
        link_.Ui = &ui_;
    }
    ~LoaderTest() override {
        CloseLink(link_);
        SetBoxPresenter({});
        fs::remove_all(dir_);
    }

    std::unique_ptr<TLoader> Shown(int32_t timeLoad = 50) {
        auto loader = std::make_unique<TLoader>(users_, link_, timeLoad);
        loader->show();
        EXPECT_TRUE(QTest::qWaitForWindowActive(loader.get()));
        return loader;
    }

    static void TypeInto(QComboBox* combo, const QString& text) {
        combo->lineEdit()->clear();
        combo->lineEdit()->insert(text); // keyClicks takes ASCII only
    }

    const fs::path dir_ = fs::temp_directory_path() /
                          ("floader_test_" + std::to_string(::getpid()) + "_" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    const fs::path directory_ = dir_ / "viewUsers.xml";
    ECViewUserReader users_{directory_.string()};
    LinkUi ui_;
    LinkState link_;
    std::vector<Box> boxes_;
};

TEST_F(LoaderTest, OpensWithItsDefaultsAndTheDirectoryNames) {
    auto loader = Shown();
    EXPECT_EQ(loader->windowTitle(), QStringLiteral("Вход в программу Quorvik"));
    EXPECT_EQ(loader->size(), QSize(317, 289));
    EXPECT_EQ(loader->UserEdit->currentText(), QStringLiteral("Orlek"));
    ASSERT_EQ(loader->UserEdit->count(), 2);
    EXPECT_EQ(loader->UserEdit->itemText(0), QStringLiteral("Анна"));
    EXPECT_EQ(loader->UserEdit->itemText(1), QStringLiteral("Boris"));
    EXPECT_EQ(users_.Entries, nullptr) << "the directory is released for the next reader";
    ASSERT_GE(loader->ComboPort->count(), 2);
    EXPECT_EQ(loader->ComboPort->itemText(0), QStringLiteral("Com1"));
    EXPECT_EQ(loader->ComboPort->itemText(1), QStringLiteral("Com2"));
    EXPECT_EQ(loader->ComboPort->currentText(), QStringLiteral("Com1"));
    EXPECT_EQ(loader->ProgressBar1->maximum(), 255);
    EXPECT_EQ(loader->windowOpacity(), 0.0);
    EXPECT_FALSE(loader->Button1->isDefault() || loader->Button1->autoDefault());
    EXPECT_FALSE(loader->Button2->isDefault() || loader->Button2->autoDefault());
    ASSERT_FALSE(loader->Image1->pixmap().isNull());
    EXPECT_EQ(loader->Image1->pixmap().size(), QSize(317, 289));

    // Tab order: Button1, ComboPort, (the bar takes no focus), Button2, UserEdit.
    EXPECT_EQ(QApplication::focusWidget(), loader->Button1);
    const QWidget* order[] = {loader->ComboPort, loader->Button2, loader->UserEdit,
                              loader->Button1};
    for (const QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->window(), loader.get());
        EXPECT_TRUE(QApplication::focusWidget() == next ||
                    QApplication::focusWidget()->parentWidget() == next);
    }
}

TEST_F(LoaderTest, EnterAtOnceLogsInAsOrlekOnTheFirstPort) {
    auto loader = Shown();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_FALSE(loader->isVisible());
    EXPECT_EQ(link_.UserName, "Orlek");
    EXPECT_EQ(link_.PortName, "Com1");
    // Whether Com1 opens depends on this machine; either way the outcome is consistent.
    if (loader->result() == QDialog::Accepted) {
        EXPECT_NE(link_.PortHandle, nullptr);
        EXPECT_TRUE(boxes_.empty());
    } else {
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].exclamation);
    }
}

TEST_F(LoaderTest, LoginTakesTheBoxesAsTypedAndKeepsStateForTheNextShowing) {
    NullModem modem;
    const QString names[] = {QString(), QStringLiteral("  Аня Ё "), QStringLiteral("Boris")};
    TLoader loader(users_, link_, 50);
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        loader.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&loader));
        TypeInto(loader.UserEdit, name);
        TypeInto(loader.ComboPort, QString::fromStdString(modem.PortA()));
        QTest::mouseClick(loader.Button1, Qt::LeftButton);

        EXPECT_EQ(loader.result(), QDialog::Accepted);
        EXPECT_FALSE(loader.isVisible());
        EXPECT_TRUE(boxes_.empty()) << (boxes_.empty() ? "" : boxes_[0].text.toStdString());
        EXPECT_EQ(link_.UserName, Utf8ToCp1251(name.toStdString()));
        EXPECT_EQ(link_.PortName, modem.PortA());
        EXPECT_NE(link_.PortHandle, nullptr);
        EXPECT_EQ(loader.UserEdit->currentText(), QString());
        EXPECT_EQ(loader.ComboPort->currentText(), QString::fromStdString(modem.PortA()));
        EXPECT_EQ(loader.UserEdit->count(), 2) << "typed names never join the list";
        CloseLink(link_);
    }
}

TEST_F(LoaderTest, FailedLoginShowsTheBoxAndRejects) {
    const fs::path plainFile = dir_ / "not-a-port";
    WriteFile(plainFile, "x");
    const struct {
        QString port;
        const char* message;
    } cases[] = {
        {QString::fromStdString((dir_ / "no-such-port").string()), "Не удалось открыть порт"},
        {QString::fromStdString(plainFile.string()), "Не могу произвести очистку порта"},
        {QString(), nullptr}, // refused before the open; its own text
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.port.toStdString());
        boxes_.clear();
        auto loader = Shown();
        TypeInto(loader->ComboPort, c.port);
        QTest::mouseClick(loader->Button1, Qt::LeftButton);
        EXPECT_EQ(loader->result(), QDialog::Rejected);
        EXPECT_FALSE(loader->isVisible());
        EXPECT_EQ(link_.PortHandle, nullptr);
        EXPECT_EQ(loader->focusWidget(), loader->UserEdit);
        ASSERT_EQ(boxes_.size(), 1u);
        EXPECT_TRUE(boxes_[0].exclamation);
        if (c.message)
            EXPECT_EQ(boxes_[0].text, QString::fromUtf8(c.message));
        else
            EXPECT_FALSE(boxes_[0].text.isEmpty());
    }
}

TEST_F(LoaderTest, EscAndEnterMeanNothingOutsideTheButtons) {
    auto loader = Shown();
    for (QComboBox* combo : {loader->UserEdit, loader->ComboPort}) {
        combo->setFocus();
        for (auto key : {Qt::Key_Escape, Qt::Key_Return})
            QTest::keyClick(combo->lineEdit(), key);
    }
    EXPECT_TRUE(loader->isVisible());
    EXPECT_TRUE(link_.UserName.empty()) << "no login happened";
    EXPECT_TRUE(boxes_.empty());
}

TEST_F(LoaderTest, EscOrExitOnAButtonRejects) {
    for (int way = 0; way < 3; ++way) {
        SCOPED_TRACE(way);
        auto loader = Shown();
        if (way == 2) {
            QTest::mouseClick(loader->Button2, Qt::LeftButton);
        } else {
            QPushButton* button = way == 0 ? loader->Button1 : loader->Button2;
            button->setFocus();
            QTest::keyClick(button, Qt::Key_Escape);
        }
        EXPECT_FALSE(loader->isVisible());
        EXPECT_EQ(loader->result(), QDialog::Rejected);
        EXPECT_TRUE(link_.UserName.empty());
    }
}

TEST_F(LoaderTest, FadesInStepByStepAndStopsAtFull) {
    auto loader = Shown();
    EXPECT_TRUE(loader->Timer1Enabled());
    for (int tick = 1; tick <= 52; ++tick) {
        SCOPED_TRACE(tick);
        loader->Timer1Timer();
        const int expected = std::min(5 * tick, 255);
        EXPECT_EQ(loader->ProgressBar1->value(), expected);
        EXPECT_EQ(qRound(loader->windowOpacity() * 255), expected);
        EXPECT_EQ(loader->Timer1Enabled(), tick < 52);
    }
    // A later showing starts fully opaque; its first tick only stops the timer.
    loader->hide();
    loader->show();
    EXPECT_TRUE(loader->Timer1Enabled());
    loader->Timer1Timer();
    EXPECT_FALSE(loader->Timer1Enabled());
    EXPECT_EQ(loader->ProgressBar1->value(), 255);
    EXPECT_EQ(loader->windowOpacity(), 1.0);
}

TEST_F(LoaderTest, TimeLoadOfZeroNeverRuns) {
    for (int32_t timeLoad : {0, -1}) {
        auto loader = Shown(timeLoad);
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        EXPECT_FALSE(loader->Timer1Enabled());
        EXPECT_EQ(loader->ProgressBar1->value(), 0);
        EXPECT_EQ(loader->windowOpacity(), 0.0);
    }
}

TEST_F(LoaderTest, UnreadableDirectoryFailsTheConstructor) {
    const char* files[] = {nullptr, "<users/>", "<people><user name=\"a\" port=\"b\"/></people>",
                           "<users><user"};
    for (const char* file : files) {
        SCOPED_TRACE(file ? file : "(missing)");
        if (file)
            WriteFile(directory_, file);
        else
            fs::remove(directory_);
        try {
            TLoader loader(users_, link_, 50);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Не могу прочитать настройки пользователей");
        }
    }
}

TEST(LoginPicture, DecodesOurPictureAndRefusesDamagedOnes) {
    const QImage picture = DecodeJpeg(QStringLiteral(QUORVIK_BIN_DIR "/login.jpg"));
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(317, 289));

    std::ifstream in(QUORVIK_SOURCE_DIR "/users/login.jpg", std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), {});
    ASSERT_GT(jpeg.size(), 100u);
    std::string flipped = jpeg;
    flipped[2] = 0; // the first marker is no longer one

    const fs::path dir = fs::temp_directory_path() / ("login_picture_" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::pair<const char*, std::string> damaged[] = {
        {"empty", ""},
        {"garbage", "not a picture at all"},
        {"truncated", jpeg.substr(0, jpeg.size() / 2)},
        {"header only", jpeg.substr(0, 20)},
        {"bad marker", flipped},
    };
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        WriteFile(dir / name, bytes);
        EXPECT_TRUE(DecodeJpeg(QString::fromStdString((dir / name).string())).isNull());
    }
    EXPECT_TRUE(DecodeJpeg(QString::fromStdString((dir / "missing").string())).isNull());
    fs::remove_all(dir);
}

TEST(SerialPortList, ListsRealPortsInOrder) {
    const fs::path root = fs::temp_directory_path() / ("serial_ports_" + std::to_string(getpid()));
    const fs::path dev = root / "dev", sys = root / "sys";
    fs::create_directories(dev / "serial" / "by-id");
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS2", "ttyS11",
                             "ttyUSBx", "tty1", "ttyS", "null"})
        WriteFile(dev / name, "");
    fs::create_symlink("../../ttyUSB2", dev / "serial" / "by-id" / "usb-Adapter_A-if00");
    // ttyS0 and ttyS11 have UARTs; ttyS1 is an empty slot; ttyS2 has no device.
    for (const auto& [name, type] :
         {std::pair{"ttyS0", "4\n"}, {"ttyS1", "0\n"}, {"ttyS11", "4"}}) {
        fs::create_directories(sys / name / "device");
        WriteFile(sys / name / "type", type);
    }
    fs::create_directories(sys / "ttyS2");

    const std::vector<std::string> expected = {
        (dev / "serial" / "by-id" / "usb-Adapter_A-if00").string(),
        (dev / "ttyUSB2").string(),
        (dev / "ttyUSB10").string(),
        (dev / "ttyACM0").string(),
        (dev / "ttyS0").string(),
        (dev / "ttyS11").string(),
    };
    EXPECT_EQ(SerialPorts({dev.string(), sys.string()}), expected);
    EXPECT_TRUE(SerialPorts({(root / "none").string(), (root / "none").string()}).empty());
    fs::remove_all(root);
}

} // namespace
} // namespace quorvik
