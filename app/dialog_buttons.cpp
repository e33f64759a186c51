#include "dialog_buttons.h"

#include <QHBoxLayout>

namespace ts {

void AddOkCancelRow(QDialog* dialog, QBoxLayout* top, QPushButton*& ok, QPushButton*& cancel) {
    auto* buttons = new QHBoxLayout;
    ok = new QPushButton("OK", dialog);
    ok->setObjectName("ButtonOK");
    ok->setDefault(true);
    cancel = new QPushButton("Cancel", dialog);
    cancel->setObjectName("ButtonCan");
    cancel->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
}

}  // namespace ts
