// The port options dialog: views and changes the port parameters and
// timeouts of the link, applies them to the local port and, while a
// connection is up, sends them to the peer.
#pragma once

#include "link/LinkState.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QPushButton;
class QTimer;

namespace quorvik {

class TOptionsEdit : public QWidget {
public:
    // Fills the controls from the working values; the port is not asked.
    explicit TOptionsEdit(LinkState& link, QWidget* parent = nullptr);
    ~TOptionsEdit() override;

    QGroupBox* GroupBox1;
    QGroupBox* GroupBox2;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLineEdit* Edit5;
    QLabel* StaticText1;
    QComboBox* ComboBox1;
    QLabel* StaticText3;
    QComboBox* ComboBox3;
    QLabel* StaticText2;
    QComboBox* ComboBox4;
    QLabel* StaticText4;
    QPushButton* Button1;
    QPushButton* Button2;
    QLineEdit* Edit6;
    QLabel* StaticText6;
    QLineEdit* Edit7;
    QLabel* StaticText5;
    QCheckBox* CheckBox1;
    QLabel* StaticText7;
    QCheckBox* CheckBox2;
    QTimer* TimerWait; // 1 s between the parameters and the timeouts

    // The handlers; the buttons and the timer run them through Guarded.
    // Each raises its failure with the message to show.
    void Button2Click();
    void Button1Click();
    void TimerWaitTimer();

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose

private:
    void FillControls();

    LinkState& link_;
};

// The open dialog, or none.
extern TOptionsEdit* OptionsEdit;

// Opens the dialog in area (top level without one) unless it is open, then
// brings it to the front; returns it.
TOptionsEdit* ShowOptionsEdit(LinkState& link, QMdiArea* area);

// Shared by the two settings dialogs: shows a new form in area, centred, or
// brings an open one to the front; and closes a form's window.
void ShowSettingsForm(QWidget* form, QMdiArea* area, bool isNew);
void CloseSettingsForm(QWidget* form);

} // namespace quorvik
