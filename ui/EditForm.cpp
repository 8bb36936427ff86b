#include "ui/EditForm.h"

#include "link/Cp1251.h"
#include "link/Send.h"
#include "ui/ExceptionBox.h"
#include "ui/History.h"
#include "ui/Rtf.h"
#include "ui/StateList.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolBar>
#include <QVBoxLayout>

#include <stdexcept>

namespace quorvik {

// The window's own texts; the history file's are in History.h.
namespace text {
const char* const Caption = "Untitled";
const char* const Chat = "&Чат";
const char* const SendMessage = "&Отправить сообщение";
const char* const Print = "&Печать";
const char* const PrinterSetup = "&Настройка печати";
const char* const Exit = "&Выход";
const char* const TextColour = "Цвет текста";
const char* const SendCaption = "Send";
const char* const Cut = "Cu&t";
const char* const Copy = "&Copy";
const char* const Paste = "&Paste";
const char* const NotDelivered = " [не доставлено]";
const char* const PrintFailed = "Ошибка печати";
} // namespace text

namespace {

const QColor Navy(0, 0, 128);
const QColor Maroon(128, 0, 0);
const QColor SkyBlue(166, 202, 240);
constexpr int DefaultPoints = 8;
constexpr int SmallestPoints = 3;
constexpr int LargestPoints = 20;
constexpr int PressedMs = 500;

// Images of the main window's image list.
enum Image {
    ImageUpFont = 5,
    ImageDownFont,
    ImageNormFont,
    ImageBgColor,
    ImageExit,
    ImageUnderline,
    ImageItalic,
    ImageBold
};

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The text colour button's own picture: a letter over a colour bar.
QIcon ColourPicture() {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    QFont font = painter.font();
    font.setPixelSize(11);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRect(0, 0, 16, 12), Qt::AlignCenter, "A");
    painter.fillRect(QRect(1, 12, 14, 4), Qt::red);
    return QIcon(picture);
}

QTextEdit* MakeEdit(QWidget* parent, const char* name) {
    auto* edit = new QTextEdit(parent);
    edit->setObjectName(name);
    edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont font = edit->font();
    font.setPointSize(DefaultPoints);
    edit->setFont(font);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, Navy);
    edit->setPalette(palette);
    QTextCharFormat format;
    format.setFontPointSize(DefaultPoints);
    format.setForeground(Navy);
    edit->setCurrentCharFormat(format);
    return edit;
}

void SetBase(QTextEdit& edit, const QColor& colour) {
    QPalette palette = edit.palette();
    palette.setColor(QPalette::Base, colour);
    edit.setPalette(palette);
}

bool IsEnter(const QKeyEvent& key) {
    return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

// Exactly Shift: no Ctrl, no Alt, no mouse button.
bool IsShiftOnly(const QKeyEvent& key) {
    return (key.modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier &&
           QGuiApplication::mouseButtons() == Qt::NoButton;
}

// Lines are shown with paragraph breaks whichever way the peer ended them.
QString ShownText(const std::string& cp1251) {
    return QString::fromStdString(Cp1251ToUtf8(cp1251)).replace("\r\n", "\n").replace('\r', '\n');
}

} // namespace

TEditForm::TEditForm(LinkState& link, const std::string& userName, QWidget* parent)
    : QWidget(parent), link_(link) {
    setAttribute(Qt::WA_DeleteOnClose);
    BuildComponents();
    FormCreate();
    userName_ = userName;
}

TEditForm::~TEditForm() = default;

void TEditForm::BuildComponents() {
    setWindowTitle(Tr(text::Caption));
    resize(435, 380);
    setMinimumSize(412, 380);
    QFont font = this->font();
    font.setPointSize(DefaultPoints);
    setFont(font);

    auto* sendAction = new QAction(Tr(text::SendMessage), this);
    auto* printAction = new QAction(Tr(text::Print), this);
    auto* setupAction = new QAction(Tr(text::PrinterSetup), this);
    auto* exitAction = new QAction(StateIcon(ImageExit), Tr(text::Exit), this);
    connect(sendAction, &QAction::triggered, this, [this] { Guarded([this] { SendExecute(); }); });
    connect(printAction, &QAction::triggered, this, [this] { Guarded([this] { Print1Click(); }); });
    connect(setupAction, &QAction::triggered, this, [this] { Printersetup1Click(); });
    connect(exitAction, &QAction::triggered, this, [this] { ExitExecute(); });

    chatMenu_ = new QMenu(Tr(text::Chat), this);
    chatMenu_->setObjectName("MainMenu1");
    chatMenu_->addAction(sendAction);
    chatMenu_->addAction(printAction);
    chatMenu_->addAction(setupAction);
    chatMenu_->addSeparator();
    chatMenu_->addAction(exitAction);

    auto* toolBar3 = new QToolBar(this);
    toolBar3->setObjectName("ToolBar3");
    toolBar3->addAction(setupAction);
    toolBar3->addAction(printAction);
    toolBar3->addSeparator();
    toolBar3->addAction(exitAction);

    editors_ = MakeEdit(this, "Editors");
    editors_->setFrameShape(QFrame::NoFrame);
    editors_->setMinimumSize(427, 200);
    editors_->setContextMenuPolicy(Qt::NoContextMenu);

    auto* splitter2 = new QSplitter(Qt::Vertical, this);
    splitter2->setObjectName("Splitter2");
    splitter2->setHandleWidth(4);
    splitter2->setChildrenCollapsible(false);
    splitter2->addWidget(editors_);
    splitter2->addWidget(BuildBottom());
    splitter2->setStretchFactor(0, 1);
    splitter2->setSizes({276, 104});

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(toolBar3);
    layout->addWidget(splitter2, 1);

    timer1_.setInterval(PressedMs);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        panel4_->setFrameShape(QFrame::NoFrame);
        timer1_.stop();
    });
    timer1_.start();
}

QWidget* TEditForm::BuildBottom() {
    auto* coolBar1 = new QWidget(this);
    coolBar1->setObjectName("CoolBar1");
    coolBar1->setAutoFillBackground(true);
    QPalette sky = coolBar1->palette();
    sky.setColor(QPalette::Window, SkyBlue);
    coolBar1->setPalette(sky);
    coolBar1->setMinimumHeight(100);
    coolBar1->setMaximumHeight(400);

    auto* panel1 = new QWidget(coolBar1);
    panel1->setObjectName("Panel1");
    panel1->setMinimumSize(400, 100);
    auto* bandLayout = new QVBoxLayout(coolBar1);
    bandLayout->setContentsMargins(0, 0, 0, 0);
    bandLayout->addWidget(panel1);

    auto* toolBar1 = new QToolBar(panel1);
    toolBar1->setObjectName("ToolBar1");
    toolBar1->setIconSize(QSize(16, 16));
    auto action = [this, toolBar1](const QIcon& icon, void (TEditForm::*run)()) {
        QAction* made = toolBar1->addAction(icon, QString());
        connect(made, &QAction::triggered, this,
                [this, run] { Guarded([this, run] { (this->*run)(); }); });
        return made;
    };
    action(ColourPicture(), &TEditForm::ColorExecute)->setToolTip(Tr(text::TextColour));
    action(StateIcon(ImageBgColor), &TEditForm::BgColorExecute);
    toolBar1->addSeparator();
    action(StateIcon(ImageDownFont), &TEditForm::DownFontExecute);
    action(StateIcon(ImageNormFont), &TEditForm::NormFontExecute);
    action(StateIcon(ImageUpFont), &TEditForm::UpFontExecute);
    toolBar1->addSeparator();
    bold_ = action(StateIcon(ImageBold), &TEditForm::BoldExecute);
    italic_ = action(StateIcon(ImageItalic), &TEditForm::ItalicExecute);
    underline_ = action(StateIcon(ImageUnderline), &TEditForm::UnderlineExecute);
    for (QAction* style : {bold_, italic_, underline_})
        style->setCheckable(true);
    bold_->setObjectName("Bold");
    italic_->setObjectName("Italic");
    underline_->setObjectName("Underline");

    auto* panel2 = new QWidget(panel1);
    panel2->setObjectName("Panel2");
    panel2->setMinimumSize(380, 52);
    editor_ = MakeEdit(panel2, "Editor");
    editor_->setMinimumSize(245, 50);
    editor_->installEventFilter(this);
    popupMenu1_ = new QMenu(this);
    popupMenu1_->setObjectName("PopupMenu1");
    connect(popupMenu1_->addAction(Tr(text::Cut)), &QAction::triggered, editor_, &QTextEdit::cut);
    connect(popupMenu1_->addAction(Tr(text::Copy)), &QAction::triggered, editor_, &QTextEdit::copy);
    connect(popupMenu1_->addAction(Tr(text::Paste)), &QAction::triggered, editor_,
            &QTextEdit::paste);
    editor_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(editor_, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { popupMenu1_->popup(editor_->mapToGlobal(at)); });

    panel4_ = new QLabel(Tr(text::SendCaption), panel2);
    panel4_->setObjectName("Panel4");
    panel4_->setAlignment(Qt::AlignCenter);
    panel4_->setFixedWidth(50);
    panel4_->setFrameShape(QFrame::NoFrame);
    panel4_->installEventFilter(this);

    auto* splitter1 = new QSplitter(Qt::Horizontal, panel2);
    splitter1->setObjectName("Splitter1");
    splitter1->setHandleWidth(3);
    splitter1->setChildrenCollapsible(false);
    splitter1->addWidget(editor_);
    splitter1->addWidget(panel4_);
    splitter1->setStretchFactor(0, 1);
    auto* rowLayout = new QVBoxLayout(panel2);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->addWidget(splitter1);

    auto* panelLayout = new QVBoxLayout(panel1);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(toolBar1);
    panelLayout->addWidget(panel2, 1);
    return coolBar1;
}

void TEditForm::FormCreate() {
    historyFormat_.setFontPointSize(DefaultPoints);
    historyFormat_.setForeground(Navy);
    editors_->setCurrentCharFormat(historyFormat_);
    SetBase(*editors_, Qt::white);
}

void TEditForm::OpenHistory() {
    setWindowTitle(QString::fromStdString(Cp1251ToUtf8(userName_)));
    const QString path = HistoryPath(userName_);
    if (QFileInfo::exists(path))
        ReadRtf(ReadHistory(path), *editors_->document());
    else
        CreateEmptyHistory(path);
    editors_->moveCursor(QTextCursor::End);
    editors_->setFocus();
    editor_->setFocus();
}

bool TEditForm::SaveHistory() {
    try {
        WriteHistory(HistoryPath(userName_), WriteRtf(*editors_->document()));
        return true;
    } catch (const std::exception& error) {
        ShowExceptionBox(QString::fromUtf8(error.what()));
        return false;
    }
}

void TEditForm::closeEvent(QCloseEvent* event) {
    // Texts still queued go into the history being written, not into a closed window.
    ShowIncomingMessage();
    if (!SaveHistory()) {
        event->ignore();
        return;
    }
    if (link_.ChatWindow == this)
        link_.ChatWindow = nullptr;
    event->accept();
}

// A new paragraph at the end of the history view, leaving its caret alone.
void TEditForm::AppendLine(const QString& line, const QTextCharFormat& format) {
    QTextCursor end(editors_->document());
    end.movePosition(QTextCursor::End);
    if (!end.block().text().isEmpty())
        end.insertBlock();
    end.insertText(line, format);
    editors_->verticalScrollBar()->setValue(editors_->verticalScrollBar()->maximum());
}

void TEditForm::SendExecute() {
    panel4_->setFrameStyle(QFrame::Box | QFrame::Plain);
    if (!timer1_.isActive())
        timer1_.start();
    const std::string line =
        ComposeLine(userName_, TimeText(), Utf8ToCp1251(editor_->toPlainText().toStdString()));

    // Shown first so that a fate reported at once finds it; taken back when the
    // link refuses the line, which leaves the typed text in the editor.
    const QTextCharFormat before = historyFormat_;
    const int start = editors_->document()->characterCount() - 1;
    historyFormat_ = editor_->currentCharFormat();
    AppendLine(ShownText(line), historyFormat_);
    try {
        Send(link_, line);
    } catch (...) {
        QTextCursor added(editors_->document());
        added.setPosition(start);
        added.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        added.removeSelectedText();
        historyFormat_ = before;
        throw;
    }
    editor_->clear();
}

void TEditForm::ReportLine(const std::string& line, LineFate fate) {
    if (fate == LineFate::Delivered)
        return;
    const QStringList parts = ShownText(line).split('\n');
    QTextDocument& document = *editors_->document();
    for (QTextBlock last = document.lastBlock(); last.isValid(); last = last.previous()) {
        QTextBlock block = last;
        int part = parts.size() - 1;
        while (part >= 0 && block.isValid() && block.text() == parts[part]) {
            block = block.previous();
            --part;
        }
        if (part >= 0)
            continue;
        QTextCursor mark(last);
        mark.movePosition(QTextCursor::EndOfBlock);
        QTextCharFormat red = mark.charFormat();
        red.setForeground(Qt::red);
        mark.insertText(Tr(text::NotDelivered), red);
        return;
    }
}

void TEditForm::ShowIncomingMessage() {
    for (;;) {
        std::string received;
        {
            std::lock_guard lock(link_.Lock);
            if (link_.ReceivedText.empty())
                break;
            received = std::move(link_.ReceivedText.front());
            link_.ReceivedText.pop_front();
        }
        const QBrush remembered = historyFormat_.foreground();
        historyFormat_.setForeground(Maroon);
        AppendLine(ShownText(received), historyFormat_);
        historyFormat_.setForeground(remembered);
        if (!window()->isActiveWindow())
            QApplication::alert(window());
    }
}

int TEditForm::EditorFontSize() const {
    const double points = editor_->currentCharFormat().fontPointSize();
    return qRound(points > 0 ? points : editor_->font().pointSizeF());
}

void TEditForm::SetFontSize(int points) {
    QTextCharFormat format;
    format.setFontPointSize(points);
    editor_->mergeCurrentCharFormat(format);
}

void TEditForm::DownFontExecute() {
    if (const int size = EditorFontSize(); size > SmallestPoints)
        SetFontSize(size - 1);
}

void TEditForm::NormFontExecute() {
    SetFontSize(DefaultPoints);
}

void TEditForm::UpFontExecute() {
    if (const int size = EditorFontSize(); size < LargestPoints)
        SetFontSize(size + 1);
}

void TEditForm::BoldExecute() {
    QTextCharFormat format;
    format.setFontWeight(bold_->isChecked() ? QFont::Bold : QFont::Normal);
    editor_->mergeCurrentCharFormat(format);
}

void TEditForm::ItalicExecute() {
    QTextCharFormat format;
    format.setFontItalic(italic_->isChecked());
    editor_->mergeCurrentCharFormat(format);
}

void TEditForm::UnderlineExecute() {
    QTextCharFormat format;
    format.setFontUnderline(underline_->isChecked());
    editor_->mergeCurrentCharFormat(format);
}

void TEditForm::ApplyTextColor(const QColor& colour) {
    QTextCharFormat format;
    format.setForeground(colour);
    editor_->mergeCurrentCharFormat(format);
}

void TEditForm::ApplyBackground(const QColor& colour) {
    SetBase(*editors_, colour);
    SetBase(*editor_, colour);
}

void TEditForm::ColorExecute() {
    const QColor chosen =
        QColorDialog::getColor(editor_->currentCharFormat().foreground().color(), this);
    if (chosen.isValid())
        ApplyTextColor(chosen);
}

void TEditForm::BgColorExecute() {
    const QColor chosen = QColorDialog::getColor(editors_->palette().color(QPalette::Base), this);
    if (chosen.isValid())
        ApplyBackground(chosen);
}

void TEditForm::PrintTo(QPrinter& printer) {
    printer.setDocName(QString::fromStdString(Cp1251ToUtf8(userName_)));
    editors_->document()->print(&printer);
    if (printer.printerState() == QPrinter::Error)
        throw std::runtime_error(text::PrintFailed);
}

QPrinter& TEditForm::Printer() {
    if (!printer_)
        printer_ = std::make_unique<QPrinter>();
    return *printer_;
}

void TEditForm::Print1Click() {
    QPrintDialog dialog(&Printer(), this);
    if (dialog.exec() == QDialog::Accepted)
        PrintTo(Printer());
}

void TEditForm::Printersetup1Click() {
    QPageSetupDialog(&Printer(), this).exec();
}

void TEditForm::ExitExecute() {
    auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (frame)
        frame->close();
    else
        close();
}

bool TEditForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel4_ && event->type() == QEvent::MouseButtonRelease) {
        Guarded([this] { SendExecute(); });
        return true;
    }
    if (watched != editor_ ||
        (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return QWidget::eventFilter(watched, event);
    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (!IsEnter(key))
        return false;
    if (IsShiftOnly(key)) {
        // The press is swallowed so no line break is typed; the release sends.
        if (event->type() == QEvent::KeyRelease && !key.isAutoRepeat())
            Guarded([this] { SendExecute(); });
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        // Every other Enter, whatever the modifiers, starts a new line.
        editor_->textCursor().insertBlock();
        editor_->ensureCursorVisible();
        return true;
    }
    return false;
}

} // namespace quorvik
