#pragma once
// Small pictures for the button faces and the tree image lists. Each draws
// inside the box it is given, in the ink of the face it sits on.
#include <QColor>
#include <QPainter>
#include <QRectF>

namespace skin {

struct Ink {
    QColor line;  // glyphs and outlines
    QColor tile;  // filled parts that should read as "on"
    QColor dark;  // recesses and holes
    bool lit;     // the face is pressed or under the pointer
};

enum class Direction { Up = 0, UpRight, Right, DownRight, Down, DownLeft, Left, UpLeft };

// A box of the given size centred in `area`.
QRectF Centred(const QRectF& area, double width, double height);

// The layout of a split mode as a wall of monitors: 4, 6, 9, 10, 16, 32, 36, 64.
void IconSplitGrid(QPainter& p, const QRectF& box, int cells, const Ink& ink);
void IconFullScreen(QPainter& p, const QRectF& box, const Ink& ink);
void IconNextPage(QPainter& p, const QRectF& box, const Ink& ink);

void IconArrow(QPainter& p, const QRectF& box, Direction direction, const Ink& ink);
// A magnifier with "+" (sign > 0), "-" (sign < 0) or nothing inside.
void IconMagnifier(QPainter& p, const QRectF& box, int sign, const Ink& ink);
void IconMountains(QPainter& p, const QRectF& box, const Ink& ink);
void IconFlower(QPainter& p, const QRectF& box, const Ink& ink);

void IconLink(QPainter& p, const QRectF& box, bool broken, const Ink& ink);
void IconGear(QPainter& p, const QPointF& centre, double radius, const Ink& ink);
void IconMonitor(QPainter& p, const QRectF& box, const Ink& ink);
void IconDvr(QPainter& p, const QRectF& box, const Ink& ink);
void IconBulletCamera(QPainter& p, const QRectF& box, const Ink& ink);
void IconServer(QPainter& p, const QRectF& box, const Ink& ink);
void IconFloppy(QPainter& p, const QRectF& box, const Ink& ink);
void IconPlusBadge(QPainter& p, const QPointF& centre, double radius);
void IconRecordDot(QPainter& p, const QPointF& centre, double radius, bool lit);
void IconStillCamera(QPainter& p, const QRectF& box, const Ink& ink);
void IconSaveToTray(QPainter& p, const QRectF& box, const Ink& ink);
void IconSpeaker(QPainter& p, const QRectF& box, const Ink& ink);
void IconBell(QPainter& p, const QRectF& box, const Ink& ink);
void IconGlobe(QPainter& p, const QRectF& box, const Ink& ink);
void IconReel(QPainter& p, const QRectF& box, const Ink& ink);
void IconPulseMonitor(QPainter& p, const QRectF& box, const Ink& ink);
void IconTimelineBars(QPainter& p, const QRectF& box, const Ink& ink);
void IconPtzCross(QPainter& p, const QRectF& box, const Ink& ink);
void IconPresetPin(QPainter& p, const QRectF& box, const Ink& ink);

// Transport glyphs.
void IconPlay(QPainter& p, const QRectF& box, const Ink& ink);
void IconStop(QPainter& p, const QRectF& box, const Ink& ink);
void IconPause(QPainter& p, const QRectF& box, const Ink& ink);
void IconRewind(QPainter& p, const QRectF& box, const Ink& ink);
void IconFastForward(QPainter& p, const QRectF& box, const Ink& ink);
void IconStepBack(QPainter& p, const QRectF& box, const Ink& ink);
void IconStepForward(QPainter& p, const QRectF& box, const Ink& ink);

// Pixel art for the 16 x 15 tree images, drawn without smoothing so that the
// transparent colour around them stays exact. `cell` is the image's rectangle.
void TreeImageDvr(QPainter& p, const QRect& cell);
void TreeImageIpCamera(QPainter& p, const QRect& cell);
void TreeImageVideoServer(QPainter& p, const QRect& cell);
void TreeImageChannel(QPainter& p, const QRect& cell);
void TreeImageGroup(QPainter& p, const QRect& cell);

} // namespace skin
