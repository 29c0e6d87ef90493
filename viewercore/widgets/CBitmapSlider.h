#pragma once
// A slider drawn from bitmaps: a channel and a thumb (each with an "active"
// twin). It reports dragging and the final position to its parent window as
// window messages; wParam is the slider's control id, lParam the position.
#include "platform/Messages.h"

#include <QImage>
#include <QWidget>

#include <cstdint>

inline constexpr uint32_t WM_SLIDER_MOVING = 0x28D1;
inline constexpr uint32_t WM_SLIDER_MOVED = 0x28D2;

class CBitmapSlider : public QWidget {
    Q_OBJECT
public:
    explicit CBitmapSlider(QWidget* parent = nullptr, int controlId = 0);
    ~CBitmapSlider() override;

    int GetDlgCtrlID() const { return m_controlId; }

    // The channel sizes the slider; `activeChannel`, when given, draws the part
    // of the channel before the thumb. False when `channel` is null.
    bool SetBitmapChannel(const QImage& channel, const QImage& activeChannel = QImage());
    // The thumb and the thumb shown while dragging (the same picture when
    // `activeThumb` is null); each one's top-left pixel is its transparent colour.
    bool SetBitmapThumb(const QImage& thumb, const QImage& activeThumb = QImage());

    void SetPos(int pos);
    int GetPos() const { return m_pos; }
    void SetRange(int min, int max, bool redraw = false);
    void SetRangeMin(int min, bool redraw = false);
    void SetRangeMax(int max, bool redraw = false);
    int GetRangeMin() const { return m_min; }
    int GetRangeMax() const { return m_max; }
    void SetPageSize(int size) { m_page = size; }
    int GetPageSize() const { return m_page; }
    // Ends of the channel that the thumb centre cannot pass.
    void SetMargin(int left, int top, int right, int bottom);
    void SetVertical(bool vertical);
    bool IsVertical() const { return m_vertical; }
    void DrawFocusRect(bool draw = true, bool redraw = false);

    bool IsDragging() const { return m_dragging; }
    // Centre of the thumb, along the slider, for a position (and back).
    int PosToPixel(int pos) const;
    int PixelToPos(int pixel) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    QSize sizeHint() const override;

private:
    int Length() const;      // extent along the slider
    int ThumbLength() const; // thumb extent along the slider
    int UsableLength() const;
    int Clamp(int pos) const;
    void DragTo(const QPoint& point);
    void Notify(uint32_t message);

    int m_controlId;
    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
    int m_page = 20;
    QImage m_channel;
    QImage m_activeChannel;
    QImage m_thumb;       // colour-keyed
    QImage m_activeThumb; // colour-keyed
    int m_marginLeft = 0;
    int m_marginTop = 0;
    int m_marginRight = 0;
    int m_marginBottom = 0;
    bool m_vertical = false;
    bool m_dragging = false;
    bool m_focus = false;
    bool m_drawFocusRect = true;
    int m_dragOffset = 0;
};
