#include "settings/Timers.h"

#include "settings/DialogMessages.h"
#include "settings/Ini.h"
#include "settings/Options.h"
#include "settings/OptionsEdit.h"
#include "ui/ExceptionBox.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>
#include <utility>

namespace quorvik {

TTimes* Times = nullptr;

namespace {

namespace dt = dialog_text;

constexpr int ClientWidth = 339;
constexpr int ClientHeight = 179;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A delay must convert and be positive: a zero interval stops its timer
// for good, a negative one becomes a wait of weeks.
bool ReadDelay(const QLineEdit& edit, int32_t& value) {
    int32_t read = 0;
    if (!ParseWholeNumber(edit.text().toStdString(), read) || read <= 0)
        return false;
    value = read;
    return true;
}

void AddRow(QGridLayout* grid, QLabel*& label, const char* text, QLineEdit* edit, QLabel*& unit) {
    const int row = grid->rowCount();
    label = new QLabel(Utf8(text));
    unit = new QLabel(Utf8(dt::Milliseconds));
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(unit, row, 2);
}

} // namespace

TTimes::TTimes(LinkUi& ui, QWidget* parent) : QWidget(parent), ui_(ui) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(Utf8(dt::TimesCaption));
    setFixedSize(ClientWidth, ClientHeight);

    GroupBox1 = new QGroupBox(Utf8(dt::TimesGroup));
    Edit0 = new QLineEdit;
    Edit1 = new QLineEdit;
    Edit2 = new QLineEdit;
    auto* grid = new QGridLayout;
    AddRow(grid, StaticText1, dt::AnswerWaitLabel, Edit0, StaticText4);
    AddRow(grid, StaticText2, dt::OptionsDelayLabel, Edit1, StaticText5);
    AddRow(grid, StaticText3, dt::SplashDelayLabel, Edit2, StaticText6);

    Button1 = new QPushButton(Utf8(dt::Ok));
    Button2 = new QPushButton(Utf8(dt::Cancel));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* inner = new QVBoxLayout(GroupBox1);
    inner->addLayout(grid);
    inner->addStretch();
    inner->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);

    connect(Button1, &QPushButton::clicked, this, [this] { Guarded([this] { Button1Click(); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { Guarded([this] { Button2Click(); }); });

    FormCreate();
}

TTimes::~TTimes() {
    // Destroyed with its parent, without a close: the reference must not dangle.
    if (Times == this)
        Times = nullptr;
}

void TTimes::FormCreate() {
    Edit0->setText(QString::number(static_cast<int32_t>(ui_.TimerWait->Interval())));
    Edit1->setText(QString::number(static_cast<int32_t>(ui_.TimerOptions->Interval())));
    Edit2->setText(QString::number(TimeLoad));
}

void TTimes::Button1Click() {
    const std::pair<QLineEdit*, std::function<void(int32_t)>> steps[] = {
        {Edit0, [this](int32_t ms) { ui_.TimerWait->SetInterval(static_cast<uint32_t>(ms)); }},
        {Edit1, [this](int32_t ms) { ui_.TimerOptions->SetInterval(static_cast<uint32_t>(ms)); }},
        {Edit2, [](int32_t ms) { TimeLoad = ms; }},
    };
    for (const auto& [edit, apply] : steps) {
        int32_t value = 0;
        if (!ReadDelay(*edit, value)) {
            ShowPlainMessage(Utf8(dt::EnterDigits));
            break;
        }
        apply(value);
    }
    CloseSettingsForm(this);
}

void TTimes::Button2Click() {
    CloseSettingsForm(this);
}

void TTimes::closeEvent(QCloseEvent* event) {
    if (Times == this)
        Times = nullptr;
    event->accept();
}

TTimes* ShowTimes(LinkUi& ui, QMdiArea* area) {
    const bool isNew = Times == nullptr;
    if (isNew)
        Times = new TTimes(ui);
    ShowSettingsForm(Times, area, isNew);
    return Times;
}

} // namespace quorvik
