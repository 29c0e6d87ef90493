#pragma once
// Off-screen drawing: everything drawn through a CMemDC lands in a bitmap of
// the rectangle, which is copied to the target in one go when the CMemDC is
// destroyed, so a widget never shows half-drawn frames. Print and PDF targets
// are drawn on directly.
#include <QImage>
#include <QPainter>
#include <QRect>

#include <memory>

class CMemDC {
public:
    // `rect` is in the target's coordinates; an empty rect means the target's
    // clip box (or its whole device). With `copyBackground` the target's pixels
    // under the rectangle are the starting picture, else its background colour.
    explicit CMemDC(QPainter& target, const QRect& rect = QRect(), bool copyBackground = false);
    ~CMemDC();

    CMemDC(const CMemDC&) = delete;
    CMemDC& operator=(const CMemDC&) = delete;

    // The painter to draw with, in the target's coordinates.
    QPainter* operator->() { return m_painter; }
    QPainter& Painter() { return *m_painter; }

    bool IsOffScreen() const { return m_offScreen; }
    const QRect& Rect() const { return m_rect; }

private:
    void CopyTargetPixels();

    QPainter& m_target;
    QRect m_rect;
    QImage m_bitmap;
    std::unique_ptr<QPainter> m_ownPainter;
    QPainter* m_painter = nullptr;
    bool m_offScreen = true;
};
