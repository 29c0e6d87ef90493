// The network viewer's view in the test process: drops, groups, layouts,
// live video from the simulator and the close sequence.
#include "NetviewerFixture.h"
#include "SimProcess.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QProcess>
#include <QTreeWidget>

namespace {

class ViewTest : public NetviewerFixture {
protected:
    void AddDvr(const QString& name, int port, int type = 3)
    {
        SettingsDocument doc(ViewerVariant::Network, dir.path());
        doc.OnNewDocument();
        doc.deviceList.push_back(std::make_unique<CDVR>(name, type, CDVR::DeviceDVR, QString(), CDVR::AddressFixed,
                                                        std::array<uint8_t, 4>{127, 0, 0, 1}, port, 0, 0, "Guest",
                                                        "", 1));
        ASSERT_TRUE(doc.SaveSettingsFiles().ok());
    }
    std::vector<int> CameraCells()
    {
        std::vector<int> cells;
        for (const auto& camera : *document->CurrentGroup()->cameras)
            cells.push_back(camera->cell);
        return cells;
    }
    QPoint CellCentre(int cell) { return View()->FieldCellRect(cell).center(); }
};

TEST_F(ViewTest, ADvrDroppedOnCellFourteenOfSixteenBindsFourteenAndFifteen)
{
    AddDvr("Gate", 9);
    Start();
    ASSERT_EQ(View()->SplitMode(), 16);
    QTreeWidgetItem* dvr = FindTreeItem(View()->DeviceTree(), "Gate");
    ASSERT_NE(dvr, nullptr);
    EXPECT_EQ(dvr->childCount(), 17);
    View()->DropItem(dvr, CellCentre(14));
    EXPECT_EQ(View()->CellAt(14).deviceName, "Gate");
    EXPECT_EQ(View()->CellAt(14).channel, 0);
    EXPECT_EQ(View()->CellAt(15).channel, 1);
    EXPECT_EQ(View()->CellAt(13).slot, -1);
    EXPECT_EQ(View()->CellAt(16).slot, -1);
    EXPECT_EQ(View()->CellAt(14).slot, View()->CellAt(15).slot);
    EXPECT_EQ(CameraCells(), (std::vector<int>{14, 15}));
    // The panes of the two cells are placed on them.
    EXPECT_TRUE(View()->ControlAt(View()->CellAt(14).slot)->isReady(0));
    EXPECT_EQ(View()->ControlAt(View()->CellAt(14).slot)->GetChannelName(1), "Gate-02");
    // A drop outside the cells does nothing.
    View()->DropItem(dvr, QPoint(20, 20));
    EXPECT_EQ(CameraCells(), (std::vector<int>{14, 15}));
}

TEST_F(ViewTest, ADroppedChannelMovesAndTheDvrKeepsOneControl)
{
    AddDvr("Gate", 9);
    AddDvr("Yard", 9, 1);
    Start();
    const int before = View()->ControlsCreated();
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-01"), CellCentre(3));
    const int slot = View()->CellAt(3).slot;
    ASSERT_GE(slot, 0);
    EXPECT_EQ(View()->ControlsCreated(), before + 1);
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-01"), CellCentre(5));
    EXPECT_EQ(View()->CellAt(3).slot, -1);
    EXPECT_EQ(View()->CellAt(5).slot, slot);
    EXPECT_EQ(CameraCells(), (std::vector<int>{5}));
    // A second channel of the same DVR joins the same control.
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-02"), CellCentre(1));
    EXPECT_EQ(View()->CellAt(1).slot, slot);
    EXPECT_EQ(View()->ControlsCreated(), before + 1);
    EXPECT_EQ(CameraCells(), (std::vector<int>{1, 5}));
    // Another DVR dropped on an occupied cell replaces what was there.
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Yard", "Yard-01"), CellCentre(5));
    EXPECT_EQ(View()->CellAt(5).deviceName, "Yard");
    EXPECT_NE(View()->CellAt(5).slot, slot);
    EXPECT_EQ(CameraCells(), (std::vector<int>{1, 5}));
    EXPECT_EQ(document->CurrentGroup()->cameras->back()->deviceName, "Yard");
}

TEST_F(ViewTest, ASavedGroupSurvivesARestartAndLoadsWithItsSplit)
{
    AddDvr("Gate", 9);
    Start();
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-03"), CellCentre(2));
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-04"), CellCentre(0));
    View()->SetSplitMode(9);
    View()->AddSavedGroup("Lobby", false);
    ASSERT_NE(FindTreeItem(View()->GroupTree(), "Lobby"), nullptr);
    EXPECT_EQ(FindTreeItem(View()->GroupTree(), "Lobby")->childCount(), 2);
    ASSERT_TRUE(CloseAndWait());
    frame.reset();

    Start();
    EXPECT_EQ(View()->SplitMode(), 9);
    EXPECT_EQ(View()->CellAt(0).deviceName, "Gate");
    EXPECT_EQ(View()->CellAt(0).channel, 3);
    EXPECT_EQ(View()->CellAt(2).channel, 2);
    QTreeWidgetItem* group = FindTreeItem(View()->GroupTree(), "Lobby");
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->child(0)->text(0), "Gate-04"); // cameras in cell order

    // Another layout, then the group dropped back: its split returns.
    View()->SetSplitMode(4);
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-01"), CellCentre(3));
    View()->DropItem(group, CellCentre(0));
    EXPECT_EQ(View()->SplitMode(), 9);
    EXPECT_EQ(View()->CellAt(3).slot, -1);
    EXPECT_EQ(CameraCells(), (std::vector<int>{0, 2}));
    EXPECT_EQ(document->CurrentGroup()->cameras->front()->groupName, "Lobby");
}

// Answers the next modal dialog: types `text` into the field of object name
// `field` and presses OK.
void AnswerNextDialog(const QString& field, const QString& text)
{
    QTimer::singleShot(100, [field, text] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        auto* edit = dialog->findChild<QLineEdit*>(field);
        ASSERT_NE(edit, nullptr);
        edit->setText(text);
        auto* ok = dialog->findChild<QPushButton*>("1");
        ASSERT_NE(ok, nullptr);
        ok->click();
    });
}

TEST_F(ViewTest, TheSaveGroupAndAddDvrButtonsGoThroughTheirDialogsAndSave)
{
    AddDvr("Gate", 9);
    Start();
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-01"), CellCentre(0));
    AnswerNextDialog("1011", "Night");
    View()->OnCommand(IDC_SAVE_GROUP);
    ASSERT_NE(FindTreeItem(View()->GroupTree(), "Night"), nullptr);
    EXPECT_EQ(document->CurrentGroup()->name, "Night");
    SettingsDocument reread(ViewerVariant::Network, dir.path());
    reread.OnNewDocument();
    ASSERT_EQ(reread.groupList.size(), 1u);
    EXPECT_EQ(reread.groupList[0]->name, "Night");
    EXPECT_EQ(reread.groupList[0]->cameras->front()->groupName, "Night");

    AnswerNextDialog("1003", "Yard");
    View()->OnCommand(IDC_ADD_DVR);
    QTreeWidgetItem* yard = FindTreeItem(View()->DeviceTree(), "Yard");
    ASSERT_NE(yard, nullptr);
    EXPECT_GT(yard->childCount(), 0);
    SettingsDocument again(ViewerVariant::Network, dir.path());
    again.OnNewDocument();
    EXPECT_EQ(again.deviceList.size(), 2u);
}

TEST_F(ViewTest, PagingSingleCellAndFullScreen)
{
    AddDvr("Gate", 9);
    Start();
    View()->DropItem(FindTreeItem(View()->DeviceTree(), "Gate", "Gate-01"), CellCentre(4));
    View()->SetSplitMode(16);
    // The highest camera bounds the paging: with one in cell 20, 0 -> 16 -> 0.
    auto camera = std::make_unique<CCamera>(*document->CurrentGroup()->cameras->front());
    camera->cell = 20;
    View()->AddCameraToGroup(std::move(camera));
    View()->NextPage();
    EXPECT_EQ(View()->FirstCell(), 16);
    EXPECT_EQ(View()->SelectedCell(), 16);
    View()->NextPage();
    EXPECT_EQ(View()->FirstCell(), 0);

    View()->SelectCell(4);
    View()->ToggleSingleCell();
    EXPECT_EQ(View()->SplitMode(), 1);
    EXPECT_EQ(View()->FieldCellRect(4).size(), QSize(View()->width() - 186 - 16, View()->height() - 50 - 55));
    EXPECT_TRUE(View()->FieldCellRect(5).isEmpty());
    View()->ToggleSingleCell();
    EXPECT_EQ(View()->SplitMode(), 16);

    View()->ToggleFullScreen();
    EXPECT_TRUE(View()->FullScreen());
    EXPECT_EQ(View()->Margins().left, 0);
    EXPECT_TRUE(View()->DeviceTree()->isHidden());
    View()->ToggleFullScreen();
    EXPECT_EQ(View()->Margins().left, 186);
    EXPECT_FALSE(View()->DeviceTree()->isHidden());
}

TEST_F(ViewTest, CommandsOnAnEmptyCellAskForADropFirst)
{
    Start();
    View()->SelectCell(7);
    View()->OnCommand(ID_CELL_CONNECT);
    View()->OnCommand(ID_CELL_DISCONNECT);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0], "Please drag & drop DVR to the video window first.");
    View()->OnCommand(IDC_ADD_IP_CAMERA);
    EXPECT_EQ(boxes.back(), "Not Available");
}

TEST_F(ViewTest, LiveVideoFillsTheBoundCellsAndTheViewerClosesCleanly)
{
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--channels", "16", "--size", "352x240"}));
    QProcess setup;
    setup.start(NVSETUP_PROGRAM, {"--dir", dir.path(), "--port", QString::number(sim.port()), "--channels", "16"});
    ASSERT_TRUE(setup.waitForFinished(10000));
    ASSERT_EQ(setup.exitCode(), 0);
    Start();
    EXPECT_TRUE(View()->Connecting()); // one cell every 50 ms, from the event loop
    auto lit = [this](int cell) {
        const QRect r = View()->FieldCellRect(cell).adjusted(4, 16, -4, -4);
        const QImage image = View()->grab(r).toImage();
        int bright = 0;
        for (int y = 0; y < image.height(); y += 5)
            for (int x = 0; x < image.width(); x += 5)
                bright += qGray(image.pixel(x, y)) > 40;
        return bright > 50;
    };
    ASSERT_TRUE(PumpUntil(
        [&] {
            for (int cell = 0; cell < 16; ++cell)
                if (!lit(cell))
                    return false;
            return true;
        },
        20000));
    ASSERT_TRUE(CloseAndWait(15000));
    EXPECT_NE(sim.waitForLog("LOGOUT", 5000), "");
    EXPECT_LE(frame->IdleChecks(), 2);
}

} // namespace
