// The view where a DVR of many channels, a repeated backup press and a full
// disk met it: the timeline of a 64-channel DVR scrolls inside the window,
// the backup dialog starts in the last folder used, and the disk box comes
// back at each test while the space stays short, one box at a time.
#include "BackupViewerFixture.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "viewercore/widgets/FolderChooser.h"

#include <QScrollBar>

using namespace backupviewer;

namespace {

QColor Colour(uint32_t colorRef) { return QColor(colorRef & 0xFF, (colorRef >> 8) & 0xFF, (colorRef >> 16) & 0xFF); }

} // namespace

TEST(DayTimeline, ADvrOfMoreThanSixteenChannelsScrollsSixteenRows)
{
    const TimelineGeometry big = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 65, false);
    EXPECT_TRUE(big.scrolls);
    EXPECT_EQ(big.ShownRows(), 16);
    EXPECT_EQ(big.rowCount, 65); // every row still counts for recordings
    EXPECT_EQ(big.firstRowTop, 768 - 15 * 17 - 15);
    // It takes the local search's columns, with room for the scroll bar.
    const TimelineGeometry local = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 17, true);
    EXPECT_EQ(big.x0, local.x0);
    EXPECT_EQ(big.ScrollBarRect(), local.ScrollBarRect());
    EXPECT_EQ(TimelineHeight(65), 17 * 15 + 33);
    EXPECT_EQ(LastScrollRow(65, false), 48);
    EXPECT_EQ(LastScrollRow(33, false), 16);
    EXPECT_EQ(LastScrollRow(17, true), 48);
    // Up to 16 channels a DVR's rows all show, without a scroll bar.
    for (int rows : {5, 9, 17}) {
        const TimelineGeometry g = ComputeTimelineGeometry(QSize(1024, 768), 185, 16, rows, false);
        EXPECT_FALSE(g.scrolls) << rows;
        EXPECT_EQ(g.ShownRows(), rows - 1);
        EXPECT_EQ(TimelineHeight(rows), rows * 15 + 33);
        EXPECT_EQ(LastScrollRow(rows, false), 0);
    }
    EXPECT_EQ(ComputeTimelineGeometry(QSize(1024, 768), 185, 16, 17, false).x0, 238);
}

TEST_F(BackupViewerFixture, ASixtyFourChannelDvrTimelineFitsTheWindowAndScrollsItsRows)
{
    AddDvr("Big", 6, 9); // 65 entries; nothing listens on the port
    Start();
    frame->resize(1024, 768);
    Pump(50);
    View()->DropItem(DvrItem("Big"), FirstCellPoint());
    // The calendar gets the DVR's month notice with its row count, and today
    // is picked.
    const QDate today = QDate::currentDate();
    auto searchToday = [&](int rows) {
        View()->runDialog = [&, rows](QDialog& dialog) {
            auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
            if (!calendar)
                return int(QDialog::Rejected);
            View()->OnMessage(vyrdax::WM_VIDEO_MONTH_DATA, rows, 0);
            CCalendarDlg::MonthTable table{};
            table[today.day()] = 1;
            calendar->SetMonthTable(table);
            return PickDay(*calendar, today.day());
        };
        View()->OnSearchDvr();
    };
    searchToday(65);
    ASSERT_EQ(View()->Mode(), CVyrNVRView::DvrMode);
    ASSERT_EQ(View()->RowCount(), 65);
    // The day as the DVR would send it: a motion recording in channel 64 only.
    DayBlock block;
    block.bytes[4 + 63 * kSlotsPerDay + 5] = kCodeMotion;
    View()->SetDayBlock(block, View()->RowCount());
    View()->ShowBottom(CVyrNVRView::BottomTimeline);

    const TimelineGeometry g = View()->Timeline();
    EXPECT_EQ(g.ShownRows(), 16);
    // The hour labels above the first row stay below the top panel.
    EXPECT_GE(g.firstRowTop - 18, 50);
    auto* scroll = View()->findChild<QScrollBar*>(QString::number(IDC_TIMELINE_SCROLL));
    ASSERT_NE(scroll, nullptr);
    EXPECT_TRUE(scroll->isVisibleTo(View()));
    EXPECT_EQ(scroll->maximum(), 48);
    EXPECT_EQ(scroll->geometry(), g.ScrollBarRect());
    EXPECT_TRUE(QRect(QPoint(), View()->size()).contains(scroll->geometry()));
    EXPECT_TRUE(SlotHasRecordings(View()->Day(), View()->RowCount(), 5));

    auto drawn = [this] {
        QImage image(View()->size(), QImage::Format_RGB32);
        View()->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        return image;
    };
    EXPECT_EQ(drawn().pixelColor(g.Box(15, 5).center()), Colour(0xFFFFFF)); // channel 16
    scroll->setValue(scroll->maximum());
    EXPECT_EQ(View()->ScrollRow(), 48);
    const QImage scrolled = drawn();
    EXPECT_EQ(scrolled.pixelColor(g.Box(15, 5).center()), Colour(0x00CCFF)); // channel 64
    EXPECT_EQ(scrolled.pixelColor(g.Box(15, 6).center()), Colour(0xFFFFFF));

    // A DVR of four channels afterwards shows its rows from channel 1, unscrolled.
    AddDvr("Four", 1, 9);
    View()->FillDeviceTree();
    View()->DropItem(DvrItem("Four"), FirstCellPoint());
    searchToday(5);
    DayBlock four;
    four.bytes[4 + 0 * kSlotsPerDay + 7] = kCodeManual;
    View()->SetDayBlock(four, View()->RowCount());
    View()->ShowBottom(CVyrNVRView::BottomTimeline);
    EXPECT_FALSE(scroll->isVisibleTo(View()));
    EXPECT_EQ(View()->ScrollRow(), 0);
    EXPECT_EQ(drawn().pixelColor(View()->Timeline().Box(0, 7).center()), Colour(0x0000FF));
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(BackupViewerFixture, TheBackupDialogStartsInTheLastFolderUsedElseAtHome)
{
    Start();
    const QString chosen = dir.filePath("backups");
    QDir().mkpath(chosen);
    std::vector<QString> starts;
    View()->runDialog = [&](QDialog& dialog) {
        auto* backup = dynamic_cast<CBackupDlg*>(&dialog);
        if (!backup)
            return int(QDialog::Rejected);
        starts.push_back(backup->BackupDirectory());
        if (starts.size() == 1) {
            auto previous = SetFolderChooserHandler([&](QWidget*, const QString&, const QString& initial) {
                EXPECT_EQ(initial, QDir::homePath());
                return chosen;
            });
            backup->OnBrowse();
            SetFolderChooserHandler(previous);
        }
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    View()->OnCommand(IDC_BACKUP);
    QDir(chosen).removeRecursively();
    View()->OnCommand(IDC_BACKUP);
    EXPECT_EQ(starts, (std::vector<QString>{QDir::homePath(), chosen, QDir::homePath()}));
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(BackupViewerFixture, TheDiskBoxComesBackAtEveryTestWhileSpaceIsShortOneBoxAtATime)
{
    Start();
    viewer::DiskSpaceMonitor& monitor = View()->DiskMonitor();
    monitor.Stop();
    std::atomic<int64_t> freeBytes{100'000'000}; // 100 MB against 700 MB
    monitor.SetFreeSpaceSource([&freeBytes](const QString&) { return freeBytes.load(); });

    // While a box is open the tests go on; no second box opens over it.
    int open = 0, deepest = 0, shown = 0;
    auto previous = platform::SetMessageBoxHandler([&](const std::string& text, const std::string&, unsigned) {
        EXPECT_EQ(text, kDiskSpaceLow);
        ++shown;
        deepest = std::max(deepest, ++open);
        if (shown == 1) {
            monitor.TestNow();
            monitor.TestNow();
            Pump(200);
        }
        --open;
        return platform::IDOK;
    });
    monitor.TestNow();
    Pump(300);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(deepest, 1);
    // Each later test that still finds too little space shows it again.
    monitor.TestNow();
    Pump(100);
    monitor.TestNow();
    Pump(100);
    EXPECT_EQ(shown, 3);
    freeBytes = 800'000'000;
    monitor.TestNow();
    Pump(100);
    EXPECT_EQ(shown, 3);

    // The monitor's own thread: a box at its first test and again at a later
    // one, nine seconds on, as long as the space stays short.
    freeBytes = 100'000'000;
    shown = 0;
    monitor.Start();
    EXPECT_TRUE(PumpUntil([&] { return shown >= 2; }, 60000)) << shown;
    monitor.Stop();
    EXPECT_EQ(deepest, 1);
    platform::SetMessageBoxHandler(previous);
    ASSERT_TRUE(CloseAndWait());
}
