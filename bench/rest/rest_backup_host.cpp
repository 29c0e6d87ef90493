// The backup viewer as its program runs it, in its program directory, with
// what an operator does to play the PC's recordings of today: "Search Local
// PC", today in the calendar, a click on the timeline's half hour where the
// recording began; then Pause or Stop a second later, or nothing until the
// recording has played to its end. "READY" on standard output once there.
//   rest_backup_host playing|paused|stopped|ended BEGAN_EPOCH_SECONDS RECORDED_SECONDS
#include "backupviewer/CMainFrame.h"
#include "backupviewer/CVyrNVRDoc.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "backupviewer/view/CVyrNVRView.h"
#include "platform/MessageBox.h"
#include "platform/ProcessSignals.h"
#include "viewercore/shell/ViewerHandOver.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Say(const char* line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string state = argc == 4 ? argv[1] : "";
    if (state != "playing" && state != "paused" && state != "stopped" && state != "ended") {
        std::fprintf(stderr, "usage: rest_backup_host playing|paused|stopped|ended BEGAN RECORDED_SECONDS\n");
        return 2;
    }
    const QDateTime began = QDateTime::fromSecsSinceEpoch(std::atoll(argv[2]));
    const int recordedSeconds = std::atoi(argv[3]);

    platform::IgnoreFileSizeLimitSignal();
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName("Local AppWizard-Generated Applications");
    QCoreApplication::setApplicationName("VyrNVR");
    platform::SetApplicationTitle(viewer::kBackupViewerTitle);
    CVyrNVRDoc document;
    document.OnNewDocument();
    CMainFrame frame(&document, 0, QDir::currentPath());
    platform::CloseOnTerminationSignals([&frame] { frame.close(); });
    frame.show();
    CVyrNVRView* view = frame.View();
    view->OnInitialUpdate();

    // The calendar answers with the recording's day, as the operator picks it.
    view->runDialog = [&began](QDialog& dialog) {
        auto* calendar = dynamic_cast<backupviewer::CCalendarDlg*>(&dialog);
        if (!calendar)
            return int(QDialog::Rejected);
        for (int i = 0; i < 42; ++i)
            if (calendar->Grid()[static_cast<std::size_t>(i)] == began.date().day()) {
                calendar->PickAt(backupviewer::CCalendarDlg::CellRect(i).center());
                break;
            }
        calendar->OnOK();
        return calendar->result();
    };
    QTimer::singleShot(500, view, [&] {
        view->OnSearchLocal();
        if (view->Mode() != CVyrNVRView::LocalMode || !view->HasDayData()) {
            Say("FAILED no recordings found on the PC");
            QApplication::exit(1);
            return;
        }
        const int slot = CVyrNVRView::SlotOfTime(began.time().hour(), began.time().minute() >= 30 ? 31 : 0);
        if (!view->OnTimelineClick(view->Timeline().Box(0, slot).center())) {
            Say("FAILED the timeline click hit no slot");
            QApplication::exit(1);
            return;
        }
        const int waitMs = state == "ended" ? (recordedSeconds + 3) * 1000 : 1000;
        QTimer::singleShot(waitMs, view, [&] {
            if (state == "paused")
                view->OnCommand(IDC_PAUSE);
            else if (state == "stopped")
                view->OnCommand(IDC_STOP);
            Say("READY");
        });
    });
    return app.exec();
}
