#include "ViewerMainFrame.h"

#include "ViewerHandOver.h"
#include "platform/MessageBox.h"
#include "viewercore/model/SettingsDocument.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace viewer {

ViewerMainFrame::ViewerMainFrame(const char* title, const char* startWord, int startMode,
                                 const QString& programDirectory)
    : title_(title), startWord_(startWord), startMode_(startMode), programDirectory_(programDirectory)
{
    setWindowTitle(title);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth, kMinimumHeight);
    idleTimer_.setSingleShot(true);
    QObject::connect(&idleTimer_, &QTimer::timeout, this, [this] { CheckIdle(); });
    closeServer_ = std::make_unique<ViewerCloseServer>(title, [this] { close(); });
}

ViewerMainFrame::~ViewerMainFrame() = default;

void ViewerMainFrame::SetView(QWidget* view)
{
    view_ = view;
    view_->setGeometry(rect());
}

void ViewerMainFrame::resizeEvent(QResizeEvent*)
{
    if (view_)
        view_->setGeometry(rect());
}

void ViewerMainFrame::RestorePlacement(const SettingsDocument& data, bool requireMinimumSize)
{
    const WindowRect& r = data.windowRect;
    if (!data.windowPlacementLoaded || r.right <= r.left || r.bottom <= r.top)
        return;
    if (requireMinimumSize && (r.right - r.left < kMinimumWidth || r.bottom - r.top < kMinimumHeight))
        return;
    QRect wanted(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        // A placement from another screen is brought back onto this one.
        const QRect area = screen->availableGeometry();
        wanted.setSize(wanted.size().boundedTo(area.size()).expandedTo(QSize(kMinimumWidth, kMinimumHeight)));
        wanted.moveLeft(std::clamp(wanted.left(), area.left(), std::max(area.left(), area.right() - wanted.width() + 1)));
        wanted.moveTop(std::clamp(wanted.top(), area.top(), std::max(area.top(), area.bottom() - wanted.height() + 1)));
    }
    setGeometry(wanted);
}

WindowRect ViewerMainFrame::PlacementRect() const
{
    const QRect g = isFullScreen() ? normalGeometry() : geometry();
    return WindowRect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
}

void ViewerMainFrame::closeEvent(QCloseEvent* event)
{
    if (closeAllowed_) {
        event->accept();
        return;
    }
    event->ignore();
    if (closing_)
        return;
    closing_ = true;
    SaveForClose();
    StopForClose();
    idleChecks_ = 0;
    idleTimer_.start(kIdleFirstCheckMs);
}

void ViewerMainFrame::CheckIdle()
{
    ++idleChecks_;
    if (BusyInstances() == 0 || idleChecks_ >= kMaxIdleChecks) {
        closeAllowed_ = true;
        close();
        return;
    }
    idleTimer_.start(kIdleCheckMs);
}

bool ViewerMainFrame::LaunchSibling(const QString& programName)
{
    SaveForHandOver();
    QString error;
    if (!LaunchViewer(QDir(programDirectory_).filePath(programName), startWord_, &error)) {
        platform::MessageBox(this, error.toStdString(), title_, platform::MB_ICONWARNING);
        return false;
    }
    return true;
}

void ViewerMainFrame::CloseCaller(const char* callerTitle)
{
    if (callerTitle)
        RequestViewerClose(callerTitle);
}

} // namespace viewer
