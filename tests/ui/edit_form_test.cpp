#include "ui/EditForm.h"

#include "link/Codec.h"
#include "link/Cp1251.h"
#include "ui/ExceptionBox.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPrinter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>

#include "tests/support/QtAppEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

#include <csignal>

#include <sys/resource.h>

using namespace quorvik;

namespace {

const auto* const Environment =
    ::testing::AddGlobalTestEnvironment(new quorvik::QtAppEnvironment<QApplication>);

const QColor Navy(0, 0, 128);
const QColor Maroon(128, 0, 0);

class EditFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        SetBoxPresenter([this](const QString& text, bool) { boxes << text; });
        std::vector<std::string> messages;
        codec = LoadCodecFrom(QUORVIK_BIN_DIR "/libKelvane.so", messages);
        ASSERT_NE(codec.CodeProc, nullptr);
        link.Codecs = &codec;
        link.Connected = 0;
        ui.ReportLine = [this](const std::string& line, LineFate fate) {
            if (form)
                form->ReportLine(line, fate);
        };
        link.Ui = &ui;
    }

    void TearDown() override {
        delete form.data();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        SetBoxPresenter(nullptr);
        QDir::setCurrent(previous);
    }

    TEditForm& Open(const std::string& utf8Name) {
        delete form.data();
        form = new TEditForm(link, Utf8ToCp1251(utf8Name));
        link.ChatWindow = form.data();
        form->show();
        form->OpenHistory();
        return *form;
    }

    // Closes the window and lets it destroy itself; true when it closed.
    bool Close() {
        const bool closed = form->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return closed;
    }

    QTextEdit& Editors() { return *form->findChild<QTextEdit*>("Editors"); }
    QTextEdit& Editor() { return *form->findChild<QTextEdit*>("Editor"); }

    static QTextCharFormat FormatIn(const QTextBlock& block) {
        QTextCursor at(block);
        at.movePosition(QTextCursor::NextCharacter);
        return at.charFormat();
    }

    QTemporaryDir dir;
    QString previous;
    QStringList boxes;
    Codec codec;
    LinkUi ui;
    LinkState link;
    QPointer<TEditForm> form;
};

const QString Mark = QString::fromUtf8(" [не доставлено]");

TEST_F(EditFormTest, FirstOpeningCreatesTheFolderAndAnEmptyFile) {
    TEditForm& chat = Open("Иван");
    EXPECT_EQ(chat.windowTitle(), QString::fromUtf8("Иван"));
    QFile file(QString::fromUtf8("History/Иван.txt"));
    ASSERT_TRUE(file.exists());
    EXPECT_EQ(file.size(), 0);
    EXPECT_TRUE(Editors().document()->isEmpty());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(EditFormTest, NamesThatAreNotOneFileInTheFolderAreRefused) {
    const std::string withNul("a\0b", 3);
    for (const std::string& name : {std::string("a/b"), std::string(".."), std::string("."),
                                    std::string(""), std::string("../up"), withNul}) {
        SCOPED_TRACE(name);
        form = new TEditForm(link, name);
        try {
            form->OpenHistory();
            ADD_FAILURE() << "no error";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "Не могу создать файл на диске для хранения истории");
        }
        EXPECT_EQ(form->windowTitle(), QString::fromStdString(Cp1251ToUtf8(name)));
        delete form.data();
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + "/../up.txt"));
}

TEST_F(EditFormTest, ReopeningRestoresOwnAndIncomingLinesWithTheirFormatting) {
    Open("ann");
    form->findChild<QAction*>("Bold")->setChecked(true);
    form->BoldExecute();
    Editor().insertPlainText("hello there");
    form->SendExecute();
    const QString sent = Editors().document()->firstBlock().text();
    // Queued while closing: shown before the history is written.
    link.ReceivedText.push_back("bob:[1:02:03] hi ann");
    ASSERT_TRUE(Close());
    EXPECT_EQ(link.ChatWindow, nullptr);
    EXPECT_TRUE(link.ReceivedText.empty());

    Open("ann");
    const QTextBlock own = Editors().document()->firstBlock();
    EXPECT_EQ(own.text(), sent);
    EXPECT_TRUE(own.text().startsWith("ann:["));
    EXPECT_TRUE(own.text().endsWith("] hello there" + Mark));
    EXPECT_EQ(FormatIn(own).fontWeight(), QFont::Bold);
    EXPECT_EQ(FormatIn(own).foreground().color(), Navy);
    const QTextBlock incoming = own.next();
    EXPECT_EQ(incoming.text(), "bob:[1:02:03] hi ann");
    EXPECT_EQ(FormatIn(incoming).foreground().color(), Maroon);
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(EditFormTest, SizeCommandsStopAtThreeAndTwenty) {
    Open("ann");
    struct Case {
        int from;
        void (TEditForm::*command)();
        int to;
    };
    const Case cases[] = {
        {4, &TEditForm::DownFontExecute, 3}, {3, &TEditForm::DownFontExecute, 3},
        {19, &TEditForm::UpFontExecute, 20}, {20, &TEditForm::UpFontExecute, 20},
        {3, &TEditForm::NormFontExecute, 8}, {20, &TEditForm::NormFontExecute, 8}};
    for (const Case& c : cases) {
        QTextCharFormat size;
        size.setFontPointSize(c.from);
        Editor().mergeCurrentCharFormat(size);
        (form->*c.command)();
        EXPECT_EQ(Editor().currentCharFormat().fontPointSize(), c.to) << "from " << c.from;
    }
}

TEST_F(EditFormTest, FormattingActsOnTheEditorSelection) {
    Open("ann");
    Editor().setPlainText("abc");
    Editor().selectAll();
    form->findChild<QAction*>("Italic")->setChecked(true);
    form->ItalicExecute();
    form->ApplyTextColor(Qt::green);
    QTextCursor second(Editor().document());
    second.setPosition(2);
    EXPECT_TRUE(second.charFormat().fontItalic());
    EXPECT_EQ(second.charFormat().foreground().color(), QColor(Qt::green));
    EXPECT_EQ(form->HistoryFormat().foreground().color(), Navy);

    form->ApplyBackground(Qt::yellow);
    EXPECT_EQ(Editors().palette().color(QPalette::Base), QColor(Qt::yellow));
    EXPECT_EQ(Editor().palette().color(QPalette::Base), QColor(Qt::yellow));
}

TEST_F(EditFormTest, OnlyShiftEnterSends) {
    const struct {
        Qt::KeyboardModifiers modifiers;
        bool sends;
    } cases[] = {{Qt::ShiftModifier, true},
                 {Qt::ShiftModifier | Qt::KeypadModifier, true},
                 {Qt::NoModifier, false},
                 {Qt::ControlModifier | Qt::ShiftModifier, false},
                 {Qt::AltModifier | Qt::ShiftModifier, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.modifiers.toInt());
        Open("ann");
        QTest::keyClicks(&Editor(), "hi");
        QTest::keyClick(&Editor(), Qt::Key_Return, c.modifiers);
        if (c.sends) {
            EXPECT_EQ(Editor().toPlainText(), "");
            const QString shown = Editors().toPlainText();
            EXPECT_TRUE(shown.startsWith("ann:[")) << shown.toStdString();
            // Not connected: nothing written, and the line is marked where it stands.
            EXPECT_TRUE(shown.endsWith("] hi" + Mark)) << shown.toStdString();
        } else {
            EXPECT_EQ(Editor().toPlainText(), "hi\n");
            EXPECT_TRUE(Editors().document()->isEmpty());
        }
        ASSERT_TRUE(Close());
        QFile::remove("History/ann.txt");
    }
    EXPECT_TRUE(link.PendingFrame.empty());
    EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(EditFormTest, ThePanelSendsAndLooksPressedForAMoment) {
    Open("ann");
    auto& panel = *form->findChild<QLabel*>("Panel4");
    EXPECT_EQ(panel.text(), "Send");
    QTest::mouseClick(&panel, Qt::LeftButton);
    EXPECT_TRUE(Editors().toPlainText().startsWith("ann:["))
        << Editors().toPlainText().toStdString();
    EXPECT_EQ(panel.frameShape(), QFrame::Box);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel.frameShape() == QFrame::NoFrame; }, 5000));
}

TEST_F(EditFormTest, AHistoryThatCannotBeReadIsReportedAndTheWindowStays) {
    ASSERT_TRUE(QDir().mkpath("History/ann.txt"));
    form = new TEditForm(link, "ann");
    try {
        form->OpenHistory();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith("History/ann.txt: "))
            << error.what();
    }
    EXPECT_EQ(form->windowTitle(), "ann");
    EXPECT_TRUE(Editors().document()->isEmpty());
}

TEST_F(EditFormTest, ALineTheLinkRefusesKeepsWhatWasTyped) {
    Open("ann");
    Editors().append("earlier");
    link.Codecs = nullptr;
    QTest::keyClicks(&Editor(), "keep me");
    QTest::keyClick(&Editor(), Qt::Key_Return, Qt::ShiftModifier);
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_EQ(Editor().toPlainText(), "keep me");
    EXPECT_EQ(Editors().toPlainText(), "earlier");
}

TEST_F(EditFormTest, OnlyTheUndeliveredLineIsMarked) {
    Open("ann");
    link.ReceivedText = {"ann:[1:00:00] first", "ann:[1:00:01] two\nlines", "ann:[1:00:02] third"};
    form->ShowIncomingMessage();
    form->ReportLine("ann:[1:00:01] two\nlines", LineFate::TimedOut);
    form->ReportLine("ann:[1:00:02] third", LineFate::Delivered);
    form->ReportLine("never shown", LineFate::Broken);
    EXPECT_EQ(Editors().toPlainText(),
              "ann:[1:00:00] first\nann:[1:00:01] two\nlines" + Mark + "\nann:[1:00:02] third");
    QTextCursor mark(Editors().document()->findBlockByNumber(2));
    mark.movePosition(QTextCursor::EndOfBlock);
    EXPECT_EQ(mark.charFormat().foreground().color(), QColor(Qt::red));
}

TEST_F(EditFormTest, IncomingLinesAreMaroonAndTheColourComesBack) {
    Open("ann");
    Editors().append("mine");
    link.ReceivedText = {Utf8ToCp1251("боб:[1:02:03] привет"), "bob:[1:02:04] again"};
    form->ShowIncomingMessage();
    EXPECT_TRUE(link.ReceivedText.empty());
    const QTextDocument& history = *Editors().document();
    ASSERT_EQ(history.blockCount(), 3);
    EXPECT_EQ(history.findBlockByNumber(1).text(), QString::fromUtf8("боб:[1:02:03] привет"));
    for (int line : {1, 2})
        EXPECT_EQ(FormatIn(history.findBlockByNumber(line)).foreground().color(), Maroon);
    EXPECT_EQ(form->HistoryFormat().foreground().color(), Navy);
    EXPECT_EQ(form->HistoryFormat().fontPointSize(), 8);
}

TEST_F(EditFormTest, PrintsTheHistoryToAPdfFile) {
    Open("ann");
    Editors().append("printed line");
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = dir.filePath("out.pdf");
    printer.setOutputFileName(path);
    form->PrintTo(printer);
    EXPECT_EQ(printer.docName(), "ann");
    QFile pdf(path);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_TRUE(pdf.readAll().startsWith("%PDF"));

    QPrinter nowhere;
    nowhere.setOutputFormat(QPrinter::PdfFormat);
    nowhere.setOutputFileName(dir.filePath("missing/out.pdf"));
    EXPECT_THROW(form->PrintTo(nowhere), std::runtime_error);
}

TEST_F(EditFormTest, AnUnwritableHistoryKeepsTheWindowOpen) {
    Open("ann");
    Editors().append("to keep");
    ASSERT_TRUE(QFile::remove("History/ann.txt"));
    ASSERT_TRUE(QDir().mkdir("History/ann.txt"));
    EXPECT_FALSE(Close());
    ASSERT_FALSE(form.isNull());
    EXPECT_EQ(link.ChatWindow, form.data());
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes[0].contains("History/ann.txt")) << boxes[0].toStdString();

    ASSERT_TRUE(QDir().rmdir("History/ann.txt"));
    EXPECT_TRUE(Close());
    EXPECT_EQ(link.ChatWindow, nullptr);
    EXPECT_GT(QFileInfo("History/ann.txt").size(), 0);
}

// A write cut short (here by the file size limit, which binds root too) must
// not reach the history already on disk.
TEST_F(EditFormTest, AFailedWriteLeavesThePreviousHistoryWhole) {
    Open("ann");
    Editors().append("first session");
    ASSERT_TRUE(Close());
    QFile saved("History/ann.txt");
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray before = saved.readAll();
    saved.close();
    ASSERT_GT(before.size(), 16);

    Open("ann");
    Editors().append("second session");
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{16, limit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool closed = Close();
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(closed);
    EXPECT_EQ(boxes.size(), 1);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), before);
    EXPECT_EQ(QDir("History").entryList(QDir::Files), QStringList{"ann.txt"});
}

} // namespace
