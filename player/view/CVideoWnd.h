#pragma once
// One display cell of the player: a 12-pixel title bar, white on black,
// over a picture stretched from its own size to the window. Playback
// threads convert into the picture under the window's lock; painting
// happens on the user-interface thread.
#include "player/engine/PlaybackEngine.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <mutex>

namespace zoplayer {

// What a video window tells its parent: a click, and a double click with
// the window's cell.
inline constexpr int kVideoClickMessage = 0x40F;
inline constexpr int kVideoDoubleClickMessage = 0x410;

class CTitleBarWnd : public QWidget {
    Q_OBJECT
public:
    explicit CTitleBarWnd(QWidget* parent);
    void SetTitle(const QString& text);
    QString Title() const { return title_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
};

class CVideoWnd : public QWidget, public ChannelWindow {
    Q_OBJECT
public:
    static constexpr int kTitleBarHeight = 12;
    static constexpr int kTitleBarId = 10001;

    CVideoWnd(QWidget* parent, int cell);

    int Cell() const { return cell_; }
    // The title last set, shown at the next repaint.
    QString Title() const;
    // A copy of the picture as last converted.
    QImage Picture() const;

    // ChannelWindow, called from playback threads.
    void SetTitle(const std::string& text) override;
    void ShowPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height) override;
    void ClearPicture() override;

signals:
    // (message, cell, x | y << 16)
    void Notify(int message, int cell, int position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void RequestRepaint();
    // The title last set, applied or not yet; with lock_ held.
    QString TitleLocked() const;

    CTitleBarWnd* titleBar_;
    int cell_;
    mutable std::mutex lock_; // the picture and pending title
    QImage picture_;
    bool black_ = false; // the whole picture is black; under lock_
    QString pendingTitle_;
    std::atomic<bool> repaintPending_{false};
    bool pressed_ = false;
};

} // namespace zoplayer
