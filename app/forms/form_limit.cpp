#include "forms/form_limit.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "forms/dialog_buttons.h"

namespace ts {

TFormLimit::TFormLimit(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("FormLimit");
    setWindowTitle("Mask");
    auto* top = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    EditHdopMask = new QLineEdit("3.0", this);
    EditHdopMask->setObjectName("EditHdopMask");
    EditHdopMask->setFixedWidth(60);
    EditNsatMask = new QLineEdit("4", this);
    EditNsatMask->setObjectName("EditNsatMask");
    EditNsatMask->setFixedWidth(60);
    grid->addWidget(new QLabel("HDOP  <=", this), 0, 0);
    grid->addWidget(EditHdopMask, 0, 1);
    grid->addWidget(new QLabel("and", this), 1, 0, 1, 2, Qt::AlignHCenter);
    grid->addWidget(new QLabel("Satellites used  >=", this), 2, 0);
    grid->addWidget(EditNsatMask, 2, 1);
    top->addLayout(grid);
    top->addLayout(MakeOkCancelRow(this, ButtonOK, ButtonCan));
    connect(ButtonOK, &QPushButton::clicked, this, &TFormLimit::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormLimit::ButtonCanClick);
    // Enter in an edit acts as OK, on a focused button as that button; each showing starts in the HDOP.
    InstallDialogKeys(this, EditHdopMask);
    setFixedSize(sizeHint());
}

void TFormLimit::ButtonOKClick() {
    if (OnOK) OnOK();
    done(QDialog::Accepted);
}

void TFormLimit::ButtonCanClick() {
    if (OnCancel) OnCancel();
    done(QDialog::Rejected);
}

void TFormLimit::reject() { ButtonCanClick(); }

}  // namespace ts
