// The output range dialog: cuts one block to a start and a final time, choosing them from a list
// of the block's points around the time being edited.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTableWidget>

#include <array>
#include <functional>
#include <string>

#include "core/options.h"
#include "core/point_store.h"
#include "forms/block_range.h"

namespace ts {

class TFormOutputRange : public QDialog {
    Q_OBJECT
public:
    explicit TFormOutputRange(QWidget* parent = nullptr);

    QLabel *LabelTitl, *LabelSt, *LabelFin, *LabelView;
    QLineEdit *EditStime, *EditEtime;
    QTableWidget* ListView1;
    QPushButton *ButtonStartView, *ButtonFinalView, *ButtonPrev, *ButtonNext, *ButtonOK, *ButtonCan;
    bool StartMode = true;

    // The block to edit and what the list needs, for one showing. previews are the main window's
    // icons of the speed classes, interest and voice points (null pixmaps show nothing).
    void Setup(BlockTable& blocks, const PointStream& points, const TConversionOptions& o, int32_t curBlock,
               const std::array<QPixmap, 6>& previews);
    // Shows a warning over this dialog; set by the main window.
    std::function<void(const std::string&)> Warn;
    bool Cancelled() const { return cancelled_; }
    // The icon of each list row, -1 for none (for checks of the list).
    const std::vector<int>& RowIcons() const { return rowIcons_; }

    void FormShow();
    void FillPointList(bool startMode);
    void ButtonStartViewClick();
    void ButtonFinalViewClick();
    void ListView1Click(int row);
    void ButtonPrevClick();
    void ButtonNextClick();
    void ButtonOKClick();
    void ButtonCanClick();
    // Esc acts as Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void BuildRangeImageList();
    QLineEdit* ActiveEdit() const { return StartMode ? EditStime : EditEtime; }
    // Writes a listed row's time into the active edit.
    void TakeRowTime(int row);

    BlockTable* blocks_ = nullptr;
    const PointStream* points_ = nullptr;
    const TConversionOptions* opt_ = nullptr;
    int32_t curBlock_ = 0;
    std::array<QPixmap, 6> previews_;
    std::array<QPixmap, 6> icons_;
    std::vector<int> rowIcons_;
    std::vector<double> rowTimes_;  // the local time of each list row
    RangeShown shown_;              // what this dialog last wrote into each edit
    bool cancelled_ = false;
};

}  // namespace ts
