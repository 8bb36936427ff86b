#include "link/Connection.h"
#include "link/OpenPort.h"
#include "settings/OptionsEdit.h"
#include "tests/support/NullModem.h"
#include "ui/ExceptionBox.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace quorvik {
namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new quorvik::QtAppEnvironment<QApplication>);

struct Box {
    QString text;
    bool exclamation;
};

using Bytes = std::vector<uint8_t>;

// A link logged in on one end of a null modem; the test reads the other end raw.
class OptionsEditTest : public ::testing::Test {
protected:
    OptionsEditTest() {
        SetBoxPresenter([this](const QString& text, bool exclamation) {
            boxes.push_back({text, exclamation});
        });
        ui.Post = [](std::function<void()>) {};
        link.Ui = &ui;
        OpenPort(link, modem.PortA());
    }
    ~OptionsEditTest() override {
        delete dialog;
        CloseLink(link);
        SetBoxPresenter({});
    }

    void SetConnected(bool on) {
        std::lock_guard lock(link.Lock);
        link.Connected = on ? 1 : 0;
    }
    void SetWorking(const serial::Dcb& dcb, const serial::CommTimeouts& timeouts) {
        std::lock_guard lock(link.Lock);
        link.PortDcb = dcb;
        link.PortTimeouts = timeouts;
    }
    serial::Dcb WorkingDcb() {
        std::lock_guard lock(link.Lock);
        return link.PortDcb;
    }
    serial::CommTimeouts WorkingTimeouts() {
        std::lock_guard lock(link.Lock);
        return link.PortTimeouts;
    }
    serial::Dcb PortDcb() {
        serial::Dcb dcb;
        EXPECT_EQ(link.PortHandle->GetState(dcb), serial::Error::None);
        return dcb;
    }
    serial::CommTimeouts PortTimeouts() {
        serial::CommTimeouts timeouts;
        EXPECT_EQ(link.PortHandle->GetTimeouts(timeouts), serial::Error::None);
        return timeouts;
    }
    // Everything written to the line so far, as the peer receives it.
    Bytes Sent() {
        link.Writer->Flush();
        return ReadFor(peer.Get(), 150);
    }
    TOptionsEdit& Open() {
        dialog = new TOptionsEdit(link);
        dialog->show();
        return *dialog;
    }
    // Deletes what closing left to be deleted; true when the dialog is gone.
    bool Closed() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }
    // Controls that every case of OK reads, set to plain values.
    static void SetPlain(TOptionsEdit& d) {
        d.ComboBox1->setCurrentIndex(6); // 9600
        d.CheckBox1->setChecked(false);
        d.ComboBox4->setCurrentIndex(2); // NONE
        d.CheckBox2->setChecked(false);
        d.Edit7->setText("0");
        d.Edit6->setText("8");
        d.ComboBox3->setCurrentIndex(0);
    }

    NullModem modem;
    UniqueFd peer = OpenRaw(modem.PortB());
    LinkUi ui;
    LinkState link;
    QPointer<TOptionsEdit> dialog;
    std::vector<Box> boxes;
};

TEST_F(OptionsEditTest, FillsControlsFromWorkingValues) {
    struct Case {
        serial::Dcb dcb;
        serial::CommTimeouts timeouts;
        int baud, parity, stopBits;
        QString parityText, errorChar, byteSize;
        QStringList timeoutTexts;
    };
    const uint32_t flags = serial::Dcb::fParityBit | serial::Dcb::fErrorCharBit;
    const Case cases[] = {
        {{9600, flags, 8, serial::EVENPARITY, serial::TWOSTOPBITS, 255},
         {4294967295u, 10, 0, 2147483648u, 300},
         6,
         0,
         2,
         "EVEN",
         "-1",
         "8",
         {"-1", "10", "0", "-2147483648", "300"}},
        {{256000, 0, 200, serial::SPACEPARITY, serial::ONE5STOPBITS, 127},
         {},
         14,
         4,
         1,
         "SPACE",
         "127",
         "200",
         {"0", "0", "0", "0", "0"}},
        // Values outside the lists select nothing; the port is not asked.
        {{0, 0, 0, 7, 5, 128}, {}, -1, -1, -1, "", "-128", "0", {"0", "0", "0", "0", "0"}},
        {{12345, 0, 8, serial::NOPARITY, serial::ONESTOPBIT, 0},
         {},
         -1,
         2,
         0,
         "NONE",
         "0",
         "8",
         {"0", "0", "0", "0", "0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dcb.BaudRate);
        SetWorking(c.dcb, c.timeouts);
        TOptionsEdit& d = Open();
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Опции порта:"));
        EXPECT_EQ(d.size(), QSize(325, 484));
        EXPECT_EQ(d.ComboBox1->count(), 16);
        EXPECT_EQ(d.ComboBox1->itemText(15), " ");
        EXPECT_EQ(d.ComboBox1->currentIndex(), c.baud);
        EXPECT_EQ(d.CheckBox1->isChecked(), c.dcb.fParity());
        EXPECT_EQ(d.ComboBox4->currentIndex(), c.parity);
        EXPECT_EQ(d.ComboBox4->currentText(), c.parityText);
        EXPECT_EQ(d.CheckBox2->isChecked(), c.dcb.fErrorChar());
        EXPECT_EQ(d.Edit7->text(), c.errorChar);
        EXPECT_EQ(d.Edit6->text(), c.byteSize);
        EXPECT_EQ(d.ComboBox3->currentIndex(), c.stopBits);
        const QStringList shown = {d.Edit1->text(), d.Edit2->text(), d.Edit3->text(),
                                   d.Edit4->text(), d.Edit5->text()};
        EXPECT_EQ(shown, c.timeoutTexts);
        EXPECT_FALSE(d.TimerWait->isActive());
        EXPECT_EQ(d.TimerWait->interval(), 1000);
        delete dialog;
    }
}

TEST_F(OptionsEditTest, OkSendsListCodesAndAppliesToPort) {
    struct Case {
        const char* name;
        int baud;
        bool parityCheck;
        int parity; // -1: typedParity instead
        const char* typedParity;
        const char* errorChar;
        const char* byteSize;
        int stopBits;
        Bytes frame;
        uint32_t baudRate;
        uint8_t dcbParity, dcbErrorChar, dcbStopBits;
    };
    // The port starts at the login's fixed settings: 14400 baud, even parity.
    const Case cases[] = {
        {"all selected",
         6,
         true,
         3,
         nullptr,
         "255",
         "8",
         2,
         {0x01, 0x02, 7, 1, 4, 0xFF, 8, 3},
         9600,
         serial::ODDPARITY,
         0xFF,
         serial::TWOSTOPBITS},
        {"nothing selected, typed parity",
         -1,
         false,
         -1,
         "odd",
         "-1",
         "264",
         0,
         {0x01, 0x02, 0, 2, 0, 0xFF, 8, 1},
         14400,
         serial::EVENPARITY,
         0xFF,
         serial::ONESTOPBIT},
        {"blank rate, stale parity selection",
         15,
         false,
         -1,
         "Ma",
         "$7F",
         "5",
         1,
         {0x01, 0x02, 16, 2, 0, 0x7F, 5, 2},
         14400,
         serial::EVENPARITY,
         0x7F,
         serial::ONE5STOPBITS},
    };
    SetConnected(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenPort(link, modem.PortA()); // back to the fixed settings
        TOptionsEdit& d = Open();
        d.ComboBox1->setCurrentIndex(c.baud);
        d.CheckBox1->setChecked(c.parityCheck);
        d.ComboBox4->setCurrentIndex(c.parity < 0 ? 1 : c.parity);
        if (c.typedParity)
            d.ComboBox4->setEditText(c.typedParity);
        d.CheckBox2->setChecked(true);
        d.Edit7->setText(c.errorChar);
        d.Edit6->setText(c.byteSize);
        d.ComboBox3->setCurrentIndex(c.stopBits);
        d.Button1->click();

        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(Sent(), c.frame);
        const serial::Dcb working = WorkingDcb();
        EXPECT_EQ(working.BaudRate, c.baudRate);
        EXPECT_EQ(working.fParity(), c.parityCheck);
        EXPECT_EQ(working.Parity, c.dcbParity);
        EXPECT_TRUE(working.fErrorChar());
        EXPECT_EQ(working.ErrorChar, c.dcbErrorChar);
        EXPECT_EQ(working.ByteSize, c.frame[6]);
        EXPECT_EQ(working.StopBits, c.dcbStopBits);
        EXPECT_EQ(PortDcb(), working);
        EXPECT_TRUE(d.TimerWait->isActive());
        delete dialog;
        boxes.clear();
    }
}

// OK, then the timer step a second later: both applied locally, sent only
// while connected, and the dialog closes itself.
TEST_F(OptionsEditTest, TimerStepAppliesTimeoutsSendsWhileConnectedAndCloses) {
    for (const bool connected : {true, false}) {
        SCOPED_TRACE(connected);
        SetConnected(connected);
        SetWorking({}, {});
        OpenPort(link, modem.PortA());
        dialog = ShowOptionsEdit(link, nullptr);
        TOptionsEdit& d = *dialog;
        SetPlain(d);
        d.Edit1->setText("-1");
        d.Edit2->setText("300");
        d.Edit3->setText("0x0A");
        d.Edit4->setText("200");
        d.Edit5->setText("7");
        d.Button1->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, 5000));

        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(OptionsEdit, nullptr);
        const serial::CommTimeouts expected{4294967295u, 300, 10, 200, 7};
        EXPECT_EQ(WorkingTimeouts(), expected);
        EXPECT_EQ(PortTimeouts(), expected);
        EXPECT_EQ(PortDcb().BaudRate, 9600u);
        const Bytes frames = {0x01, 0x02, 7,    2,    3,    0,    8,    1,
                              0x01, 0x03, 0xFF, 0x2C, 0x0A, 0xC8, 0x07, 0x02};
        EXPECT_EQ(Sent(), connected ? frames : Bytes{});
    }
}

TEST_F(OptionsEditTest, OkAgainWhileWaitingSendsAgainWithoutRestartingTimer) {
    SetConnected(true);
    TOptionsEdit& d = Open();
    SetPlain(d);
    d.Button1->click();
    const int first = d.TimerWait->remainingTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    d.Button1->click();
    EXPECT_TRUE(d.TimerWait->isActive());
    EXPECT_LT(d.TimerWait->remainingTime(), first);
    const Bytes frame = {0x01, 0x02, 7, 2, 3, 0, 8, 1};
    Bytes twice = frame;
    twice.insert(twice.end(), frame.begin(), frame.end());
    EXPECT_EQ(Sent(), twice);
}

TEST_F(OptionsEditTest, RefusedByteSizeIsSentFirstThenReported) {
    SetConnected(true);
    const serial::Dcb before = PortDcb();
    TOptionsEdit& d = Open();
    SetPlain(d);
    d.Edit6->setText("0");
    d.Button1->click();

    EXPECT_EQ(Sent(), (Bytes{0x01, 0x02, 7, 2, 3, 0, 0, 1}));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Ошибка утановки параметров порта"));
    EXPECT_TRUE(boxes[0].exclamation);
    EXPECT_EQ(WorkingDcb().ByteSize, 0);
    EXPECT_EQ(WorkingDcb().BaudRate, 9600u);
    EXPECT_EQ(PortDcb(), before);
    EXPECT_FALSE(d.TimerWait->isActive());
    EXPECT_FALSE(Closed());
}

TEST_F(OptionsEditTest, TextThatIsNotANumberStopsBeforeSending) {
    struct Case {
        const char* errorChar;
        const char* byteSize;
        QString message;
        uint8_t workingErrorChar;
    };
    const Case cases[] = {
        {"5", "abc", QStringLiteral("'abc' не является целым числом"), 5},
        {"2147483648", "8", QStringLiteral("'2147483648' не является целым числом"), 0xFF},
        {"", "8", QStringLiteral("'' не является целым числом"), 0xFF},
    };
    SetConnected(true);
    const serial::Dcb before = PortDcb();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.errorChar);
        SetWorking({}, {});
        TOptionsEdit& d = Open();
        SetPlain(d);
        d.CheckBox1->setChecked(true);
        d.Edit7->setText(c.errorChar);
        d.Edit6->setText(c.byteSize);
        d.Button1->click();

        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_TRUE(boxes[0].exclamation);
        EXPECT_EQ(Sent(), Bytes{});
        EXPECT_EQ(PortDcb(), before);
        // The members read before the faulty text hold their new values.
        const serial::Dcb working = WorkingDcb();
        EXPECT_EQ(working.BaudRate, 9600u);
        EXPECT_TRUE(working.fParity());
        EXPECT_EQ(working.Parity, serial::NOPARITY);
        EXPECT_EQ(working.ErrorChar, c.workingErrorChar);
        EXPECT_EQ(working.ByteSize, before.ByteSize);
        EXPECT_FALSE(d.TimerWait->isActive());
        delete dialog;
        boxes.clear();
    }
}

TEST_F(OptionsEditTest, TimeoutThatIsNotANumberKeepsDialogOpen) {
    SetConnected(true);
    const serial::CommTimeouts before = PortTimeouts();
    SetWorking({}, {1, 2, 3, 4, 5});
    TOptionsEdit& d = Open();
    d.Edit1->setText("11");
    d.Edit2->setText("22");
    d.Edit3->setText("x");
    d.Edit4->setText("44");
    d.TimerWait->start();
    Guarded([&] { d.TimerWaitTimer(); });

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("'x' не является целым числом"));
    EXPECT_EQ(WorkingTimeouts(), (serial::CommTimeouts{11, 22, 3, 4, 5}));
    EXPECT_EQ(PortTimeouts(), before);
    EXPECT_EQ(Sent(), Bytes{});
    EXPECT_FALSE(d.TimerWait->isActive());
    EXPECT_FALSE(Closed());
}

TEST_F(OptionsEditTest, WithoutPortNothingIsTakenAndTimeoutsAreNotApplied) {
    CloseLink(link);
    const serial::Dcb dcb{9600, 0, 8, serial::NOPARITY, serial::ONESTOPBIT, 0};
    SetWorking(dcb, {});
    TOptionsEdit& d = Open();
    d.ComboBox1->setCurrentIndex(0);
    d.Button1->click();
    d.Edit1->setText("9");
    Guarded([&] { d.TimerWaitTimer(); });

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, QStringLiteral("Невозможно получить параметры порта"));
    EXPECT_EQ(boxes[1].text, QStringLiteral("Ошибка установики таймаутов порта"));
    EXPECT_EQ(WorkingDcb(), dcb);
    EXPECT_EQ(WorkingTimeouts().ReadIntervalTimeout, 9u);
    EXPECT_FALSE(d.TimerWait->isActive());
    EXPECT_FALSE(Closed());
}

// One dialog at a time: asked again, the open one comes to the front as it
// is; Cancel within the second after OK drops the timeouts.
TEST_F(OptionsEditTest, SingleDialogInMdiAreaAndCancelWhileWaiting) {
    SetConnected(true);
    const serial::CommTimeouts timeoutsBefore = PortTimeouts();
    QMdiArea area;
    area.resize(800, 600);
    area.show();
    dialog = ShowOptionsEdit(link, &area);
    ASSERT_EQ(OptionsEdit, dialog.data());
    auto* sub = qobject_cast<QMdiSubWindow*>(dialog->parentWidget());
    ASSERT_NE(sub, nullptr);
    SetPlain(*dialog);
    dialog->Edit1->setText("77");
    EXPECT_EQ(ShowOptionsEdit(link, &area), dialog.data());
    EXPECT_EQ(dialog->Edit1->text(), "77");
    EXPECT_EQ(area.subWindowList().size(), 1);

    dialog->Button1->click();
    dialog->Button2->click();
    EXPECT_TRUE(Closed());
    EXPECT_EQ(OptionsEdit, nullptr);
    EXPECT_TRUE(area.subWindowList().isEmpty());
    EXPECT_EQ(PortDcb().BaudRate, 9600u);
    EXPECT_EQ(Sent(), (Bytes{0x01, 0x02, 7, 2, 3, 0, 8, 1}));
    EXPECT_EQ(PortTimeouts(), timeoutsBefore);
    EXPECT_TRUE(boxes.empty());

    dialog = ShowOptionsEdit(link, &area);
    EXPECT_EQ(dialog->Edit1->text(), "0");
    qobject_cast<QMdiSubWindow*>(dialog->parentWidget())->close(); // the close box
    EXPECT_TRUE(Closed());
    EXPECT_EQ(OptionsEdit, nullptr);
}

} // namespace
} // namespace quorvik
