#include "forms/dialog_buttons.h"

namespace ts {

QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel, bool cancelTakesEnter) {
    auto* buttons = new QHBoxLayout;
    ok = new QPushButton("OK", dialog);
    ok->setObjectName("ButtonOK");
    ok->setDefault(true);
    cancel = new QPushButton("Cancel", dialog);
    cancel->setObjectName("ButtonCan");
    if (!cancelTakesEnter) cancel->setAutoDefault(false);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    return buttons;
}

}  // namespace ts
