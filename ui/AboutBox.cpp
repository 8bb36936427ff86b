#include "ui/AboutBox.h"

#include "ui/StateList.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvik {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    auto* program = new QLabel(this);
    program->setObjectName(QStringLiteral("ProgramIcon"));
    program->setPixmap(StateImage(4).scaled(32, 32));
    auto* name = new QLabel(QStringLiteral("Quorvik"), this);
    name->setObjectName(QStringLiteral("ProductName"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    name->setStyleSheet(QStringLiteral("color: palette(link);"));
    auto* version = new QLabel(QStringLiteral("0.2"), this);
    version->setObjectName(QStringLiteral("Version"));

    auto* grid = new QGridLayout;
    grid->addWidget(program, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(new QLabel(QStringLiteral("Product Name:"), this), 0, 1);
    grid->addWidget(name, 0, 2);
    grid->addWidget(new QLabel(QStringLiteral("Version:"), this), 1, 1);
    grid->addWidget(version, 1, 2);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(OKButton, 0, Qt::AlignCenter);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace quorvik
