// The reduction dialog: the distance and time a point must be away from the last written one.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

namespace ts {

class TFormReduce : public QDialog {
    Q_OBJECT
public:
    explicit TFormReduce(QWidget* parent = nullptr);

    QLabel *LabelTitl, *LabelMdu;
    QLineEdit *EditMd, *EditEt;
    QPushButton *ButtonOK, *ButtonCan;

    // Set by the main window: OK applies the edits, Cancel unticks its box.
    std::function<void()> OnOK, OnCancel;

    void ButtonOKClick();
    void ButtonCanClick();
    // Esc and closing act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
};

}  // namespace ts
