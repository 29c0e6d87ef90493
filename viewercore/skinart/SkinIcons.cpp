#include "SkinIcons.h"

#include "SkinTheme.h"

#include <QPainterPath>
#include <QRadialGradient>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

namespace skin {

namespace {

constexpr double kPi = 3.14159265358979323846;

const QColor kRecordRed(214, 44, 44);
const QColor kRecordRedLit(255, 72, 64);
const QColor kLedGreen(80, 220, 120);
const QColor kBadgeGreen(46, 170, 84);

// Smooth drawing for one glyph; the painter's state comes back afterwards.
class Smooth {
public:
    explicit Smooth(QPainter& p)
        : m_p(p)
    {
        m_p.save();
        m_p.setRenderHint(QPainter::Antialiasing);
    }
    ~Smooth() { m_p.restore(); }
    Smooth(const Smooth&) = delete;
    Smooth& operator=(const Smooth&) = delete;

private:
    QPainter& m_p;
};

QPen Stroke(const QColor& colour, double width)
{
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void FillPolygon(QPainter& p, const QPolygonF& polygon, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPolygon(polygon);
}

// A triangle pointing right inside `box`.
QPolygonF RightTriangle(const QRectF& box)
{
    return QPolygonF({box.topLeft(), QPointF(box.right(), box.center().y()), box.bottomLeft()});
}

QPolygonF LeftTriangle(const QRectF& box)
{
    return QPolygonF({box.topRight(), QPointF(box.left(), box.center().y()), box.bottomRight()});
}

// Tiles of a split layout in grid units (column, row, span).
struct Tile {
    int column;
    int row;
    int span;
};

int GridColumns(int cells)
{
    switch (cells) {
    case 4: return 2;
    case 6:
    case 9: return 3;
    case 10:
    case 16: return 4;
    case 32:
    case 36: return 6;
    default: return 8;
    }
}

std::vector<Tile> SplitTiles(int cells)
{
    const int n = GridColumns(cells);
    std::vector<Tile> tiles;
    if (cells == 6) {
        // One 2 x 2 block at the top left, then the rest of a 3 x 3 grid.
        tiles.push_back({0, 0, 2});
        for (const Tile& t : {Tile{2, 0, 1}, Tile{2, 1, 1}, Tile{0, 2, 1}, Tile{1, 2, 1}, Tile{2, 2, 1}})
            tiles.push_back(t);
    } else if (cells == 10) {
        // Two 2 x 2 blocks over two rows of four.
        tiles.push_back({0, 0, 2});
        tiles.push_back({2, 0, 2});
        for (int row = 2; row < 4; ++row)
            for (int column = 0; column < 4; ++column)
                tiles.push_back({column, row, 1});
    } else {
        for (int i = 0; i < n * n; ++i)
            tiles.push_back({i % n, i / n, 1});
    }
    return tiles;
}

} // namespace

QRectF Centred(const QRectF& area, double width, double height)
{
    return QRectF(area.center().x() - width / 2, area.center().y() - height / 2, width, height);
}

void IconSplitGrid(QPainter& p, const QRectF& box, int cells, const Ink& ink)
{
    // Whole pixels keep the tiles crisp: a one-pixel gap between monitors.
    const QRect area = box.toAlignedRect();
    const int n = GridColumns(cells);
    p.fillRect(area, ink.dark);
    const std::vector<Tile> tiles = SplitTiles(cells);
    const int inner = area.width() - 1;
    const int innerHeight = area.height() - 1;
    for (size_t i = 0; i < tiles.size(); ++i) {
        const Tile& t = tiles[i];
        const int x0 = area.left() + 1 + t.column * inner / n;
        const int x1 = area.left() + (t.column + t.span) * inner / n;
        const int y0 = area.top() + 1 + t.row * innerHeight / n;
        const int y1 = area.top() + (t.row + t.span) * innerHeight / n;
        // A 32-cell page leaves the last four places of its 6 x 6 grid empty.
        const bool used = static_cast<int>(i) < cells;
        const QColor colour = used ? (i == 0 && ink.lit ? ink.line : ink.tile) : ink.dark.lighter(140);
        p.fillRect(QRect(QPoint(x0, y0), QPoint(x1 - 1, y1 - 1)), colour);
    }
}

void IconFullScreen(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF screen = box.adjusted(5, 3, -5, -3);
    p.setPen(Stroke(ink.tile, 1.0));
    p.setBrush(ink.dark);
    p.drawRect(screen);
    // A wedge in each corner pointing outwards: the picture grows to the edges.
    const double arm = std::min(screen.width(), screen.height()) * 0.42;
    for (int sx : {-1, 1}) {
        for (int sy : {-1, 1}) {
            const QPointF corner(sx < 0 ? box.left() + 1 : box.right() - 1, sy < 0 ? box.top() : box.bottom());
            FillPolygon(p, QPolygonF({corner, corner + QPointF(-sx * arm, 0), corner + QPointF(0, -sy * arm)}),
                        ink.line);
        }
    }
}

void IconNextPage(QPainter& p, const QRectF& box, const Ink& ink)
{
    const QRectF page(box.left(), box.top() + 1, box.width() * 0.62, box.height() - 2);
    IconSplitGrid(p, page, 4, ink);
    Smooth smooth(p);
    const QRectF arrow(page.right() + 3, box.center().y() - 6, box.right() - page.right() - 3, 12);
    FillPolygon(p, RightTriangle(arrow), ink.line);
}

void IconArrow(QPainter& p, const QRectF& box, Direction direction, const Ink& ink)
{
    Smooth smooth(p);
    const double size = std::min(box.width(), box.height());
    p.translate(box.center());
    p.rotate(45.0 * static_cast<int>(direction));
    // A triangle pointing up before the turn; towards a corner its tip is a
    // right angle, which reads as "into that corner".
    const bool diagonal = static_cast<int>(direction) % 2 == 1;
    const double h = size * (diagonal ? 0.34 : 0.36);
    const double w = diagonal ? h * 1.2 : size * 0.38;
    const double base = diagonal ? h * 0.2 : h * 0.6;
    QPolygonF head({QPointF(0, -h), QPointF(w, base), QPointF(-w, base)});
    FillPolygon(p, head, ink.line);
}

void IconMagnifier(QPainter& p, const QRectF& box, int sign, const Ink& ink)
{
    Smooth smooth(p);
    const double size = std::min(box.width(), box.height());
    const double r = size * 0.32;
    const QPointF c(box.center().x() - size * 0.1, box.center().y() - size * 0.1);
    p.setPen(Stroke(ink.line, 1.6));
    p.setBrush(ink.dark);
    p.drawEllipse(c, r, r);
    p.setPen(Stroke(ink.line, 2.6));
    const QPointF handle = c + QPointF(r * 0.72, r * 0.72);
    p.drawLine(handle, handle + QPointF(size * 0.26, size * 0.26));
    if (sign != 0) {
        p.setPen(Stroke(ink.lit ? ink.line : ink.tile, 1.6));
        const double arm = r * 0.5;
        p.drawLine(c - QPointF(arm, 0), c + QPointF(arm, 0));
        if (sign > 0)
            p.drawLine(c - QPointF(0, arm), c + QPointF(0, arm));
    }
}

void IconMountains(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF b = Centred(box, std::min(box.width(), 18.0), std::min(box.height(), 12.0));
    QPolygonF far({QPointF(b.left() + b.width() * 0.35, b.bottom()), QPointF(b.left() + b.width() * 0.68, b.top()),
                   QPointF(b.right(), b.bottom())});
    QPolygonF near({QPointF(b.left(), b.bottom()), QPointF(b.left() + b.width() * 0.3, b.top() + b.height() * 0.35),
                    QPointF(b.left() + b.width() * 0.62, b.bottom())});
    FillPolygon(p, far, ink.tile);
    FillPolygon(p, near, ink.line);
}

void IconFlower(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double size = std::min(box.width(), box.height());
    const QPointF c(box.center().x(), box.center().y() - size * 0.15);
    const double petal = size * 0.16;
    p.setPen(Stroke(ink.tile, 1.4));
    p.drawLine(c, QPointF(c.x(), box.center().y() + size * 0.45));
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    for (int k = 0; k < 5; ++k) {
        const double a = -kPi / 2 + k * 2 * kPi / 5;
        p.drawEllipse(c + QPointF(std::cos(a), std::sin(a)) * petal * 1.3, petal, petal);
    }
    p.setBrush(ink.dark);
    p.drawEllipse(c, petal * 0.8, petal * 0.8);
}

void IconLink(QPainter& p, const QRectF& box, bool broken, const Ink& ink)
{
    Smooth smooth(p);
    const double size = std::min(box.width(), box.height());
    p.translate(box.center());
    p.rotate(-35);
    const double w = size * 0.62;
    const double h = size * 0.36;
    const double shift = broken ? w * 0.62 : w * 0.34;
    p.setPen(Stroke(ink.line, 2.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-shift - w / 2, -h / 2, w, h), h / 2, h / 2);
    p.setPen(Stroke(ink.lit ? ink.line : ink.tile, 2.0));
    p.drawRoundedRect(QRectF(shift - w / 2, -h / 2, w, h), h / 2, h / 2);
    if (broken) {
        p.rotate(35);
        p.setPen(Stroke(kRecordRedLit, 1.6));
        p.drawLine(QPointF(-size * 0.12, -size * 0.42), QPointF(size * 0.12, size * 0.42));
    }
}

void IconGear(QPainter& p, const QPointF& centre, double radius, const Ink& ink)
{
    Smooth smooth(p);
    QPolygonF gear;
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth * 4; ++i) {
        const double a = i * 2 * kPi / (kTeeth * 4);
        const double r = (i % 4 < 2) ? radius : radius * 0.74;
        gear << centre + QPointF(std::cos(a), std::sin(a)) * r;
    }
    FillPolygon(p, gear, ink.line);
    p.setBrush(ink.dark);
    p.drawEllipse(centre, radius * 0.34, radius * 0.34);
}

void IconMonitor(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF screen(box.left(), box.top(), box.width(), box.height() * 0.72);
    p.setPen(Stroke(ink.line, 1.4));
    p.setBrush(ink.dark);
    p.drawRoundedRect(screen, 1.5, 1.5);
    p.drawLine(QPointF(box.center().x(), screen.bottom()), QPointF(box.center().x(), box.bottom() - 1));
    p.drawLine(QPointF(box.center().x() - box.width() * 0.25, box.bottom() - 0.5),
               QPointF(box.center().x() + box.width() * 0.25, box.bottom() - 0.5));
}

void IconDvr(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    p.drawRoundedRect(box, 1.5, 1.5);
    // A disc slot on the left and two lamps on the right of the front.
    p.setPen(Stroke(ink.tile, 1.2));
    const double y = box.center().y();
    p.drawLine(QPointF(box.left() + 2.5, y), QPointF(box.left() + box.width() * 0.5, y));
    p.setPen(Qt::NoPen);
    p.setBrush(kLedGreen);
    p.drawEllipse(QPointF(box.right() - 3.5, y), 1.3, 1.3);
    p.setBrush(ink.lit ? kRecordRedLit : kRecordRed);
    p.drawEllipse(QPointF(box.right() - 7.0, y), 1.3, 1.3);
}

void IconBulletCamera(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF body(box.left(), box.top(), box.width() * 0.8, box.height() * 0.55);
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    p.drawRoundedRect(body, body.height() / 2.5, body.height() / 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.tile);
    p.drawEllipse(QPointF(body.left() + body.height() * 0.55, body.center().y()), body.height() * 0.28,
                  body.height() * 0.28);
    // The wall mount.
    p.setPen(Stroke(ink.line, 1.6));
    const QPointF joint(body.center().x() + body.width() * 0.15, body.bottom());
    p.drawLine(joint, QPointF(joint.x(), box.bottom() - 1));
    p.drawLine(QPointF(joint.x() - 3, box.bottom() - 0.5), QPointF(box.right(), box.bottom() - 0.5));
}

void IconServer(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF tower = Centred(box, std::min(box.width(), box.height() * 0.7), box.height());
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    p.drawRoundedRect(tower, 1.5, 1.5);
    p.setPen(Stroke(ink.tile, 1.1));
    for (int bay = 1; bay <= 3; ++bay) {
        const double y = tower.top() + tower.height() * bay / 4.5;
        p.drawLine(QPointF(tower.left() + 2, y), QPointF(tower.right() - 2, y));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(kLedGreen);
    p.drawEllipse(QPointF(tower.right() - 2.8, tower.bottom() - 2.8), 1.2, 1.2);
}

void IconFloppy(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF b = Centred(box, std::min(box.width(), box.height()), std::min(box.width(), box.height()));
    const double cut = b.width() * 0.22;
    QPolygonF shell({b.topLeft(), QPointF(b.right() - cut, b.top()), QPointF(b.right(), b.top() + cut),
                     b.bottomRight(), b.bottomLeft()});
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    p.drawPolygon(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.tile);
    p.drawRect(QRectF(b.left() + b.width() * 0.25, b.top() + 1, b.width() * 0.42, b.height() * 0.3));
    p.setBrush(ink.line);
    p.drawRect(QRectF(b.left() + b.width() * 0.2, b.top() + b.height() * 0.55, b.width() * 0.6, b.height() * 0.38));
}

void IconPlusBadge(QPainter& p, const QPointF& centre, double radius)
{
    Smooth smooth(p);
    p.setPen(QPen(kEdgeDark, 1.0));
    p.setBrush(kBadgeGreen);
    p.drawEllipse(centre, radius, radius);
    p.setPen(Stroke(QColor(240, 255, 244), 1.6));
    const double arm = radius * 0.55;
    p.drawLine(centre - QPointF(arm, 0), centre + QPointF(arm, 0));
    p.drawLine(centre - QPointF(0, arm), centre + QPointF(0, arm));
}

void IconRecordDot(QPainter& p, const QPointF& centre, double radius, bool lit)
{
    Smooth smooth(p);
    if (lit) {
        p.setPen(QPen(QColor(255, 120, 110), 1.2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, radius + 2.2, radius + 2.2);
    }
    QRadialGradient glow(centre - QPointF(radius * 0.3, radius * 0.3), radius * 1.2);
    glow.setColorAt(0.0, lit ? QColor(255, 170, 160) : QColor(245, 120, 110));
    glow.setColorAt(1.0, lit ? kRecordRedLit : kRecordRed);
    p.setPen(QPen(QColor(90, 10, 10), 1.0));
    p.setBrush(glow);
    p.drawEllipse(centre, radius, radius);
}

void IconStillCamera(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF body(box.left(), box.top() + box.height() * 0.22, box.width(), box.height() * 0.78);
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    QPainterPath shape;
    shape.addRoundedRect(body, 2, 2);
    shape.addRect(QRectF(body.center().x() - box.width() * 0.2, box.top(), box.width() * 0.4, body.top() - box.top() + 1));
    p.drawPath(shape.simplified());
    p.setBrush(ink.tile);
    const double r = body.height() * 0.32;
    p.drawEllipse(QPointF(body.center().x(), body.center().y() + 0.5), r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.lit ? QColor(255, 240, 150) : ink.line);
    p.drawRect(QRectF(body.right() - 4.5, body.top() + 2, 2.5, 1.8));
}

void IconSaveToTray(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF b = Centred(box, std::min(box.width(), box.height() + 2), box.height());
    p.setPen(Stroke(ink.line, 1.6));
    p.setBrush(Qt::NoBrush);
    const double trayTop = b.top() + b.height() * 0.6;
    p.drawPolyline(QPolygonF({QPointF(b.left(), trayTop), QPointF(b.left(), b.bottom()), QPointF(b.right(), b.bottom()),
                              QPointF(b.right(), trayTop)}));
    p.setPen(Stroke(ink.lit ? ink.line : ink.tile, 2.0));
    const double x = b.center().x();
    p.drawLine(QPointF(x, b.top()), QPointF(x, b.bottom() - 3));
    FillPolygon(p, QPolygonF({QPointF(x - 4, b.bottom() - 6.5), QPointF(x + 4, b.bottom() - 6.5), QPointF(x, b.bottom() - 2)}),
                ink.lit ? ink.line : ink.tile);
}

void IconSpeaker(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double h = box.height();
    const double x = box.left();
    const double cy = box.center().y();
    QPolygonF cone({QPointF(x, cy - h * 0.18), QPointF(x + h * 0.25, cy - h * 0.18), QPointF(x + h * 0.55, cy - h * 0.45),
                    QPointF(x + h * 0.55, cy + h * 0.45), QPointF(x + h * 0.25, cy + h * 0.18), QPointF(x, cy + h * 0.18)});
    FillPolygon(p, cone, ink.line);
    p.setPen(Stroke(ink.lit ? ink.line : ink.tile, 1.4));
    p.setBrush(Qt::NoBrush);
    for (int wave = 1; wave <= 2; ++wave) {
        const double r = h * (0.2 + 0.2 * wave);
        const QRectF arc(x + h * 0.5 - r, cy - r, 2 * r, 2 * r);
        p.drawArc(arc, -50 * 16, 100 * 16);
    }
}

void IconBell(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const QRectF b = Centred(box, std::min(box.width(), box.height()), std::min(box.width(), box.height()));
    QPainterPath bell;
    const double w = b.width();
    bell.moveTo(b.left() + w * 0.1, b.top() + w * 0.78);
    bell.cubicTo(b.left() + w * 0.28, b.top() + w * 0.6, b.left() + w * 0.18, b.top() + w * 0.1, b.center().x(),
                 b.top() + w * 0.1);
    bell.cubicTo(b.right() - w * 0.18, b.top() + w * 0.1, b.right() - w * 0.28, b.top() + w * 0.6, b.right() - w * 0.1,
                 b.top() + w * 0.78);
    bell.closeSubpath();
    p.setPen(Stroke(ink.line, 1.0));
    p.setBrush(ink.lit ? ink.line : ink.tile);
    p.drawPath(bell);
    p.setBrush(ink.line);
    p.drawEllipse(QPointF(b.center().x(), b.top() + w * 0.88), w * 0.1, w * 0.1);
}

void IconGlobe(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double r = std::min(box.width(), box.height()) / 2 - 0.8;
    const QPointF c = box.center();
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.dark);
    p.drawEllipse(c, r, r);
    p.setPen(Stroke(ink.tile, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, r * 0.45, r);
    p.drawLine(c - QPointF(r, 0), c + QPointF(r, 0));
    p.drawLine(c + QPointF(-r * 0.8, -r * 0.5), c + QPointF(r * 0.8, -r * 0.5));
    p.drawLine(c + QPointF(-r * 0.8, r * 0.5), c + QPointF(r * 0.8, r * 0.5));
}

void IconReel(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double r = std::min(box.width(), box.height()) / 2 - 0.8;
    const QPointF c = box.center();
    p.setPen(Stroke(ink.line, 1.3));
    p.setBrush(ink.tile);
    p.drawEllipse(c, r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.dark);
    for (int k = 0; k < 3; ++k) {
        const double a = -kPi / 2 + k * 2 * kPi / 3;
        p.drawEllipse(c + QPointF(std::cos(a), std::sin(a)) * r * 0.5, r * 0.22, r * 0.22);
    }
    p.drawEllipse(c, r * 0.12, r * 0.12);
}

void IconPulseMonitor(QPainter& p, const QRectF& box, const Ink& ink)
{
    IconMonitor(p, box, ink);
    Smooth smooth(p);
    const QRectF s(box.left() + 2, box.top() + 2, box.width() - 4, box.height() * 0.72 - 4);
    p.setPen(Stroke(kLedGreen, 1.2));
    p.drawPolyline(QPolygonF({QPointF(s.left(), s.center().y()), QPointF(s.left() + s.width() * 0.35, s.center().y()),
                              QPointF(s.left() + s.width() * 0.48, s.top()), QPointF(s.left() + s.width() * 0.6, s.bottom()),
                              QPointF(s.left() + s.width() * 0.7, s.center().y()), QPointF(s.right(), s.center().y())}));
}

void IconTimelineBars(QPainter& p, const QRectF& box, const Ink& ink)
{
    const QRect area = box.toAlignedRect();
    p.fillRect(area, ink.dark);
    // Three channel rows with recorded spans in the timeline's own colours.
    const QColor spans[3] = {QColor(255, 204, 0), QColor(217, 40, 40), QColor(131, 241, 0)};
    const int rowHeight = std::max(2, (area.height() - 4) / 3);
    for (int row = 0; row < 3; ++row) {
        const int y = area.top() + 1 + row * (rowHeight + 1);
        const int start = area.left() + 1 + (row * 5) % (area.width() / 2);
        const int length = area.width() / 2 - row * 2;
        p.fillRect(QRect(start, y, length, rowHeight), spans[row]);
    }
    p.setPen(ink.line);
    p.drawRect(area.adjusted(0, 0, -1, -1));
}

void IconPtzCross(QPainter& p, const QRectF& box, const Ink& ink)
{
    const double s = std::min(box.width(), box.height());
    const QRectF b = Centred(box, s, s);
    for (Direction d : {Direction::Up, Direction::Right, Direction::Down, Direction::Left}) {
        const double angle = 90.0 * static_cast<int>(d) / 2 * kPi / 180.0;
        const QPointF offset(std::sin(angle) * s * 0.32, -std::cos(angle) * s * 0.32);
        IconArrow(p, Centred(b.translated(offset), s * 0.5, s * 0.5), d, ink);
    }
    Smooth smooth(p);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.tile);
    p.drawEllipse(b.center(), s * 0.1, s * 0.1);
}

void IconPresetPin(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height());
    const QPointF c(box.center().x(), box.top() + s * 0.38);
    QPainterPath pin;
    pin.addEllipse(c, s * 0.32, s * 0.32);
    pin.moveTo(c + QPointF(-s * 0.24, s * 0.2));
    pin.lineTo(QPointF(c.x(), box.top() + s));
    pin.lineTo(c + QPointF(s * 0.24, s * 0.2));
    pin.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(ink.lit ? ink.line : ink.tile);
    p.drawPath(pin.simplified());
    p.setBrush(ink.dark);
    p.drawEllipse(c, s * 0.13, s * 0.13);
}

void IconPlay(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height());
    FillPolygon(p, RightTriangle(Centred(box, s * 0.8, s).translated(s * 0.05, 0)), ink.line);
}

void IconStop(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height()) * 0.82;
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    p.drawRoundedRect(Centred(box, s, s), 1, 1);
}

void IconPause(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height());
    const QRectF b = Centred(box, s * 0.8, s);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    p.drawRect(QRectF(b.left(), b.top(), b.width() * 0.34, b.height()));
    p.drawRect(QRectF(b.right() - b.width() * 0.34, b.top(), b.width() * 0.34, b.height()));
}

void IconRewind(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width() / 1.5, box.height());
    const QRectF b = Centred(box, s * 1.4, s * 0.9);
    FillPolygon(p, LeftTriangle(QRectF(b.left(), b.top(), b.width() / 2, b.height())), ink.line);
    FillPolygon(p, LeftTriangle(QRectF(b.center().x(), b.top(), b.width() / 2, b.height())), ink.line);
}

void IconFastForward(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width() / 1.5, box.height());
    const QRectF b = Centred(box, s * 1.4, s * 0.9);
    FillPolygon(p, RightTriangle(QRectF(b.left(), b.top(), b.width() / 2, b.height())), ink.line);
    FillPolygon(p, RightTriangle(QRectF(b.center().x(), b.top(), b.width() / 2, b.height())), ink.line);
}

void IconStepBack(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height());
    const QRectF b = Centred(box, s * 0.9, s * 0.85);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    p.drawRect(QRectF(b.left(), b.top(), b.width() * 0.2, b.height()));
    FillPolygon(p, LeftTriangle(QRectF(b.left() + b.width() * 0.28, b.top(), b.width() * 0.72, b.height())), ink.line);
}

void IconStepForward(QPainter& p, const QRectF& box, const Ink& ink)
{
    Smooth smooth(p);
    const double s = std::min(box.width(), box.height());
    const QRectF b = Centred(box, s * 0.9, s * 0.85);
    FillPolygon(p, RightTriangle(QRectF(b.left(), b.top(), b.width() * 0.72, b.height())), ink.line);
    p.setPen(Qt::NoPen);
    p.setBrush(ink.line);
    p.drawRect(QRectF(b.right() - b.width() * 0.2, b.top(), b.width() * 0.2, b.height()));
}

// ---- Tree images ---------------------------------------------------------------
// Dark outlines and light fills read on the navy device tree and on a white one.

namespace {

const QColor kTreeOutline(8, 18, 34);
const QColor kTreeBody(196, 222, 250);
const QColor kTreeShade(120, 168, 220);
const QColor kTreeGlass(40, 110, 190);

void Box(QPainter& p, const QRect& r, const QColor& fill)
{
    p.setPen(kTreeOutline);
    p.setBrush(fill);
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

} // namespace

void TreeImageDvr(QPainter& p, const QRect& cell)
{
    const int x = cell.left();
    const int y = cell.top();
    Box(p, QRect(x + 1, y + 4, 14, 8), kTreeBody);
    p.fillRect(QRect(x + 2, y + 10, 12, 1), kTreeShade);
    p.fillRect(QRect(x + 3, y + 7, 5, 1), kTreeOutline); // disc slot
    p.fillRect(QRect(x + 11, y + 7, 2, 2), QColor(40, 170, 80));
}

void TreeImageIpCamera(QPainter& p, const QRect& cell)
{
    const int x = cell.left();
    const int y = cell.top();
    Box(p, QRect(x + 1, y + 3, 12, 6), kTreeBody);
    p.fillRect(QRect(x + 2, y + 5, 2, 2), kTreeGlass); // lens
    p.fillRect(QRect(x + 8, y + 9, 2, 3), kTreeOutline); // mount
    p.fillRect(QRect(x + 8, y + 12, 7, 2), kTreeOutline);
    p.fillRect(QRect(x + 13, y + 4, 2, 1), kTreeShade);  // cable
}

void TreeImageVideoServer(QPainter& p, const QRect& cell)
{
    const int x = cell.left();
    const int y = cell.top();
    Box(p, QRect(x + 4, y + 1, 9, 13), kTreeBody);
    for (int bay = 0; bay < 3; ++bay)
        p.fillRect(QRect(x + 6, y + 3 + bay * 3, 5, 1), kTreeOutline);
    p.fillRect(QRect(x + 10, y + 11, 2, 1), QColor(40, 170, 80));
}

void TreeImageChannel(QPainter& p, const QRect& cell)
{
    const int x = cell.left();
    const int y = cell.top();
    // A dome camera seen from the front: one channel's lens.
    Box(p, QRect(x + 2, y + 2, 12, 11), kTreeShade);
    p.setPen(kTreeOutline);
    p.setBrush(kTreeBody);
    p.drawEllipse(QRect(x + 4, y + 4, 7, 6));
    p.fillRect(QRect(x + 6, y + 6, 3, 3), kTreeGlass);
}

void TreeImageGroup(QPainter& p, const QRect& cell)
{
    const int x = cell.left();
    const int y = cell.top();
    // Four monitors: a saved screen layout.
    Box(p, QRect(x + 1, y + 1, 14, 13), kTreeOutline);
    p.fillRect(QRect(x + 2, y + 2, 5, 5), kTreeBody);
    p.fillRect(QRect(x + 9, y + 2, 5, 5), kTreeShade);
    p.fillRect(QRect(x + 2, y + 8, 5, 5), kTreeShade);
    p.fillRect(QRect(x + 9, y + 8, 5, 5), kTreeBody);
}

} // namespace skin
