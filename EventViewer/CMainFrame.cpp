#include "CMainFrame.h"

#include "CEventViewerDoc.h"
#include "dialogs/CAboutDlg.h"
#include "monitor/CEventDlg.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QAction>

int StartModeFromWord(const QString& word)
{
    if (word == viewer::kNetworkViewerWord)
        return 1;
    if (word == viewer::kBackupViewerWord)
        return 2;
    return 0;
}

CMainFrame::CMainFrame(CVyrNVRDoc* document, int startMode, const QString& programDirectory)
    : ViewerMainFrame(viewer::kEventViewerTitle, viewer::kEventViewerWord, startMode, programDirectory),
      document_(document)
{
    view_ = new CVyrNVRView(document_, this);
    SetView(view_);
    view_->onHandOver = [this](int button) { LaunchViewer(button); };
    view_->onCloseCaller = [this] { CloseCaller(); };
    // Where it stood when it was closed or handed over, brought onto the screen.
    RestorePlacement(document_->Data(), false);
    // The window menu's about entry: on the window's context menu (a click
    // with the right button on the skin) and on F1.
    aboutAction_ = new QAction(QStringLiteral("A&bout Event Viewer"), this);
    aboutAction_->setShortcut(QKeySequence::HelpContents);
    QObject::connect(aboutAction_, &QAction::triggered, this, [this] { ShowAbout(); });
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CMainFrame::ShowAbout()
{
    CAboutDlg about(this);
    about.exec();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::StorePlacement(uint32_t state)
{
    SettingsDocument& data = document_->Data();
    data.windowRect = PlacementRect();
    data.windowStyle = state;
    document_->SaveSettingsFiles(this);
}

void CMainFrame::StopForClose()
{
    // No new poll starts while the instances are let go.
    if (view_->Monitor())
        view_->Monitor()->OnStop();
    view_->DisconnectAll();
}

int CMainFrame::BusyInstances() { return view_->DisconnectAll(); }

void CMainFrame::LaunchViewer(int button)
{
    LaunchSibling(button == IDC_GO_BACKUP_VIEWER ? "VyrBackup" : "VyrNetwork");
    view_->ShowHandOverButtons(false);
}

void CMainFrame::CloseCaller()
{
    ViewerMainFrame::CloseCaller(StartMode() == 1   ? viewer::kNetworkViewerTitle
                                 : StartMode() == 2 ? viewer::kBackupViewerTitle
                                                    : nullptr);
    view_->ShowHandOverButtons(true);
}
