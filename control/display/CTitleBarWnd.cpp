#include "CTitleBarWnd.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>

namespace vyrdax {

namespace {

const QColor kTextGrey(200, 200, 200);
const QColor kGreenBox(103, 203, 70);
const QColor kOrangeBox(249, 172, 39);
const QColor kRedDot(255, 0, 0);

// A Windows rectangle (left, top, right, bottom) has an exclusive right and
// bottom edge.
QRect WinRect(int l, int t, int r, int b) { return QRect(l, t, r - l, b - t); }

void FillTriangle(QPainter& p, QPoint a, QPoint b, QPoint c)
{
    QPolygon poly;
    poly << a << b << c;
    p.setPen(Qt::white);
    p.setBrush(Qt::white);
    p.drawPolygon(poly);
}

void DrawBox(QPainter& p, int x, const QColor& colour, const char* letter, const QColor& letterColour, bool dot)
{
    p.fillRect(WinRect(x, 0, x + 10, 11), colour);
    p.setPen(letterColour);
    p.drawText(QPoint(x + 2, 0) + QPoint(0, QFontMetrics(p.font()).ascent()), letter);
    if (dot) {
        p.setPen(Qt::NoPen);
        p.setBrush(kRedDot);
        p.drawEllipse(WinRect(x + 11, 1, x + 19, 10));
        p.setBrush(Qt::NoBrush);
    }
}

// The glyph drawn beside the box at x0 for a play-state title.
void DrawGlyph(QPainter& p, const QString& title, int x0, bool stateForm)
{
    p.save();
    if (title == "[FF]") {
        FillTriangle(p, {x0, 2}, {x0 + 2, 5}, {x0, 8});
        FillTriangle(p, {x0 + 3, 2}, {x0 + 5, 5}, {x0 + 3, 8});
    } else if (title == "[REW]") {
        FillTriangle(p, {x0 + 2, 2}, {x0, 5}, {x0 + 2, 8});
        FillTriangle(p, {x0 + 5, 2}, {x0 + 3, 5}, {x0 + 5, 8});
    } else if (title == "[PAUSE]") {
        p.setPen(Qt::white);
        const int xs[4] = {x0, x0 + 1, x0 + (stateForm ? 3 : 4), x0 + (stateForm ? 4 : 5)};
        for (int x : xs)
            p.drawLine(x, 2, x, 8);
    } else {
        FillTriangle(p, {x0, 2}, {x0 + 5, 5}, {x0, 8});
    }
    p.restore();
}

} // namespace

CTitleBarWnd::CTitleBarWnd(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QFont CTitleBarWnd::BarFont()
{
    QFont font("DejaVu Sans");
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void CTitleBarWnd::RequestRepaint()
{
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

void CTitleBarWnd::SetTitle(const QString& text)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Live titles are set with every frame; most repeat the last one.
        if (state_ == -1 && title_ == text)
            return;
        title_ = text;
        state_ = -1;
    }
    RequestRepaint();
}

void CTitleBarWnd::DrawStateTitle(const QString& text, int state, int)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_ = state;
        if (state == 0 || state == 1 || state == 2) {
            title_.clear();
        } else if (state & 0x40) {
            if (!text.isEmpty())
                title_ = text;
            if (title_ == "[STP]")
                title_.clear();
            else if (title_ != "[FPB]" && title_ != "[FF]" && title_ != "[REW]" && title_ != "[PAUSE]")
                title_ = "[FPB]";
        } else if (state == 0x1000) {
            if (title_.isEmpty())
                title_ = "[FPB]";
            if (!text.isEmpty())
                title_ = text;
        } else if (state == 0x2000) {
            title_ = "[PAUSE]";
        } else if (state == 0x4000) {
            title_ = "[STP]";
        }
    }
    RequestRepaint();
}

QString CTitleBarWnd::Title() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return title_;
}

int CTitleBarWnd::State() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void CTitleBarWnd::paintEvent(QPaintEvent*)
{
    QString title;
    int state;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        title = title_;
        state = state_;
    }
    QPainter p(this);
    p.setFont(BarFont());
    p.fillRect(rect(), Qt::black);
    if (state == -1)
        PaintPlain(p, title);
    else
        PaintState(p, state, title);
}

void CTitleBarWnd::PaintPlain(QPainter& p, const QString& title)
{
    // The opaque black background stands in for the blank padding that wipes
    // a longer previous text; a text wider than the bar is cut at its edge.
    p.setPen(kTextGrey);
    p.drawText(QPoint(0, QFontMetrics(p.font()).ascent()), title);
}

void CTitleBarWnd::PaintState(QPainter& p, int state, const QString& title)
{
    if (state == 0 || state == 1 || state == 2)
        return;
    bool dBox = false, lBox = false;
    if (state & 0x200) {
        DrawBox(p, 0, kGreenBox, "D", kTextGrey, true);
        dBox = true;
    }
    if (state & (0x04 | 0x08 | 0x10)) {
        DrawBox(p, 30, kOrangeBox, "L", Qt::black, true);
        lBox = true;
    }
    if (state & 0x40) {
        if (!dBox)
            DrawBox(p, 0, kGreenBox, "D", kTextGrey, false);
        if (title.isEmpty()) {
            // "[STP]": a black square drawn with the default black pen.
            p.setPen(Qt::black);
            p.setBrush(Qt::black);
            p.drawRect(WinRect(28, 1, 33, 8).adjusted(0, 0, -1, -1));
        } else {
            DrawGlyph(p, title, 21, false);
        }
    }
    if (state == 0x1000) {
        if (!lBox)
            DrawBox(p, 30, kOrangeBox, "L", Qt::black, false);
        DrawGlyph(p, title == "[FF]" || title == "[REW]" ? title : QString("[FPB]"), 41, true);
    } else if (state == 0x2000) {
        if (!lBox)
            DrawBox(p, 30, kOrangeBox, "L", Qt::black, false);
        DrawGlyph(p, "[PAUSE]", 41, true);
    } else if (state == 0x4000) {
        if (!lBox)
            DrawBox(p, 30, kOrangeBox, "L", Qt::black, false);
        p.setPen(Qt::black);
        p.setBrush(Qt::white);
        p.drawRect(WinRect(41, 1, 48, 9).adjusted(0, 0, -1, -1));
    }
}

} // namespace vyrdax
