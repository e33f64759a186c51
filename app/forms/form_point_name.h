// The point-name dialog: what names the placemarks carry.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPushButton>

#include <functional>

namespace ts {

class TFormPointName : public QDialog {
    Q_OBJECT
public:
    explicit TFormPointName(QWidget* parent = nullptr);

    QComboBox* ComboBoxPointName;
    QPushButton *ButtonOK, *ButtonCan;
    QString SavedPointName;

    // Set by the main window: takes the combo text as the choice. fixText puts a text that is
    // no item right in the combo; while the user types the text stays as typed.
    std::function<void(bool fixText)> OnApply;

    void FormShow();
    void ComboBoxPointNameChange();
    void ButtonOKClick();
    void ButtonCanClick();
    // Esc and closing act as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    bool applying_ = false;
};

}  // namespace ts
