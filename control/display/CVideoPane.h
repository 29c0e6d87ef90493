#pragma once
// The window that shows one channel's video below its two title bars. The
// picture lives in an off-screen 32-bit image and is scaled into the pane.
#include "CTitleBarWnd.h"

#include <QImage>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vyrdax {

class CVideoPane : public QWidget {
public:
    static constexpr int kLeftTitleId = 1004;
    static constexpr int kRightTitleId = 1005;
    static constexpr uint32_t kDefaultBorder = 0x202020;

    CVideoPane(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight, QWidget* parent);

    void SetPaneIndex(int index) { paneIndex_ = index; }
    int PaneIndex() const { return paneIndex_; }
    bool Selected() const { return selected_; }
    void SetSelected(bool selected) { selected_ = selected; }

    CTitleBarWnd* LeftTitle() const { return leftTitle_; }
    CTitleBarWnd* RightTitle() const { return rightTitle_; }

    // Border colour as a COLORREF (0x00BBGGRR). Thread-safe.
    void DrawBorder(uint32_t colorref);
    uint32_t BorderColor() const { return border_.load(); }

    // Off-screen picture. Callers on worker threads hold the channel's
    // display lock; every access also takes the pane's own image lock.
    bool CreateOffscreenSurface(int width, int height);
    void ClearSurface();
    // Rows of 32-bit pixels (blue, green, red, unused) of the picture size;
    // `fill` writes into them under the image lock.
    template <typename Fill>
    void WritePicture(Fill fill)
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        fill(picture_);
        black_ = false;
        changed_ = true;
    }
    // Converts one planar 4:2:0 picture (Y of width x height, U and V of
    // width/2 x height/2) into the off-screen picture, which takes the
    // picture's size.
    void ShowYV12Frame(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height);
    // Schedules the picture to be drawn on the pane, when it changed since it
    // was last presented: a pane cleared again, as an idle channel's is,
    // is not drawn again.
    void PresentFrame();
    // Stamps the left title into the picture at (10, 10) and writes the last
    // shown picture, at its own size, as a JPEG file; 1 when written.
    int SaveSnapshot(const std::string& path);
    // The size of the last picture shown, for snapshots.
    int SnapshotWidth() const { return snapshotWidth_.load(); }
    int SnapshotHeight() const { return snapshotHeight_.load(); }

    QImage PictureCopy() const;
    int PictureWidth() const;
    int PictureHeight() const;
    // Where the picture lands in the pane: below the title strip, inside the border.
    QRect VideoRect() const;

    static QColor FromColorRef(uint32_t colorref);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void PlaceTitleBars();

    CTitleBarWnd* leftTitle_;
    CTitleBarWnd* rightTitle_;
    std::atomic<int> paneIndex_{-1};
    std::atomic<uint32_t> border_{kDefaultBorder};
    std::atomic<bool> selected_{false};
    int windowWidth_, windowHeight_;
    bool buttonDown_ = false;
    std::atomic<int> snapshotWidth_{0};
    std::atomic<int> snapshotHeight_{0};
    std::atomic<bool> updatePending_{false};

    mutable std::mutex imageMutex_;
    QImage picture_;
    bool black_ = false;   // the whole picture is black; under imageMutex_
    bool changed_ = false; // not presented since it changed; under imageMutex_
};

} // namespace vyrdax
