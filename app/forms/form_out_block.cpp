#include "forms/form_out_block.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "core/date_time.h"
#include "forms/block_range.h"
#include "forms/dialog_buttons.h"

namespace ts {

TFormOutBlock::TFormOutBlock(QWidget* parent) : QDialog(parent, kCloseOnlyDialog) {
    setObjectName("FormOutBlock");
    setWindowTitle("Block Selector");
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetFixedSize);
    ListView1 = new QTableWidget(0, 4, this);
    ListView1->setObjectName("ListView1");
    ListView1->setHorizontalHeaderLabels({"Block", "Start Time", "Final Time", "Points"});
    ListView1->verticalHeader()->hide();
    ListView1->horizontalHeader()->setSectionsClickable(false);
    ListView1->horizontalHeader()->setStretchLastSection(true);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setShowGrid(true);
    ListView1->setTabKeyNavigation(false);  // Tab leaves the list for the buttons
    top->addWidget(ListView1);
    auto* buttons = new QHBoxLayout;
    ButtonReset = new QPushButton("Reset", this);
    ButtonReset->setObjectName("ButtonReset");
    ButtonUnselect = new QPushButton("All Off", this);
    ButtonUnselect->setObjectName("ButtonUnselect");
    ButtonOK = new QPushButton("OK", this);
    ButtonOK->setObjectName("ButtonOK");
    ButtonCan = new QPushButton("Cancel", this);
    ButtonCan->setObjectName("ButtonCan");
    for (QPushButton* b : {ButtonReset, ButtonUnselect, ButtonOK, ButtonCan}) b->setAutoDefault(false);
    buttons->addWidget(ButtonReset);
    buttons->addWidget(ButtonUnselect);
    buttons->addStretch();
    buttons->addWidget(ButtonOK);
    buttons->addWidget(ButtonCan);
    top->addLayout(buttons);
    connect(ListView1, &QTableWidget::cellClicked, this, [this](int row, int) { ListView1Click(row); });
    connect(ButtonOK, &QPushButton::clicked, this, &TFormOutBlock::ButtonOKClick);
    connect(ButtonReset, &QPushButton::clicked, this, &TFormOutBlock::ButtonResetClick);
    connect(ButtonUnselect, &QPushButton::clicked, this, &TFormOutBlock::ButtonUnselectClick);
    connect(ButtonCan, &QPushButton::clicked, this, &TFormOutBlock::ButtonCanClick);
    FitColumns(BlockTable());
    InstallDialogKeys(this);
}

// Every column as wide as the widest text it can show in the dialog's font, and never narrower
// than 70, 150 and 150 pixels; the list wide enough for all of them beside its vertical scroll
// bar, so that nothing scrolls sideways, and tall enough for kShownRows rows. The layout fixes
// the form around it.
void TFormOutBlock::FitColumns(BlockTable blocks) {
    constexpr int kLeastWidths[4] = {70, 150, 150, 0};
    constexpr int kShownRows = 8;
    ensurePolished();
    // The widest texts a row can come to: a whole block's point count, and its start and end
    // times with all three decimals a time can show (a range edit may pick such a time).
    const auto longest = [](double t) { return (std::floor(t / kOneSecond) + 0.888) * kOneSecond; };
    for (TrackBlock& b : blocks.Items()) {
        b.RangeFirst = b.First;
        b.RangeLast = b.Last;
        b.RangeStart = longest(b.StartTime);
        b.RangeEnd = longest(b.EndTime);
    }
    FillRows(blocks);
    QHeaderView* header = ListView1->horizontalHeader();
    int columns = 0;
    for (int c = 0; c < ListView1->columnCount(); ++c) {
        // The table's own measure of its cells (public on the view's base), and the title's.
        const int cells = static_cast<const QAbstractItemView*>(ListView1)->sizeHintForColumn(c);
        const int w = std::max({kLeastWidths[c], cells, header->sectionSizeHint(c)});
        ListView1->setColumnWidth(c, w);
        columns += w;
    }
    ListView1->setRowCount(0);
    const int frame = 2 * ListView1->frameWidth();
    ListView1->setMinimumSize(
        std::max(480, columns + ListView1->verticalScrollBar()->sizeHint().width() + frame),
        header->sizeHint().height() + kShownRows * ListView1->verticalHeader()->defaultSectionSize() + frame);
}

void TFormOutBlock::Setup(BlockTable& blocks, const TConversionOptions& o, int32_t& curBlock) {
    blocks_ = &blocks;
    opt_ = &o;
    curBlock_ = &curBlock;
    cancelled_ = false;
    FitColumns(blocks);
}

bool TFormOutBlock::RowTicked(int row) const {
    const QTableWidgetItem* it = ListView1->item(row, 0);
    return it && it->checkState() == Qt::Checked;
}

void TFormOutBlock::SetRowTicked(int row, bool on) {
    if (QTableWidgetItem* it = ListView1->item(row, 0)) it->setCheckState(on ? Qt::Checked : Qt::Unchecked);
}

void TFormOutBlock::SetRowTexts(int row, const std::string& start, const std::string& final,
                                const std::string& points) {
    const QString texts[3] = {QString::fromStdString(start), QString::fromStdString(final),
                              QString::fromStdString(points)};
    for (int c = 0; c < 3; ++c) {
        auto* it = new QTableWidgetItem(texts[c]);
        it->setTextAlignment(c < 2 ? Qt::AlignCenter : (Qt::AlignRight | Qt::AlignVCenter));
        ListView1->setItem(row, c + 1, it);
    }
}

void TFormOutBlock::SetRowTexts(int row, const TrackBlock& b) {
    const BlockRowTexts t = BlockRangeTexts(b, *opt_);
    SetRowTexts(row, t.start, t.final, t.points);
}

void TFormOutBlock::FormShow() {
    ListView1->setToolTip("Range setting dialog is opened by the click.\nOutput disable in check box Off");
    ListView1->setRowCount(0);
    if (blocks_) FillRows(*blocks_);
}

void TFormOutBlock::FillRows(const BlockTable& blocks) {
    const int n = blocks.Count();
    ListView1->setRowCount(n);
    for (int i = 0; i < n; ++i) {
        auto* it = new QTableWidgetItem(QString::number(i + 1));
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        it->setCheckState(blocks[i].Output ? Qt::Checked : Qt::Unchecked);
        ListView1->setItem(i, 0, it);
        SetRowTexts(i, blocks[i]);
    }
}

void TFormOutBlock::showEvent(QShowEvent* e) {
    FormShow();
    QDialog::showEvent(e);
}

void TFormOutBlock::ListView1Click(int row) {
    if (!blocks_ || row < 0 || row >= ListView1->rowCount() || row >= blocks_->Count()) return;
    ListView1->selectRow(row);
    *curBlock_ = row;
    if (RowTicked(row) && OpenRange && !OpenRange(row)) return;  // cancelled: the row stays as it was
    SetRowTexts(row, (*blocks_)[row]);
}

void TFormOutBlock::ButtonOKClick() {
    if (blocks_)
        for (int i = 0; i < blocks_->Count() && i < ListView1->rowCount(); ++i) (*blocks_)[i].Output = RowTicked(i);
    ListView1->setRowCount(0);
    done(QDialog::Accepted);
}

void TFormOutBlock::ButtonResetClick() {
    if (!blocks_) return;
    ResetBlockRanges(*blocks_);
    for (int i = 0; i < ListView1->rowCount() && i < blocks_->Count(); ++i) {
        SetRowTicked(i, true);
        SetRowTexts(i, (*blocks_)[i]);
    }
}

void TFormOutBlock::ButtonUnselectClick() {
    for (int i = 0; i < ListView1->rowCount(); ++i) SetRowTicked(i, false);
}

void TFormOutBlock::ButtonCanClick() {
    cancelled_ = true;
    ListView1->setRowCount(0);
    done(QDialog::Rejected);
}

// Esc and the title bar's close button cancel, as the Cancel button does.
void TFormOutBlock::reject() { ButtonCanClick(); }

}  // namespace ts
