// The DVR Configuration dialog on its own: pages from a record, the edit
// grid's editors, the schedule painter and Local mode.
#include "netviewer/setup/CConfigDlg.h"
#include "platform/MessageBox.h"
#include "viewercore/widgets/CButtonST.h"
#include "viewercore/widgets/FolderChooser.h"
#include "viewercore/widgets/SkinFiles.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

class ConfigDialogTest : public ::testing::Test {
protected:
    // The dialog runs where the program runs, beside its "image" folder: the
    // schedule is drawn over the skin's backdrop there, and nowhere else.
    void SetUp() override
    {
        previousDirectory = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(QCoreApplication::applicationDirPath()));
        previous = platform::SetMessageBoxHandler([this](const std::string& text, const std::string&, unsigned) {
            boxes.push_back(text);
            return platform::IDOK;
        });
    }
    void TearDown() override
    {
        platform::SetMessageBoxHandler(previous);
        QDir::setCurrent(previousDirectory);
    }

    // A DVR-mode dialog holding a record of the DVR type's layout.
    void OpenDvr(int dvrType)
    {
        CConfigDlg::Opening opening;
        opening.mode = CConfigDlg::ModeDvr;
        opening.dvrType = dvrType;
        opening.lookupHost = "10.9.8.7";
        dialog.Begin(opening);
        record.assign((dvrType == 4 ? 5 : dvrType) < 16 ? 12044 : 23736, 0);
        for (int ch = 0; ch < 16; ++ch) // distinct PTZ IDs
            setup::WriteInt(record, (record.size() == 12044 ? 0x2D50 : 0x5A7C) + 16 * ch + 4, ch);
        dialog.OnSetupData(dvrType, record.data(), record.size());
    }

    // A Local-mode dialog on `group`, which must outlive the opening.
    void OpenLocal(const CGroup& group)
    {
        CConfigDlg::Opening opening;
        opening.mode = CConfigDlg::ModeLocal;
        opening.group = &group;
        opening.recordingDirectory = "/tmp/rec";
        opening.captureDirectory = "/tmp/cap";
        dialog.Begin(opening);
    }

    CConfigDlg dialog;
    std::vector<uint8_t> record;
    std::vector<std::string> boxes;
    platform::MessageBoxHandler previous;
    QString previousDirectory;
};

} // namespace

TEST_F(ConfigDialogTest, PagesShowOnlyOnceTheRecordIsThereAndRowCountsFollowTheLayout)
{
    CConfigDlg::Opening opening;
    opening.dvrType = 4;
    dialog.Begin(opening);
    EXPECT_EQ(dialog.Grid()->rowCount(), 0); // no record yet
    EXPECT_TRUE(dialog.SelectPage("Device", "Alarm"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 0);
    record.assign(12044, 0);
    for (int k = 0; k < 4; ++k)
        setup::WriteInt(record, 0x1A0 + 4 * k, k); // PIP channels differ
    dialog.OnSetupData(4, record.data(), record.size());
    EXPECT_EQ(dialog.PageName(), "Alarm"); // the notice shows the selected page
    EXPECT_EQ(dialog.Grid()->rowCount(), 2);
    ASSERT_TRUE(dialog.SelectPage("", "DVR Configuration"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 0);
    ASSERT_TRUE(dialog.SelectPage("DVR Configuration", "Display"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 0);
    ASSERT_TRUE(dialog.SelectPage("Display", "Display Misc"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 7);
    ASSERT_TRUE(dialog.SelectPage("Display Misc", "PIP"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 4);
    ASSERT_TRUE(dialog.SelectPage("Device", "PTZ Camera"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 4);
    // A table of neither size is not taken.
    std::vector<uint8_t> odd(12043, 1);
    dialog.OnSetupData(20, odd.data(), odd.size());
    EXPECT_EQ(dialog.Record().size(), 12044u);
    // Nor does a second reply replace the record being edited.
    std::vector<uint8_t> later(12044, 7);
    dialog.OnSetupData(9, later.data(), later.size());
    EXPECT_EQ(dialog.Record(), record);

    OpenDvr(20);
    ASSERT_TRUE(dialog.SelectPage("Device", "PTZ Camera"));
    EXPECT_EQ(dialog.Grid()->rowCount(), 16);
    ASSERT_TRUE(dialog.SelectPage("System", "Network"));
    EXPECT_EQ(dialog.Grid()->CellText(7, 1), "10.9.8.7");
    // The schedule page shows the painter instead of the grid.
    ASSERT_TRUE(dialog.SelectPage("Record", "Schedule Record"));
    EXPECT_FALSE(dialog.Grid()->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.findChild<QWidget*>("1025")->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.findChild<QComboBox*>("1018")->count(), 16);
}

TEST_F(ConfigDialogTest, AllChannelsRowFillsTheColumnAndTheFrameRateHintFollows)
{
    OpenDvr(9);
    ASSERT_TRUE(dialog.SelectPage("Record", "Record Quality"));
    CComboListCtrl* grid = dialog.Grid();
    ASSERT_EQ(grid->rowCount(), 9);
    ASSERT_TRUE(grid->EditCell(0, 1));
    grid->Combo()->setCurrentText("D1");
    QTest::keyClick(grid->Combo(), Qt::Key_Return);
    for (int r = 1; r < 9; ++r)
        EXPECT_EQ(grid->CellText(r, 1), "D1");
    // NTSC, 30 fps everywhere (Speed index 0), D1 weight 4.
    EXPECT_EQ(dialog.Hint()->text(),
              "Size : CIF->360x240, H.D1->720x240, D1->720x480   Available Frame Rate : " +
                  QString::number(240 - 8 * 4 * 30));
    // A negative budget refuses to leave the page, and nothing is written.
    const std::vector<uint8_t> before = dialog.Record();
    EXPECT_FALSE(dialog.SelectPage("Device", "Alarm"));
    EXPECT_EQ(boxes.back(), setup::kFrameRateNegative);
    EXPECT_EQ(dialog.PageName(), "Record Quality");
    EXPECT_EQ(dialog.Record(), before);
}

TEST_F(ConfigDialogTest, EditBoxFiltersEscapesAndLockedRowsOpenNothing)
{
    OpenDvr(9);
    ASSERT_TRUE(dialog.SelectPage("Display", "Camera Input"));
    CComboListCtrl* grid = dialog.Grid();
    dialog.show();
    ASSERT_TRUE(grid->EditCell(2, 1));
    CInPlaceEdit* edit = grid->Edit();
    edit->clear();
    QTest::keyClicks(edit, "4x7.9");
    EXPECT_EQ(edit->text(), "47."); // the letter refused, '.' passes, the third digit is over the limit
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(grid->CellText(2, 1), "0");
    ASSERT_TRUE(grid->EditCell(2, 1));
    edit->clear();
    QTest::keyClicks(edit, "42");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(grid->CellText(2, 1), "42");
    // Pasted text passes the same filter as typed text.
    ASSERT_TRUE(grid->EditCell(2, 2));
    edit->clear();
    QApplication::clipboard()->setText("5b9");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "5");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(grid->CellText(2, 2), "5");
    // Escape in the drop-down keeps the former text.
    ASSERT_TRUE(dialog.SelectPage("Display", "Sequence"));
    ASSERT_TRUE(grid->EditCell(1, 2));
    grid->Combo()->setCurrentText("10 Sec");
    QTest::keyClick(grid->Combo(), Qt::Key_Escape);
    EXPECT_EQ(grid->CellText(1, 2), "1 Sec");
    ASSERT_TRUE(dialog.SelectPage("Display", "Camera Input"));
    EXPECT_TRUE(CInPlaceEdit::Accepts('.', "12", "0123456789", 2));
    EXPECT_FALSE(CInPlaceEdit::Accepts('3', "12", "0123456789", 2));

    // Clearing the page with an editor open commits nothing.
    ASSERT_TRUE(grid->EditCell(3, 2));
    grid->Edit()->setText("55");
    grid->DeleteAllItems();
    EXPECT_FALSE(grid->Edit()->Active());

    ASSERT_TRUE(dialog.SelectPage("System", "Information"));
    EXPECT_FALSE(grid->EditCell(2, 1));
    OpenDvr(4); // a four-channel DVR has no extra stream
    ASSERT_TRUE(dialog.SelectPage("System", "Network"));
    EXPECT_EQ(grid->CellText(10, 1), "Disable");
    EXPECT_FALSE(grid->EditCell(10, 1));
    EXPECT_TRUE(grid->RowShaded(10));
    EXPECT_TRUE(grid->EditCell(11, 1));
}

TEST_F(ConfigDialogTest, SchedulePainterHitsItsEdgesAndTheEveryDayRowLocksTheHour)
{
    std::vector<setup::ChannelSchedule> grids(2, setup::ChannelSchedule{});
    SchedulePainter painter;
    painter.SetGrids(&grids);
    painter.SetChannel(1);
    painter.SetBrush(2);
    // Edges: x 250 is outside, 251 hour 0, 278 hour 0, 279 hour 1.
    painter.MouseDown({250, 200});
    EXPECT_FALSE(painter.Dragging());
    painter.MouseDown({251, 200});
    EXPECT_TRUE(painter.Dragging());
    EXPECT_EQ(painter.HitColumn(), 0);
    EXPECT_TRUE(painter.MouseUp({278, 200}));
    EXPECT_EQ(painter.HitColumn(), 0);
    EXPECT_EQ(painter.HitRow(), 3); // 104 + 27 * 3 = 185 <= 200
    EXPECT_EQ(grids[1][3][0], 2);
    painter.MouseDown({279, 200});
    EXPECT_EQ(painter.HitColumn(), 1);
    painter.MouseUp({279, 200});
    // The header band: the whole hour.
    painter.SetBrush(1);
    painter.MouseDown({300, 103});
    EXPECT_TRUE(painter.MouseUp({300, 110}));
    for (int r = 0; r < 8; ++r)
        EXPECT_EQ(grids[1][r][1], 1);
    // Locked: a day cell of that hour does not change.
    painter.SetBrush(3);
    painter.MouseDown({300, 250});
    EXPECT_FALSE(painter.MouseUp({300, 250}));
    EXPECT_EQ(grids[1][6][1], 1);
    // Clearing the every-day row clears the hour and unlocks it.
    painter.SetBrush(0);
    painter.MouseDown({300, 129});
    painter.MouseUp({300, 129});
    painter.SetBrush(3);
    painter.MouseDown({300, 250});
    EXPECT_TRUE(painter.MouseUp({300, 250}));
    EXPECT_EQ(grids[1][5][1], 3);
    // A drag that leaves to the left ends and does not resume.
    painter.MouseDown({400, 250});
    EXPECT_FALSE(painter.MouseMove({250, 250}));
    EXPECT_FALSE(painter.Dragging());
    EXPECT_FALSE(painter.MouseMove({400, 280}));
    painter.ApplyToAll(2);
    EXPECT_EQ(grids[0], grids[1]);
}

TEST_F(ConfigDialogTest, LocalModeAllChannelsAndApplyToAllReachEverySixtyFourCells)
{
    CGroup group;
    group.motionRecordingTime = 3;
    OpenLocal(group);
    EXPECT_EQ(dialog.Grid()->CellText(2, 1), "40 Sec");
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Record Enable"));
    CComboListCtrl* grid = dialog.Grid();
    ASSERT_EQ(grid->rowCount(), 65);
    EXPECT_EQ(grid->CellText(0, 0), "ALL CH");
    EXPECT_EQ(grid->CellText(64, 0), "CH 64");
    ASSERT_TRUE(grid->EditCell(0, 1));
    grid->Combo()->setCurrentText("On");
    QTest::keyClick(grid->Combo(), Qt::Key_Return);
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Schedule Setup"));
    dialog.LocalSchedule()[0][3][7] = 1;
    dialog.Painter().SetChannel(0);
    dialog.findChild<QWidget*>("1023")->metaObject(); // exists
    QTest::mouseClick(dialog.findChild<QWidget*>("1023"), Qt::LeftButton);
    ASSERT_TRUE(dialog.SelectPage("Local PC Configuration", "Directory"));
    // The folder chooser replaces the recording directory.
    const auto previousChooser =
        SetFolderChooserHandler([](QWidget*, const QString& title, const QString&) {
            EXPECT_EQ(title, kChooseFolderTitle);
            return QString("/tmp/chosen");
        });
    QTest::mouseClick(dialog.findChild<QWidget*>("1036"), Qt::LeftButton);
    SetFolderChooserHandler(previousChooser);

    CGroup applied;
    QString recording;
    dialog.applyLocal = [&](const CGroup& copy, const QString& r, const QString&) {
        applied = CGroup(copy, true);
        recording = r;
    };
    dialog.accept();
    EXPECT_EQ(recording, "/tmp/chosen");
    EXPECT_EQ(applied.motionRecordingTime, 3);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(applied.motionRecord[k], 1) << k;
        EXPECT_EQ(applied.sensorRecord[k], 0);
        EXPECT_EQ(applied.schedule[k][3][7], 1) << k;
    }
}

TEST_F(ConfigDialogTest, LocalOkWritesOnlyTheCellsTheOperatorChanged)
{
    CGroup group;
    group.forcedRecordingTime = 7;   // valid, though the page lists only 0..5
    group.diskSpaceToRemain = 9;     // unknown to every list
    group.motionRecord[5] = 2;       // shows as "On"
    group.sensorRecord[6] = 3;
    CGroup applied;
    dialog.applyLocal = [&](const CGroup& copy, const QString&, const QString&) { applied = CGroup(copy, true); };

    // Every page shown, nothing changed: the group comes back as it was.
    OpenLocal(group);
    EXPECT_EQ(dialog.Grid()->CellText(4, 1), "");
    EXPECT_EQ(dialog.Grid()->CellText(1, 1), "");
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Record Enable"));
    EXPECT_EQ(dialog.Grid()->CellText(6, 1), "On");
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Schedule Setup"));
    ASSERT_TRUE(dialog.SelectPage("Local PC Configuration", "General Setup"));
    dialog.accept();
    EXPECT_EQ(applied.forcedRecordingTime, 7);
    EXPECT_EQ(applied.diskSpaceToRemain, 9);
    EXPECT_EQ(applied.motionRecord[5], 2);
    EXPECT_EQ(applied.sensorRecord[6], 3);

    // A changed cell is written, its neighbours are not.
    OpenLocal(group);
    CComboListCtrl* grid = dialog.Grid();
    ASSERT_TRUE(grid->EditCell(2, 1));
    grid->Combo()->setCurrentText("5 Min");
    QTest::keyClick(grid->Combo(), Qt::Key_Return);
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Record Enable"));
    ASSERT_TRUE(grid->EditCell(6, 2)); // sensor of CH 06
    grid->Combo()->setCurrentText("On");
    QTest::keyClick(grid->Combo(), Qt::Key_Return);
    dialog.accept();
    EXPECT_EQ(applied.motionRecordingTime, 9);
    EXPECT_EQ(applied.forcedRecordingTime, 7);
    EXPECT_EQ(applied.diskSpaceToRemain, 9);
    EXPECT_EQ(applied.sensorRecord[5], 1);
    EXPECT_EQ(applied.motionRecord[5], 2);
    EXPECT_EQ(applied.sensorRecord[6], 3);
}

TEST_F(ConfigDialogTest, LocalOkRefusesADirectoryThatIsNotAFullPath)
{
    CGroup group;
    int applied = 0;
    QString recording;
    dialog.applyLocal = [&](const CGroup&, const QString& r, const QString&) {
        ++applied;
        recording = r;
    };
    OpenLocal(group);
    dialog.open();
    ASSERT_TRUE(dialog.Grid()->EditCell(0, 1));
    dialog.Grid()->Combo()->setCurrentText("Off");
    QTest::keyClick(dialog.Grid()->Combo(), Qt::Key_Return);
    auto* recordEdit = dialog.findChild<QLineEdit*>("1011");
    auto* captureEdit = dialog.findChild<QLineEdit*>("1037");
    for (const char* bad : {"", "   ", "OXA/Recording"}) {
        recordEdit->setText(bad);
        dialog.accept();
        EXPECT_EQ(applied, 0) << bad;
        EXPECT_TRUE(dialog.isVisible());
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), kRecordingDirectoryNotFull);
        EXPECT_EQ(dialog.PageName(), "Directory");
    }
    recordEdit->setText("/tmp/rec2");
    captureEdit->setText("");
    dialog.accept();
    EXPECT_EQ(applied, 0);
    EXPECT_EQ(boxes.back(), kCaptureDirectoryNotFull);
    captureEdit->setText("/tmp/cap");
    dialog.accept();
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(recording, "/tmp/rec2");
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ConfigDialogTest, ABrushOfDvrModeNeverReachesTheLocalSchedule)
{
    OpenDvr(9);
    dialog.show();
    ASSERT_TRUE(dialog.SelectPage("Record", "Schedule Record"));
    QTest::mouseClick(dialog.findChild<QWidget*>("1025"), Qt::LeftButton); // "Motion"
    ASSERT_EQ(dialog.Painter().Brush(), 2);
    dialog.reject();

    CGroup group;
    OpenLocal(group);
    dialog.show();
    EXPECT_EQ(dialog.Painter().Brush(), 0);
    EXPECT_TRUE(static_cast<CButtonST*>(dialog.findChild<QWidget*>("1028"))->GetCheck());
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Schedule Setup"));
    dialog.Painter().SetChannel(0);
    const QPoint cell(251 + 28 * 9 + 5, 104 + 27 * 2 + 5);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, cell);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, cell);
    EXPECT_EQ(dialog.LocalSchedule()[0][2][9], 0);
    QTest::mouseClick(dialog.findChild<QWidget*>("1024"), Qt::LeftButton); // "Always"
    QTest::mousePress(&dialog, Qt::LeftButton, {}, cell);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, cell);
    EXPECT_EQ(dialog.LocalSchedule()[0][2][9], 1);
}

TEST_F(ConfigDialogTest, ScheduleValuesNoBrushPaintsAreDrawnGreyAndNamedInTheHint)
{
    const QImage backdrop(QDir(kSkinDirectory).filePath("schedule.bmp"));
    ASSERT_FALSE(backdrop.isNull()) << qPrintable(QDir::currentPath());
    record.assign(12044, 0);
    for (int ch = 0; ch < 8; ++ch)
        setup::WriteInt(record, 0x2D50 + 16 * ch + 4, ch);
    const int base = 0x2D4 + 768 * 1; // the second channel
    setup::WriteInt(record, base + 96 * 7 + 4 * 3, 9);  // every-day row, hour 3: unknown
    setup::WriteInt(record, base + 96 * 0 + 4 * 6, 1);  // Sunday, hour 6: "Always"
    CConfigDlg::Opening opening;
    opening.dvrType = 9;
    dialog.Begin(opening);
    dialog.OnSetupData(9, record.data(), record.size());
    dialog.show();
    ASSERT_TRUE(dialog.SelectPage("Record", "Schedule Record"));
    auto* combo = dialog.findChild<QComboBox*>("1018");
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    EXPECT_EQ(dialog.Hint()->text(), "");
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(dialog.Hint()->text(), kUnknownScheduleValues);
    const QImage shot = dialog.grab().toImage();
    const QColor unknown = shot.pixelColor(SchedulePainter::CellRect(0, 3).center());
    const QColor always = shot.pixelColor(SchedulePainter::CellRect(1, 6).center());
    const QPoint emptyDay = SchedulePainter::CellRect(1, 7).center();
    // Off the hour's number that the every-day cell carries.
    const QPoint emptyEveryDay = SchedulePainter::CellRect(0, 4).topLeft() + QPoint(2, 2);
    const QColor empty = shot.pixelColor(emptyDay);
    const QColor emptyEveryDayColour = shot.pixelColor(emptyEveryDay);
    // The empty cells are the backdrop's, as the operator sees them.
    EXPECT_EQ(empty, backdrop.pixelColor(emptyDay - SchedulePainter::kBackgroundAt));
    EXPECT_EQ(emptyEveryDayColour, backdrop.pixelColor(emptyEveryDay - SchedulePainter::kBackgroundAt));
    EXPECT_EQ(always, QColor(255, 204, 0));
    // Far from either row's empty cell and from every brush's colour.
    EXPECT_GT(std::abs(unknown.lightness() - empty.lightness()), 100);
    EXPECT_GT(std::abs(unknown.lightness() - emptyEveryDayColour.lightness()), 100);
    for (int v = 1; v <= 4; ++v)
        EXPECT_NE(unknown, SchedulePainter::CellColour(v));
    // Painting the hour over with a brush clears the hint.
    QTest::mouseClick(dialog.findChild<QWidget*>("1028"), Qt::LeftButton); // "Clear"
    const QPoint header(251 + 28 * 3 + 5, 110);
    QTest::mousePress(&dialog, Qt::LeftButton, {}, header);
    QTest::mouseRelease(&dialog, Qt::LeftButton, {}, header);
    EXPECT_EQ(dialog.Hint()->text(), "");

    // The local grid knows 1 only: a 2 there never records, and shows so.
    CGroup group;
    group.schedule[0][1][4] = 2;
    OpenLocal(group);
    dialog.Painter().SetChannel(0);
    EXPECT_FALSE(dialog.Hint()->isVisibleTo(&dialog));
    ASSERT_TRUE(dialog.SelectPage("Record Setup", "Schedule Setup"));
    EXPECT_TRUE(dialog.Hint()->isVisibleTo(&dialog));
    EXPECT_EQ(dialog.Hint()->text(), kUnknownScheduleValues);
    EXPECT_EQ(dialog.grab().toImage().pixelColor(SchedulePainter::CellRect(1, 4).center()), unknown);
    ASSERT_TRUE(dialog.SelectPage("Local PC Configuration", "General Setup"));
    EXPECT_FALSE(dialog.Hint()->isVisibleTo(&dialog));
}

TEST_F(ConfigDialogTest, OneClickOnAListCellOpensItsList)
{
    OpenDvr(9);
    dialog.show();
    ASSERT_TRUE(dialog.SelectPage("Device", "PTZ Camera"));
    CComboListCtrl* grid = dialog.Grid();
    const QRect cell = grid->visualRect(grid->model()->index(1, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    ASSERT_TRUE(grid->Combo()->Active());
    EXPECT_TRUE(grid->Combo()->view()->isVisible());
    // Choosing from the open list ends the edit with that text.
    grid->Combo()->view()->setCurrentIndex(grid->Combo()->model()->index(4, 0));
    QTest::keyClick(grid->Combo()->view(), Qt::Key_Return);
    EXPECT_EQ(grid->CellText(1, 1), "LG");
    EXPECT_FALSE(grid->Combo()->Active());
    // An edit column opens its box, and no list.
    ASSERT_TRUE(dialog.SelectPage("Display", "Camera Input"));
    const QRect number = grid->visualRect(grid->model()->index(1, 1));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, number.center());
    EXPECT_TRUE(grid->Edit()->Active());
    EXPECT_FALSE(grid->Combo()->Active());
}
