#pragma once
// The skin's look: a dark navy theme that matches the trees' own colours
// (background 15,58,121, text 153,203,255), with light captions.
#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QString>

namespace skin {

inline const QColor kBase(10, 22, 40);
inline const QColor kPanelTop(26, 52, 88);
inline const QColor kPanelBottom(14, 32, 58);
inline const QColor kBandTop(22, 44, 76);
inline const QColor kBandBottom(9, 20, 38);
inline const QColor kEdgeLight(58, 100, 150);
inline const QColor kEdgeDark(4, 10, 20);
inline const QColor kAccent(95, 180, 255);
inline const QColor kCaption(220, 235, 255);
inline const QColor kDimCaption(150, 180, 215);
inline const QColor kWell(6, 14, 28);

QImage NewBitmap(int width, int height);
QFont CaptionFont(int pixelSize, bool bold = false);

void FillVertical(QPainter& p, const QRect& r, const QColor& top, const QColor& bottom);
void Panel(QPainter& p, const QRect& r);
// A recessed area where controls sit.
void Well(QPainter& p, const QRect& r);
void Bevel(QPainter& p, const QRect& r, bool raised);
void Caption(QPainter& p, const QRect& r, const QString& text, int pixelSize, const QColor& colour,
             Qt::Alignment align = Qt::AlignCenter, bool bold = false);
// The suite's mark: a camera lens.
void LensMark(QPainter& p, const QPointF& centre, double radius);
void AccentLine(QPainter& p, int x1, int y, int x2);

} // namespace skin
