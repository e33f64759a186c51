#include "forms/form_output_range.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QVBoxLayout>

#include <algorithm>

#include "forms/block_range.h"
#include "forms/dialog_buttons.h"

namespace ts {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

TFormOutputRange::TFormOutputRange(QWidget* parent) : QDialog(parent, kCloseOnlyDialog) {
    setObjectName("FormOutputRange");
    setWindowTitle("Output range");
    auto* top = new QVBoxLayout(this);
    LabelTitl = new QLabel(this);
    LabelTitl->setObjectName("LabelTitl");
    top->addWidget(LabelTitl);
    auto* grid = new QGridLayout;
    LabelSt = new QLabel("Start time:", this);
    LabelSt->setObjectName("LabelSt");
    LabelFin = new QLabel("Final time:", this);
    LabelFin->setObjectName("LabelFin");
    EditStime = new QLineEdit(this);
    EditStime->setObjectName("EditStime");
    EditEtime = new QLineEdit(this);
    EditEtime->setObjectName("EditEtime");
    for (QLineEdit* e : {EditStime, EditEtime}) e->setMinimumWidth(220);
    ButtonStartView = new QPushButton("View Sart data", this);
    ButtonStartView->setObjectName("ButtonStartView");
    ButtonFinalView = new QPushButton("View Final data", this);
    ButtonFinalView->setObjectName("ButtonFinalView");
    grid->addWidget(LabelSt, 0, 0);
    grid->addWidget(EditStime, 0, 1);
    grid->addWidget(ButtonStartView, 0, 2);
    grid->addWidget(LabelFin, 1, 0);
    grid->addWidget(EditEtime, 1, 1);
    grid->addWidget(ButtonFinalView, 1, 2);
    grid->setColumnStretch(3, 1);
    top->addLayout(grid);
    LabelView = new QLabel(this);
    LabelView->setObjectName("LabelView");
    top->addWidget(LabelView);
    ListView1 = new QTableWidget(0, 5, this);
    ListView1->setObjectName("ListView1");
    ListView1->setHorizontalHeaderLabels({"Point", "DateTime", "Longitude", "Latitude", "Speed"});
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(20);
    ListView1->horizontalHeader()->setSectionsClickable(false);
    // The designed widths, widened where this font needs more for the longest texts.
    const QFontMetrics fm(ListView1->font());
    const char* const longest[5] = {"9,999,999", "2000/00/00 00:00:00.000", "179\u00B059' 59.9999\"W",
                                    "179\u00B059' 59.9999\"S", "9999.9"};
    int widths[5] = {68, 138, 113, 110, 68};
    int total = 0;
    for (int c = 0; c < 5; ++c) {
        widths[c] = std::max(widths[c], fm.horizontalAdvance(QString::fromUtf8(longest[c])) + 16 + (c == 0 ? 20 : 0));
        ListView1->setColumnWidth(c, widths[c]);
        total += widths[c];
    }
    ListView1->setIconSize(QSize(16, 16));
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setShowGrid(true);
    ListView1->setTabKeyNavigation(false);  // Tab leaves the list for the buttons
    ListView1->setMinimumSize(total + 24, 300);
    top->addWidget(ListView1);
    auto* buttons = new QHBoxLayout;
    ButtonPrev = new QPushButton("Prev", this);
    ButtonPrev->setObjectName("ButtonPrev");
    ButtonNext = new QPushButton("Next", this);
    ButtonNext->setObjectName("ButtonNext");
    ButtonOK = new QPushButton("OK", this);
    ButtonOK->setObjectName("ButtonOK");
    ButtonCan = new QPushButton("Cancel", this);
    ButtonCan->setObjectName("ButtonCan");
    // Enter in an edit views its time; it must not press a default button.
    for (QPushButton* b : {ButtonStartView, ButtonFinalView, ButtonPrev, ButtonNext, ButtonOK, ButtonCan})
        b->setAutoDefault(false);
    buttons->addWidget(ButtonPrev);
    buttons->addWidget(ButtonNext);
    buttons->addStretch();
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCan);
    top->addLayout(buttons);

    connect(ButtonStartView, &QPushButton::clicked, this, &TFormOutputRange::ButtonStartViewClick);
    connect(ButtonFinalView, &QPushButton::clicked, this, &TFormOutputRange::ButtonFinalViewClick);
    connect(EditStime, &QLineEdit::returnPressed, this, &TFormOutputRange::ButtonStartViewClick);
    connect(EditEtime, &QLineEdit::returnPressed, this, &TFormOutputRange::ButtonFinalViewClick);
    connect(ListView1, &QTableWidget::cellClicked, this, [this](int row, int) { ListView1Click(row); });
    connect(ButtonPrev, &QPushButton::clicked, this, &TFormOutputRange::ButtonPrevClick);
    connect(ButtonNext, &QPushButton::clicked, this, &TFormOutputRange::ButtonNextClick);
    connect(ButtonOK, &QPushButton::clicked, this, &TFormOutputRange::ButtonOKClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormOutputRange::ButtonCanClick);
    setFixedSize(sizeHint());
    InstallDialogKeys(this);
}

void TFormOutputRange::Setup(BlockTable& blocks, const PointStream& points, const TConversionOptions& o,
                             int32_t curBlock, const std::array<QPixmap, 6>& previews) {
    blocks_ = &blocks;
    points_ = &points;
    opt_ = &o;
    curBlock_ = curBlock;
    previews_ = previews;
    cancelled_ = false;
}

void TFormOutputRange::BuildRangeImageList() {
    for (size_t i = 0; i < icons_.size(); ++i)
        icons_[i] = previews_[i].isNull()
                        ? QPixmap()
                        : previews_[i].scaled(16, 16, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

void TFormOutputRange::FormShow() {
    if (!blocks_ || curBlock_ < 0 || curBlock_ >= blocks_->Count()) return;
    QFont f = font();
    if (f.pointSize() > 0) f.setPointSize(f.pointSize() + 1);
    for (QWidget* w : std::initializer_list<QWidget*>{LabelTitl, EditStime, EditEtime, LabelSt, LabelFin, LabelView})
        w->setFont(f);
    const TrackBlock& b = (*blocks_)[curBlock_];
    const TConversionOptions& o = *opt_;
    LabelTitl->setText(Q(RangeTitle(curBlock_, b, o)));
    shown_.start = {DateTimeToText(b.RangeStart - o.TimeOffset, o), b.RangeStart - o.TimeOffset};
    shown_.final = {DateTimeToText(b.RangeEnd - o.TimeOffset, o), b.RangeEnd - o.TimeOffset};
    EditStime->setText(Q(shown_.start.text));
    EditEtime->setText(Q(shown_.final.text));
    StartMode = true;
    BuildRangeImageList();
    FillPointList(true);
}

void TFormOutputRange::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TFormOutputRange::FillPointList(bool startMode) {
    if (!blocks_ || curBlock_ < 0 || curBlock_ >= blocks_->Count()) return;
    const TrackBlock& b = (*blocks_)[curBlock_];
    const TConversionOptions& o = *opt_;
    std::string st = S(EditStime->text()), fin = S(EditEtime->text());
    ClampRangeEdits(st, fin, b, o, &shown_);
    if (Q(st) != EditStime->text()) EditStime->setText(Q(st));
    if (Q(fin) != EditEtime->text()) EditEtime->setText(Q(fin));
    LabelView->setText(startMode ? "Select Start time" : "Select Final time");
    ListView1->setToolTip(startMode ? "\"Start time\" is updated when clicking"
                                    : "\"Final time\" is updated when clicking");
    const PointList list = startMode ? ts::FillPointList(*points_, b, o, st, RangeSide::Start, &shown_.start)
                                     : ts::FillPointList(*points_, b, o, fin, RangeSide::Final, &shown_.final);
    if (QTableWidgetItem* h = ListView1->horizontalHeaderItem(4)) h->setText(Q(SpeedColumnTitle(o)));
    ListView1->setRowCount(0);
    ListView1->setRowCount(static_cast<int>(list.rows.size()));
    rowIcons_.clear();
    rowTimes_.clear();
    for (int r = 0; r < static_cast<int>(list.rows.size()); ++r) {
        const RangeRow& row = list.rows[static_cast<size_t>(r)];
        const std::string* texts[5] = {&row.point, &row.dateTime, &row.lon, &row.lat, &row.speed};
        for (int c = 0; c < 5; ++c) {
            auto* it = new QTableWidgetItem(Q(*texts[c]));
            it->setTextAlignment(c == 0 ? (Qt::AlignLeft | Qt::AlignVCenter) : Qt::AlignCenter);
            if (c == 0 && row.icon >= 0 && !icons_[static_cast<size_t>(row.icon)].isNull())
                it->setIcon(icons_[static_cast<size_t>(row.icon)]);
            ListView1->setItem(r, c, it);
        }
        rowIcons_.push_back(row.icon);
        rowTimes_.push_back(row.time);
    }
    if (list.selected >= 0 && list.selected < ListView1->rowCount()) {
        ListView1->selectRow(list.selected);
        ListView1->scrollToItem(ListView1->item(list.selected, 0), QAbstractItemView::PositionAtCenter);
    }
    ListView1->setFocus();
}

void TFormOutputRange::ButtonStartViewClick() {
    StartMode = true;
    FillPointList(true);
}

void TFormOutputRange::ButtonFinalViewClick() {
    StartMode = false;
    FillPointList(false);
}

void TFormOutputRange::TakeRowTime(int row) {
    const QTableWidgetItem* it = ListView1->item(row, 1);
    if (!it || row < 0 || static_cast<size_t>(row) >= rowTimes_.size()) return;
    ActiveEdit()->setText(it->text());
    ShownTime& shown = StartMode ? shown_.start : shown_.final;
    shown.text = S(it->text());
    shown.time = rowTimes_[static_cast<size_t>(row)];
}

void TFormOutputRange::ListView1Click(int row) {
    if (!ListView1->item(row, 1)) return;
    ListView1->selectRow(row);
    TakeRowTime(row);
}

void TFormOutputRange::ButtonPrevClick() {
    TakeRowTime(0);
    FillPointList(StartMode);
}

void TFormOutputRange::ButtonNextClick() {
    TakeRowTime(ListView1->rowCount() - 1);
    FillPointList(StartMode);
}

void TFormOutputRange::ButtonOKClick() {
    if (!blocks_ || curBlock_ < 0 || curBlock_ >= blocks_->Count()) return;
    std::string st = S(EditStime->text()), fin = S(EditEtime->text());
    const RangeOkResult r = ApplyRangeEdits(st, fin, (*blocks_)[curBlock_], *points_, *opt_, &shown_);
    EditStime->setText(Q(st));
    EditEtime->setText(Q(fin));
    if (r == RangeOkResult::Accepted) {
        ListView1->setRowCount(0);
        done(QDialog::Accepted);
    } else if (Warn) {
        Warn(r == RangeOkResult::StartAfterEnd ? "Start time is later than End time." : "Illegal date-time format.");
    }
}

void TFormOutputRange::ButtonCanClick() {
    cancelled_ = true;
    ListView1->setRowCount(0);
    done(QDialog::Rejected);
}

void TFormOutputRange::reject() { ButtonCanClick(); }

}  // namespace ts
