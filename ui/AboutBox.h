// The About box: the product's name and version.
#pragma once

#include <QDialog>

class QPushButton;

namespace quorvik {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QPushButton* OKButton;
};

// Created at start-up, kept for the whole run.
extern TAboutBox* AboutBox;

} // namespace quorvik
