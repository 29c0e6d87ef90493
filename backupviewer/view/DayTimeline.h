#pragma once
// The day timeline: one row per channel, 48 half-hour boxes coloured by the
// kind of recording, drawn across the bottom of the view.
#include <QRect>
#include <QSize>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ctime>
#include <optional>

class QPainter;

namespace backupviewer {

inline constexpr int kSlotsPerDay = 48;
inline constexpr int kDayRows = 64;
inline constexpr std::size_t kDayBlockSize = 4 + kDayRows * kSlotsPerDay;
static_assert(kDayBlockSize == 3076, "day time list size");

// Recording codes of the day block; kCodeSelected is painted, never stored.
enum RecordingCode : uint8_t {
    kCodeNetwork = 19,
    kCodeSensor = 20,
    kCodeMotion = 21,
    kCodeSchedule = 22,
    kCodeManual = 23,
    kCodeSelected = 24,
};

// A day block as the control hands it over, copied whole.
struct DayBlock {
    std::array<uint8_t, kDayBlockSize> bytes{};
    uint8_t Code(int row, int slot) const
    {
        return row >= 0 && row < kDayRows && slot >= 0 && slot < kSlotsPerDay ? bytes[4 + row * kSlotsPerDay + slot] : 0;
    }
};

// The Windows colour value (0x00BBGGRR) a code is painted in.
uint32_t CodeColour(int code);

// Row counts come from the DVR with its month answer: at least one channel
// row is shown, and no more than the block holds.
int ClampRowCount(int rowCount);
// At most 16 channel rows show at once; more scroll, as the local search's
// 16 of 64 do.
inline constexpr int kMaxShownRows = 16;
inline int ShownRowCount(int rowCount) { return std::min(ClampRowCount(rowCount) - 1, kMaxShownRows); }
// Local mode always scrolls; a DVR only when it has more rows than show.
inline bool TimelineScrolls(int rowCount, bool localMode)
{
    return localMode || ClampRowCount(rowCount) - 1 > kMaxShownRows;
}
// The last scroll position: local mode reaches channel 64 whatever R is.
inline int LastScrollRow(int rowCount, bool localMode)
{
    return localMode ? kDayRows - kMaxShownRows : std::max(0, ClampRowCount(rowCount) - 1 - kMaxShownRows);
}
// Height of the bottom area while the timeline shows.
inline int TimelineHeight(int rowCount) { return (ShownRowCount(rowCount) + 1) * 15 + 33; }

struct TimelineGeometry {
    int slotWidth = 0;
    int x0 = 0;           // left edge of slot 0
    int firstRowTop = 0;  // top of the first shown row
    int rowCount = 17;    // R: rows 0..R-1 are tested for recordings
    int shownRows = 16;   // R - 1, at most 16
    int clientWidth = 0;
    int clientHeight = 0;
    int rightMargin = 16;
    bool localMode = true;
    bool scrolls = true;  // the row scroll bar is beside the rows

    QRect Box(int shownRow, int slot) const;
    int ShownRows() const { return shownRows; }
    // Where the row scroll bar sits when the rows scroll.
    QRect ScrollBarRect() const;
};

TimelineGeometry ComputeTimelineGeometry(const QSize& client, int leftMargin, int rightMargin, int rowCount,
                                         bool localMode);

// The slot under `point`, or -1.
int HitTestSlot(const TimelineGeometry& geometry, const QPoint& point);

// Any of rows 0..R-1 holds a recording in `slot`, whatever the scroll.
bool SlotHasRecordings(const DayBlock& block, int rowCount, int slot);

// Local time of `slot` on the day of `chosenDay` (a local midnight);
// nothing when it is not a time the control can be given.
std::optional<std::time_t> SlotTime(std::time_t chosenDay, int slot);

// Local midnight of a date; nothing for a year below 1900, a month outside
// 1..12, a day outside 1..31 or a time outside 0..2^31-1 seconds.
std::optional<std::time_t> LocalMidnight(int year, int month, int day);
// The same range test for any local time value.
bool FitsControlTime(std::time_t t);

// Draws the timeline: the rows from channel `scrollRow`, the labels, the
// legend; `selectedSlot` is painted in the selection colour.
void PaintTimeline(QPainter& painter, const TimelineGeometry& geometry, const DayBlock* block, int scrollRow,
                   int selectedSlot);

} // namespace backupviewer
