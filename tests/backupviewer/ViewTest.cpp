#include "BackupViewerFixture.h"

#include "backupviewer/BackupTexts.h"
#include "backupviewer/dialogs/CBackupDlg.h"
#include "control/interface/VyrdaxInterface.h"
#include "viewercore/shell/ViewerHandOver.h"
#include "viewercore/widgets/CBitmapSlider.h"
#include "viewercore/widgets/CButtonST.h"

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
    View()->OnCommand(IDC_PLACEHOLDER_1005);
    EXPECT_EQ(boxes.back(), kNotAvailable);
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
    EXPECT_EQ(TimelineHeight(rows), 65 * 15 + 33);
}
