// The backup viewer's day timeline in the view: the day's data, the bottom
// area's two modes, the row scroll and a click that starts playback.
#include "CVyrNVRView.h"

#include "backupviewer/BackupTexts.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"

#include <QScrollBar>

using namespace backupviewer;

void CVyrNVRView::SetDayBlock(const DayBlock& block, int rowCount)
{
    day_ = block;
    hasDayData_ = true;
    rowCount_ = ClampRowCount(rowCount);
    selectedSlot_ = -1;
    update();
}

void CVyrNVRView::SetScrollRow(int row)
{
    scrollRow_ = std::clamp(row, 0, LastScrollRow(rowCount_, mode_ == LocalMode));
    if (scroll_->value() != scrollRow_)
        scroll_->setValue(scrollRow_);
    update();
}

TimelineGeometry CVyrNVRView::Timeline() const
{
    return ComputeTimelineGeometry(size(), fullScreen_ ? 0 : kLeftMargin, fullScreen_ ? 0 : kRightMargin, rowCount_,
                                   mode_ == LocalMode);
}

void CVyrNVRView::ShowBottom(BottomMode mode)
{
    bottom_ = mode;
    cellAtModeChange_ = currentCell_;
    if (mode == BottomVideo)
        scrollBitmapRepaint_ = true;
    const bool timeline = mode == BottomTimeline;
    margins_.bottom = fullScreen_ ? 0 : timeline ? TimelineHeight(rowCount_) : kBottomMargin;
    for (int id : kBottomBarButtons)
        Button(id)->setVisible(!timeline && !fullScreen_);
    for (int id : kSplitButtons)
        Button(id)->setVisible(!timeline && !fullScreen_);
    const TimelineGeometry g = Timeline();
    if (timeline && g.scrolls) {
        scroll_->setRange(0, LastScrollRow(rowCount_, mode_ == LocalMode));
        scroll_->setGeometry(g.ScrollBarRect());
        scroll_->show();
    } else {
        scroll_->hide();
    }
    // Rows that do not scroll start at channel 1, whatever the last search left.
    scrollRow_ = g.scrolls ? std::min(scrollRow_, LastScrollRow(rowCount_, mode_ == LocalMode)) : 0;
    if (initialised_) {
        PlaceWidgets();
        LayoutCells();
    }
    update();
}

bool CVyrNVRView::OnTimelineClick(const QPoint& point)
{
    if (!hasDayData_ || bottom_ != BottomTimeline)
        return false;
    const TimelineGeometry g = Timeline();
    const int slot = HitTestSlot(g, point);
    if (slot < 0)
        return false;
    selectedSlot_ = slot;
    update();
    if (!SlotHasRecordings(day_, rowCount_, slot))
        return true;
    const std::optional<std::time_t> t = SlotTime(chosenDay_, slot);
    if (!t) {
        platform::MessageBox(this, kDateOutOfRange);
        return true;
    }
    if (mode_ == LocalMode)
        StartLocalPlayback(slot, *t);
    else if (control_) {
        StopCell(cellAtModeChange_);
        StartDvrPlayback(*t, 0);
    }
    ShowBottom(BottomVideo);
    LayoutCells();
    return true;
}
