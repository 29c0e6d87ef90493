#include "CMemDC.h"

#include <QPagedPaintDevice>
#include <QPaintDevice>
#include <QWidget>

namespace {

// Printers and PDF writers are paged devices: they take drawing as it comes.
bool IsPrintDevice(const QPaintDevice* device)
{
    return device
        && (device->devType() == QInternal::Printer || dynamic_cast<const QPagedPaintDevice*>(device) != nullptr);
}

QRect DefaultRect(const QPainter& target)
{
    if (target.hasClipping())
        return target.clipBoundingRect().toAlignedRect();
    const QPaintDevice* device = target.device();
    if (!device)
        return {};
    const QRect deviceRect(0, 0, device->width(), device->height());
    return target.worldTransform().inverted().mapRect(deviceRect);
}

} // namespace

CMemDC::CMemDC(QPainter& target, const QRect& rect, bool copyBackground)
    : m_target(target)
{
    m_rect = rect.isEmpty() ? DefaultRect(target) : rect;
    m_offScreen = !IsPrintDevice(target.device()) && !m_rect.isEmpty();
    if (m_offScreen) {
        m_bitmap = QImage(m_rect.size(), QImage::Format_ARGB32_Premultiplied);
        m_offScreen = !m_bitmap.isNull();
    }
    if (!m_offScreen) {
        m_painter = &m_target;
        return;
    }

    if (copyBackground)
        CopyTargetPixels();
    else
        m_bitmap.fill(m_target.background().color());

    m_ownPainter = std::make_unique<QPainter>(&m_bitmap);
    m_painter = m_ownPainter.get();
    m_painter->setFont(m_target.font());
    m_painter->setPen(m_target.pen());
    m_painter->setBrush(m_target.brush());
    m_painter->setBackground(m_target.background());
    m_painter->setRenderHints(m_target.renderHints());
    m_painter->translate(-m_rect.topLeft());
}

CMemDC::~CMemDC()
{
    if (!m_offScreen)
        return;
    m_ownPainter.reset();
    const QPainter::CompositionMode mode = m_target.compositionMode();
    m_target.setCompositionMode(QPainter::CompositionMode_Source);
    m_target.drawImage(m_rect.topLeft(), m_bitmap);
    m_target.setCompositionMode(mode);
}

void CMemDC::CopyTargetPixels()
{
    QPaintDevice* device = m_target.device();
    const QRect deviceRect = m_target.worldTransform().mapRect(m_rect);
    if (device && device->devType() == QInternal::Image) {
        const QImage* image = static_cast<const QImage*>(device);
        m_bitmap = image->copy(deviceRect).convertToFormat(QImage::Format_ARGB32_Premultiplied).scaled(m_rect.size());
        return;
    }
    // A widget's own pixels cannot be read back while it paints; what lies
    // under it is its parent's picture.
    if (device && device->devType() == QInternal::Widget) {
        auto* widget = static_cast<QWidget*>(device);
        if (QWidget* parent = widget->parentWidget()) {
            m_bitmap.fill(Qt::transparent);
            const QRect inParent = deviceRect.translated(widget->pos());
            parent->render(&m_bitmap, QPoint(), QRegion(inParent), QWidget::DrawWindowBackground);
            return;
        }
    }
    m_bitmap.fill(m_target.background().color());
}
