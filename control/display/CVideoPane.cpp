#include "CVideoPane.h"

#include "ColorConversion.h"
#include "Snapshot.h"
#include "control/interface/VyrdaxInterface.h"
#include "platform/Messages.h"

#include <QMouseEvent>
#include <QPainter>

namespace vyrdax {

CVideoPane::CVideoPane(int pictureWidth, int pictureHeight, int windowWidth, int windowHeight, QWidget* parent)
    : QWidget(parent),
      leftTitle_(new CTitleBarWnd(this)),
      rightTitle_(new CTitleBarWnd(this)),
      windowWidth_(windowWidth),
      windowHeight_(windowHeight)
{
    leftTitle_->setObjectName(QString::number(kLeftTitleId));
    rightTitle_->setObjectName(QString::number(kRightTitleId));
    setAttribute(Qt::WA_OpaquePaintEvent);
    CreateOffscreenSurface(pictureWidth, pictureHeight);
    resize(windowWidth_, windowHeight_);
    PlaceTitleBars();
}

QColor CVideoPane::FromColorRef(uint32_t c)
{
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

void CVideoPane::DrawBorder(uint32_t colorref)
{
    border_ = colorref;
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

bool CVideoPane::CreateOffscreenSurface(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return false;
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return false;
    image.fill(Qt::black);
    std::lock_guard<std::mutex> lock(imageMutex_);
    picture_ = std::move(image);
    black_ = true;
    changed_ = true;
    return true;
}

void CVideoPane::ClearSurface()
{
    std::lock_guard<std::mutex> lock(imageMutex_);
    if (black_)
        return;
    picture_.fill(Qt::black);
    black_ = true;
    changed_ = true;
}

void CVideoPane::ShowYV12Frame(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height)
{
    width &= ~1;
    height &= ~1;
    if (!y || !u || !v || width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return;
    std::lock_guard<std::mutex> lock(imageMutex_);
    if (picture_.width() != width || picture_.height() != height) {
        QImage image(width, height, QImage::Format_RGB32);
        if (image.isNull())
            return;
        picture_ = std::move(image);
    }
    ConvertI420ToBgra(y, width, u, v, width / 2, width, height, picture_.bits(),
                      static_cast<int>(picture_.bytesPerLine()));
    black_ = false;
    changed_ = true;
    snapshotWidth_ = width;
    snapshotHeight_ = height;
}

void CVideoPane::PresentFrame()
{
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        if (!changed_)
            return;
        changed_ = false;
    }
    // One repaint is queued at a time: a pane that cannot keep up shows
    // the newest picture rather than a backlog of repaints.
    if (updatePending_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            updatePending_ = false;
            update(VideoRect());
        },
        Qt::QueuedConnection);
}

int CVideoPane::SaveSnapshot(const std::string& path)
{
    QImage picture;
    {
        std::lock_guard<std::mutex> lock(imageMutex_);
        const QString title = leftTitle_->Title();
        if (!title.isEmpty()) {
            // The stamp stays in the picture until the next one replaces it.
            QPainter p(&picture_);
            QFont font("DejaVu Sans");
            font.setPixelSize(10);
            font.setWeight(QFont::Normal);
            p.setFont(font);
            p.setPen(Qt::white);
            p.drawText(QPoint(10, 10 + QFontMetrics(font).ascent()), title);
            black_ = false;
            changed_ = true;
        }
        const int w = snapshotWidth_.load() > 0 ? snapshotWidth_.load() : picture_.width();
        const int h = snapshotHeight_.load() > 0 ? snapshotHeight_.load() : picture_.height();
        picture = picture_.copy(0, 0, w, h);
    }
    PresentFrame();
    const std::vector<uint8_t> dib = BitmapToDIB(picture, BI_RGB);
    if (dib.empty())
        return 0;
    return SaveDIBAsJpeg(path, dib);
}

QImage CVideoPane::PictureCopy() const
{
    std::lock_guard<std::mutex> lock(imageMutex_);
    return picture_.copy();
}

int CVideoPane::PictureWidth() const
{
    std::lock_guard<std::mutex> lock(imageMutex_);
    return picture_.width();
}

int CVideoPane::PictureHeight() const
{
    std::lock_guard<std::mutex> lock(imageMutex_);
    return picture_.height();
}

QRect CVideoPane::VideoRect() const
{
    // One pixel of border on three sides, the title strip on top.
    return QRect(QPoint(1, CTitleBarWnd::kHeight), QPoint(width() - 2, height() - 2));
}

void CVideoPane::PlaceTitleBars()
{
    const int w = width();
    leftTitle_->setGeometry(1, 1, std::max(0, w - 72), CTitleBarWnd::kHeight);
    rightTitle_->setGeometry(w - 71, 1, 70, CTitleBarWnd::kHeight);
}

void CVideoPane::resizeEvent(QResizeEvent*)
{
    PlaceTitleBars();
}

void CVideoPane::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect video = VideoRect();
    if (video.isValid()) {
        std::lock_guard<std::mutex> lock(imageMutex_);
        p.drawImage(video, picture_);
    }
    p.setPen(FromColorRef(border_.load()));
    p.setBrush(Qt::NoBrush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CVideoPane::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        buttonDown_ = true;
    QWidget::mousePressEvent(event);
}

void CVideoPane::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && buttonDown_) {
        buttonDown_ = false;
        update();
        if (rect().contains(event->position().toPoint()))
            platform::SendMessage(parentWidget(), WM_VIDEO_SELECT, static_cast<platform::WPARAM>(paneIndex_.load()), 0);
        setFocus(Qt::MouseFocusReason);
    }
    QWidget::mouseReleaseEvent(event);
}

void CVideoPane::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        platform::SendMessage(parentWidget(), WM_VIDEO_TOGGLE, static_cast<platform::WPARAM>(paneIndex_.load()),
                              static_cast<platform::LPARAM>(p.x() + (p.y() << 16)));
    }
    QWidget::mouseDoubleClickEvent(event);
}

} // namespace vyrdax
