#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace ts {

// The right-aligned OK/Cancel row of the option dialogs: OK is the default button; Cancel takes
// Enter only while it has the focus, and only where cancelTakesEnter is set.
QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel, bool cancelTakesEnter = false);

}  // namespace ts
