#include "CMainFrame.h"

#include "CVyrNVRDoc.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"

CMainFrame::CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory)
    : ViewerMainFrame(viewer::kNetworkViewerTitle, viewer::kNetworkViewerWord, startMode, programDirectory),
      document_(document)
{
    view_ = new CVyrNVRView(document_, this);
    SetView(view_);
    view_->onFullScreen = [this](bool on) { EnterFullScreen(on); };
    view_->onHandOver = [this](int button) { LaunchViewer(button); };
    view_->onCloseCaller = [this] { CloseCaller(); };
    RestorePlacement(document_->Data(), true);
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::EnterFullScreen(bool on)
{
    if (on)
        showFullScreen();
    else
        showNormal();
}

void CMainFrame::SaveForClose()
{
    SettingsDocument& data = document_->Data();
    data.windowRect = PlacementRect();
    data.windowStyle |= SettingsDocument::kCaptionStyleBits;
    document_->SaveAll(this);
}

void CMainFrame::StopForClose() { view_->StopAllChannels(); }

int CMainFrame::BusyInstances() { return view_->BusyChannels(); }

void CMainFrame::LaunchViewer(int button)
{
    const bool started = LaunchSibling(button == IDC_GO_BACKUP ? "VyrBackup" : "VyrEvent");
    view_->ShowHandOverButtons(!started);
}

void CMainFrame::CloseCaller()
{
    ViewerMainFrame::CloseCaller(StartMode() == 2   ? viewer::kBackupViewerTitle
                                 : StartMode() == 3 ? viewer::kEventViewerTitle
                                                    : nullptr);
    view_->ShowHandOverButtons(true);
}
