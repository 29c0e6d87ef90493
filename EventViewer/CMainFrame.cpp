#include "CMainFrame.h"

#include "CEventViewerDoc.h"
#include "monitor/CEventDlg.h"
#include "platform/MessageBox.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QCloseEvent>
#include <QDir>

int StartModeFromWord(const QString& word)
{
    if (word == viewer::kNetworkViewerWord)
        return 1;
    if (word == viewer::kBackupViewerWord)
        return 2;
    return 0;
}

CMainFrame::CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory)
    : document_(document), startMode_(startMode), programDirectory_(programDirectory)
{
    setWindowTitle(viewer::kEventViewerTitle);
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth, kMinimumHeight);
    view_ = new CVyrNVRView(document_, this);
    view_->setGeometry(rect());
    view_->onHandOver = [this](int button) { LaunchViewer(button); };
    view_->onCloseCaller = [this] { CloseCaller(); };
    idleTimer_.setSingleShot(true);
    QObject::connect(&idleTimer_, &QTimer::timeout, this, [this] { CheckIdle(); });
    closeServer_ = std::make_unique<viewer::ViewerCloseServer>(viewer::kEventViewerTitle, [this] { close(); });
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::resizeEvent(QResizeEvent*)
{
    view_->setGeometry(rect());
}

void CMainFrame::StorePlacement(uint32_t state)
{
    SettingsDocument& data = document_->Data();
    const QRect g = geometry();
    data.windowRect = WindowRect{g.left(), g.top(), g.right() + 1, g.bottom() + 1};
    data.windowStyle = state;
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
    StorePlacement(kStateClosed);
    document_->SaveSettingsFiles(this);
    // No new poll starts while the instances are let go.
    if (view_->Monitor())
        view_->Monitor()->OnStop();
    view_->DisconnectAll();
    idleChecks_ = 0;
    idleTimer_.start(kIdleFirstCheckMs);
}

void CMainFrame::CheckIdle()
{
    ++idleChecks_;
    const int connected = view_->DisconnectAll();
    if (connected == 0 || idleChecks_ >= kMaxIdleChecks) {
        closeAllowed_ = true;
        close();
        return;
    }
    idleTimer_.start(kIdleCheckMs);
}

void CMainFrame::LaunchViewer(int button)
{
    StorePlacement(kStateHandedOver);
    document_->SaveSettingsFiles(this);
    const bool backup = button == IDC_GO_BACKUP_VIEWER;
    const QString program = QDir(programDirectory_).filePath(backup ? "VyrBackup" : "VyrNetwork");
    QString error;
    if (!viewer::LaunchViewer(program, viewer::kEventViewerWord, &error)) {
        platform::MessageBox(this, error.toStdString(), viewer::kEventViewerTitle, platform::MB_ICONWARNING);
        view_->ShowHandOverButtons(false);
        return;
    }
    view_->ShowHandOverButtons(false);
}

void CMainFrame::CloseCaller()
{
    const char* caller = startMode_ == 1   ? viewer::kNetworkViewerTitle
                         : startMode_ == 2 ? viewer::kBackupViewerTitle
                                           : nullptr;
    if (caller)
        viewer::RequestViewerClose(caller);
    view_->ShowHandOverButtons(true);
}
