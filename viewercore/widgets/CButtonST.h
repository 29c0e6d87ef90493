#pragma once
// The viewers' skinned push button: drawn by itself from two bitmaps (one
// while pressed or under the pointer, one otherwise), each with a colour that
// stays transparent; flat with a hover highlight, a tooltip, an optional
// check-box behaviour and an optional transparent background.
#include <QColor>
#include <QImage>
#include <QPushButton>
#include <QString>

class CButtonST : public QPushButton {
    Q_OBJECT
public:
    // Transparent colours of the in-bitmap and the out-bitmap.
    static const QColor kInTransparentColour;  // red 0, green 255, blue 255
    static const QColor kOutTransparentColour; // red 255, green 0, blue 255

    enum SetBitmapsResult { BitmapsTaken = 0, BitmapSizeUnreadable = 1, BitmapMaskFailed = 2 };
    // Where the image sits beside the caption.
    enum Alignment { ImageLeftOfText = 0, ImageAboveText = 1, ImageRightOfText = 2 };
    // Background and text colours of the three states: pressed or under the
    // pointer ("in"), otherwise ("out"), and focused.
    enum ColourIndex {
        BackgroundIn = 0,
        TextIn,
        BackgroundOut,
        TextOut,
        BackgroundFocus,
        TextFocus,
        ColourCount
    };

    // Told of left-button presses and releases before the button handles
    // them; the view uses it for the pan-tilt-zoom buttons.
    class PtzHook {
    public:
        virtual ~PtzHook() = default;
        virtual void OnPtzButtonDown(CButtonST* button) = 0;
        virtual void OnPtzButtonUp(CButtonST* button) = 0;
    };

    explicit CButtonST(QWidget* parent = nullptr, int controlId = 0);
    ~CButtonST() override;

    int GetDlgCtrlID() const { return m_controlId; }

    // `in` is shown while pressed or under the pointer, `out` (when given)
    // otherwise. Results: 0 taken, 1 a bitmap has no size, 2 its mask could
    // not be made; on failure the button is left without bitmaps.
    int SetBitmaps(const QImage& in, const QColor& inTransparent, const QImage& out = QImage(),
                   const QColor& outTransparent = kOutTransparentColour);
    int SetBitmaps(const QImage& in, const QImage& out = QImage());
    void FreeResources(bool repaint = true);
    bool HasBitmaps() const { return !m_bitmapIn.isNull(); }

    void SetTooltipText(const QString& text, bool activate = true);
    void ActivateTooltip(bool activate = true);

    // Draws over the parent's background from now on.
    void SetTransparentDraw(bool repaint = true);
    bool IsTransparentDraw() const { return m_transparent; }

    void SetFlat(bool flat = true, bool repaint = true);
    void SetDrawBorder(bool draw = true, bool repaint = true);
    void SetFlatFocus(bool draw, bool repaint = true);
    void SetAlign(Alignment align, bool repaint = true);
    void SetColor(ColourIndex index, const QColor& colour, bool repaint = true);
    void SetDefaultColors(bool repaint = true);
    void SetAlwaysTrack(bool always = true);

    // Check-box mode: a click flips the checked state, which chooses the bitmap.
    void SetCheckBoxMode(bool checkBox = true);
    bool IsCheckBoxMode() const { return isCheckable(); }
    void SetCheck(bool checked, bool repaint = true);
    bool GetCheck() const { return isChecked(); }

    void SetPtzHook(PtzHook* hook) { m_ptzHook = hook; }
    bool IsHovered() const { return m_hovered; }

protected:
    // Paints the whole button: background, border, image, text, focus.
    virtual void DrawItem(QPainter& painter);
    virtual void OnDrawBackground(QPainter& painter, const QRect& rect, bool pressed, bool focused);
    virtual void OnDrawBorder(QPainter& painter, const QRect& rect, bool pressed);

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void EndHover();
    void DrawImage(QPainter& painter, const QRect& area, bool pressed, bool hasText, QRect* textArea);

    int m_controlId;
    bool m_flat = true;
    bool m_drawBorder = true;
    bool m_alwaysTrack = true;
    bool m_flatFocus = false;
    bool m_transparent = false;
    bool m_hovered = false;
    Alignment m_align = ImageLeftOfText;
    QColor m_colours[ColourCount];
    QImage m_bitmapIn;  // colour-keyed
    QImage m_bitmapOut; // colour-keyed; null when absent
    QString m_tooltip;
    PtzHook* m_ptzHook = nullptr;
};
