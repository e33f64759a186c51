#include "forms/form_reduce.h"

#include <QGridLayout>
#include <QVBoxLayout>

#include "forms/dialog_buttons.h"

namespace ts {

TFormReduce::TFormReduce(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("FormReduce");
    setWindowTitle("Reduction");
    auto* top = new QVBoxLayout(this);
    LabelTitl = new QLabel("Condition to output", this);
    LabelTitl->setObjectName("LabelTitl");
    top->addWidget(LabelTitl);
    auto* grid = new QGridLayout;
    EditMd = new QLineEdit(this);
    EditMd->setObjectName("EditMd");
    EditMd->setFixedWidth(60);
    LabelMdu = new QLabel("m", this);
    LabelMdu->setObjectName("LabelMdu");
    EditEt = new QLineEdit(this);
    EditEt->setObjectName("EditEt");
    EditEt->setFixedWidth(60);
    grid->addWidget(new QLabel("Moving distance >=", this), 0, 0);
    grid->addWidget(EditMd, 0, 1);
    grid->addWidget(LabelMdu, 0, 2);
    grid->addWidget(new QLabel("or", this), 1, 0, 1, 3, Qt::AlignHCenter);
    grid->addWidget(new QLabel("Elapsed time >=", this), 2, 0);
    grid->addWidget(EditEt, 2, 1);
    grid->addWidget(new QLabel("second", this), 2, 2);
    top->addLayout(grid);
    top->addLayout(MakeOkCancelRow(this, ButtonOK, ButtonCan));
    connect(ButtonOK, &QPushButton::clicked, this, &TFormReduce::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormReduce::ButtonCanClick);
    // Enter in either edit acts as OK (the default button), on a focused button as that button;
    // Esc as Cancel (reject). Each showing starts in the distance.
    InstallDialogKeys(this, EditMd);
    setFixedSize(sizeHint());
}

void TFormReduce::showEvent(QShowEvent* e) {
    QFont f = font();
    if (f.pointSize() > 0) f.setPointSize(f.pointSize() + 1);
    LabelTitl->setFont(f);
    QDialog::showEvent(e);
}

void TFormReduce::ButtonOKClick() {
    if (OnOK) OnOK();
    done(QDialog::Accepted);
}

void TFormReduce::ButtonCanClick() {
    if (OnCancel) OnCancel();
    done(QDialog::Rejected);
}

void TFormReduce::reject() { ButtonCanClick(); }

}  // namespace ts
