// VyrEvent: polls the event logs of the DVRs, keeps them in the event
// database and sounds alarms.
//   VyrEvent [NetworkViewer|BackupViewer]
#include "CEventViewerDoc.h"
#include "CMainFrame.h"
#include "platform/MessageBox.h"
#include "view/CVyrNVRView.h"
#include "platform/ProcessSignals.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QApplication>
#include <QDir>

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("VyrNVR");
    platform::SetApplicationTitle(viewer::kEventViewerTitle);
    // The first word names the viewer that started this one; it is never a file.
    const int startMode = argc > 1 ? StartModeFromWord(QString::fromLocal8Bit(argv[1])) : 0;
    const QString programDirectory = QDir::currentPath();
    CVyrNVRDoc document;
    document.OnNewDocument();
    CMainFrame frame(&document, startMode, programDirectory);
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    frame.View()->OnInitialUpdate();
    return app.exec();
}
