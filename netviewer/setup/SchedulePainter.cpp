#include "SchedulePainter.h"

#include <QPainter>

void SchedulePainter::HitTest(QPoint point)
{
    for (int h = 0; h < setup::kScheduleHours; ++h)
        if (point.x() >= kLeft + kColumnWidth * h && point.x() < kLeft + kColumnWidth * (h + 1))
            column_ = h;
    for (int r = 0; r < setup::kScheduleRows; ++r)
        if (point.y() >= kTop + kRowHeight * r && point.y() < kTop + kRowHeight * (r + 1))
            row_ = r;
}

void SchedulePainter::MouseDown(QPoint point)
{
    HitTest(point);
    dragging_ = false;
    if (InHeaderBand(point)) {
        dragging_ = true;
        wholeColumn_ = true;
    } else if (InDayArea(point)) {
        dragging_ = true;
        wholeColumn_ = false;
    }
}

bool SchedulePainter::MouseMove(QPoint point)
{
    if (!dragging_)
        return false;
    HitTest(point);
    const bool leftGrid = point.x() <= 250 || point.x() > 920;
    const bool leftBand = wholeColumn_ ? (point.y() < 103 || point.y() >= 130) : (point.y() <= 128 || point.y() > 318);
    if (leftGrid || leftBand) {
        dragging_ = false;
        return false;
    }
    return PaintStep();
}

bool SchedulePainter::MouseUp(QPoint point)
{
    bool changed = false;
    if (dragging_ && (InHeaderBand(point) || InDayArea(point))) {
        HitTest(point);
        changed = PaintStep();
    }
    dragging_ = false;
    return changed;
}

bool SchedulePainter::PaintStep()
{
    if (!grids_ || channel_ < 0 || channel_ >= static_cast<int>(grids_->size()))
        return false;
    setup::ChannelSchedule& grid = (*grids_)[channel_];
    const auto value = static_cast<int16_t>(brush_);
    if (wholeColumn_) {
        bool changed = false;
        for (int r = 0; r < setup::kScheduleRows; ++r) {
            changed = changed || grid[r][column_] != value;
            grid[r][column_] = value;
        }
        return changed;
    }
    // A set every-day cell locks the hour's day cells.
    if (grid[0][column_] != 0 || grid[row_][column_] == value)
        return false;
    grid[row_][column_] = value;
    return true;
}

void SchedulePainter::ApplyToAll(int count)
{
    if (!grids_ || channel_ < 0 || channel_ >= static_cast<int>(grids_->size()))
        return;
    const setup::ChannelSchedule source = (*grids_)[channel_];
    for (int k = 0; k < count && k < static_cast<int>(grids_->size()); ++k)
        (*grids_)[k] = source;
}

QRect SchedulePainter::CellRect(int row, int hour)
{
    return QRect(252 + 28 * hour, 105 + 27 * row, 27, 26);
}

QColor SchedulePainter::CellColour(int value, bool local)
{
    if (!KnownValue(value, local))
        return QColor(160, 160, 160);
    switch (value) {
    case 1: return QColor(255, 204, 0);
    case 2: return QColor(217, 0, 0);
    case 3: return QColor(131, 241, 0);
    case 4: return QColor(237, 102, 255);
    default: return QColor(239, 241, 219);
    }
}

bool SchedulePainter::ChannelHasUnknownValues(bool local) const
{
    if (!grids_ || channel_ < 0 || channel_ >= static_cast<int>(grids_->size()))
        return false;
    for (const auto& row : (*grids_)[channel_])
        for (int16_t value : row)
            if (!KnownValue(value, local))
                return true;
    return false;
}

void SchedulePainter::Draw(QPainter& painter, const QImage& background, bool local) const
{
    if (!background.isNull())
        painter.drawImage(QRect(kBackgroundAt, kBackgroundSize), background);
    if (!grids_ || channel_ < 0 || channel_ >= static_cast<int>(grids_->size()))
        return;
    const setup::ChannelSchedule& grid = (*grids_)[channel_];
    for (int r = 0; r < setup::kScheduleRows; ++r)
        for (int h = 0; h < setup::kScheduleHours; ++h)
            if (grid[r][h] != 0) {
                const QColor colour = CellColour(grid[r][h], local);
                painter.setPen(colour);
                painter.setBrush(colour);
                painter.drawRect(CellRect(r, h).adjusted(0, 0, -1, -1));
            }
}
