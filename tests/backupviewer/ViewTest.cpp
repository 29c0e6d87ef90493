#include "EndWithTest.h"
#include "BackupViewerFixture.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "backupviewer/dialogs/CCalendarDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "viewercore/shell/ViewerHandOver.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/SkinResources.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

using namespace backupviewer;

namespace {

// The window state word at the end of "config_win.vyr".
uint32_t StoredWindowState(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0xFFFFFFFF;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 4)
        return 0xFFFFFFFF;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData() + bytes.size() - 4);
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

} // namespace

TEST(BackupViewerShell, StartWords)
{
    EXPECT_EQ(StartModeFromWord("NetworkViewer"), 1);
    EXPECT_EQ(StartModeFromWord("EventViewer"), 3);
    EXPECT_EQ(StartModeFromWord("BackupViewer"), 0);
    EXPECT_EQ(StartModeFromWord("device.vyr"), 0);
}

TEST_F(BackupViewerFixture, StartsWithOneControlAndFourPreboundCells)
{
    Start();
    EXPECT_EQ(frame->windowTitle(), "Backup Viewer");
    ASSERT_NE(View()->Control(), nullptr);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(View()->CellAt(c).control, 0);
        EXPECT_EQ(View()->CellAt(c).channel, c);
    }
    EXPECT_EQ(View()->CellAt(4).control, -1);
    EXPECT_EQ(View()->Split(), 16);
    EXPECT_EQ(View()->Mode(), CVyrNVRView::DvrMode);
    // Search DVR needs a dropped DVR; placeholders say so.
    View()->OnCommand(IDC_SEARCH_DVR);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDropDvrFirst);
    // The unavailable functions sit in the left column's lower panel beside
    // "Add DVR", clicked they say so.
    const QRect panel(0, View()->height() - 103 - 54, 185, 54);
    for (int id : {IDC_PLACEHOLDER_1005, IDC_PLACEHOLDER_1030, IDC_PLACEHOLDER_1102, IDC_PLACEHOLDER_1103}) {
        CButtonST* button = View()->Button(id);
        ASSERT_NE(button, nullptr) << id;
        EXPECT_TRUE(button->isVisibleTo(View())) << id;
        EXPECT_TRUE(panel.contains(button->geometry())) << id;
        EXPECT_FALSE(button->geometry().intersects(View()->Button(IDC_ADD_DVR)->geometry())) << id;
        const size_t before = boxes.size();
        button->click();
        ASSERT_EQ(boxes.size(), before + 1) << id;
        EXPECT_EQ(boxes.back(), kNotAvailable);
    }
    EXPECT_FALSE(View()->Button(IDC_PLACEHOLDER_1030)->geometry().intersects(View()->Button(IDC_PLACEHOLDER_1102)->geometry()));
    EXPECT_FALSE(View()->Button(IDC_PLACEHOLDER_1102)->geometry().intersects(View()->Button(IDC_PLACEHOLDER_1103)->geometry()));
}

TEST_F(BackupViewerFixture, TheLocalTimelineBacksItsScrollBarWithTheScrollAreaBitmaps)
{
    // Two plain bitmaps stand in for the skin's, so each can be told by colour.
    const QColor area(10, 200, 30), back(220, 40, 90);
    QDir().mkpath("image/res");
    for (const auto& [id, colour] : {std::pair{kBitmapTimelineScrollArea, area}, std::pair{kBitmapTimelineScrollBack, back}}) {
        QImage image(15, 240, QImage::Format_RGB32);
        image.fill(colour);
        ASSERT_TRUE(image.save(SkinResourcePath(id), "BMP"));
    }
    Start();
    frame->resize(1024, 768);
    Pump(50);
    const QDate today = QDate::currentDate();
    View()->runDialog = [&](QDialog& dialog) {
        auto* calendar = dynamic_cast<CCalendarDlg*>(&dialog);
        if (!calendar)
            return int(QDialog::Rejected);
        CCalendarDlg::MonthTable table{};
        table[today.day()] = 1;
        calendar->SetMonthTable(table);
        return PickDay(*calendar, today.day());
    };
    View()->OnSearchLocal();
    ASSERT_EQ(View()->Mode(), CVyrNVRView::LocalMode);
    ASSERT_EQ(View()->Bottom(), CVyrNVRView::BottomTimeline);
    // The view's own drawing, without the scroll bar on top of it.
    auto drawn = [this] {
        QImage image(View()->size(), QImage::Format_RGB32);
        View()->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
        return image;
    };
    const QRect scrollArea = View()->Timeline().ScrollBarRect();
    EXPECT_TRUE(View()->ScrollBitmapRepaint());
    QImage first = drawn();
    EXPECT_EQ(first.pixelColor(scrollArea.center()), back);
    EXPECT_EQ(first.pixelColor(scrollArea.bottomRight()), back);
    EXPECT_FALSE(View()->ScrollBitmapRepaint());
    // Later drawings show the scroll area's own bitmap.
    View()->SetScrollRow(3);
    QImage later = drawn();
    EXPECT_EQ(later.pixelColor(scrollArea.center()), area);
    EXPECT_EQ(later.pixelColor(scrollArea.topLeft()), area);
    // The slot columns end where the scroll area begins.
    const QRect lastBox = View()->Timeline().Box(0, kSlotsPerDay - 1);
    EXPECT_EQ(lastBox.right() + 1, scrollArea.left());
    EXPECT_NE(later.pixelColor(scrollArea.left() - 1, scrollArea.center().y()), area);
    // Back to the video and to the timeline again: the backing comes once more.
    View()->OnCommand(IDC_TIMELINE);
    ASSERT_EQ(View()->Bottom(), CVyrNVRView::BottomVideo);
    EXPECT_TRUE(View()->ScrollBitmapRepaint());
    QImage video = drawn();
    EXPECT_NE(video.pixelColor(scrollArea.center()), area);
    EXPECT_NE(video.pixelColor(scrollArea.center()), back);
    View()->OnCommand(IDC_TIMELINE);
    ASSERT_EQ(View()->Bottom(), CVyrNVRView::BottomTimeline);
    EXPECT_EQ(drawn().pixelColor(scrollArea.center()), back);
    EXPECT_EQ(drawn().pixelColor(scrollArea.center()), area);
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(BackupViewerFixture, DroppingADvrSetsItsSplitAndBindsAtMostSixtyFourCells)
{
    AddDvr("Four", 1);
    AddDvr("Seventeen", 3);
    AddDvr("Big", 6);
    Start();
    View()->DropItem(DvrItem("Four"), FirstCellPoint());
    EXPECT_EQ(View()->Split(), 4);
    EXPECT_EQ(View()->CellAt(3).deviceName, "Four");
    EXPECT_EQ(View()->CellAt(4).control, -1);
    View()->DropItem(DvrItem("Seventeen"), FirstCellPoint());
    EXPECT_EQ(View()->Split(), 16);
    EXPECT_EQ(View()->CellAt(16).deviceName, "Seventeen");
    EXPECT_EQ(document->SettingsGroup().cameras->size(), 17u);
    // Next split in DVR mode wraps after the highest cell a camera uses.
    View()->SetSplit(4);
    std::vector<int> firsts;
    for (int k = 0; k < 6; ++k) {
        firsts.push_back(View()->FirstCell());
        View()->NextSplit();
    }
    EXPECT_EQ(firsts, (std::vector<int>{0, 4, 8, 12, 16, 0}));
    View()->DropItem(DvrItem("Big"), FirstCellPoint());
    EXPECT_EQ(document->SettingsGroup().cameras->size(), 64u);
    EXPECT_EQ(View()->CellAt(63).channel, 63);
    // The drop was saved.
    EXPECT_TRUE(QFile::exists(dir.filePath("config_bv.vyr")));
    // Search DVR is allowed now: the calendar opens (answered at once here).
    int opened = 0;
    View()->runDialog = [&](QDialog&) {
        ++opened;
        return int(QDialog::Rejected);
    };
    boxes.clear();
    View()->OnSearchDvr();
    EXPECT_EQ(opened, 1);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(BackupViewerFixture, SplitsToggleAndFullScreen)
{
    Start();
    View()->OnCommand(IDC_SPLIT_9);
    EXPECT_EQ(View()->Split(), 9);
    EXPECT_EQ(document->SettingsGroup().splitMode, 9);
    View()->SelectCell(5);
    View()->ToggleSingleCell();
    EXPECT_EQ(View()->Split(), 1);
    EXPECT_EQ(View()->FirstCell(), 5);
    View()->ToggleSingleCell();
    EXPECT_EQ(View()->Split(), 9);
    EXPECT_EQ(View()->FirstCell(), 0);
    View()->ToggleFullScreen();
    EXPECT_TRUE(View()->FullScreen());
    EXPECT_FALSE(View()->Button(IDC_PLAY)->isVisible());
    View()->ToggleFullScreen();
    EXPECT_TRUE(View()->Button(IDC_PLAY)->isVisible());
}

TEST_F(BackupViewerFixture, ProgressReachesOnlyAnOpenBackupDialog)
{
    Start();
    std::string status;
    View()->runDialog = [&](QDialog& dialog) {
        auto* backup = dynamic_cast<CBackupDlg*>(&dialog);
        EXPECT_NE(backup, nullptr);
        View()->OnMessage(vyrdax::WM_VIDEO_PROGRESS, CBackupDlg::kProgressEstimate, 0);
        status = backup->StatusText().toStdString();
        return int(QDialog::Rejected);
    };
    View()->OnCommand(IDC_BACKUP);
    EXPECT_EQ(status, kNoRecordedFile);
    // Without the dialog the notice changes nothing and does not crash.
    View()->OnMessage(vyrdax::WM_VIDEO_PROGRESS, 0, 0);
}

TEST_F(BackupViewerFixture, CloseSavesStateZeroAndAHandOverStateTwo)
{
    Start();
    // No sibling program in the test directory: the start fails, is told,
    // and the buttons come back.
    View()->OnCommand(IDC_GO_NETWORK);
    EXPECT_EQ(StoredWindowState(dir.filePath("config_win.vyr")), 2u);
    ASSERT_FALSE(boxes.empty());
    EXPECT_TRUE(View()->Button(IDC_GO_NETWORK)->isVisibleTo(View()));
    ASSERT_TRUE(CloseAndWait());
    EXPECT_EQ(StoredWindowState(dir.filePath("config_win.vyr")), 0u);
    EXPECT_LE(frame->IdleChecks(), 2);
}

TEST_F(BackupViewerFixture, DiskShortageStopsRecordingAndTheSoundButtonUsesTheSlider)
{
    Start();
    View()->OnMessage(WM_BACKUP_DISK_LOW, 0, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDiskSpaceLow);
    // Local Record needs a ready, connected cell.
    View()->SelectCell(10);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_EQ(boxes.back(), kDropDvrFirst);
    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_RECORD);
    EXPECT_EQ(boxes.back(), kConnectFirst);

    EXPECT_FALSE(View()->SoundMuted());
    View()->OnCommand(IDC_SOUND);
    EXPECT_TRUE(View()->SoundMuted());
    View()->OnMessage(WM_SLIDER_MOVED, IDC_SPEAKER_VOLUME, 250);
    EXPECT_EQ(View()->Slider()->GetPos(), 100);
    View()->OnCommand(IDC_SOUND);
    EXPECT_FALSE(View()->SoundMuted());
}

TEST_F(BackupViewerFixture, StartedByTheNetworkViewerItClosesItHalfASecondLater)
{
    // The network viewer's window stands in another process, as it would.
    QProcess network;
    testsupport::EndWithTest(network);
    network.start(HANDOVER_PROBE, {viewer::kNetworkViewerTitle});
    ASSERT_TRUE(network.waitForStarted());
    ASSERT_TRUE(network.waitForReadyRead(10000));
    ASSERT_EQ(network.readLine().trimmed(), "ready");
    QElapsedTimer clock;
    clock.start();
    Start(1);
    ASSERT_TRUE(PumpUntil([&] { return network.state() == QProcess::NotRunning; }, 5000));
    EXPECT_GE(clock.elapsed(), 450);
    EXPECT_EQ(network.readAllStandardOutput().trimmed(), "closing");
    EXPECT_TRUE(View()->Button(IDC_GO_NETWORK)->isVisibleTo(View()));
    ASSERT_TRUE(CloseAndWait());
}

TEST_F(BackupViewerFixture, DatesPastTheControlsRangeAndOversizedRowCountsAreRefused)
{
    AddDvr("Four", 1, 9);
    Start();
    EXPECT_FALSE(View()->SetChosenDay(2100, 1, 1));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], kDateOutOfRange);
    EXPECT_TRUE(View()->SetChosenDay(2026, 3, 15));
    View()->DropItem(DvrItem("Four"), FirstCellPoint());
    int rows = 0;
    View()->runDialog = [&](QDialog&) {
        // A DVR reporting a type past the day block gets the block's 64 rows.
        View()->OnMessage(vyrdax::WM_VIDEO_MONTH_DATA, 1000, 0);
        rows = View()->RowCount();
        return int(QDialog::Rejected);
    };
    View()->OnSearchDvr();
    EXPECT_EQ(rows, 65);
    EXPECT_EQ(TimelineHeight(rows), 17 * 15 + 33); // 16 rows show, the rest scroll
}
