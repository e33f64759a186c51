#pragma once

#include <QBoxLayout>
#include <QDialog>
#include <QPushButton>

namespace ts {

// Adds the right-aligned OK/Cancel row of the small option dialogs to `top`: OK is the default
// button, Cancel never takes Enter.
void AddOkCancelRow(QDialog* dialog, QBoxLayout* top, QPushButton*& ok, QPushButton*& cancel);

}  // namespace ts
