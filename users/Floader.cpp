#include "users/Floader.h"

#include "link/Cp1251.h"
#include "link/OpenPort.h"
#include "ui/ExceptionBox.h"
#include "users/LoginPicture.h"
#include "users/SerialPorts.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace quorvik {
namespace {

namespace text {
inline constexpr const char* Caption = "Вход в программу Quorvik";
inline constexpr const char* User = "Пользователь:";
inline constexpr const char* Port = "Порт:";
inline constexpr const char* Login = "Вход";
inline constexpr const char* Exit = "Выход";
inline constexpr const char* DefaultUser = "Orlek";
inline constexpr const char* NoDirectory = "Не могу прочитать настройки пользователей";
} // namespace text

constexpr int Width = 317;
constexpr int Height = 289;
constexpr int FullAlpha = 255;
constexpr int AlphaStep = 5;

// The system's hot-light colour, in which every text of the dialog is drawn.
const QColor HotLight(0x00, 0x66, 0xCC);

void UseHotLight(QWidget* widget) {
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, HotLight);
    widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* caption, QRect geometry) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setGeometry(geometry);
    UseHotLight(label);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
    // Labels size themselves to their text, from their left and top.
    label->adjustSize();
    return label;
}

QComboBox* MakeCombo(QWidget* parent, QRect geometry) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(true);
    // Typed text is the box's text only; it never becomes an item.
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setGeometry(geometry);
    UseHotLight(combo);
    return combo;
}

QPushButton* MakeButton(QWidget* parent, const char* caption, QRect geometry) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    // Enter and Esc mean nothing to the dialog as a whole.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(geometry);
    UseHotLight(button);
    return button;
}

} // namespace

TLoader::TLoader(ECViewUserReader& users, LinkState& link, int32_t timeLoad, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      link_(link) {
    setWindowTitle(QString::fromUtf8(text::Caption));
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    // Where that face is missing, a Helvetica-wide one keeps the labels in their places.
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Nimbus Sans")});
    setFont(font);
    setFixedSize(Width, Height);
    setWindowOpacity(0);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(Width / 2, Height / 2));

    Image1 = new QLabel(this);
    Image1->setGeometry(0, 0, Width, Height);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QImage picture = DecodeJpeg(LoginPicturePath());
    if (!picture.isNull())
        Image1->setPixmap(QPixmap::fromImage(picture));

    Label1 = MakeLabel(this, text::User, {8, 36, 76, 13});
    Label2 = MakeLabel(this, text::Port, {224, 36, 28, 13});

    UserEdit = MakeCombo(this, {88, 33, 81, 21});
    UserEdit->setEditText(QString::fromUtf8(text::DefaultUser));

    ComboPort = MakeCombo(this, {255, 32, 57, 21});
    ComboPort->addItems({QStringLiteral("Com1"), QStringLiteral("Com2")});
    for (const std::string& port : SerialPorts())
        ComboPort->addItem(QString::fromStdString(port));
    ComboPort->setCurrentIndex(0);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setGeometry(8, 69, 197, 20);
    ProgressBar1->setRange(0, FullAlpha);
    ProgressBar1->setTextVisible(false);

    Button1 = MakeButton(this, text::Login, {80, 96, 57, 29});
    Button2 = MakeButton(this, text::Exit, {140, 96, 61, 29});
    Button1->installEventFilter(this);
    Button2->installEventFilter(this);
    connect(Button1, &QPushButton::clicked, this, &TLoader::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TLoader::ExitButtonClick);

    setTabOrder(Button1, ComboPort);
    setTabOrder(ComboPort, ProgressBar1);
    setTabOrder(ProgressBar1, Button2);
    setTabOrder(Button2, UserEdit);

    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &TLoader::Timer1Timer);

    ProgressBar1->setValue(0);
    Timer1->setInterval(std::max(timeLoad, 0));
    if (users.Load() == 0)
        throw std::runtime_error(text::NoDirectory);
    for (int32_t i = 0; i < users.Count(); ++i)
        UserEdit->addItem(QString::fromStdString(Cp1251ToUtf8(users.Item(i)->Name)));
    users.Release();
    // Filling the list must not replace the default name.
    UserEdit->setEditText(QString::fromUtf8(text::DefaultUser));
}

bool TLoader::Timer1Enabled() const {
    return Timer1->isActive();
}

void TLoader::SetTimer1Enabled(bool on) {
    // The platform's timers do not run at an interval of 0; a QTimer would fire continuously.
    if (on && Timer1->interval() > 0)
        Timer1->start();
    else
        Timer1->stop();
}

void TLoader::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Button1->setFocus();
    SetTimer1Enabled(true);
}

void TLoader::Timer1Timer() {
    if (ProgressBar1->value() == FullAlpha)
        SetTimer1Enabled(false);
    ProgressBar1->setValue(std::min(ProgressBar1->value() + AlphaStep, FullAlpha));
    setWindowOpacity(ProgressBar1->value() / double(FullAlpha));
}

void TLoader::Button1Click() {
    try {
        link_.UserName = Utf8ToCp1251(UserEdit->currentText().toStdString());
        link_.PortName = Utf8ToCp1251(ComboPort->currentText().toStdString());
        UserEdit->clearEditText();
        OpenPort(link_, link_.PortName);
        accept();
    } catch (const std::exception& error) {
        UserEdit->setFocus();
        ShowExceptionBox(QString::fromUtf8(error.what()));
        // A failed login ends the program: the caller sees no OK.
        reject();
    }
}

void TLoader::ExitButtonClick() {
    reject();
}

void TLoader::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return; // no default or cancel button
    default:
        QDialog::keyPressEvent(event);
    }
}

// ExitButtonKeyPress, for both buttons: Esc closes the dialog; Enter presses
// the button as Space does.
bool TLoader::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == Button1 || watched == Button2) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) {
            close();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            static_cast<QPushButton*>(watched)->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace quorvik
