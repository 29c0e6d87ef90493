#include "CBitmapSlider.h"

#include "CMemDC.h"
#include "ColourKey.h"

#include <QFocusEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

QImage KeyedByTopLeft(const QImage& bitmap)
{
    return ApplyColourKey(bitmap, QColor::fromRgb(bitmap.pixel(0, 0)));
}

} // namespace

CBitmapSlider::CBitmapSlider(QWidget* parent, int controlId)
    : QWidget(parent)
    , m_controlId(controlId)
{
    if (controlId != 0)
        setObjectName(QString::number(controlId));
    setFocusPolicy(Qt::ClickFocus);
    // Every pixel is painted each time; nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CBitmapSlider::~CBitmapSlider() = default;

bool CBitmapSlider::SetBitmapChannel(const QImage& channel, const QImage& activeChannel)
{
    if (channel.isNull())
        return false;
    m_channel = channel.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_activeChannel = activeChannel.isNull()
        ? QImage()
        : activeChannel.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    resize(m_channel.size());
    update();
    return true;
}

bool CBitmapSlider::SetBitmapThumb(const QImage& thumb, const QImage& activeThumb)
{
    const QImage& active = activeThumb.isNull() ? thumb : activeThumb;
    if (thumb.isNull())
        return false;
    QImage keyed = KeyedByTopLeft(thumb);
    QImage keyedActive = KeyedByTopLeft(active);
    if (keyed.isNull() || keyedActive.isNull())
        return false;
    m_thumb = std::move(keyed);
    m_activeThumb = std::move(keyedActive);
    update();
    return true;
}

void CBitmapSlider::SetPos(int pos)
{
    m_pos = Clamp(pos);
    update();
}

void CBitmapSlider::SetRange(int min, int max, bool redraw)
{
    m_min = min;
    m_max = max;
    m_pos = Clamp(m_pos);
    if (redraw)
        update();
}

void CBitmapSlider::SetRangeMin(int min, bool redraw)
{
    SetRange(min, m_max, redraw);
}

void CBitmapSlider::SetRangeMax(int max, bool redraw)
{
    SetRange(m_min, max, redraw);
}

void CBitmapSlider::SetMargin(int left, int top, int right, int bottom)
{
    m_marginLeft = left;
    m_marginTop = top;
    m_marginRight = right;
    m_marginBottom = bottom;
    update();
}

void CBitmapSlider::SetVertical(bool vertical)
{
    m_vertical = vertical;
    update();
}

void CBitmapSlider::DrawFocusRect(bool draw, bool redraw)
{
    m_drawFocusRect = draw;
    if (redraw)
        update();
}

int CBitmapSlider::Length() const
{
    const QSize size = m_channel.isNull() ? this->size() : m_channel.size();
    return m_vertical ? size.height() : size.width();
}

int CBitmapSlider::ThumbLength() const
{
    return m_vertical ? m_thumb.height() : m_thumb.width();
}

int CBitmapSlider::UsableLength() const
{
    const int before = m_vertical ? m_marginTop : m_marginLeft;
    const int after = m_vertical ? m_marginBottom : m_marginRight;
    return Length() - before - after - ThumbLength();
}

int CBitmapSlider::Clamp(int pos) const
{
    // An inverted range pins the position to its minimum.
    return std::max(m_min, std::min(pos, m_max));
}

int CBitmapSlider::PosToPixel(int pos) const
{
    const int before = m_vertical ? m_marginTop : m_marginLeft;
    const int usable = UsableLength();
    const long long span = static_cast<long long>(m_max) - m_min;
    // Without a channel or a thumb, or with an empty range, the thumb rests
    // at the start rather than dividing by zero.
    long long offset = 0;
    if (usable > 0 && span > 0)
        offset = static_cast<long long>(usable) * (static_cast<long long>(Clamp(pos)) - m_min) / span;
    return before + static_cast<int>(offset) + ThumbLength() / 2;
}

int CBitmapSlider::PixelToPos(int pixel) const
{
    const int before = m_vertical ? m_marginTop : m_marginLeft;
    const int usable = UsableLength();
    const long long span = static_cast<long long>(m_max) - m_min;
    if (usable <= 0 || span <= 0)
        return m_min;
    const double fraction = static_cast<double>(pixel - ThumbLength() / 2 - before) / usable;
    const double pos = static_cast<double>(m_min) + std::trunc(fraction * static_cast<double>(span));
    if (pos <= m_min)
        return m_min;
    if (pos >= m_max)
        return m_max;
    return static_cast<int>(pos);
}

void CBitmapSlider::Notify(uint32_t message)
{
    platform::PostMessage(parentWidget(), message, static_cast<platform::WPARAM>(m_controlId),
                          static_cast<platform::LPARAM>(m_pos));
}

void CBitmapSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    m_dragging = true;
    const QPoint point = event->position().toPoint();
    const int along = m_vertical ? point.y() : point.x();
    const int centre = PosToPixel(m_pos);
    // A press on the thumb keeps its grip point; elsewhere the thumb jumps
    // under the cursor.
    m_dragOffset = std::abs(along - centre) > ThumbLength() / 2 ? 0 : along - centre;
    DragTo(point);
}

void CBitmapSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        DragTo(event->position().toPoint());
}

void CBitmapSlider::DragTo(const QPoint& point)
{
    const int along = (m_vertical ? point.y() : point.x()) - m_dragOffset;
    const int before = m_vertical ? m_marginTop : m_marginLeft;
    const int after = m_vertical ? m_marginBottom : m_marginRight;
    const int lowest = before + ThumbLength() / 2;
    const int highest = Length() - after - ThumbLength() / 2;
    const int pixel = std::max(lowest, std::min(along, highest));
    if (pixel == PosToPixel(m_pos))
        return;
    const int pos = Clamp(PixelToPos(pixel));
    if (pos == m_pos)
        return;
    m_pos = pos;
    update();
    Notify(WM_SLIDER_MOVING);
}

void CBitmapSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_dragging = false;
    update();
    Notify(WM_SLIDER_MOVED);
}

void CBitmapSlider::focusInEvent(QFocusEvent* event)
{
    m_focus = true;
    update();
    QWidget::focusInEvent(event);
}

void CBitmapSlider::focusOutEvent(QFocusEvent* event)
{
    m_focus = false;
    update();
    QWidget::focusOutEvent(event);
}

QSize CBitmapSlider::sizeHint() const
{
    return m_channel.isNull() ? QWidget::sizeHint() : m_channel.size();
}

void CBitmapSlider::paintEvent(QPaintEvent*)
{
    QPainter target(this);
    target.setBackground(palette().window());
    CMemDC dc(target, rect());

    const int centre = PosToPixel(m_pos);
    if (!m_channel.isNull()) {
        dc->drawImage(0, 0, m_channel);
        if (!m_activeChannel.isNull() && isEnabled()) {
            const QRect before = m_vertical ? QRect(0, 0, m_activeChannel.width(), centre)
                                            : QRect(0, 0, centre, m_activeChannel.height());
            dc->drawImage(before.topLeft(), m_activeChannel, before);
        }
    }

    const QImage& thumb = m_dragging ? m_activeThumb : m_thumb;
    if (!thumb.isNull()) {
        QPoint corner;
        if (m_vertical) {
            const int across = width() - m_marginLeft - m_marginRight - thumb.width();
            corner = QPoint(m_marginLeft + std::max(0, across / 2), centre - thumb.height() / 2);
        } else {
            const int across = height() - m_marginTop - m_marginBottom - thumb.height();
            corner = QPoint(centre - thumb.width() / 2, m_marginTop + std::max(0, across / 2));
        }
        dc->drawImage(corner, thumb);
    }

    if (m_focus && isEnabled() && m_drawFocusRect) {
        QPen pen(palette().windowText().color(), 1, Qt::DotLine);
        dc->setPen(pen);
        dc->setBrush(Qt::NoBrush);
        dc->drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
