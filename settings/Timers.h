// The delays dialog: views and changes the intervals of the answer and
// options timers and the login dialog's fade-in step.
#pragma once

#include "link/LinkUi.h"

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QMdiArea;
class QPushButton;

namespace quorvik {

class TTimes : public QWidget {
public:
    explicit TTimes(LinkUi& ui, QWidget* parent = nullptr);
    ~TTimes() override;

    QGroupBox* GroupBox1;
    QLineEdit* Edit0;
    QLabel* StaticText6;
    QLabel* StaticText1;
    QLineEdit* Edit1;
    QLineEdit* Edit2;
    QLabel* StaticText2;
    QLabel* StaticText3;
    QLabel* StaticText4;
    QLabel* StaticText5;
    QPushButton* Button1;
    QPushButton* Button2;

    void Button2Click();
    // Sets each delay in turn up to the first text that is not a delay,
    // tells the user about that one, and closes all the same.
    void Button1Click();
    void FormCreate();

protected:
    void closeEvent(QCloseEvent* event) override; // FormClose

private:
    LinkUi& ui_;
};

// The open dialog, or none.
extern TTimes* Times;

// Opens the dialog in area (top level without one) unless it is open, then
// brings it to the front; returns it.
TTimes* ShowTimes(LinkUi& ui, QMdiArea* area);

} // namespace quorvik
