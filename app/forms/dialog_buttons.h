#pragma once

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

namespace ts {

// The right-aligned OK/Cancel row of the option dialogs: OK is the default button; Cancel takes
// Enter only while it has the focus, and only where cancelTakesEnter is set.
QHBoxLayout* MakeOkCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel, bool cancelTakesEnter = false);

// A dialog whose title bar offers close (which cancels) but neither minimise nor maximise.
inline constexpr Qt::WindowFlags kCloseOnlyDialog =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// The keyboard of a dialog or window, for its controls as they are when called: Enter presses the
// push button that has the focus (as Space does), whether or not any button is the default;
// Ctrl+Tab and Ctrl+Shift+Tab move the focus as Tab and Shift+Tab do, so no control keeps them;
// Tab stops only at the checked button of a radio group (every button of a group with none
// checked), the arrow keys moving within it. With firstField, every showing starts there, an
// edit's text selected, so that what is typed at once replaces it, whichever control had the focus
// the last time.
void InstallDialogKeys(QWidget* window, QWidget* firstField = nullptr);

}  // namespace ts
