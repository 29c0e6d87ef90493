#include "CMainFrame.h"

#include "CVyrNVRDoc.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QMessageBox>
#include <QShortcut>

int StartModeFromWord(const QString& word)
{
    if (word == viewer::kNetworkViewerWord)
        return 1;
    if (word == viewer::kEventViewerWord)
        return 3;
    return 0;
}

CMainFrame::CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory)
    : ViewerMainFrame(viewer::kBackupViewerTitle, viewer::kBackupViewerWord, startMode, programDirectory),
      document_(document)
{
    view_ = new CVyrNVRView(document_, this);
    SetView(view_);
    view_->onFullScreen = [this](bool on) { EnterFullScreen(on); };
    view_->onHandOver = [this](int button) { LaunchViewer(button); };
    view_->onCloseCaller = [this] { CloseCaller(); };
    // The stored rectangle is used whatever its size, brought onto the screen.
    RestorePlacement(document_->Data(), false);
    auto* about = new QShortcut(QKeySequence::HelpContents, this);
    QObject::connect(about, &QShortcut::activated, this, [this] { ShowAbout(); });
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::EnterFullScreen(bool on)
{
    if (on)
        showFullScreen();
    else
        showNormal();
}

void CMainFrame::ShowAbout()
{
    QMessageBox::about(this, "About Backup Viewer", "Backup Viewer Version 1.0");
}

void CMainFrame::StorePlacement(uint32_t state)
{
    SettingsDocument& data = document_->Data();
    data.windowRect = PlacementRect();
    data.windowStyle = state;
    document_->SaveAll(this);
}

void CMainFrame::StopForClose() { view_->StopForClose(); }

int CMainFrame::BusyInstances() { return view_->BusyChannels(); }

void CMainFrame::LaunchViewer(int button)
{
    const bool started = LaunchSibling(button == IDC_GO_NETWORK ? "VyrNetwork" : "VyrEvent");
    view_->ShowHandOverButtons(!started);
}

void CMainFrame::CloseCaller()
{
    ViewerMainFrame::CloseCaller(StartMode() == 1   ? viewer::kNetworkViewerTitle
                                 : StartMode() == 3 ? viewer::kEventViewerTitle
                                                    : nullptr);
    view_->ShowHandOverButtons(true);
}
