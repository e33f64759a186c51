// The mask dialog: the largest HDOP and the fewest satellites a point may have.
#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

namespace ts {

class TFormLimit : public QDialog {
    Q_OBJECT
public:
    explicit TFormLimit(QWidget* parent = nullptr);

    QLineEdit *EditHdopMask, *EditNsatMask;
    QPushButton *ButtonOK, *ButtonCan;

    // Set by the main window: OK applies the edits, Cancel unticks its box.
    std::function<void()> OnOK, OnCancel;

    void ButtonOKClick();
    void ButtonCanClick();
    // Esc and closing act as Cancel.
    void reject() override;
};

}  // namespace ts
