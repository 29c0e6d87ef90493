// The event viewer as its program runs it, in its program directory, with
// what an operator does to collect the event logs: the first DVR of the
// monitor page ticked and "Tracking" pressed. Once that first polling pass
// has ended it prints "READY" and the row's status, and is left alone
// until the next pass, a minute or more later.
//   rest_event_host
#include "EventViewer/CEventViewerDoc.h"
#include "EventViewer/CMainFrame.h"
#include "EventViewer/monitor/CEventDlg.h"
#include "EventViewer/view/CVyrNVRView.h"
#include "platform/MessageBox.h"
#include "platform/ProcessSignals.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("VyrNVR");
    platform::SetApplicationTitle(viewer::kEventViewerTitle);
    CVyrNVRDoc document;
    document.OnNewDocument();
    CMainFrame frame(&document, 0, QDir::currentPath());
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    frame.View()->OnInitialUpdate();

    // Steps of the operator and of the first pass, looked at every 50 ms
    // until the pass has ended; nothing of this runs afterwards.
    enum Step { StartingUp, Polling, Passed };
    Step step = StartingUp;
    bool passBegan = false;
    QElapsedTimer clock;
    clock.start();
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CEventDlg* monitor = frame.View()->Monitor();
        if (clock.elapsed() > 120000 || !monitor || (step == StartingUp && clock.elapsed() > 30000)) {
            std::printf("FAILED %s\n", monitor ? "no pass ended in time" : "no monitor page");
            std::fflush(stdout);
            watch.stop();
            QApplication::exit(1);
            return;
        }
        if (step == StartingUp) {
            if (frame.View()->StartUpPending() || monitor->RowCount() == 0)
                return;
            monitor->SetRowChecked(0, true);
            monitor->TrackingButton()->click();
            step = Polling;
        } else if (step == Polling) {
            passBegan = passBegan || !monitor->Idle() || monitor->Done() > 0;
            if (!passBegan || !monitor->Idle())
                return;
            step = Passed;
            watch.stop();
            std::printf("READY %s\n", qPrintable(monitor->RowText(0, 2)));
            std::fflush(stdout);
        }
    });
    watch.start(50);
    return app.exec();
}
