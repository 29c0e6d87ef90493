// Remote setup end to end: the viewer fetches the simulator's setup record
// with Device Setup, the operator edits one cell on every page, OK uploads
// it, and the simulator's copy of the upload differs from what it sent in
// exactly the edited bytes.
#include "ChannelFixture.h"
#include "netviewer/setup/CConfigDlg.h"
#include "platform/Registry.h"
#include "tests/widgets/PlatformKeys.h"
#include "LoopGaps.h"
#include "NetworkWaits.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTest>

#include <random>

namespace {

void PutInt(std::vector<uint8_t>& record, int offset, int32_t value)
{
    for (int k = 0; k < 4; ++k)
        record[offset + k] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * k));
}

// One edit on one page: the cell, the texts to choose from (the first that
// differs from what the cell shows is taken) and where its value lies.
struct PageEdit {
    const char* parent;
    const char* page;
    int row, column;
    std::vector<std::pair<const char*, int32_t>> choices; // text, record value
    int small, big;                                      // offset of the field
    bool editBox = false;                                 // typed, not chosen
};

class RemoteSetupTest : public ChannelFixture {
protected:
    // Device Setup of a small-layout DVR open on its Alarm page with the
    // buzzer turned over and not yet sent; null when it did not open.
    CConfigDlg* OpenWithTheBuzzerEdited(std::vector<uint8_t>* original, QString* buzzer)
    {
        const QString path = dir.filePath("setup.bin");
        *original = WriteSetupFile(12044, path);
        CConfigDlg* dialog = OpenDeviceSetup(9, path, *original);
        if (dialog == nullptr || !dialog->SelectPage("Device", "Alarm"))
            return nullptr;
        *buzzer = dialog->Grid()->CellText(1, 1) == "On" ? "Off" : "On";
        EditCell(dialog, 1, 1, *buzzer, false);
        return dialog;
    }
    // An OK that could not send: the box, and the dialog still open on the
    // page the operator was on, the edit kept.
    void ExpectNotSentAndKept(CConfigDlg* dialog, const QString& buzzer)
    {
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), kSetupNotSent);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->PageName(), "Alarm");
        EXPECT_EQ(dialog->Grid()->CellText(1, 1), buzzer);
    }
    // A record of random bytes; only the PTZ IDs are distinct, so that the
    // edited PTZ page is a legal one. Every other value is what it happens
    // to be, many of them outside what the pages' checks allow.
    std::vector<uint8_t> WriteSetupFile(std::size_t size, const QString& path)
    {
        std::mt19937 rng(static_cast<unsigned>(size));
        std::vector<uint8_t> record(size);
        for (auto& b : record)
            b = static_cast<uint8_t>(rng());
        const bool small = size == 12044;
        for (int ch = 0; ch < (small ? 8 : 16); ++ch)
            PutInt(record, (small ? 0x2D50 : 0x5A7C) + 16 * ch + 4, ch);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(record.data()), static_cast<qint64>(record.size()));
        return record;
    }

    CConfigDlg* OpenDeviceSetup(int dvrType, const QString& setupPath, const std::vector<uint8_t>& original)
    {
        StartConnected({"--dvr-type", std::to_string(dvrType), "--setup-file", setupPath.toStdString(),
                        "--setup-upload-file", dir.filePath("upload.bin").toStdString()});
        View()->SelectCell(1);
        View()->OnCommand(IDC_DEVICE_SETUP);
        CConfigDlg* dialog = View()->ConfigDialog();
        EXPECT_NE(dialog, nullptr);
        if (!dialog)
            return nullptr;
        // A notice for another cell is not this dialog's record.
        View()->OnMessage(vyrdax::WM_VIDEO_DVR_DATA, dvrType, 2);
        EXPECT_FALSE(dialog->HasRecord());
        EXPECT_TRUE(PumpUntil([&] { return dialog->HasRecord(); }, 10000));
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->Record(), original);
        return dialog;
    }

    // Chooses or types `text` into a cell as the operator would.
    void EditCell(CConfigDlg* dialog, int row, int column, const QString& text, bool editBox)
    {
        CComboListCtrl* grid = dialog->Grid();
        ASSERT_TRUE(grid->EditCell(row, column)) << row << "," << column;
        if (editBox) {
            grid->Edit()->clear();
            QTest::keyClicks(grid->Edit(), text);
            QTest::keyClick(grid->Edit(), Qt::Key_Return);
        } else {
            grid->Combo()->setCurrentText(text);
            QTest::keyClick(grid->Combo(), Qt::Key_Return);
        }
        ASSERT_EQ(grid->CellText(row, column), text);
    }

    std::vector<uint8_t> UploadedRecord()
    {
        EXPECT_NE(sim.waitForLog("SETUP-UPLOAD", 10000), "");
        QFile file(dir.filePath("upload.bin"));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }

    static std::vector<int> Differences(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
    {
        std::vector<int> out;
        for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
            if (a[k] != b[k])
                out.push_back(static_cast<int>(k));
        return out;
    }

    void EditEveryPageAndUpload(int dvrType, std::size_t size)
    {
        const bool small = size == 12044;
        const QString path = dir.filePath("setup.bin");
        const std::vector<uint8_t> original = WriteSetupFile(size, path);
        platform::RegistryWriteString("Software\\Vyrdax\\VyrdaxCtrl", "LookupHost", "192.0.2.44");
        if (getenv("VYR_SETUP_SCREENSHOT"))
            QFile::link(QCoreApplication::applicationDirPath() + "/image", dir.filePath("image"));
        CConfigDlg* dialog = OpenDeviceSetup(dvrType, path, original);
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(dialog->HasRecord());
        ASSERT_TRUE(dialog->SelectPage("System", "Network"));
        EXPECT_EQ(dialog->Grid()->CellText(7, 1), "192.0.2.44");

        const std::vector<PageEdit> edits{
            {"Device", "Overwrite / Warning", 2, 1, {{"OSD", 1}, {"Off", 0}}, 0x2D24, 0x5A30},
            {"Device", "Sensor", 2, 1, {{"N.C.", 1}, {"N.O.", 0}}, 0x2D28 + 4, 0x5A34 + 4},
            {"Device", "Alarm", 1, 1, {{"On", 1}, {"Off", 0}}, 0x2D4C, 0x5A78},
            {"Device", "Audio Record", 0, 3, {{"8", 7}, {"3", 2}}, 0x2E28 + 8, 0x59F4 + 8},
            {"Device", "PTZ Camera", 2, 1, {{"HONEYWELL", 6}, {"LG", 4}}, 0x2D50 + 32 + 8, 0x5A7C + 32 + 8},
            {"Display", "Camera Input", 2, 1, {{"42", 42}, {"7", 7}}, 0xA0 + 16, 0x140 + 16, true},
            {"Display", "Sequence", 0, 2, {{"10 Sec", 4}, {"1 Sec", 0}}, 0x80, 0x100},
            {"Display", "Display Misc", 6, 1, {{"GREEN", 2}, {"RED", 1}}, 0x1C8, 0x368},
            {"Display Misc", "Display VGA", 0, 1, {{"42", 42}, {"7", 7}}, 0x120, 0x240, true},
            {"Display Misc", "PIP", 0, 1, {{"CH01", 0}, {"CH02", 1}}, 0x1A0, 0x340},
            {"System", "Network", 11, 1, {{"56 Kbps", 5}, {"FREE", 0}}, 0x2F00, 0x5CAC},
            {"System", "Misc.", 1, 1, {{"SPANISH", 2}, {"ENGLISH", 0}}, 0x2E64, 0x5BDC},
            {"Record", "Motion Record Setup", 1, 2, {{"FULL", 1}, {"SET", 0}}, 0x1AF4, 0x35B4},
            {"Record", "Record Channel Enable", 1, 3, {{"2 min", 4}, {"OFF", 0}}, 0x1CC + 8, 0x36C + 8},
            {"Record", "Record Quality", 1, 3, {{"Basic", 4}, {"Good", 2}}, 0x24C + 8, 0x46C + 8},
        };
        std::vector<uint8_t> expected = original;
        for (const PageEdit& e : edits) {
            ASSERT_TRUE(dialog->SelectPage(e.parent, e.page)) << e.page << ": a page left untouched refused";
            const QString shown = dialog->Grid()->CellText(e.row, e.column);
            const auto& choice = QString(e.choices[0].first) != shown ? e.choices[0] : e.choices[1];
            EditCell(dialog, e.row, e.column, choice.first, e.editBox);
            PutInt(expected, small ? e.small : e.big, choice.second);
        }
        // Text fields: a name and a password.
        ASSERT_TRUE(dialog->SelectPage("Display", "Channel Name Display"));
        EditCell(dialog, 1, 1, "Gate", true);
        const char name[8] = {'G', 'a', 't', 'e', 0, 0, 0, 0};
        std::copy(name, name + 8, expected.begin() + 8);
        ASSERT_TRUE(dialog->SelectPage("System", "Password Setup"));
        EditCell(dialog, 0, 1, "1234", true);
        const char digits[4] = {'1', '2', '3', '4'};
        std::copy(digits, digits + 4, expected.begin() + (small ? 0x2E14 : 0x5BC0));
        // Pages that store nothing are shown and left.
        ASSERT_TRUE(dialog->SelectPage("System", "Time Setup"));
        ASSERT_TRUE(dialog->SelectPage("System", "Information"));
        // The schedule: hour 5 of the first channel, every day, "Sensor".
        ASSERT_TRUE(dialog->SelectPage("Record", "Schedule Record"));
        auto* combo = dialog->findChild<QComboBox*>("1018");
        combo->setCurrentIndex(0);
        emit combo->activated(0);
        QTest::mouseClick(dialog->findChild<QWidget*>("1026"), Qt::LeftButton);
        const QPoint header(251 + 28 * 5 + 5, 110);
        QTest::mousePress(dialog, Qt::LeftButton, {}, header);
        QTest::mouseRelease(dialog, Qt::LeftButton, {}, header);
        for (int row = 0; row < 8; ++row) {
            const int at = (small ? 0x2D4 : 0x574) + 96 * row + 4 * 5;
            if ((expected[at] | expected[at + 1] << 8) != 3)
                PutInt(expected, at, 3);
        }
        // For the README: the dialog as it shows under a real display.
        if (const char* shot = getenv("VYR_SETUP_SCREENSHOT")) {
            dialog->grab().save(QString("%1-%2-schedule.png").arg(shot).arg(dvrType));
            ASSERT_TRUE(dialog->SelectPage("Device", "PTZ Camera"));
            dialog->grab().save(QString("%1-%2.png").arg(shot).arg(dvrType));
        }
        dialog->accept();
        EXPECT_FALSE(dialog->isVisible());

        const std::vector<uint8_t> uploaded = UploadedRecord();
        ASSERT_EQ(uploaded.size(), size);
        EXPECT_EQ(Differences(expected, uploaded), std::vector<int>{}) << "bytes that differ from the expected record";
        EXPECT_GE(Differences(original, uploaded).size(), edits.size() + 2);
    }
};

} // namespace

TEST_F(RemoteSetupTest, SmallLayoutDvrGetsBackItsRecordWithOnlyTheEditedBytesChanged)
{
    EditEveryPageAndUpload(9, 12044);
}

TEST_F(RemoteSetupTest, BigLayoutDvrGetsBackItsRecordWithOnlyTheEditedBytesChanged)
{
    EditEveryPageAndUpload(17, 23736);
}

TEST_F(RemoteSetupTest, OkWithTheLinkDownKeepsTheDialogAndItsEdits)
{
    std::vector<uint8_t> original;
    QString buzzer;
    CConfigDlg* dialog = OpenWithTheBuzzerEdited(&original, &buzzer);
    ASSERT_NE(dialog, nullptr);
    const short channel = View()->CellAt(1).channel;
    Control(1)->DisConnectSvr(channel);
    boxes.clear();
    dialog->accept();
    ExpectNotSentAndKept(dialog, buzzer);
    Pump(300);
    EXPECT_EQ(sim.waitForLog("SETUP-UPLOAD", 10), "");

    // Once the channel is back, OK sends what was kept.
    Control(1)->Connect(channel);
    ASSERT_TRUE(PumpUntil([&] { return Control(1)->isConnect(channel); }, 10000));
    dialog->accept();
    EXPECT_FALSE(dialog->isVisible());
    std::vector<uint8_t> expected = original;
    PutInt(expected, 0x2D4C, buzzer == "On" ? 1 : 0);
    EXPECT_EQ(UploadedRecord(), expected);
}

// Return held down on OK while the link is down, the keys as the platform
// delivers them: the upload is tried once and refused with one box, however
// many repeats come; Return pressed again tries once more.
TEST_F(RemoteSetupTest, AHeldReturnOnOkWithTheLinkDownTriesTheUploadOnce)
{
    std::vector<uint8_t> original;
    QString buzzer;
    CConfigDlg* dialog = OpenWithTheBuzzerEdited(&original, &buzzer);
    ASSERT_NE(dialog, nullptr);
    Control(1)->DisConnectSvr(View()->CellAt(1).channel);
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    auto* ok = dialog->findChild<QPushButton*>("1");
    ASSERT_NE(ok, nullptr);
    ok->setFocus();
    boxes.clear();
    // 1.5 s at 25 repeats a second.
    PlatformHeldKey(dialog->windowHandle(), Qt::Key_Return, "\r", 37, [] { QTest::qWait(40); });
    EXPECT_EQ(boxes.size(), 1u);
    ExpectNotSentAndKept(dialog, buzzer);
    ok->setFocus();
    PlatformKeyPress(dialog->windowHandle(), Qt::Key_Return, "\r");
    EXPECT_EQ(boxes.size(), 2u);
    ExpectNotSentAndKept(dialog, buzzer);
    EXPECT_EQ(sim.waitForLog("SETUP-UPLOAD", 10), "");
    dialog->reject();
}

TEST_F(RemoteSetupTest, OkAfterTheDvrWentAwayAnswersAtOnceWithTheBoxAndKeepsTheEdits)
{
    std::vector<uint8_t> original;
    QString buzzer;
    CConfigDlg* dialog = OpenWithTheBuzzerEdited(&original, &buzzer);
    ASSERT_NE(dialog, nullptr);
    const short channel = View()->CellAt(1).channel;
    testsupport::LoopGaps gaps;
    testsupport::NetworkWaits waits;
    // The DVR loses power while the operator edits; its connection ends,
    // and the control knows at once, not after the minute of its time-out.
    sim.kill();
    gaps.Resume(); // the test's own wait for the simulator's end
    ASSERT_TRUE(PumpUntil([&] { return !Control(1)->isConnect(channel); }, 2000));
    boxes.clear();
    QElapsedTimer ok;
    ok.start();
    dialog->accept();
    EXPECT_LT(ok.elapsed(), 1000);
    ExpectNotSentAndKept(dialog, buzzer);
    // The window went on answering all along: nothing on its thread waited
    // for the DVR, on its socket or on a thread that did.
    Pump(500);
    EXPECT_EQ(waits.Count(), 0) << "the longest " << waits.LongestMs() << " ms";
    EXPECT_LT(gaps.LongestAsleep(), 1000) << "the longest gap " << gaps.Longest() << " ms";
    dialog->reject();
}

TEST_F(RemoteSetupTest, TheSimulatorsOwnRecordPassesThroughPagesItFailsUntouched)
{
    // dvrsim's default record holds values the checks refuse (a brightness
    // of -1549622880, passwords that are not digits): leaving those pages
    // untouched must not lock the operator in.
    StartConnected({"--dvr-type", "9", "--setup-upload-file", dir.filePath("upload.bin").toStdString()});
    View()->SelectCell(0);
    View()->OnCommand(IDC_DEVICE_SETUP);
    CConfigDlg* dialog = View()->ConfigDialog();
    ASSERT_TRUE(PumpUntil([&] { return dialog->HasRecord(); }, 10000));
    const std::vector<uint8_t> original = dialog->Record();
    for (const auto& [parent, page] : std::vector<std::pair<QString, QString>>{{"Display", "Camera Input"},
                                                                             {"Display Misc", "Display VGA"},
                                                                             {"System", "Password Setup"},
                                                                             {"Device", "PTZ Camera"},
                                                                             {"Record", "Record Quality"},
                                                                             {"Device", "Alarm"}})
        ASSERT_TRUE(dialog->SelectPage(parent, page)) << page.toStdString();
    // A change elsewhere on a page does not make its untouched values fail.
    ASSERT_TRUE(dialog->SelectPage("Display", "Camera Input"));
    ASSERT_NE(dialog->Grid()->CellText(1, 1).toInt(), 0);
    EditCell(dialog, 1, 2, "50", true);
    dialog->accept();
    EXPECT_FALSE(dialog->isVisible());
    std::vector<uint8_t> expected = original;
    PutInt(expected, 0xA0 + 4, 50);
    EXPECT_EQ(UploadedRecord(), expected);
}

TEST_F(RemoteSetupTest, LocalSetupCancelChangesNothingAndOkAppliesToTheGroup)
{
    StartConnected();
    document->SaveAll();
    QFile file(dir.filePath("config_nv.vyr"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    const int16_t beep = Group().beep;

    View()->SelectCell(0);
    View()->OnCommand(IDC_LOCAL_SETUP);
    CConfigDlg* dialog = View()->ConfigDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->Grid()->EditCell(0, 1));
    dialog->Grid()->Combo()->setCurrentText(beep ? "Off" : "On");
    QTest::keyClick(dialog->Grid()->Combo(), Qt::Key_Return);
    ASSERT_TRUE(dialog->SelectPage("Record Setup", "Record Enable"));
    dialog->reject();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), saved);
    file.close();
    EXPECT_EQ(Group().beep, beep);

    // An unchanged directory asks nothing; the changed setting reaches the group.
    boxes.clear();
    View()->OnCommand(IDC_LOCAL_SETUP);
    ASSERT_TRUE(dialog->Grid()->EditCell(0, 1));
    dialog->Grid()->Combo()->setCurrentText(beep ? "Off" : "On");
    QTest::keyClick(dialog->Grid()->Combo(), Qt::Key_Return);
    dialog->accept();
    EXPECT_TRUE(boxes.empty());
    EXPECT_NE(Group().beep, beep);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_NE(file.readAll(), saved);
    file.close();

    // A changed recording directory warns and stops recording first.
    View()->StartChannelRecording(0, viewer::RecordByHand, 0);
    ASSERT_TRUE(Recording(0));
    View()->OnCommand(IDC_LOCAL_SETUP);
    ASSERT_TRUE(dialog->SelectPage("Local PC Configuration", "Directory"));
    dialog->findChild<QLineEdit*>("1011")->setText(dir.filePath("elsewhere"));
    dialog->accept();
    ASSERT_FALSE(boxes.empty());
    EXPECT_EQ(boxes.back(), kChangedRecordingFolder);
    EXPECT_FALSE(Recording(0));
    EXPECT_EQ(document->Data().recordingDirectory, dir.filePath("elsewhere"));
}

TEST_F(RemoteSetupTest, AHourPaintedInLocalScheduleSetupMakesTheCellRecordBySchedule)
{
    StartConnected();
    ASSERT_FALSE(View()->IsScheduledNow(2));
    View()->SelectCell(2);
    View()->OnCommand(IDC_LOCAL_SETUP);
    CConfigDlg* dialog = View()->ConfigDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(dialog->SelectPage("Record Setup", "Record Enable"));
    ASSERT_TRUE(dialog->Grid()->EditCell(3, 3)); // "Shedule Record" of CH 03
    dialog->Grid()->Combo()->setCurrentText("On");
    QTest::keyClick(dialog->Grid()->Combo(), Qt::Key_Return);
    ASSERT_TRUE(dialog->SelectPage("Record Setup", "Schedule Setup"));
    EXPECT_FALSE(dialog->findChild<QWidget*>("1025")->isVisible()); // no alarm brushes locally
    QTest::mouseClick(dialog->findChild<QWidget*>("1024"), Qt::LeftButton); // "Always"
    auto* combo = dialog->findChild<QComboBox*>("1018");
    ASSERT_EQ(combo->count(), 64);
    EXPECT_EQ(combo->itemText(2), "Camera 03");
    combo->setCurrentIndex(2);
    emit combo->activated(2);
    // Sunday (day row 1), hour 12: the fixture's clock.
    const QPoint cell(251 + 28 * 12 + 5, 104 + 27 * 1 + 5);
    QTest::mousePress(dialog, Qt::LeftButton, {}, cell);
    QTest::mouseRelease(dialog, Qt::LeftButton, {}, cell);
    EXPECT_EQ(dialog->LocalSchedule()[2][1][12], 1);
    dialog->accept();
    EXPECT_TRUE(View()->IsScheduledNow(2));
}
