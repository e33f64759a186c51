// The block selector: which blocks of a multi-block log are written, and a way into the range
// dialog for each. Ticks reach the blocks only with OK; range edits take effect at once.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <QTableWidget>

#include <functional>

#include "core/options.h"
#include "core/point_store.h"

namespace ts {

class TFormOutBlock : public QDialog {
    Q_OBJECT
public:
    explicit TFormOutBlock(QWidget* parent = nullptr);

    QTableWidget* ListView1;
    QPushButton *ButtonOK, *ButtonReset, *ButtonUnselect, *ButtonCan;

    // The table, its options and the index of the block being edited, for one showing.
    void Setup(BlockTable& blocks, const TConversionOptions& o, int32_t& curBlock);
    // Opens the range dialog for a block; true unless it was cancelled. Set by the main window.
    std::function<bool(int32_t block)> OpenRange;
    bool Cancelled() const { return cancelled_; }

    void FormShow();
    void ListView1Click(int row);
    void ButtonOKClick();
    void ButtonResetClick();
    void ButtonUnselectClick();
    void ButtonCanClick();
    // Esc and a close request act as Cancel.
    void reject() override;

    bool RowTicked(int row) const;
    void SetRowTicked(int row, bool on);

protected:
    void showEvent(QShowEvent* e) override;

private:
    // Columns, list and form sized for the texts the blocks can show in the dialog's font.
    void FitColumns(BlockTable blocks);
    void FillRows(const BlockTable& blocks);
    void SetRowTexts(int row, const TrackBlock& b);
    void SetRowTexts(int row, const std::string& start, const std::string& final, const std::string& points);

    BlockTable* blocks_ = nullptr;
    const TConversionOptions* opt_ = nullptr;
    int32_t* curBlock_ = nullptr;
    bool cancelled_ = false;
};

}  // namespace ts
