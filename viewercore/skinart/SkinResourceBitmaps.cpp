#include "SkinResourceBitmaps.h"

#include "SkinIcons.h"
#include "SkinTheme.h"

#include <QLinearGradient>
#include <QPainterPath>

#include <algorithm>
#include <set>

using namespace skin;

namespace {

// ---- Button faces -------------------------------------------------------------

Ink InkOf(bool lit)
{
    if (lit)
        return {QColor(250, 252, 255), QColor(130, 200, 255), QColor(6, 20, 44), true};
    return {QColor(196, 216, 242), QColor(96, 150, 210), QColor(8, 18, 34), false};
}

// The face's outline is drawn without smoothing: the pixels outside it keep
// the transparent colour exactly, or the colour key would leave a fringe.
void ButtonFace(QPainter& p, const QRect& r, bool lit)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    const int radius = std::min(r.width(), r.height()) >= 30 ? 4 : 3;
    QLinearGradient body(r.topLeft(), r.bottomLeft());
    body.setColorAt(0.0, lit ? QColor(50, 104, 166) : QColor(34, 62, 100));
    body.setColorAt(1.0, lit ? QColor(20, 54, 100) : QColor(14, 30, 56));
    p.setPen(lit ? kAccent : kEdgeLight);
    p.setBrush(body);
    p.drawRoundedRect(r.adjusted(0, 0, -1, -1), radius, radius);
    p.setPen(lit ? QColor(130, 196, 255) : QColor(60, 96, 140));
    p.drawLine(r.left() + radius, r.top() + 1, r.right() - radius, r.top() + 1);
    p.restore();
}

using FaceArt = std::function<void(QPainter&, const QRect&, const Ink&)>;

void AddButton(std::vector<ResourceArt>& list, int inId, int outId, const FaceArt& art)
{
    list.push_back({inId, [art](QPainter& p, const QRect& r) {
                        ButtonFace(p, r, true);
                        art(p, r, InkOf(true));
                    }});
    list.push_back({outId, [art](QPainter& p, const QRect& r) {
                        ButtonFace(p, r, false);
                        art(p, r, InkOf(false));
                    }});
}

using IconDraw = std::function<void(QPainter&, const QRectF&, const Ink&)>;

// An icon centred on the face.
FaceArt IconOnly(const IconDraw& icon, double width, double height)
{
    return [icon, width, height](QPainter& p, const QRect& r, const Ink& ink) {
        icon(p, Centred(QRectF(r), width, height), ink);
    };
}

// A small icon at the left and a caption filling the rest: the long buttons.
FaceArt IconAndCaption(const IconDraw& icon, const QString& text, int pixelSize = 10, bool goArrow = false)
{
    return [icon, text, pixelSize, goArrow](QPainter& p, const QRect& r, const Ink& ink) {
        const double iconSize = std::min(16, r.height() - 6);
        icon(p, QRectF(6, (r.height() - iconSize) / 2.0, iconSize, iconSize), ink);
        const int right = goArrow ? r.width() - 16 : r.width() - 4;
        Caption(p, QRect(8 + static_cast<int>(iconSize), 0, right - 8 - static_cast<int>(iconSize), r.height()), text,
                pixelSize, ink.line, Qt::AlignCenter, true);
        if (goArrow) {
            // "Go to": a double chevron at the right end.
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(ink.lit ? ink.line : ink.tile, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            const double cy = r.height() / 2.0;
            for (double x : {r.width() - 14.0, r.width() - 9.5})
                p.drawPolyline(QPolygonF({QPointF(x, cy - 3.5), QPointF(x + 3.5, cy), QPointF(x, cy + 3.5)}));
            p.restore();
        }
    };
}

FaceArt CaptionOnly(const QString& text, int pixelSize)
{
    return [text, pixelSize](QPainter& p, const QRect& r, const Ink& ink) {
        Caption(p, r, text, pixelSize, ink.line, Qt::AlignCenter, true);
    };
}

// A split-mode button: the layout as a wall of monitors over its cell count.
FaceArt SplitButton(int cells)
{
    return [cells](QPainter& p, const QRect& r, const Ink& ink) {
        IconSplitGrid(p, QRectF(9, 5, r.width() - 18, 21), cells, ink);
        Caption(p, QRect(0, 26, r.width(), 10), QString::number(cells), 9, ink.line, Qt::AlignCenter, true);
    };
}

FaceArt WideIconButton(const IconDraw& icon, const QString& caption)
{
    return [icon, caption](QPainter& p, const QRect& r, const Ink& ink) {
        icon(p, QRectF(9, 4, r.width() - 18, 22), ink);
        Caption(p, QRect(0, 26, r.width(), 10), caption, 9, ink.line, Qt::AlignCenter, true);
    };
}

IconDraw Magnifier(int sign)
{
    return [sign](QPainter& p, const QRectF& box, const Ink& ink) { IconMagnifier(p, box, sign, ink); };
}

// A device with a green "+": the add buttons.
FaceArt AddDevice(const IconDraw& device, const QRectF& box)
{
    return [device, box](QPainter& p, const QRect& r, const Ink& ink) {
        device(p, box, ink);
        IconPlusBadge(p, QPointF(r.width() - 9.5, r.height() - 8.5), 5.0);
    };
}

FaceArt SetupButton(const IconDraw& device, const QRectF& box)
{
    return [device, box](QPainter& p, const QRect& r, const Ink& ink) {
        device(p, box, ink);
        IconGear(p, QPointF(r.width() - 10.5, r.height() - 8.5), 6.0, ink);
    };
}

void Dvr(QPainter& p, const QRectF& box, const Ink& ink) { IconDvr(p, box, ink); }

// ---- Other viewer bitmaps -----------------------------------------------------

void Tab(QPainter& p, const QRect& r, bool active, bool groupTab)
{
    ButtonFace(p, r, active);
    const Ink ink = InkOf(active);
    if (groupTab)
        IconSplitGrid(p, QRectF(8, 6, 14, 11), 4, ink);
    else
        IconDvr(p, QRectF(6, 7, 18, 9), ink);
    Caption(p, QRect(24, 0, r.width() - 28, r.height()), groupTab ? QStringLiteral("GROUP") : QStringLiteral("DEVICE"),
            10, active ? ink.line : kDimCaption, Qt::AlignCenter, true);
}

// Brush swatches of the schedule painter, in the colours the grid paints.
void Swatch(QPainter& p, const QRect& r, const QColor& colour, bool clear)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(40, 40, 40));
    p.setBrush(clear ? kWell : colour);
    p.drawRoundedRect(r.adjusted(0, 0, -1, -1), 2, 2);
    if (clear) {
        p.setPen(kDimCaption);
        p.drawLine(r.left() + 3, r.bottom() - 3, r.right() - 3, r.top() + 3);
    } else {
        p.setPen(colour.lighter(130));
        p.drawLine(r.left() + 2, r.top() + 1, r.right() - 2, r.top() + 1);
    }
    p.restore();
}

void SliderChannel(QPainter& p, const QRect& r)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
    const QRect groove(2, r.height() / 2 - 2, r.width() - 4, 5);
    Well(p, groove);
    p.setPen(QColor(40, 90, 150));
    p.drawLine(groove.left() + 2, groove.center().y(), groove.right() - 2, groove.center().y());
    p.setPen(kEdgeLight);
    const int ticks = std::max(2, r.width() / 16);
    for (int i = 0; i <= ticks; ++i) {
        const int x = 5 + i * (r.width() - 11) / ticks;
        p.drawLine(x, r.height() - 3, x, r.height() - 2);
    }
}

// The thumb's corners stay in its transparent colour, which is also its
// top-left pixel: the slider takes its key from there.
void SliderThumb(QPainter& p, const QRect& r)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    QLinearGradient body(r.topLeft(), r.topRight());
    body.setColorAt(0.0, QColor(214, 232, 252));
    body.setColorAt(1.0, QColor(104, 146, 196));
    p.setPen(kEdgeDark);
    p.setBrush(body);
    p.drawRoundedRect(r.adjusted(0, 0, -1, -1), 3, 3);
    p.setPen(QColor(40, 70, 110));
    for (int y : {5, 7, 9})
        p.drawLine(3, y, r.width() - 4, y);
    p.restore();
}

void ScrollArea(QPainter& p, const QRect& r)
{
    Well(p, r);
    p.setPen(QColor(24, 48, 80));
    p.drawLine(r.width() / 2, 3, r.width() / 2, r.height() - 4);
}

// The calendar's day grid: weekday names over 7 columns of 53 pixels and six
// rows of 28, where the dialog paints the days.
void CalendarBackground(QPainter& p, const QRect& r)
{
    Panel(p, r);
    static const char* const kDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    for (int column = 0; column < 7; ++column) {
        const QColor colour = column == 0 ? QColor(255, 150, 150) : column == 6 ? QColor(153, 203, 255) : kCaption;
        Caption(p, QRect(4 + 53 * column, 2, 50, 17), QString::fromLatin1(kDays[column]), 11, colour, Qt::AlignCenter,
                true);
        for (int row = 0; row < 6; ++row)
            Well(p, QRect(3 + 53 * column, 20 + 28 * row, 52, 28));
    }
}

void AddTreeImages(std::vector<ResourceArt>& list, int id, bool groupList)
{
    list.push_back({id, [groupList](QPainter& p, const QRect&) {
                        const auto cell = [](int index) {
                            return QRect(index * kTreeImageWidth, 0, kTreeImageWidth, kTreeImageHeight);
                        };
                        TreeImageDvr(p, cell(kTreeImageDvr));
                        TreeImageIpCamera(p, cell(kTreeImageIpCamera));
                        TreeImageVideoServer(p, cell(kTreeImageVideoServer));
                        if (groupList)
                            TreeImageGroup(p, cell(kTreeImageChannelOrGroup));
                        else
                            TreeImageChannel(p, cell(kTreeImageChannelOrGroup));
                    }});
}

// ---- Movie player frame -------------------------------------------------------
// The video grid starts at y 54 and x 12 and ends 51 pixels above the bottom.

void PlayerTop(QPainter& p, const QRect& r, bool leftEnd, bool rightEnd)
{
    FillVertical(p, QRect(0, 0, r.width(), 52), kBandTop, kBandBottom);
    AccentLine(p, 0, 52, r.width() - 1);
    p.fillRect(QRect(0, 54, r.width(), 1), kEdgeDark);
    p.setPen(kEdgeLight);
    p.drawLine(0, 0, r.width() - 1, 0);
    if (leftEnd)
        p.drawLine(0, 0, 0, r.height() - 1);
    if (rightEnd) {
        p.setPen(kEdgeDark);
        p.drawLine(r.width() - 1, 0, r.width() - 1, r.height() - 1);
    }
}

// Stretched down: the same in every row.
void PlayerSide(QPainter& p, const QRect& r, bool left)
{
    p.fillRect(r, QColor(20, 42, 72));
    p.setPen(left ? kEdgeLight : kEdgeDark);
    p.drawLine(left ? 0 : r.width() - 1, 0, left ? 0 : r.width() - 1, r.height() - 1);
    p.setPen(kEdgeDark);
    p.drawLine(left ? r.width() - 1 : 0, 0, left ? r.width() - 1 : 0, r.height() - 1);
    if (!left) {
        p.setPen(QColor(44, 76, 116));
        p.drawLine(r.width() - 2, 0, r.width() - 2, r.height() - 1);
    }
}

void PlayerBottom(QPainter& p, const QRect& r, bool leftEnd, bool signature)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
    p.setPen(kEdgeDark);
    p.drawLine(0, 0, r.width() - 1, 0);
    p.drawLine(0, r.height() - 1, r.width() - 1, r.height() - 1);
    p.setPen(kEdgeLight);
    p.drawLine(0, 1, r.width() - 1, 1);
    if (leftEnd)
        p.drawLine(0, 1, 0, r.height() - 1);
    if (signature) {
        p.setPen(kEdgeDark);
        p.drawLine(r.width() - 1, 0, r.width() - 1, r.height() - 1);
        LensMark(p, QPointF(r.width() - 28, 26), 12);
        Caption(p, QRect(8, 8, r.width() - 50, 36), QStringLiteral("ZoPlayer"), 16, kCaption,
                Qt::AlignRight | Qt::AlignVCenter, true);
    }
}

std::vector<ResourceArt> MakeViewerArt()
{
    std::vector<ResourceArt> art;
    AddTreeImages(art, kBitmapDeviceTreeImages, false);
    AddTreeImages(art, kBitmapGroupTreeImages, true);

    art.push_back({kBitmapDeviceTab, [](QPainter& p, const QRect& r) { Tab(p, r, false, false); }});
    art.push_back({kBitmapDeviceTabActive, [](QPainter& p, const QRect& r) { Tab(p, r, true, false); }});
    art.push_back({kBitmapGroupTab, [](QPainter& p, const QRect& r) { Tab(p, r, false, true); }});
    art.push_back({kBitmapGroupTabActive, [](QPainter& p, const QRect& r) { Tab(p, r, true, true); }});

    AddButton(art, kBitmapPtzPanelIn, kBitmapPtzPanelOut, IconAndCaption(IconPtzCross, QStringLiteral("PTZ CONTROL")));
    AddButton(art, kBitmapPresetPanelIn, kBitmapPresetPanelOut, IconAndCaption(IconPresetPin, QStringLiteral("PRESET")));
    AddButton(art, kBitmapAudioPanelIn, kBitmapAudioPanelOut, IconAndCaption(IconSpeaker, QStringLiteral("AUDIO")));

    art.push_back({kBitmapSliderThumb, SliderThumb});
    art.push_back({kBitmapPtSpeedChannel, SliderChannel});
    art.push_back({kBitmapVolumeChannel, SliderChannel});
    art.push_back({kBitmapBackupVolumeChannel, SliderChannel});

    art.push_back({kBitmapBrushClear, [](QPainter& p, const QRect& r) { Swatch(p, r, kWell, true); }});
    art.push_back({kBitmapBrushAlways, [](QPainter& p, const QRect& r) { Swatch(p, r, QColor(255, 204, 0), false); }});
    art.push_back({kBitmapBrushMotion, [](QPainter& p, const QRect& r) { Swatch(p, r, QColor(217, 0, 0), false); }});
    art.push_back({kBitmapBrushSensor, [](QPainter& p, const QRect& r) { Swatch(p, r, QColor(131, 241, 0), false); }});
    art.push_back(
        {kBitmapBrushMotionSensor, [](QPainter& p, const QRect& r) { Swatch(p, r, QColor(237, 102, 255), false); }});

    AddButton(art, kBitmapEventMonitorPageIn, kBitmapEventMonitorPageOut,
              IconAndCaption(IconPulseMonitor, QStringLiteral("EVENT MONITOR")));
    AddButton(art, kBitmapEventSearchPageIn, kBitmapEventSearchPageOut,
              IconAndCaption(Magnifier(0), QStringLiteral("EVENT SEARCH")));

    art.push_back({kBitmapTimelineScrollArea, ScrollArea});
    art.push_back({kBitmapTimelineScrollBack, ScrollArea});
    art.push_back({kBitmapCalendarBackground, CalendarBackground});

    AddButton(art, kBitmapGoToNetworkViewerIn, kBitmapGoToNetworkViewerOut,
              IconAndCaption(IconGlobe, QStringLiteral("NETWORK VIEWER"), 10, true));
    AddButton(art, kBitmapGoToBackupViewerIn, kBitmapGoToBackupViewerOut,
              IconAndCaption(IconReel, QStringLiteral("BACKUP VIEWER"), 10, true));
    AddButton(art, kBitmapGoToEventViewerIn, kBitmapGoToEventViewerOut,
              IconAndCaption(IconBell, QStringLiteral("EVENT VIEWER"), 10, true));

    AddButton(art, kBitmapConnectIn, kBitmapConnectOut,
              IconOnly([](QPainter& p, const QRectF& b, const Ink& i) { IconLink(p, b, false, i); }, 22, 18));
    AddButton(art, kBitmapDisconnectIn, kBitmapDisconnectOut,
              IconOnly([](QPainter& p, const QRectF& b, const Ink& i) { IconLink(p, b, true, i); }, 22, 18));
    AddButton(art, kBitmapLocalSetupIn, kBitmapLocalSetupOut, SetupButton(IconMonitor, QRectF(5, 4, 20, 16)));
    AddButton(art, kBitmapDeviceSetupIn, kBitmapDeviceSetupOut, SetupButton(Dvr, QRectF(4, 5, 22, 9)));

    AddButton(art, kBitmapAddDvrIn, kBitmapAddDvrOut, AddDevice(Dvr, QRectF(4, 5, 21, 9)));
    AddButton(art, kBitmapAddIpCameraIn, kBitmapAddIpCameraOut, AddDevice(IconBulletCamera, QRectF(4, 4, 20, 15)));
    AddButton(art, kBitmapAddVideoServerIn, kBitmapAddVideoServerOut, AddDevice(IconServer, QRectF(6, 3, 14, 18)));
    AddButton(art, kBitmapSaveGroupIn, kBitmapSaveGroupOut, IconOnly(IconFloppy, 16, 16));

    AddButton(art, kBitmapDvrRecordIn, kBitmapDvrRecordOut, [](QPainter& p, const QRect&, const Ink& ink) {
        IconDvr(p, QRectF(3, 9, 19, 9), ink);
        IconRecordDot(p, QPointF(23.5, 8.5), 4.0, ink.lit);
    });
    AddButton(art, kBitmapLocalRecordIn, kBitmapLocalRecordOut, [](QPainter& p, const QRect& r, const Ink& ink) {
        IconRecordDot(p, QPointF(r.width() / 2.0, r.height() / 2.0), 5.5, ink.lit);
    });
    AddButton(art, kBitmapCaptureIn, kBitmapCaptureOut, IconOnly(IconStillCamera, 20, 15));
    AddButton(art, kBitmapBackupIn, kBitmapBackupOut, IconOnly(IconSaveToTray, 18, 16));

    AddButton(art, kBitmapSplit4In, kBitmapSplit4Out, SplitButton(4));
    AddButton(art, kBitmapSplit6In, kBitmapSplit6Out, SplitButton(6));
    AddButton(art, kBitmapSplit9In, kBitmapSplit9Out, SplitButton(9));
    AddButton(art, kBitmapSplit10In, kBitmapSplit10Out, SplitButton(10));
    AddButton(art, kBitmapSplit16In, kBitmapSplit16Out, SplitButton(16));
    AddButton(art, kBitmapSplit36In, kBitmapSplit36Out, SplitButton(36));
    AddButton(art, kBitmapSplit64In, kBitmapSplit64Out, SplitButton(64));
    AddButton(art, kBitmapFullScreenIn, kBitmapFullScreenOut, WideIconButton(IconFullScreen, QStringLiteral("FULL")));
    AddButton(art, kBitmapNextSplitIn, kBitmapNextSplitOut, WideIconButton(IconNextPage, QStringLiteral("NEXT")));

    const auto ptz = [&art](int in, int out, Direction direction) {
        AddButton(art, in, out, [direction](QPainter& p, const QRect& r, const Ink& ink) {
            IconArrow(p, QRectF(r).adjusted(3, 3, -3, -3), direction, ink);
        });
    };
    ptz(kBitmapPtzUpLeftIn, kBitmapPtzUpLeftOut, Direction::UpLeft);
    ptz(kBitmapPtzUpIn, kBitmapPtzUpOut, Direction::Up);
    ptz(kBitmapPtzUpRightIn, kBitmapPtzUpRightOut, Direction::UpRight);
    ptz(kBitmapPtzLeftIn, kBitmapPtzLeftOut, Direction::Left);
    ptz(kBitmapPtzRightIn, kBitmapPtzRightOut, Direction::Right);
    ptz(kBitmapPtzDownLeftIn, kBitmapPtzDownLeftOut, Direction::DownLeft);
    ptz(kBitmapPtzDownIn, kBitmapPtzDownOut, Direction::Down);
    ptz(kBitmapPtzDownRightIn, kBitmapPtzDownRightOut, Direction::DownRight);
    AddButton(art, kBitmapZoomOutIn, kBitmapZoomOutOut, IconOnly(Magnifier(-1), 19, 19));
    AddButton(art, kBitmapZoomInIn, kBitmapZoomInOut, IconOnly(Magnifier(+1), 19, 19));
    AddButton(art, kBitmapFocusFarIn, kBitmapFocusFarOut, IconOnly(IconMountains, 19, 14));
    AddButton(art, kBitmapFocusNearIn, kBitmapFocusNearOut, IconOnly(IconFlower, 18, 18));

    AddButton(art, kBitmapPresetGoIn, kBitmapPresetGoOut, CaptionOnly(QStringLiteral("GO"), 11));
    AddButton(art, kBitmapPresetSetIn, kBitmapPresetSetOut, CaptionOnly(QStringLiteral("SET"), 11));
    AddButton(art, kBitmapPresetClearIn, kBitmapPresetClearOut, CaptionOnly(QStringLiteral("CLEAR"), 11));
    AddButton(art, kBitmapListenIn, kBitmapListenOut, IconOnly(IconSpeaker, 18, 15));

    AddButton(art, kBitmapSearchDvrIn, kBitmapSearchDvrOut, IconAndCaption(Magnifier(0), QStringLiteral("DVR"), 10));
    AddButton(art, kBitmapSearchLocalIn, kBitmapSearchLocalOut,
              IconAndCaption(Magnifier(0), QStringLiteral("LOCAL PC"), 10));
    AddButton(art, kBitmapSoundIn, kBitmapSoundOut, IconOnly(IconSpeaker, 17, 14));
    AddButton(art, kBitmapPlayIn, kBitmapPlayOut, IconOnly(IconPlay, 14, 12));
    AddButton(art, kBitmapStopIn, kBitmapStopOut, IconOnly(IconStop, 14, 12));
    AddButton(art, kBitmapPauseIn, kBitmapPauseOut, IconOnly(IconPause, 14, 12));
    AddButton(art, kBitmapRewindIn, kBitmapRewindOut, IconOnly(IconRewind, 18, 12));
    AddButton(art, kBitmapFastForwardIn, kBitmapFastForwardOut, IconOnly(IconFastForward, 18, 12));
    AddButton(art, kBitmapTimelineIn, kBitmapTimelineOut,
              IconAndCaption([](QPainter& p, const QRectF& b, const Ink& i) { IconTimelineBars(p, b.adjusted(0, 2, 4, -2), i); },
                             QStringLiteral("TIMELINE")));

    AddButton(art, kBitmapEventSetupIn, kBitmapEventSetupOut,
              [](QPainter& p, const QRect& r, const Ink& ink) { IconGear(p, QRectF(r).center(), 8.0, ink); });
    return art;
}

std::vector<ResourceArt> MakePlayerArt()
{
    std::vector<ResourceArt> art;
    AddButton(art, kPlayerBitmapPlayIn, kPlayerBitmapPlayOut, IconOnly(IconPlay, 16, 14));
    AddButton(art, kPlayerBitmapStopIn, kPlayerBitmapStopOut, IconOnly(IconStop, 16, 14));
    AddButton(art, kPlayerBitmapPauseIn, kPlayerBitmapPauseOut, IconOnly(IconPause, 16, 14));
    AddButton(art, kPlayerBitmapRewindIn, kPlayerBitmapRewindOut, IconOnly(IconRewind, 21, 14));
    AddButton(art, kPlayerBitmapFastForwardIn, kPlayerBitmapFastForwardOut, IconOnly(IconFastForward, 21, 14));
    AddButton(art, kPlayerBitmapStepBackIn, kPlayerBitmapStepBackOut, IconOnly(IconStepBack, 16, 14));
    AddButton(art, kPlayerBitmapStepForwardIn, kPlayerBitmapStepForwardOut, IconOnly(IconStepForward, 16, 14));
    AddButton(art, kPlayerBitmapSplit4In, kPlayerBitmapSplit4Out, SplitButton(4));
    AddButton(art, kPlayerBitmapSplit9In, kPlayerBitmapSplit9Out, SplitButton(9));
    AddButton(art, kPlayerBitmapSplit16In, kPlayerBitmapSplit16Out, SplitButton(16));
    AddButton(art, kPlayerBitmapSplit32In, kPlayerBitmapSplit32Out, SplitButton(32));
    AddButton(art, kPlayerBitmapSplit64In, kPlayerBitmapSplit64Out, SplitButton(64));
    AddButton(art, kPlayerBitmapNextIn, kPlayerBitmapNextOut, WideIconButton(IconNextPage, QStringLiteral("NEXT")));

    art.push_back({kPlayerBitmapTopLeft, [](QPainter& p, const QRect& r) { PlayerTop(p, r, true, false); }});
    art.push_back({kPlayerBitmapTopEdge, [](QPainter& p, const QRect& r) { PlayerTop(p, r, false, false); }});
    art.push_back({kPlayerBitmapTopRight, [](QPainter& p, const QRect& r) { PlayerTop(p, r, false, true); }});
    art.push_back({kPlayerBitmapLeftEdge, [](QPainter& p, const QRect& r) { PlayerSide(p, r, true); }});
    art.push_back({kPlayerBitmapRightEdge, [](QPainter& p, const QRect& r) { PlayerSide(p, r, false); }});
    art.push_back({kPlayerBitmapBottomLeft, [](QPainter& p, const QRect& r) { PlayerBottom(p, r, true, false); }});
    art.push_back({kPlayerBitmapBottomEdge, [](QPainter& p, const QRect& r) { PlayerBottom(p, r, false, false); }});
    art.push_back({kPlayerBitmapBottomRight, [](QPainter& p, const QRect& r) { PlayerBottom(p, r, false, true); }});
    return art;
}

} // namespace

const std::vector<ResourceArt>& ViewerResourceArt()
{
    static const std::vector<ResourceArt> art = MakeViewerArt();
    return art;
}

const std::vector<ResourceArt>& PlayerResourceArt()
{
    static const std::vector<ResourceArt> art = MakePlayerArt();
    return art;
}

const ResourcePainter* FindArt(const std::vector<ResourceArt>& art, int id)
{
    for (const ResourceArt& entry : art)
        if (entry.id == id)
            return &entry.draw;
    return nullptr;
}

bool ArtMatchesTable(const std::vector<ResourceArt>& art, const SkinResource* table, std::size_t count,
                     QString* problem)
{
    std::set<int> tableIds;
    for (std::size_t i = 0; i < count; ++i) {
        if (!tableIds.insert(table[i].id).second) {
            *problem = QStringLiteral("bitmap %1 is listed twice").arg(table[i].id);
            return false;
        }
    }
    std::set<int> artIds;
    for (const ResourceArt& entry : art) {
        if (!artIds.insert(entry.id).second) {
            *problem = QStringLiteral("bitmap %1 is drawn twice").arg(entry.id);
            return false;
        }
        if (!tableIds.count(entry.id)) {
            *problem = QStringLiteral("bitmap %1 is drawn but not listed").arg(entry.id);
            return false;
        }
    }
    for (int id : tableIds) {
        if (!artIds.count(id)) {
            *problem = QStringLiteral("bitmap %1 is listed but not drawn").arg(id);
            return false;
        }
    }
    return true;
}

QImage RenderSkinResource(const SkinResource& resource, const ResourcePainter& draw)
{
    QImage image = NewBitmap(resource.width, resource.height);
    if (resource.transparent != kSkinOpaque)
        image.fill(QColor(QRgb(resource.transparent)));
    QPainter painter(&image);
    draw(painter, image.rect());
    painter.end();
    return image;
}
