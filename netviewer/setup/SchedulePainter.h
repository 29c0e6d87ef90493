#pragma once
// The weekly schedule painter: 8 day rows by 24 hours of one channel, painted
// with the mouse over "schedule.bmp". Row 0 is the every-day row: painting
// it paints the whole hour, and while it is set that hour's day cells are
// locked. Coordinates are the dialog's client pixels.
#include "SetupFields.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

#include <vector>

class QPainter;

class SchedulePainter {
public:
    static constexpr int kLeft = 251;
    static constexpr int kTop = 104;
    static constexpr int kColumnWidth = 28;
    static constexpr int kRowHeight = 27;
    static constexpr QPoint kBackgroundAt{209, 80};
    static constexpr QSize kBackgroundSize{715, 242};

    // The grid painted: one 8 x 24 schedule per channel.
    void SetGrids(std::vector<setup::ChannelSchedule>* grids) { grids_ = grids; }
    void SetChannel(int channel) { channel_ = channel; }
    int Channel() const { return channel_; }
    void SetBrush(int brush) { brush_ = brush; }
    int Brush() const { return brush_; }
    bool Dragging() const { return dragging_; }

    // Mouse handling; true when a cell changed.
    void MouseDown(QPoint point);
    bool MouseMove(QPoint point);
    bool MouseUp(QPoint point);

    // Hit column and row after the last mouse event.
    int HitColumn() const { return column_; }
    int HitRow() const { return row_; }
    // Copies the channel's 8 x 24 cells to channels 0..count-1.
    void ApplyToAll(int count);

    static QRect CellRect(int row, int hour);
    // A value no brush paints (the local grid knows only 1) is drawn grey,
    // light against the backdrop's dark cells and unlike every brush, so that
    // a grid that looks empty never hides set or locked hours.
    static QColor CellColour(int value, bool local = false);
    static bool KnownValue(int value, bool local) { return value >= 0 && value <= (local ? 1 : 4); }
    bool ChannelHasUnknownValues(bool local) const;
    // Background and every non-zero cell of the channel.
    void Draw(QPainter& painter, const QImage& background, bool local) const;

private:
    void HitTest(QPoint point);
    bool PaintStep();
    static bool InHeaderBand(QPoint p) { return p.x() >= 251 && p.x() < 927 && p.y() >= 103 && p.y() < 130; }
    static bool InDayArea(QPoint p) { return p.x() >= 251 && p.x() < 927 && p.y() >= 130 && p.y() < 319; }

    std::vector<setup::ChannelSchedule>* grids_ = nullptr;
    int channel_ = 1;
    int brush_ = 0;
    int column_ = 0;
    int row_ = 0;
    bool dragging_ = false;
    bool wholeColumn_ = false;
};
