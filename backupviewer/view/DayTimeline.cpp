#include "DayTimeline.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <climits>

namespace backupviewer {

namespace {

constexpr int kRowPitch = 15;
constexpr int kBoxHeight = 14;
constexpr int kHitHeight = 18;
constexpr uint32_t kLabelColour = 0x793A0F;

QColor FromColorRef(uint32_t c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

} // namespace

uint32_t CodeColour(int code)
{
    switch (code) {
    case kCodeNetwork: return 0xFCA164;
    case kCodeSensor: return 0x00FF99;
    case kCodeMotion: return 0x00CCFF;
    case kCodeSchedule: return 0xFF00FF;
    case kCodeManual: return 0x0000FF;
    case kCodeSelected: return 0xC8BFB9;
    default: return 0xFFFFFF;
    }
}

int ClampRowCount(int rowCount) { return std::clamp(rowCount, 2, kDayRows + 1); }

QRect TimelineGeometry::Box(int shownRow, int slot) const
{
    const int left = x0 + slot * slotWidth;
    const int top = firstRowTop + kRowPitch * shownRow;
    return QRect(QPoint(left, top), QPoint(left + slotWidth - 1, top + kBoxHeight));
}

QRect TimelineGeometry::ScrollBarRect() const
{
    return QRect(x0 + kSlotsPerDay * slotWidth, firstRowTop - 1, 15, 240);
}

TimelineGeometry ComputeTimelineGeometry(const QSize& client, int leftMargin, int rightMargin, int rowCount,
                                         bool localMode)
{
    TimelineGeometry g;
    g.rowCount = ClampRowCount(rowCount);
    g.shownRows = ShownRowCount(rowCount);
    g.clientWidth = client.width();
    g.clientHeight = client.height();
    g.rightMargin = rightMargin;
    g.localMode = localMode;
    g.scrolls = TimelineScrolls(rowCount, localMode);
    // The scroll bar takes its room from the columns.
    const int usable = std::max(0, client.width() - rightMargin - leftMargin - (g.scrolls ? 49 : 38));
    g.slotWidth = usable / kSlotsPerDay;
    g.x0 = (usable % kSlotsPerDay) / 2 + 230;
    g.firstRowTop = client.height() - kRowPitch * (g.shownRows + 1) - 15;
    return g;
}

int HitTestSlot(const TimelineGeometry& g, const QPoint& point)
{
    if (g.slotWidth <= 0)
        return -1;
    for (int k = 0; k < g.ShownRows(); ++k) {
        const int top = g.firstRowTop - 1 + kRowPitch * k;
        if (point.y() < top || point.y() > top + kHitHeight)
            continue;
        for (int s = 0; s < kSlotsPerDay; ++s) {
            const int left = g.x0 + s * g.slotWidth;
            if (point.x() >= left && point.x() <= left + g.slotWidth - 1)
                return s;
        }
    }
    return -1;
}

bool SlotHasRecordings(const DayBlock& block, int rowCount, int slot)
{
    const int rows = std::min(ClampRowCount(rowCount), kDayRows);
    for (int r = 0; r < rows; ++r) {
        const uint8_t code = block.Code(r, slot);
        if (code >= kCodeNetwork && code <= kCodeManual)
            return true;
    }
    return false;
}

bool FitsControlTime(std::time_t t) { return t >= 0 && t <= std::time_t(INT32_MAX); }

std::optional<std::time_t> LocalMidnight(int year, int month, int day)
{
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == std::time_t(-1) || !FitsControlTime(t))
        return std::nullopt;
    return t;
}

std::optional<std::time_t> SlotTime(std::time_t chosenDay, int slot)
{
    if (slot < 0 || slot >= kSlotsPerDay)
        return std::nullopt;
    std::tm tm{};
    localtime_r(&chosenDay, &tm);
    tm.tm_hour = slot / 2;
    tm.tm_min = slot % 2 ? 30 : 0;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == std::time_t(-1) || !FitsControlTime(t))
        return std::nullopt;
    return t;
}

void PaintTimeline(QPainter& p, const TimelineGeometry& g, const DayBlock* block, int scrollRow, int selectedSlot)
{
    if (g.slotWidth <= 0)
        return;
    QFont font("Tahoma");
    font.setPixelSize(10);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    const QColor black(Qt::black);
    const QColor label = FromColorRef(kLabelColour);
    const int right = g.clientWidth - g.rightMargin;

    for (int k = 0; k < g.ShownRows(); ++k) {
        const int channel = scrollRow + k;
        const QRect first = g.Box(k, 0);
        p.fillRect(QRect(QPoint(185, first.top()), QPoint(g.x0 - 1, first.bottom())), black);
        p.setPen(label);
        p.drawText(QRect(g.x0 - 32 - 10, first.top(), 42, kBoxHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::asprintf("CH %02d", channel + 1));
        for (int s = 0; s < kSlotsPerDay; ++s) {
            // Channels past the block show no recording.
            const int code = s == selectedSlot ? kCodeSelected
                                               : (block && channel < kDayRows ? block->Code(channel, s) : 0);
            const QRect box = g.Box(k, s);
            p.fillRect(box, black);
            p.fillRect(box.adjusted(1, 1, -1, -1), FromColorRef(CodeColour(code)));
        }
        if (k == 0) {
            const int end = g.x0 + kSlotsPerDay * g.slotWidth;
            if (end < right)
                p.fillRect(QRect(QPoint(end, first.top()), QPoint(right - 1, first.bottom())), black);
        }
    }
    // Hours above the first row.
    const int hourTop = g.firstRowTop - 18;
    for (int s = 0; s < kSlotsPerDay; s += 2) {
        const QRect band(g.x0 + s * g.slotWidth, hourTop, 2 * g.slotWidth, 18);
        p.fillRect(band, black);
        p.setPen(label);
        p.drawText(band.adjusted(0, 0, 0, -3), Qt::AlignLeft | Qt::AlignBottom, QString::number(s / 2));
    }
    // Legend.
    const int legendTop = g.clientHeight - 21;
    p.fillRect(QRect(QPoint(g.x0, legendTop), QPoint(right - 1, g.clientHeight - 7)), black);
    static const char* const words[5] = {"   NETWORK", "   SENSOR", "   MOTION", "   SCHEDULE", "   MANUAL"};
    for (int i = 0; i < 5; ++i) {
        const QRect box(QPoint(g.x0 + 5 * i * g.slotWidth, legendTop), QPoint(g.x0 + (5 * i + 1) * g.slotWidth - 1, g.clientHeight - 7));
        p.fillRect(box, FromColorRef(CodeColour(kCodeNetwork + i)));
        p.setPen(label);
        p.drawText(QRect(box.right() + 1, legendTop, 4 * g.slotWidth, 14), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromLatin1(words[i]));
    }
}

} // namespace backupviewer
