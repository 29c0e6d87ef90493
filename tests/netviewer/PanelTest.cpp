// The PTZ, preset and sound panels against the simulator: the codes that
// reach the DVR, the user-right refusals, the preset number's bounds, Device
// Setup and the cell's read-only properties.
#include "ChannelFixture.h"

#include "viewercore/widgets/CBitmapSlider.h"

#include <QApplication>
#include <QLineEdit>

namespace {

class PanelTest : public ChannelFixture {
protected:
    int LinesStartingWith(const std::string& start)
    {
        int n = 0;
        for (const std::string& line : sim.logLines())
            n += line.rfind(start, 0) == 0;
        return n;
    }
    // Waits until the simulator has logged `count` PTZ packets.
    bool PtzLinesReach(int count)
    {
        return PumpUntil([&] { return LinesStartingWith("PTZ ") >= count; }, 5000);
    }
    QWidget* Child(int id) { return View()->findChild<QWidget*>(QString::number(id)); }
};

TEST_F(PanelTest, PtzAndPresetCodesReachTheDvrForTheSelectedChannel)
{
    StartConnected();
    View()->SelectCell(1);
    // The slowest release pause first: the stop codes wait speed x 5 ms.
    platform::PostMessage(View(), WM_SLIDER_MOVED, IDC_PT_SPEED, 1);
    Pump(20);
    View()->OnCommand(IDC_PTZ_PANEL);
    ASSERT_EQ(View()->PanelMode(), 1);
    EXPECT_TRUE(Child(IDC_PTZ_UP)->isVisible());
    EXPECT_FALSE(Child(IDC_PRESET_GO)->isVisible());
    const int H = View()->height();
    EXPECT_EQ(Child(IDC_PRESET_PANEL)->geometry(), QRect(11, H - 60, 164, 24));
    EXPECT_EQ(Child(IDC_AUDIO_PANEL)->geometry(), QRect(11, H - 30, 164, 24));
    EXPECT_EQ(Child(IDC_PTZ_UP_LEFT)->geometry(), QRect(83, H - 207 + 36, 29, 26));
    EXPECT_EQ(View()->DeviceTree()->geometry(), QRect(16, 154, 155, H - 207 - 198));

    const struct {
        int id;
        int pressed, released;
    } buttons[] = {{IDC_PTZ_UP_LEFT, 1, 15}, {IDC_PTZ_UP, 2, 15},        {IDC_PTZ_UP_RIGHT, 3, 15},
                   {IDC_PTZ_LEFT, 4, 15},    {IDC_PTZ_RIGHT, 5, 15},     {IDC_PTZ_DOWN_LEFT, 6, 15},
                   {IDC_PTZ_DOWN, 7, 15},    {IDC_PTZ_DOWN_RIGHT, 8, 15}, {IDC_ZOOM_OUT, 9, 16},
                   {IDC_ZOOM_IN, 10, 16},    {IDC_FOCUS_NEAR, 11, 17},   {IDC_FOCUS_FAR, 12, 17}};
    for (const auto& b : buttons) {
        View()->OnPtzPress(b.id);
        View()->OnPtzRelease(b.id);
    }
    ASSERT_TRUE(PtzLinesReach(24));
    std::vector<std::string> ptz;
    for (const std::string& line : sim.logLines())
        if (line.rfind("PTZ ", 0) == 0)
            ptz.push_back(line.substr(0, line.find(" #")));
    ASSERT_EQ(ptz.size(), 24u);
    for (std::size_t k = 0; k < 12; ++k) {
        EXPECT_EQ(ptz[2 * k], "PTZ " + std::to_string(buttons[k].pressed) + " 0 1");
        EXPECT_EQ(ptz[2 * k + 1], "PTZ " + std::to_string(buttons[k].released) + " 0 1");
    }

    View()->OnCommand(IDC_PRESET_PANEL);
    ASSERT_EQ(View()->PanelMode(), 2);
    EXPECT_FALSE(Child(IDC_PTZ_UP)->isVisible());
    EXPECT_TRUE(View()->PresetEdit()->isVisible());
    EXPECT_FALSE(View()->OnPresetSpin(-1)); // 1 is the lowest
    for (int k = 0; k < 9; ++k)
        EXPECT_TRUE(View()->OnPresetSpin(+1));
    EXPECT_FALSE(View()->OnPresetSpin(+1)); // 10 is the highest
    EXPECT_EQ(View()->PresetEdit()->text(), "10");
    View()->OnCommand(IDC_PRESET_SET);
    EXPECT_NE(sim.waitForLog("PTZ 48 10 1"), "");
    View()->PresetEdit()->setText("3");
    View()->OnCommand(IDC_PRESET_GO);
    EXPECT_NE(sim.waitForLog("PTZ 50 3 1"), "");
    View()->OnCommand(IDC_PRESET_CLEAR);
    EXPECT_NE(sim.waitForLog("PTZ 49 3 1"), "");
    View()->PresetEdit()->setText("7");
    EXPECT_TRUE(View()->OnPresetSpin(+1));
    EXPECT_EQ(View()->PresetEdit()->text(), "8");
    View()->PresetEdit()->setText("11");
    View()->OnCommand(IDC_PRESET_GO);
    EXPECT_EQ(boxes.back(), "Please enter an integer between 1 and 10.");
    Pump(100);
    EXPECT_EQ(LinesStartingWith("PTZ "), 27);

    // Pressing the open panel's button closes it.
    View()->OnCommand(IDC_PRESET_PANEL);
    EXPECT_EQ(View()->PanelMode(), 0);
    EXPECT_FALSE(View()->PresetEdit()->isVisible());

    View()->OnCommand(IDC_DEVICE_SETUP);
    EXPECT_NE(sim.waitForLog("CMD 18 0 1 "), "");

    // A release after the link dropped is refused and sends nothing.
    View()->OnPtzPress(IDC_PTZ_UP);
    ASSERT_TRUE(PtzLinesReach(28));
    Control(1)->DisConnectSvr(View()->CellAt(1).channel);
    View()->OnPtzRelease(IDC_PTZ_UP);
    EXPECT_EQ(boxes.back(), "Please connect to the server first.");
    Pump(100);
    EXPECT_EQ(LinesStartingWith("PTZ "), 28);
    EXPECT_EQ(LinesStartingWith("PTZ 15 "), 8);
}

TEST_F(PanelTest, WithoutFullRightsTheOperatorIsToldAndNothingIsSent)
{
    StartConnected({"--right", "1"});
    View()->SelectCell(2);
    View()->OnCommand(IDC_PTZ_PANEL);
    EXPECT_EQ(boxes.back(), "You don't have authorization for PTZ Control");
    View()->OnCommand(IDC_PRESET_PANEL);
    EXPECT_EQ(boxes.back(), "You don't have authorization for PTZ Preset");
    EXPECT_EQ(View()->PanelMode(), 0);
    View()->OnPtzPress(IDC_PTZ_LEFT);
    EXPECT_EQ(boxes.back(), "You have no authority");
    boxes.clear();
    View()->OnPresetCommand(IDC_PRESET_GO);
    EXPECT_EQ(boxes.back(), "You have no authority");
    View()->OnCommand(IDC_DEVICE_SETUP);
    EXPECT_EQ(boxes.back(), "You don't have authorization for DVR Configuration");
    // The sound panel needs no right.
    View()->OnCommand(IDC_AUDIO_PANEL);
    EXPECT_EQ(View()->PanelMode(), 3);
    EXPECT_TRUE(Child(IDC_LISTEN)->isVisible());
    Pump(200);
    EXPECT_EQ(LinesStartingWith("PTZ "), 0);
    EXPECT_EQ(LinesStartingWith("CMD 18 "), 0);

    // On an empty cell the panels neither open nor complain.
    boxes.clear();
    View()->OnCommand(IDC_AUDIO_PANEL);
    View()->SelectCell(9);
    View()->OnCommand(IDC_PTZ_PANEL);
    View()->OnCommand(IDC_DEVICE_SETUP);
    View()->OnPtzPress(IDC_PTZ_LEFT);
    View()->OnPresetCommand(IDC_PRESET_SET);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(View()->PanelMode(), 0);
}

TEST_F(PanelTest, ListeningTogglesForEveryCellAndTheSlidersStartWhereTheyShould)
{
    StartConnected();
    EXPECT_EQ(View()->Slider(IDC_PT_SPEED)->GetPos(), 50);
    EXPECT_EQ(View()->Slider(IDC_SPEAKER_VOLUME)->GetRangeMax(), 100);
    EXPECT_EQ(View()->Slider(IDC_SPEAKER_VOLUME)->GetPos(), 50);
    EXPECT_EQ(View()->Slider(IDC_MIC_VOLUME)->GetRangeMax(), 50);
    EXPECT_EQ(View()->Slider(IDC_MIC_VOLUME)->GetPos(), 25);
    EXPECT_FALSE(View()->SoundMuted());
    View()->OnCommand(IDC_AUDIO_PANEL);
    View()->OnCommand(IDC_LISTEN);
    EXPECT_TRUE(View()->SoundMuted());
    View()->OnCommand(IDC_LISTEN);
    EXPECT_FALSE(View()->SoundMuted());
    // Listening again tells the DVR the speaker slider's level: 50 is step 5.
    EXPECT_NE(sim.waitForLog("CMD 20 5 "), "");
}

// Opens the selected cell's properties and returns the texts of the
// dialog's line edits; every input must be disabled or read-only.
std::vector<QString> ReadOnlyPropertyTexts(CVyrNVRView* view)
{
    std::vector<QString> texts;
    bool seen = false;
    QTimer::singleShot(200, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        seen = true;
        for (QLineEdit* edit : dialog->findChildren<QLineEdit*>()) {
            EXPECT_FALSE(edit->isEnabled() && !edit->isReadOnly()) << edit->objectName().toStdString();
            texts.push_back(edit->text());
        }
        static_cast<QDialog*>(dialog)->reject();
    });
    view->OnCommand(ID_CELL_PROPERTIES);
    EXPECT_TRUE(seen);
    return texts;
}

bool Contains(const std::vector<QString>& texts, const QString& text)
{
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(PanelTest, PropertiesOfACellOpenReadOnlyForItsDvrOrItsGroup)
{
    StartConnected();
    View()->SelectCell(2);
    std::vector<QString> texts = ReadOnlyPropertyTexts(View());
    EXPECT_TRUE(Contains(texts, "Lot_A"));
    EXPECT_TRUE(Contains(texts, "Lot_A-03"));

    // Cells bound from a saved group show the group's camera.
    View()->AddSavedGroup("Night", false);
    View()->DropItem(FindTreeItem(View()->GroupTree(), "Night"), View()->FieldCellRect(0).center());
    ASSERT_EQ(Control(2)->GetGroupName(View()->CellAt(2).channel), "Night");
    View()->SelectCell(2);
    texts = ReadOnlyPropertyTexts(View());
    EXPECT_TRUE(Contains(texts, "Night"));
    EXPECT_TRUE(Contains(texts, "Lot_A-03"));
}

} // namespace
