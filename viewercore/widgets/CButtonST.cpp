#include "CButtonST.h"

#include "ColourKey.h"

#include <QEvent>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>

const QColor CButtonST::kInTransparentColour = QColor(0, 255, 255);
const QColor CButtonST::kOutTransparentColour = QColor(255, 0, 255);

namespace {

constexpr int kFocusInset = 3;
constexpr int kImageTextGap = 3;

void Draw3dRect(QPainter& painter, const QRect& rect, const QColor& topLeft, const QColor& bottomRight)
{
    painter.setPen(topLeft);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
}

} // namespace

CButtonST::CButtonST(QWidget* parent, int controlId)
    : QPushButton(parent)
    , m_controlId(controlId)
{
    if (controlId != 0)
        setObjectName(QString::number(controlId));
    setMouseTracking(true);
    setAutoFillBackground(false);
    SetDefaultColors(false);
}

CButtonST::~CButtonST() = default;

int CButtonST::SetBitmaps(const QImage& in, const QColor& inTransparent, const QImage& out,
                          const QColor& outTransparent)
{
    FreeResources(false);
    if (in.isNull() || in.width() <= 0 || in.height() <= 0) {
        update();
        return BitmapSizeUnreadable;
    }
    QImage keyedIn = ApplyColourKey(in, inTransparent);
    QImage keyedOut;
    if (!out.isNull())
        keyedOut = ApplyColourKey(out, outTransparent);
    if (keyedIn.isNull() || (!out.isNull() && keyedOut.isNull())) {
        update();
        return BitmapMaskFailed;
    }
    m_bitmapIn = std::move(keyedIn);
    m_bitmapOut = std::move(keyedOut);
    update();
    return BitmapsTaken;
}

int CButtonST::SetBitmaps(const QImage& in, const QImage& out)
{
    return SetBitmaps(in, kInTransparentColour, out, kOutTransparentColour);
}

void CButtonST::FreeResources(bool repaint)
{
    m_bitmapIn = QImage();
    m_bitmapOut = QImage();
    if (repaint)
        update();
}

void CButtonST::SetTooltipText(const QString& text, bool activate)
{
    m_tooltip = text;
    ActivateTooltip(activate);
}

void CButtonST::ActivateTooltip(bool activate)
{
    setToolTip(activate ? m_tooltip : QString());
}

void CButtonST::SetTransparentDraw(bool repaint)
{
    // Children are composed over their parent's picture, so drawing no
    // background of our own is all it takes, and it never goes stale.
    m_transparent = true;
    if (repaint)
        update();
}

void CButtonST::SetFlat(bool flat, bool repaint)
{
    m_flat = flat;
    if (!flat)
        m_hovered = false;
    if (repaint)
        update();
}

void CButtonST::SetDrawBorder(bool draw, bool repaint)
{
    m_drawBorder = draw;
    if (repaint)
        update();
}

void CButtonST::SetFlatFocus(bool draw, bool repaint)
{
    m_flatFocus = draw;
    if (repaint)
        update();
}

void CButtonST::SetAlign(Alignment align, bool repaint)
{
    m_align = align;
    if (repaint)
        update();
}

void CButtonST::SetColor(ColourIndex index, const QColor& colour, bool repaint)
{
    if (index < 0 || index >= ColourCount)
        return;
    m_colours[index] = colour;
    if (repaint)
        update();
}

void CButtonST::SetDefaultColors(bool repaint)
{
    const QColor face = palette().color(QPalette::Button);
    const QColor text = palette().color(QPalette::ButtonText);
    m_colours[BackgroundIn] = m_colours[BackgroundOut] = m_colours[BackgroundFocus] = face;
    m_colours[TextIn] = m_colours[TextOut] = m_colours[TextFocus] = text;
    if (repaint)
        update();
}

void CButtonST::SetAlwaysTrack(bool always)
{
    m_alwaysTrack = always;
}

void CButtonST::SetCheckBoxMode(bool checkBox)
{
    setCheckable(checkBox);
    update();
}

void CButtonST::SetCheck(bool checked, bool repaint)
{
    if (!isCheckable())
        return;
    setChecked(checked);
    if (repaint)
        update();
}

void CButtonST::EndHover()
{
    if (!m_hovered)
        return;
    m_hovered = false;
    update();
}

void CButtonST::mouseMoveEvent(QMouseEvent* event)
{
    QPushButton::mouseMoveEvent(event);
    if (!m_flat)
        return;
    // While the button is held elsewhere, the highlight does not start here.
    if ((event->buttons() & Qt::LeftButton) && !m_hovered)
        return;
    const bool inside = rect().contains(event->position().toPoint()) && (m_alwaysTrack || isActiveWindow());
    if (inside && !m_hovered) {
        m_hovered = true;
        update();
    } else if (!inside) {
        EndHover();
    }
}

void CButtonST::leaveEvent(QEvent* event)
{
    EndHover();
    QPushButton::leaveEvent(event);
}

void CButtonST::focusOutEvent(QFocusEvent* event)
{
    EndHover();
    QPushButton::focusOutEvent(event);
}

void CButtonST::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && !isActiveWindow())
        EndHover();
    else if (event->type() == QEvent::EnabledChange && !isEnabled())
        EndHover();
    QPushButton::changeEvent(event);
}

void CButtonST::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_ptzHook) {
        QPointer<CButtonST> self(this);
        m_ptzHook->OnPtzButtonDown(this);
        if (!self)
            return;
    }
    QPushButton::mousePressEvent(event);
}

void CButtonST::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_ptzHook) {
        QPointer<CButtonST> self(this);
        m_ptzHook->OnPtzButtonUp(this);
        if (!self)
            return;
    }
    QPushButton::mouseReleaseEvent(event);
}

void CButtonST::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    DrawItem(painter);
}

void CButtonST::OnDrawBackground(QPainter& painter, const QRect& rect, bool pressed, bool focused)
{
    QColor colour = m_colours[BackgroundOut];
    if (m_hovered || pressed)
        colour = m_colours[BackgroundIn];
    else if (focused)
        colour = m_colours[BackgroundFocus];
    painter.fillRect(rect, colour);
}

void CButtonST::OnDrawBorder(QPainter& painter, const QRect& rect, bool pressed)
{
    if (!m_drawBorder)
        return;
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    if (pressed)
        Draw3dRect(painter, rect, shadow, light);
    else
        Draw3dRect(painter, rect, light, shadow);
}

void CButtonST::DrawItem(QPainter& painter)
{
    const bool pressed = isCheckable() ? (isChecked() || isDown()) : isDown();
    const bool focused = hasFocus();
    const bool enabled = isEnabled();
    QRect area = rect();

    if (!m_flat && (focused || isDefault())) {
        painter.setPen(Qt::black);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        area.adjust(1, 1, -1, -1);
    }

    if (!m_transparent)
        OnDrawBackground(painter, area, pressed, focused);

    if (pressed) {
        if (m_flat) {
            OnDrawBorder(painter, area, true);
        } else {
            painter.setPen(palette().color(QPalette::Dark));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(area.adjusted(0, 0, -1, -1));
        }
    } else if (!m_flat) {
        const QRect outer = area.adjusted(0, 0, -1, -1);
        Draw3dRect(painter, outer, palette().color(QPalette::Light), palette().color(QPalette::Shadow));
        Draw3dRect(painter, outer.adjusted(1, 1, -1, -1), palette().color(QPalette::Midlight),
                   palette().color(QPalette::Dark));
    } else if (m_hovered) {
        OnDrawBorder(painter, area.adjusted(0, 0, -1, -1), false);
    }

    const QString caption = text();
    QRect textArea = area;
    const bool shifted = pressed && !isCheckable();
    DrawImage(painter, area, shifted, !caption.isEmpty(), &textArea);

    if (!caption.isEmpty()) {
        if (shifted)
            textArea.translate(1, 1);
        const int flags = Qt::AlignCenter | Qt::TextWordWrap;
        painter.setFont(font());
        if (!enabled) {
            painter.setPen(palette().color(QPalette::Light));
            painter.drawText(textArea.translated(1, 1), flags, caption);
            painter.setPen(palette().color(QPalette::Dark));
            painter.drawText(textArea, flags, caption);
        } else {
            painter.setPen(m_colours[(m_hovered || pressed) ? TextIn : TextOut]);
            painter.drawText(textArea, flags, caption);
        }
    }

    if (focused && (!m_flat || m_flatFocus)) {
        QPen pen(palette().color(QPalette::WindowText), 1, Qt::DotLine);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(rect().adjusted(kFocusInset, kFocusInset, -kFocusInset - 1, -kFocusInset - 1));
    }
}

void CButtonST::DrawImage(QPainter& painter, const QRect& area, bool shifted, bool hasText, QRect* textArea)
{
    if (m_bitmapIn.isNull())
        return;
    bool useIn = isCheckable() ? isChecked() : (isDown() || m_hovered);
    const QImage& chosen = (useIn || m_bitmapOut.isNull()) ? m_bitmapIn : m_bitmapOut;
    const QImage image = isEnabled() ? chosen : GreyedImage(chosen);

    QPoint corner((area.width() - image.width()) / 2, (area.height() - image.height()) / 2);
    corner += area.topLeft();
    if (hasText) {
        switch (m_align) {
        case ImageLeftOfText:
            corner.setX(area.left() + kImageTextGap);
            textArea->setLeft(corner.x() + image.width());
            break;
        case ImageRightOfText:
            corner.setX(area.right() - kImageTextGap - image.width() + 1);
            textArea->setRight(corner.x() - 1);
            break;
        case ImageAboveText:
            corner.setY(area.top() + kImageTextGap);
            textArea->setTop(corner.y() + image.height());
            break;
        }
    }
    if (shifted)
        corner += QPoint(1, 1);
    painter.drawImage(corner, image);
}
