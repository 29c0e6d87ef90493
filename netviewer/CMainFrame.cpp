#include "CMainFrame.h"

#include "CVyrNVRDoc.h"
#include "platform/MessageBox.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QScreen>

namespace {
constexpr uint32_t kCaptionStyle = 0x00C00000;
}

CMainFrame::CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory)
    : document_(document), startMode_(startMode), programDirectory_(programDirectory)
{
    setWindowTitle(viewer::kNetworkViewerTitle);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth, kMinimumHeight);
    view_ = new CVyrNVRView(document_, this);
    view_->setGeometry(rect());
    view_->onFullScreen = [this](bool on) { EnterFullScreen(on); };
    view_->onHandOver = [this](int button) { LaunchViewer(button); };
    view_->onCloseCaller = [this] { CloseCaller(); };
    idleTimer_.setSingleShot(true);
    QObject::connect(&idleTimer_, &QTimer::timeout, this, [this] { CheckIdle(); });
    closeServer_ = std::make_unique<viewer::ViewerCloseServer>(viewer::kNetworkViewerTitle, [this] { close(); });

    const SettingsDocument& data = document_->Data();
    const WindowRect& r = data.windowRect;
    if (data.windowPlacementLoaded && r.right - r.left > 1023 && r.bottom - r.top > 767) {
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
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::resizeEvent(QResizeEvent*)
{
    view_->setGeometry(rect());
}

void CMainFrame::EnterFullScreen(bool on)
{
    if (on)
        showFullScreen();
    else
        showNormal();
}

void CMainFrame::StorePlacement()
{
    SettingsDocument& data = document_->Data();
    const QRect g = isFullScreen() ? normalGeometry() : geometry();
    data.windowRect = WindowRect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
    data.windowStyle |= kCaptionStyle;
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    if (closeAllowed_) {
        event->accept();
        return;
    }
    event->ignore();
    if (closing_)
        return;
    closing_ = true;
    StorePlacement();
    document_->SaveAll(this);
    view_->StopAllChannels();
    idleChecks_ = 0;
    idleTimer_.start(kIdleFirstCheckMs);
}

void CMainFrame::CheckIdle()
{
    ++idleChecks_;
    const int busy = view_->BusyChannels();
    if (busy == 0 || idleChecks_ >= kMaxIdleChecks) {
        closeAllowed_ = true;
        close();
        return;
    }
    idleTimer_.start(kIdleCheckMs);
}

void CMainFrame::LaunchViewer(int button)
{
    StorePlacement();
    document_->SaveAll(this);
    const bool backup = button == IDC_GO_BACKUP;
    const QString program = QDir(programDirectory_).filePath(backup ? "VyrBackup" : "VyrEvent");
    QString error;
    if (!viewer::LaunchViewer(program, viewer::kNetworkViewerWord, &error)) {
        platform::MessageBox(this, error.toStdString(), viewer::kNetworkViewerTitle, platform::MB_ICONWARNING);
        view_->ShowHandOverButtons(true);
        return;
    }
    view_->ShowHandOverButtons(false);
}

void CMainFrame::CloseCaller()
{
    const char* caller = startMode_ == 2 ? viewer::kBackupViewerTitle
                         : startMode_ == 3 ? viewer::kEventViewerTitle
                                           : nullptr;
    if (caller)
        viewer::RequestViewerClose(caller);
    view_->ShowHandOverButtons(true);
}
