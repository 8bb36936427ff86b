// The modal login dialog: the user's name and port, then the port opened.
#pragma once

#include "link/LinkState.h"
#include "users/ViewUser.h"

#include <QDialog>

#include <cstdint>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace quorvik {

class TLoader : public QDialog {
    Q_OBJECT
public:
    // Reads the directory's names into the user box; throws
    // std::runtime_error when the directory holds none.
    TLoader(ECViewUserReader& users, LinkState& link, int32_t timeLoad, QWidget* parent = nullptr);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* Label2;
    QComboBox* UserEdit;
    QComboBox* ComboPort;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;
    QPushButton* Button2;
    QTimer* Timer1;

    // Whether the fade-in timer runs; an interval of 0 never runs.
    bool Timer1Enabled() const;

    void Timer1Timer();
    void Button1Click();
    void ExitButtonClick();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetTimer1Enabled(bool on);

    LinkState& link_;
};

} // namespace quorvik
