#include "settings/OptionsEdit.h"

#include "link/Connection.h"
#include "link/Frames.h"
#include "link/LinkMessages.h"
#include "settings/DialogMessages.h"
#include "settings/Ini.h"
#include "ui/ExceptionBox.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <stdexcept>

namespace quorvik {

TOptionsEdit* OptionsEdit = nullptr;

namespace {

namespace dt = dialog_text;

constexpr int ClientWidth = 325;
constexpr int ClientHeight = 484;
constexpr int TimerWaitMs = 1000;
// The parameters must leave with the line settings the peer still uses; a
// stalled line must not hold the dialog for long.
constexpr int ParamsFlushMs = 2000;

// The timeouts in the order of Edit1 to Edit5.
constexpr std::array<uint32_t serial::CommTimeouts::*, 5> TimeoutMembers = {
    &serial::CommTimeouts::ReadIntervalTimeout,
    &serial::CommTimeouts::ReadTotalTimeoutMultiplier,
    &serial::CommTimeouts::ReadTotalTimeoutConstant,
    &serial::CommTimeouts::WriteTotalTimeoutMultiplier,
    &serial::CommTimeouts::WriteTotalTimeoutConstant,
};

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// The platform's StrToInt: raises the conversion error naming the text.
int32_t StrToInt(const QString& text) {
    int32_t value = 0;
    if (!ParseWholeNumber(text.toStdString(), value))
        throw std::invalid_argument(dt::NotAWholeNumber(text).toStdString());
    return value;
}

uint8_t LowByte(int32_t value) {
    return static_cast<uint8_t>(static_cast<uint32_t>(value));
}

// A list position as the frame carries it: position + 1, 0 for none.
uint8_t PositionCode(int position) {
    return static_cast<uint8_t>(position + 1);
}

bool IsConnected(LinkState& link) {
    std::lock_guard lock(link.Lock);
    return link.Connected == 1;
}

void AddRow(QGridLayout* grid, QLabel*& label, const char* text, QWidget* control) {
    const int row = grid->rowCount();
    label = new QLabel(Utf8(text));
    grid->addWidget(label, row, 0);
    grid->addWidget(control, row, 1);
}

} // namespace

TOptionsEdit::TOptionsEdit(LinkState& link, QWidget* parent) : QWidget(parent), link_(link) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Utf8(dt::OptionsCaption));
    setFixedSize(ClientWidth, ClientHeight);

    GroupBox1 = new QGroupBox(Utf8(dt::PortGroup));
    ComboBox1 = new QComboBox;
    for (uint8_t code = 1;; ++code) {
        uint32_t rate = 0;
        if (!BaudFromCode(code, rate))
            break;
        ComboBox1->addItem(QString::number(rate));
    }
    ComboBox1->addItem(QStringLiteral(" "));
    CheckBox1 = new QCheckBox;
    ComboBox4 = new QComboBox;
    ComboBox4->setEditable(true);
    ComboBox4->setInsertPolicy(QComboBox::NoInsert);
    ComboBox4->addItems({"EVEN", "MARK", "NONE", "ODD", "SPACE"});
    Edit6 = new QLineEdit;
    ComboBox3 = new QComboBox;
    ComboBox3->addItems({"1", "1.5", "2"});
    CheckBox2 = new QCheckBox;
    Edit7 = new QLineEdit;
    auto* portGrid = new QGridLayout(GroupBox1);
    AddRow(portGrid, StaticText1, dt::BaudLabel, ComboBox1);
    AddRow(portGrid, StaticText4, dt::ParityCheckLabel, CheckBox1);
    AddRow(portGrid, StaticText2, dt::ParityLabel, ComboBox4);
    AddRow(portGrid, StaticText6, dt::ByteSizeLabel, Edit6);
    AddRow(portGrid, StaticText3, dt::StopBitsLabel, ComboBox3);
    AddRow(portGrid, StaticText7, dt::ErrorCharModeLabel, CheckBox2);
    AddRow(portGrid, StaticText5, dt::ErrorCharLabel, Edit7);

    GroupBox2 = new QGroupBox(Utf8(dt::TimeoutsGroup));
    Edit1 = new QLineEdit;
    Edit2 = new QLineEdit;
    Edit3 = new QLineEdit;
    Edit4 = new QLineEdit;
    Edit5 = new QLineEdit;
    auto* timeoutGrid = new QGridLayout(GroupBox2);
    AddRow(timeoutGrid, Label1, dt::ReadIntervalLabel, Edit1);
    AddRow(timeoutGrid, Label2, dt::ReadMultiplierLabel, Edit2);
    AddRow(timeoutGrid, Label3, dt::ReadConstantLabel, Edit3);
    AddRow(timeoutGrid, Label4, dt::WriteMultiplierLabel, Edit4);
    AddRow(timeoutGrid, Label5, dt::WriteConstantLabel, Edit5);

    Button1 = new QPushButton(Utf8(dt::Ok));
    Button2 = new QPushButton(Utf8(dt::Cancel));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addStretch();
    layout->addLayout(buttons);

    TimerWait = new QTimer(this);
    TimerWait->setInterval(TimerWaitMs);
    TimerWait->setTimerType(Qt::PreciseTimer);

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });
    connect(TimerWait, &QTimer::timeout, this, [this] { Guarded([this] { TimerWaitTimer(); }); });

    FillControls();
}

TOptionsEdit::~TOptionsEdit() {
    // Destroyed with its parent, without a close: the reference must not dangle.
    if (OptionsEdit == this)
        OptionsEdit = nullptr;
}

void TOptionsEdit::FillControls() {
    serial::Dcb dcb;
    serial::CommTimeouts timeouts;
    {
        std::lock_guard lock(link_.Lock);
        dcb = link_.PortDcb;
        timeouts = link_.PortTimeouts;
    }
    // A value outside a table has code 0: no item selected.
    ComboBox1->setCurrentIndex(BaudCode(dcb.BaudRate) - 1);
    CheckBox1->setChecked(dcb.fParity());
    ComboBox4->setCurrentIndex(ParityCode(dcb.Parity) - 1);
    CheckBox2->setChecked(dcb.fErrorChar());
    Edit7->setText(QString::number(static_cast<int8_t>(dcb.ErrorChar)));
    Edit6->setText(QString::number(dcb.ByteSize));
    ComboBox3->setCurrentIndex(StopBitsCode(dcb.StopBits) - 1);
    const std::array<QLineEdit*, 5> edits = {Edit1, Edit2, Edit3, Edit4, Edit5};
    for (std::size_t n = 0; n < edits.size(); ++n)
        edits[n]->setText(QString::number(static_cast<int32_t>(timeouts.*TimeoutMembers[n])));
}

void TOptionsEdit::Button1Click() {
    serial::Port* port = link_.PortHandle.get();
    serial::Dcb dcb;
    if (!port || port->GetState(dcb) != serial::Error::None)
        throw LinkError(text::CannotGetPortParams);

    Frame8 frame{StartByte, CmdPortParams};
    const auto readControls = [&] {
        // Codes 0 (no selection) and 16 (the blank item) keep the port's rate.
        frame[2] = PositionCode(ComboBox1->currentIndex());
        BaudFromCode(frame[2], dcb.BaudRate);
        dcb.SetFlag(serial::Dcb::fParityBit, CheckBox1->isChecked());
        frame[3] = CheckBox1->isChecked() ? 1 : 2;
        // Typed text selects an item only when it is one.
        frame[4] = PositionCode(ComboBox4->findText(ComboBox4->currentText(),
                                                    Qt::MatchExactly | Qt::MatchCaseSensitive));
        ParityFromCode(frame[4], dcb.Parity);
        dcb.SetFlag(serial::Dcb::fErrorCharBit, CheckBox2->isChecked());
        dcb.ErrorChar = LowByte(StrToInt(Edit7->text()));
        dcb.ByteSize = LowByte(StrToInt(Edit6->text()));
        frame[5] = dcb.ErrorChar;
        frame[6] = dcb.ByteSize;
        frame[7] = PositionCode(ComboBox3->currentIndex());
        StopBitsFromCode(frame[7], dcb.StopBits);
    };
    const auto store = [&] {
        std::lock_guard lock(link_.Lock);
        link_.PortDcb = dcb;
    };
    try {
        readControls();
    } catch (...) {
        // What was read before the faulty text stays in the working values.
        store();
        throw;
    }
    store();

    if (IsConnected(link_)) {
        WriteFrame(link_, frame.data(), frame.size());
        if (link_.Writer)
            link_.Writer->Flush(ParamsFlushMs);
    }
    if (port->SetState(dcb) != serial::Error::None)
        throw LinkError(text::CannotSetPortParams);
    // Pressed again while waiting: the running timer goes on.
    if (!TimerWait->isActive())
        TimerWait->start();
}

void TOptionsEdit::TimerWaitTimer() {
    TimerWait->stop();
    const std::array<QLineEdit*, 5> edits = {Edit1, Edit2, Edit3, Edit4, Edit5};
    serial::CommTimeouts timeouts;
    for (std::size_t n = 0; n < edits.size(); ++n) {
        const auto value = static_cast<uint32_t>(StrToInt(edits[n]->text()));
        timeouts.*TimeoutMembers[n] = value;
        std::lock_guard lock(link_.Lock);
        link_.PortTimeouts.*TimeoutMembers[n] = value;
    }
    if (IsConnected(link_)) {
        const Frame8 frame = TimeoutsFrame(timeouts);
        WriteFrame(link_, frame.data(), frame.size());
    }
    serial::Port* port = link_.PortHandle.get();
    if (!port || port->SetTimeouts(timeouts) != serial::Error::None)
        throw LinkError(text::CannotSetPortTimeouts);
    CloseSettingsForm(this);
}

void TOptionsEdit::Button2Click() {
    CloseSettingsForm(this);
}

void TOptionsEdit::closeEvent(QCloseEvent* event) {
    // Closing while waiting drops the timeouts step.
    TimerWait->stop();
    if (OptionsEdit == this)
        OptionsEdit = nullptr;
    event->accept();
}

TOptionsEdit* ShowOptionsEdit(LinkState& link, QMdiArea* area) {
    const bool isNew = OptionsEdit == nullptr;
    if (isNew)
        OptionsEdit = new TOptionsEdit(link);
    ShowSettingsForm(OptionsEdit, area, isNew);
    return OptionsEdit;
}

void ShowSettingsForm(QWidget* form, QMdiArea* area, bool isNew) {
    auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget());
    if (!isNew) {
        if (sub && sub->mdiArea())
            sub->mdiArea()->setActiveSubWindow(sub);
        QWidget* window = sub ? static_cast<QWidget*>(sub) : form;
        window->show();
        window->raise();
        window->activateWindow();
        return;
    }
    if (!area) {
        form->show();
        return;
    }
    // A fixed single border: no minimise or maximise.
    sub = area->addSubWindow(form, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                       Qt::WindowCloseButtonHint);
    sub->adjustSize();
    const QRect room = area->viewport()->rect();
    sub->move(std::max(0, (room.width() - sub->width()) / 2),
              std::max(0, (room.height() - sub->height()) / 2));
    sub->show();
}

void CloseSettingsForm(QWidget* form) {
    if (auto* sub = qobject_cast<QMdiSubWindow*>(form->parentWidget()))
        sub->close();
    else
        form->close();
}

} // namespace quorvik
