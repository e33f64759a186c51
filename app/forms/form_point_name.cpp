#include "forms/form_point_name.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QVBoxLayout>

#include "forms/dialog_buttons.h"
#include "settings/settings.h"

namespace ts {

TFormPointName::TFormPointName(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("FormPointName");
    setWindowTitle("Point name");
    auto* top = new QVBoxLayout(this);
    ComboBoxPointName = new QComboBox(this);
    ComboBoxPointName->setObjectName("ComboBoxPointName");
    ComboBoxPointName->setEditable(true);
    // A typed text is judged as it stands; completion would turn it into an item behind the user.
    ComboBoxPointName->setCompleter(nullptr);
    ComboBoxPointName->setInsertPolicy(QComboBox::NoInsert);
    for (const char* item : kPointNameItems) ComboBoxPointName->addItem(item);
    ComboBoxPointName->setEditText(kPointNameItems[0]);
    ComboBoxPointName->setMinimumWidth(200);
    top->addWidget(ComboBoxPointName);
    top->addLayout(MakeOkCancelRow(this, ButtonOK, ButtonCan));
    connect(ComboBoxPointName, &QComboBox::editTextChanged, this, &TFormPointName::ComboBoxPointNameChange);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormPointName::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormPointName::ButtonCanClick);
    InstallDialogKeys(this, ComboBoxPointName);
    setFixedSize(sizeHint());
}

void TFormPointName::FormShow() { SavedPointName = ComboBoxPointName->currentText(); }

void TFormPointName::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
    if (QLineEdit* le = ComboBoxPointName->lineEdit()) le->deselect();
}

void TFormPointName::ComboBoxPointNameChange() {
    // Applying may correct the text, which reports a change again.
    if (applying_) return;
    applying_ = true;
    if (OnApply) OnApply(false);
    applying_ = false;
    QCoreApplication::processEvents();
    if (QLineEdit* le = ComboBoxPointName->lineEdit()) le->deselect();
    QCoreApplication::processEvents();
}

void TFormPointName::ButtonOKClick() {
    if (OnApply) OnApply(true);
    done(QDialog::Accepted);
}

void TFormPointName::ButtonCanClick() {
    {
        const bool was = applying_;
        applying_ = true;
        ComboBoxPointName->setEditText(SavedPointName);
        applying_ = was;
    }
    if (OnApply) OnApply(true);
    done(QDialog::Rejected);
}

void TFormPointName::reject() { ButtonCanClick(); }

}  // namespace ts
