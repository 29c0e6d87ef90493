#include "SkinTheme.h"

#include <QLinearGradient>
#include <QRadialGradient>

namespace skin {

QImage NewBitmap(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kBase);
    return image;
}

QFont CaptionFont(int pixelSize, bool bold)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

void FillVertical(QPainter& p, const QRect& r, const QColor& top, const QColor& bottom)
{
    QLinearGradient gradient(r.topLeft(), r.bottomLeft());
    gradient.setColorAt(0.0, top);
    gradient.setColorAt(1.0, bottom);
    p.fillRect(r, gradient);
}

void Bevel(QPainter& p, const QRect& r, bool raised)
{
    const QColor& topLeft = raised ? kEdgeLight : kEdgeDark;
    const QColor& bottomRight = raised ? kEdgeDark : kEdgeLight;
    p.setPen(topLeft);
    p.drawLine(r.topLeft(), r.topRight());
    p.drawLine(r.topLeft(), r.bottomLeft());
    p.setPen(bottomRight);
    p.drawLine(r.bottomLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomRight());
}

void Panel(QPainter& p, const QRect& r)
{
    FillVertical(p, r, kPanelTop, kPanelBottom);
    Bevel(p, r, true);
}

void Well(QPainter& p, const QRect& r)
{
    p.fillRect(r, kWell);
    Bevel(p, r, false);
}

void Caption(QPainter& p, const QRect& r, const QString& text, int pixelSize, const QColor& colour,
             Qt::Alignment align, bool bold)
{
    p.setFont(CaptionFont(pixelSize, bold));
    // A dark drop shadow keeps light text legible on every gradient.
    p.setPen(kEdgeDark);
    p.drawText(r.translated(1, 1), static_cast<int>(align), text);
    p.setPen(colour);
    p.drawText(r, static_cast<int>(align), text);
}

void LensMark(QPainter& p, const QPointF& centre, double radius)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kAccent, 2.0));
    p.setBrush(kWell);
    p.drawEllipse(centre, radius, radius);
    QRadialGradient glass(centre - QPointF(radius * 0.3, radius * 0.3), radius * 0.8);
    glass.setColorAt(0.0, QColor(140, 210, 255));
    glass.setColorAt(1.0, QColor(20, 60, 110));
    p.setPen(Qt::NoPen);
    p.setBrush(glass);
    p.drawEllipse(centre, radius * 0.55, radius * 0.55);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(centre - QPointF(radius * 0.22, radius * 0.22), radius * 0.12, radius * 0.12);
    p.restore();
}

void AccentLine(QPainter& p, int x1, int y, int x2)
{
    p.setPen(kAccent);
    p.drawLine(x1, y, x2, y);
    p.setPen(kEdgeDark);
    p.drawLine(x1, y + 1, x2, y + 1);
}

} // namespace skin
