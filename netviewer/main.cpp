// VyrNetwork: live view of many DVRs in up to 64 cells.
//   VyrNetwork [BackupViewer|EventViewer]
#include "CMainFrame.h"
#include "CVyrNVRDoc.h"
#include "view/CVyrNVRView.h"
#include "viewercore/shell/ViewerHandOver.h"
#include "platform/ProcessSignals.h"

#include <QApplication>
#include <QDir>
#include <QSettings>

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("VyrNVR");
    // The first word names the viewer that started this one; it is never a file.
    int startMode = 0;
    if (argc > 1) {
        const QString word = QString::fromLocal8Bit(argv[1]);
        if (word == viewer::kBackupViewerWord)
            startMode = 2;
        else if (word == viewer::kEventViewerWord)
            startMode = 3;
    }
    const QString programDirectory = QDir::currentPath();
    CVyrNVRDoc document;
    document.OnNewDocument();
    CMainFrame frame(&document, startMode, programDirectory);
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    frame.View()->OnInitialUpdate();
    return app.exec();
}
