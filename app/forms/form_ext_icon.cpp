#include "forms/form_ext_icon.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QKeyEvent>

#include "core/text_format.h"
#include "forms/dialog_buttons.h"
#include "forms/form_icon.h"
#include "forms/form_main.h"
#include "pictures/icon_preview.h"
#include "pictures/icon_sets.h"

namespace ts {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

const char* const kRowCaptions[8] = {"Speed 1", "Speed 2", "Speed 3", "Speed 4", "POI 1", "POI 2", "Start", "End"};

// Design geometry: rows of the icon group, the logo group below, the buttons under both.
constexpr int kGroupLeft = 10, kRowTop = 20, kRowStep = 36, kImageLeft = 70, kEditLeft = 108;
constexpr int kButtonWidth = 75, kButtonHeight = 25, kEditHeight = 22;
constexpr int kExtTop = 6, kExtHeight = kRowTop + 8 * kRowStep + 2;
constexpr int kLogoTop = kExtTop + kExtHeight + 6, kLogoHeight = 108;
constexpr int kOkTop = kLogoTop + kLogoHeight + 10;
constexpr int kDesignWidth = 480;

// Keeps a logo field inside the range of its settings key (see CheckRangeText).
void CheckRangeEdit(QLineEdit* edit, const char* key, double def) {
    edit->setText(Q(CheckRangeText(S(edit->text()), NumberKeyOf("ExtIcon", key), def)));
}

}  // namespace

TFormExtIcon::TFormExtIcon(TFormMain& main) : QDialog(&main), main_(main) {
    setObjectName("FormExtIcon");
    setWindowTitle("External Icon  selecter");

    GroupBoxExt = new QGroupBox(" External Icon ", this);
    GroupBoxExt->setObjectName("GroupBoxExt");
    GroupBoxExt->setGeometry(kGroupLeft, kExtTop, kDesignWidth - 20, kExtHeight);
    for (int i = 0; i < 8; ++i) {
        const int y = kRowTop + i * kRowStep;
        const QString n = QString::number(i + 1);
        Captions[i] = new QLabel(kRowCaptions[i], GroupBoxExt);
        Captions[i]->setGeometry(10, y + 8, kImageLeft - 14, 16);
        Images[i] = new QLabel(GroupBoxExt);
        Images[i]->setObjectName("Image" + n);
        Images[i]->setGeometry(kImageLeft, y, 32, 32);
        Edits[i] = new QLineEdit(GroupBoxExt);
        Edits[i]->setObjectName("Edit" + n);
        Edits[i]->setGeometry(kEditLeft, y + 5, 100, kEditHeight);
        Edits[i]->installEventFilter(this);
        Buttons[i] = new QPushButton("Browse", GroupBoxExt);
        Buttons[i]->setObjectName("Button" + n);
        Buttons[i]->setGeometry(0, y + 3, kButtonWidth, kButtonHeight);
        Buttons[i]->setAutoDefault(false);
        connect(Buttons[i], &QPushButton::clicked, this, [this, i] { BrowseIconFile(i + 1); });
    }

    GroupBoxLogo = new QGroupBox(" Logo ", this);
    GroupBoxLogo->setObjectName("GroupBoxLogo");
    GroupBoxLogo->setGeometry(kGroupLeft, kLogoTop, kDesignWidth - 20, kLogoHeight);
    ImageLogo = new QLabel(GroupBoxLogo);
    ImageLogo->setObjectName("ImageLogo");
    ImageLogo->setGeometry(kImageLeft, kRowTop, 32, 32);
    EditLogo = new QLineEdit(GroupBoxLogo);
    EditLogo->setObjectName("EditLogo");
    EditLogo->setGeometry(kEditLeft, kRowTop + 5, 100, kEditHeight);
    EditLogo->installEventFilter(this);
    ButtonBrowse = new QPushButton("Browse", GroupBoxLogo);
    ButtonBrowse->setObjectName("ButtonBrowse");
    ButtonBrowse->setGeometry(0, kRowTop + 3, kButtonWidth, kButtonHeight);
    ButtonBrowse->setAutoDefault(false);
    connect(ButtonBrowse, &QPushButton::clicked, this, [this] { BrowseIconFile(9); });
    ButtonClear = new QPushButton("Clear", GroupBoxLogo);
    ButtonClear->setObjectName("ButtonClear");
    ButtonClear->setGeometry(0, 72, kButtonWidth, kButtonHeight);
    ButtonClear->setAutoDefault(false);
    connect(ButtonClear, &QPushButton::clicked, this, &TFormExtIcon::ButtonClearClick);

    struct LabeledEdit {
        QLineEdit*& edit;
        QLabel*& label;
        const char* name;
        const char* caption;
        const char* hint;
        int left;
    };
    const LabeledEdit fields[3] = {
        {LabeledEditLogoX, LabelLogoX, "LabeledEditLogoX", "X pos", "0 to 1.0", 10},
        {LabeledEditLogoY, LabelLogoY, "LabeledEditLogoY", "Y pos", "0 to 1.0", 80},
        {LabeledEditLogoScale, LabelLogoScale, "LabeledEditLogoScale", "Scale", " 0 to 1.0 and -1", 150}};
    for (const LabeledEdit& f : fields) {
        f.label = new QLabel(f.caption, GroupBoxLogo);
        f.label->setGeometry(f.left, 58, 60, 16);
        f.edit = new QLineEdit(GroupBoxLogo);
        f.edit->setObjectName(f.name);
        f.edit->setGeometry(f.left, 74, 60, kEditHeight);
        f.edit->setToolTip(f.hint);
    }

    ButtonOK = new QPushButton("OK", this);
    ButtonOK->setObjectName("ButtonOK");
    ButtonOK->setGeometry(0, kOkTop, kButtonWidth, kButtonHeight);
    ButtonCan = new QPushButton("Cancel", this);
    ButtonCan->setObjectName("ButtonCan");
    ButtonCan->setGeometry(0, kOkTop, kButtonWidth, kButtonHeight);
    // Enter belongs to the edits (it reloads a preview), never to a default button.
    for (QPushButton* b : {ButtonOK, ButtonCan}) b->setAutoDefault(false);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormExtIcon::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormExtIcon::ButtonCanClick);

    ChooseFile = [this](const std::string& startDir, std::string& chosen) {
        const QString name = QFileDialog::getOpenFileName(this, QString(), Q(startDir));
        if (name.isEmpty()) return false;
        chosen = S(name);
        return true;
    };

    // FormCreate: the height fits the buttons and stays; the width may grow.
    const QRect scale = LabeledEditLogoScale->geometry();
    setFixedHeight(ButtonOK->geometry().bottom() + 1 + 11);
    setMinimumWidth(scale.right() + 1 + Buttons[0]->width() + 50);
    setMaximumWidth(QWIDGETSIZE_MAX);
    resize(kDesignWidth, height());
    FormResize();
    InstallDialogKeys(this);
}

void TFormExtIcon::FormResize() {
    const int groupWidth = width() - 20;
    GroupBoxExt->resize(groupWidth, GroupBoxExt->height());
    GroupBoxLogo->resize(groupWidth, GroupBoxLogo->height());
    const int buttonLeft = groupWidth - Buttons[0]->width() - 13;
    const int editWidth = buttonLeft - Edits[0]->x() - 5;
    for (int i = 0; i < 8; ++i) {
        Buttons[i]->move(buttonLeft, Buttons[i]->y());
        Edits[i]->resize(editWidth, Edits[i]->height());
    }
    for (QPushButton* b : {ButtonBrowse, ButtonClear}) b->move(buttonLeft, b->y());
    EditLogo->resize(editWidth, EditLogo->height());
    ButtonOK->move(buttonLeft + GroupBoxExt->x(), ButtonOK->y());
    ButtonCan->move(ButtonOK->x() - ButtonOK->width() - 5, ButtonCan->y());
}

void TFormExtIcon::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}

void TFormExtIcon::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (!e->spontaneous()) FormShow();
}

QLineEdit* TFormExtIcon::EditOf(int tag) const { return tag == 9 ? EditLogo : Edits[tag - 1]; }
QLabel* TFormExtIcon::PreviewOf(int tag) const { return tag == 9 ? ImageLogo : Images[tag - 1]; }

bool TFormExtIcon::LoadRowPreview(int tag, const std::string& fileName) {
    return LoadPictureFile(PreviewOf(tag), fileName, main_.FormIcon->SheetFor(kMissingIconName),
                           tag == 9 ? PreviewRole::Logo : PreviewRole::Icon);
}

void TFormExtIcon::FormShow() {
    const TConversionOptions& o = main_.Front().settings.opt;
    for (int i = 0; i < 8; ++i) {
        Edits[i]->setText(Q(o.ExtIconFile[i]));
        LoadRowPreview(i + 1, o.ExtIconFile[i]);
    }
    EditLogo->setText(Q(o.LogoFile));
    LabeledEditLogoX->setText(Q(o.LogoXpos));
    LabeledEditLogoY->setText(Q(o.LogoYpos));
    LabeledEditLogoScale->setText(Q(o.LogoScale));
    LoadRowPreview(9, o.LogoFile);
    savedLogoState_ = {o.LogoFile, o.LogoXpos, o.LogoYpos, o.LogoScale};
}

void TFormExtIcon::BrowseIconFile(int tag) {
    if (tag < 1 || tag > 9) return;
    QLineEdit* edit = EditOf(tag);
    openDir_ = BrowseStartFolder(S(edit->text()), openDir_, S(Edits[0]->text()), main_.Front().settings.DataPath);
    QCoreApplication::processEvents();
    std::string chosen;
    if (!ChooseFile || !ChooseFile(openDir_, chosen)) return;
    LoadRowPreview(tag, chosen);
    edit->setText(Q(Trim(chosen)));
}

void TFormExtIcon::EditEnter(int tag) {
    if (tag < 1 || tag > 9) return;
    QLineEdit* edit = EditOf(tag);
    const std::string text = Trim(S(edit->text()));
    edit->setText(Q(text));
    LoadRowPreview(tag, text);
}

bool TFormExtIcon::eventFilter(QObject* obj, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(e)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            for (int tag = 1; tag <= 9; ++tag)
                if (obj == EditOf(tag)) {
                    EditEnter(tag);
                    return true;
                }
        }
    }
    return QDialog::eventFilter(obj, e);
}

void TFormExtIcon::ButtonClearClick() {
    EditLogo->setText(QString());
    ImageLogo->setVisible(false);
}

void TFormExtIcon::ButtonOKClick() {
    // A number whose comma may group thousands is not guessed: the dialog stays open on it.
    for (const auto& [edit, key] : {std::pair{LabeledEditLogoX, "LogoXpos"}, std::pair{LabeledEditLogoY, "LogoYpos"},
                                    std::pair{LabeledEditLogoScale, "LogoScale"}}) {
        const std::string text = S(edit->text());
        if (!AmbiguousThousands(text)) continue;
        main_.MessageDlg(RefusedNumberText(NumberKeyOf("ExtIcon", key), text, NumberCheck::Ambiguous), MsgKind::Warning,
                         mbOK, mbOK);
        edit->setFocus();
        return;
    }
    Settings& s = main_.Front().settings;
    for (int i = 0; i < 8; ++i) s.opt.ExtIconFile[i] = S(Edits[i]->text());
    main_.ShowExternalIcons(false);
    CheckRangeEdit(LabeledEditLogoX, "LogoXpos", 0);
    CheckRangeEdit(LabeledEditLogoY, "LogoYpos", 1.0);
    CheckRangeEdit(LabeledEditLogoScale, "LogoScale", 0.2);
    s.opt.LogoFile = S(EditLogo->text());
    s.opt.LogoXpos = S(LabeledEditLogoX->text());
    s.opt.LogoYpos = S(LabeledEditLogoY->text());
    s.opt.LogoScale = S(LabeledEditLogoScale->text());
    UpdateLogoLabel(s);
    main_.ShowLogoLabel();
    QDialog::accept();
}

void TFormExtIcon::ButtonCanClick() {
    EditLogo->setText(Q(savedLogoState_[0]));
    LabeledEditLogoX->setText(Q(savedLogoState_[1]));
    LabeledEditLogoY->setText(Q(savedLogoState_[2]));
    LabeledEditLogoScale->setText(Q(savedLogoState_[3]));
    // The settings hold the logo as OK left it; the label follows them again.
    UpdateLogoLabel(main_.Front().settings);
    main_.ShowLogoLabel();
    QDialog::reject();
}

void TFormExtIcon::reject() { ButtonCanClick(); }

}  // namespace ts
