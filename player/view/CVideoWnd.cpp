#include "CVideoWnd.h"

#include "control/display/ColorConversion.h"

#include <QMouseEvent>
#include <QPainter>

namespace zoplayer {

namespace {

constexpr QRgb kFrameColour = 0xC8C8C8;
constexpr int kDefaultWidth = 720;
constexpr int kDefaultHeight = 576;

} // namespace

CTitleBarWnd::CTitleBarWnd(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CTitleBarWnd::SetTitle(const QString& text)
{
    title_ = text;
    update();
}

void CTitleBarWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    // Black fills the whole bar behind the text, however short it is.
    p.fillRect(rect(), Qt::black);
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setStyleHint(QFont::TypeWriter);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, title_);
}

CVideoWnd::CVideoWnd(QWidget* parent, int cell)
    : QWidget(parent), titleBar_(new CTitleBarWnd(this)), cell_(cell),
      picture_(kDefaultWidth, kDefaultHeight, QImage::Format_RGB32)
{
    vyrdax::InitColorConversion();
    picture_.fill(Qt::black);
    black_ = true;
    titleBar_->setProperty("controlId", kTitleBarId);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QString CVideoWnd::Title() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return TitleLocked();
}

QString CVideoWnd::TitleLocked() const
{
    return pendingTitle_.isNull() ? titleBar_->Title() : pendingTitle_;
}

QImage CVideoWnd::Picture() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return picture_.copy();
}

void CVideoWnd::SetTitle(const std::string& text)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        const QString title = QString::fromLatin1(text.c_str());
        // A finished channel's caption is set again on every wake; it is
        // drawn once.
        if (title == TitleLocked())
            return;
        pendingTitle_ = title;
    }
    RequestRepaint();
}

void CVideoWnd::ShowPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height)
{
    if (width <= 0 || height <= 0)
        return;
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Each picture brings its own size.
        if (picture_.width() != width || picture_.height() != height)
            picture_ = QImage(width, height, QImage::Format_RGB32);
        vyrdax::ConvertI420ToBgra(y, width, u, v, width / 2, width, height, picture_.bits(),
                                  static_cast<int>(picture_.bytesPerLine()));
        black_ = false;
    }
    RequestRepaint();
}

void CVideoWnd::ClearPicture()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (black_)
            return; // already clear: nothing to draw again
        picture_.fill(Qt::black);
        black_ = true;
    }
    RequestRepaint();
}

void CVideoWnd::RequestRepaint()
{
    // Many pictures a second from a playback thread make one repaint at a time.
    if (repaintPending_.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            repaintPending_ = false;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (!pendingTitle_.isNull() && pendingTitle_ != titleBar_->Title())
                    titleBar_->SetTitle(pendingTitle_);
            }
            update();
        },
        Qt::QueuedConnection);
}

void CVideoWnd::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect inside(1, kTitleBarHeight + 1, std::max(0, width() - 2), std::max(0, height() - kTitleBarHeight - 2));
    {
        std::lock_guard<std::mutex> guard(lock_);
        p.drawImage(inside, picture_, picture_.rect());
    }
    p.setPen(QColor(kFrameColour));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void CVideoWnd::resizeEvent(QResizeEvent*)
{
    titleBar_->setGeometry(1, 1, std::max(0, width() - 2), kTitleBarHeight);
}

void CVideoWnd::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        pressed_ = true;
}

void CVideoWnd::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !pressed_)
        return;
    pressed_ = false;
    if (rect().contains(event->position().toPoint())) {
        update();
        emit Notify(kVideoClickMessage, cell_, 0);
    }
    setFocus();
}

void CVideoWnd::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    emit Notify(kVideoDoubleClickMessage, cell_, (at.x() & 0xFFFF) | (at.y() & 0xFFFF) << 16);
}

} // namespace zoplayer
