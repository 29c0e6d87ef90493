#include "SkinBitmaps.h"

#include "viewercore/skinart/SkinTheme.h"

#include <QPainter>
#include <QPainterPath>

using namespace skin;

namespace {

// Top of a viewer's left column: the program's name over the spot where the
// hand-over, tool and tab buttons sit, and the head of the tree's frame.
void LeftColumnTop(QPainter& p, const QRect& r, const QString& title, int activeTab)
{
    Panel(p, r);
    LensMark(p, QPointF(22, 19), 11);
    Caption(p, QRect(38, 4, r.width() - 42, 30), title, 14, kCaption, Qt::AlignLeft | Qt::AlignVCenter, true);
    AccentLine(p, 8, 36, r.width() - 9);
    if (activeTab >= 0) {
        const int x = activeTab == 0 ? 11 : 95;
        p.fillRect(QRect(x, 148, 80, 3), kAccent);
    }
    // The tree's frame starts at the bottom edge.
    Well(p, QRect(15, r.height() - 3, r.width() - 30, 4));
}

void LeftEdge(QPainter& p, const QRect& r, bool innerOnRight)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
    p.setPen(kEdgeLight);
    p.drawLine(0, 0, 0, r.height() - 1);
    p.setPen(kEdgeDark);
    const int inner = innerOnRight ? r.width() - 1 : 0;
    p.drawLine(inner, 0, inner, r.height() - 1);
}

void LeftColumnBottom(QPainter& p, const QRect& r)
{
    Panel(p, r);
    Well(p, QRect(15, -1, r.width() - 30, 4));
    Caption(p, QRect(17, 4, r.width() - 34, 14), QStringLiteral("Add device / Save group"), 9, kDimCaption,
            Qt::AlignLeft | Qt::AlignVCenter);
}

void PanelButtonsBase(QPainter& p, const QRect& r, const std::vector<int>& buttonRows)
{
    Panel(p, r);
    for (int y : buttonRows)
        Well(p, QRect(10, y - 1, 166, 26));
}

void PtzPanel(QPainter& p, const QRect& r)
{
    PanelButtonsBase(p, r, {4, r.height() - 60, r.height() - 30});
    Caption(p, QRect(14, 31, 64, 12), QStringLiteral("ZOOM"), 9, kDimCaption);
    Caption(p, QRect(14, 78, 64, 12), QStringLiteral("FOCUS"), 9, kDimCaption);
    Well(p, QRect(15, 43, 62, 28));
    Well(p, QRect(15, 90, 62, 28));
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kEdgeLight, 1.5));
    p.setBrush(kWell);
    p.drawEllipse(QPointF(124.5, 76), 46, 44);
    p.setPen(QPen(kAccent, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(124.5, 76), 8, 8);
    p.restore();
    Caption(p, QRect(14, 124, 74, 15), QStringLiteral("PT SPEED"), 9, kDimCaption, Qt::AlignRight | Qt::AlignVCenter);
}

void PresetPanel(QPainter& p, const QRect& r)
{
    PanelButtonsBase(p, r, {4, 33, r.height() - 30});
    Caption(p, QRect(20, 50, 150, 13), QStringLiteral("PRESET No. (1 - 10)"), 9, kDimCaption,
            Qt::AlignLeft | Qt::AlignVCenter);
    Well(p, QRect(18, 63, 115, 28));
    Well(p, QRect(17, 93, 152, 27));
}

void AudioPanel(QPainter& p, const QRect& r)
{
    PanelButtonsBase(p, r, {4, 33, 62});
    Caption(p, QRect(8, 119, 48, 12), QStringLiteral("LISTEN"), 9, kDimCaption);
    Caption(p, QRect(60, 85, 110, 12), QStringLiteral("SPEAKER"), 9, kDimCaption, Qt::AlignLeft | Qt::AlignVCenter);
    Caption(p, QRect(60, 115, 110, 12), QStringLiteral("MICROPHONE"), 9, kDimCaption,
            Qt::AlignLeft | Qt::AlignVCenter);
}

void Band(QPainter& p, const QRect& r)
{
    FillVertical(p, r, kBandTop, kBandBottom);
}

// Bottom strip behind the record/capture buttons and the layout buttons.
void BottomStrip(QPainter& p, const QRect& r, int firstButtonX, int layoutX, const QString& caption)
{
    Band(p, r);
    p.setPen(kEdgeLight);
    p.drawLine(0, 0, r.width() - 1, 0);
    Well(p, QRect(firstButtonX - 3, 9, 3 * 37 + 1, 30));
    Caption(p, QRect(firstButtonX - 3, 41, 3 * 37 + 1, 12), caption, 8, kDimCaption);
    Caption(p, QRect(layoutX, 45, 9 * 53 - 5, 10), QStringLiteral("SCREEN LAYOUT"), 8, kDimCaption);
}

void TopBand(QPainter& p, const QRect& r, const QString& title)
{
    Band(p, r);
    AccentLine(p, 0, r.height() - 3, r.width() - 1);
    if (!title.isEmpty())
        Caption(p, QRect(14, 0, r.width() - 28, r.height() - 4), title, 16, kCaption,
                Qt::AlignLeft | Qt::AlignVCenter, true);
}

void Timeline(QPainter& p, const QRect& r, const QString& caption)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
    p.setPen(kEdgeLight);
    p.drawLine(0, 0, r.width() - 1, 0);
    if (!caption.isEmpty())
        Caption(p, r.adjusted(6, 0, -4, 0), caption, 11, kCaption, Qt::AlignLeft | Qt::AlignVCenter, true);
}

void EventTop(QPainter& p, const QRect& r)
{
    Band(p, r);
    Caption(p, QRect(12, 34, 390, 16), QStringLiteral("Monitor and search DVR events"), 10, kDimCaption,
            Qt::AlignLeft | Qt::AlignVCenter);
    AccentLine(p, 0, r.height() - 2, r.width() - 1);
}

void EventTopRight(QPainter& p, const QRect& r)
{
    Band(p, r);
    LensMark(p, QPointF(r.width() - 22, 24), 12);
    Caption(p, QRect(4, 10, r.width() - 42, 28), QStringLiteral("Event\nViewer"), 11, kCaption,
            Qt::AlignRight | Qt::AlignVCenter, true);
    AccentLine(p, 0, r.height() - 2, r.width() - 1);
}

void EventTopStretch(QPainter& p, const QRect& r)
{
    Band(p, r);
    AccentLine(p, 0, r.height() - 2, r.width() - 1);
}

// The schedule grid's backdrop: day names on the left, hours across the
// every-day row; cells are 28 x 27 apart from (43, 25).
void Schedule(QPainter& p, const QRect& r)
{
    constexpr int kLeft = 43;
    constexpr int kTop = 25;
    constexpr int kColumn = 28;
    constexpr int kRow = 27;
    Panel(p, r);
    Caption(p, QRect(kLeft, 4, 24 * kColumn, 18), QStringLiteral("Hour"), 11, kDimCaption);
    static const char* const kRows[8] = {"Daily", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int row = 0; row < 8; ++row) {
        const QRect label(2, kTop + row * kRow, kLeft - 5, 26);
        Caption(p, label, QString::fromLatin1(kRows[row]), 10, row == 0 ? kAccent : kCaption,
                Qt::AlignRight | Qt::AlignVCenter, row == 0);
        for (int hour = 0; hour < 24; ++hour) {
            const QRect cell(kLeft + hour * kColumn, kTop + row * kRow, 27, 26);
            p.fillRect(cell, row == 0 ? QColor(18, 40, 72) : kWell);
            p.setPen(kEdgeLight);
            p.drawRect(cell.adjusted(0, 0, -1, -1));
            if (row == 0)
                Caption(p, cell, QString::number(hour), 10, kCaption);
        }
    }
}

// Backup viewer's lower-left panel: sound and volume, then the playback row.
void PlaybackPanel(QPainter& p, const QRect& r)
{
    Panel(p, r);
    Well(p, QRect(14, 6, 160, 28));
    Well(p, QRect(15, 33, 158, 28));
    Caption(p, QRect(15, 64, 158, 14), QStringLiteral("PLAYBACK"), 9, kDimCaption);
}

void Plain(QPainter& p, const QRect& r)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
}

} // namespace

const std::vector<SkinBitmap>& SkinBitmaps()
{
    static const std::vector<SkinBitmap> bitmaps = {
        // Network viewer.
        {"left_top.bmp", 186, 154, [](QPainter& p, const QRect& r) { LeftColumnTop(p, r, "Network Viewer", 0); }},
        {"left_top_group.bmp", 186, 154,
         [](QPainter& p, const QRect& r) { LeftColumnTop(p, r, "Network Viewer", 1); }},
        {"left_left.bmp", 16, 20, [](QPainter& p, const QRect& r) { LeftEdge(p, r, true); }},
        {"left_right.bmp", 16, 20, [](QPainter& p, const QRect& r) { LeftEdge(p, r, false); }},
        {"left_buttom.bmp", 185, 54, LeftColumnBottom},
        {"ptzcontrol.bmp", 186, 207, PtzPanel},
        {"preset.bmp", 186, 163, PresetPanel},
        {"none.bmp", 186, 92, [](QPainter& p, const QRect& r) { PanelButtonsBase(p, r, {4, 33, 62}); }},
        {"audio.bmp", 186, 163, AudioPanel},
        {"top_stretch.bmp", 9, 50, Band},
        {"bottom_right.bmp", 646, 55, [](QPainter& p, const QRect& r) { BottomStrip(p, r, 16, 146, "RECORD / CAPTURE"); }},
        // DVR remote setup.
        {"schedule.bmp", 715, 242, Schedule},
        // Backup viewer.
        {"left_top_bv.bmp", 185, 153, [](QPainter& p, const QRect& r) { LeftColumnTop(p, r, "Backup Viewer", -1); }},
        {"none_bv.bmp", 185, 103, PlaybackPanel},
        {"top_bv.bmp", 730, 50, [](QPainter& p, const QRect& r) { TopBand(p, r, QString()); }},
        {"right_top.bmp", 16, 60, Band},
        {"bottom_right_bv.bmp", 643, 55, [](QPainter& p, const QRect& r) { BottomStrip(p, r, 13, 143, "RECORD / BACKUP"); }},
        {"timeline_left.bmp", 100, 40, [](QPainter& p, const QRect& r) { Timeline(p, r, "Timeline"); }},
        {"timeline_stretch.bmp", 30, 40, [](QPainter& p, const QRect& r) { Timeline(p, r, QString()); }},
        {"timeline_right.bmp", 30, 40, [](QPainter& p, const QRect& r) { Timeline(p, r, QString()); }},
        // Event viewer.
        {"top_event.bmp", 414, 76, EventTop},
        {"top_stretch_event.bmp", 18, 76, EventTopStretch},
        {"top_right_event.bmp", 136, 76, EventTopRight},
        {"event_right_stretch.bmp", 5, 3, Plain},
        {"event_bottom_stretch.bmp", 4, 12, Plain},
    };
    return bitmaps;
}

QImage RenderSkinBitmap(const SkinBitmap& bitmap)
{
    QImage image = NewBitmap(bitmap.width, bitmap.height);
    QPainter painter(&image);
    bitmap.draw(painter, image.rect());
    painter.end();
    return image;
}
