// "External Icon  selecter": the picture files of the external icon set and the logo overlay with
// its position and scale. Only OK stores the icon files; Cancel restores the logo fields.
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>
#include <functional>
#include <string>

namespace ts {

class TFormMain;

class TFormExtIcon : public QDialog {
    Q_OBJECT
public:
    explicit TFormExtIcon(TFormMain& main);

    QGroupBox *GroupBoxExt, *GroupBoxLogo;
    std::array<QLabel*, 8> Captions{};
    std::array<QLabel*, 8> Images{};        // Image1..Image8
    std::array<QLineEdit*, 8> Edits{};      // Edit1..Edit8, tags 1..8
    std::array<QPushButton*, 8> Buttons{};  // Button1..Button8, tags 1..8
    QLabel* ImageLogo;
    QLineEdit* EditLogo;  // tag 9
    QPushButton *ButtonBrowse, *ButtonClear;
    QLineEdit *LabeledEditLogoX, *LabeledEditLogoY, *LabeledEditLogoScale;
    QLabel *LabelLogoX, *LabelLogoY, *LabelLogoScale;
    QPushButton *ButtonOK, *ButtonCan;

    // The file dialog of the browse buttons: shown in the start folder, true with the chosen name.
    // Tests put their own chooser here.
    std::function<bool(const std::string& startDir, std::string& chosen)> ChooseFile;
    // The browse dialog's start folder as it stands.
    const std::string& OpenDialogDir() const { return openDir_; }

    void FormShow();
    // Browse for the row of a tag: 1..8 icons, 9 logo.
    void BrowseIconFile(int tag);
    // Enter in an edit: the text is trimmed and its row's preview reloaded.
    void EditEnter(int tag);
    void ButtonClearClick();
    void ButtonOKClick();
    void ButtonCanClick();

    // Closing by the window or Esc cancels like the button.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    void FormResize();
    QLineEdit* EditOf(int tag) const;
    QLabel* PreviewOf(int tag) const;
    bool LoadRowPreview(int tag, const std::string& fileName);

    TFormMain& main_;
    std::array<std::string, 4> savedLogoState_;
    std::string openDir_;
};

}  // namespace ts
