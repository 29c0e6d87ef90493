#pragma once
// The 12-pixel strip over a video pane: a plain title, or the channel's
// state as letter boxes and a play-state glyph.
#include <QString>
#include <QWidget>

#include <mutex>

namespace vyrdax {

class CTitleBarWnd : public QWidget {
public:
    static constexpr int kHeight = 12;

    explicit CTitleBarWnd(QWidget* parent);

    // Both may be called from any thread; the bar repaints on its own thread.
    void SetTitle(const QString& text);
    void DrawStateTitle(const QString& text, int state, int unused = 0);

    QString Title() const;
    int State() const;
    void SetVersion(int version) { version_ = version; }
    int Version() const { return version_; }

    // Renders the bar as it would paint, for tests and snapshots.
    static QFont BarFont();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void RequestRepaint();
    void PaintPlain(class QPainter& p, const QString& title);
    void PaintState(class QPainter& p, int state, const QString& title);

    mutable std::mutex mutex_;
    int version_ = 1;
    QString title_;
    int state_ = -1;
};

} // namespace vyrdax
