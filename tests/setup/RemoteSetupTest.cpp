// Remote setup end to end: the viewer fetches the simulator's setup record
// with Device Setup, the operator edits a cell, OK uploads it, and the
// simulator's CRC-32 of the upload matches the record expected byte for byte.
#include "ChannelFixture.h"
#include "netviewer/setup/CConfigDlg.h"
#include "platform/Registry.h"

#include <QComboBox>
#include <QFile>
#include <QTest>

#include <random>

namespace {

uint32_t Crc32(const std::vector<uint8_t>& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

class RemoteSetupTest : public ChannelFixture {
protected:
    // A record of random bytes, with distinct PTZ IDs so the page stores.
    std::vector<uint8_t> WriteSetupFile(std::size_t size, const QString& path)
    {
        std::mt19937 rng(static_cast<unsigned>(size));
        std::vector<uint8_t> record(size);
        for (auto& b : record)
            b = static_cast<uint8_t>(rng());
        const int ptz = size == 12044 ? 0x2D50 : 0x5A7C;
        for (int ch = 0; ch < 16; ++ch)
            setup::WriteInt(record, ptz + 16 * ch + 4, ch);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(record.data()), static_cast<qint64>(record.size()));
        return record;
    }

    void EditPtzTypeAndUpload(int dvrType, std::size_t size)
    {
        const QString path = dir.filePath("setup.bin");
        const std::vector<uint8_t> original = WriteSetupFile(size, path);
        platform::RegistryWriteString("Software\\Vyrdax\\VyrdaxCtrl", "LookupHost", "192.0.2.44");
        StartConnected({"--dvr-type", std::to_string(dvrType), "--setup-file", path.toStdString()});
        if (getenv("VYR_SETUP_SCREENSHOT"))
            QFile::link(QCoreApplication::applicationDirPath() + "/image", dir.filePath("image"));
        View()->SelectCell(1);
        View()->OnCommand(IDC_DEVICE_SETUP);
        CConfigDlg* dialog = View()->ConfigDialog();
        ASSERT_NE(dialog, nullptr);
        // A notice for another cell is not this dialog's record.
        View()->OnMessage(vyrdax::WM_VIDEO_DVR_DATA, dvrType, 2);
        EXPECT_FALSE(dialog->HasRecord());
        ASSERT_TRUE(PumpUntil([&] { return dialog->HasRecord(); }, 10000));
        EXPECT_TRUE(dialog->isVisible());
        ASSERT_EQ(dialog->Record(), original);
        ASSERT_TRUE(dialog->SelectPage("System", "Network"));
        EXPECT_EQ(dialog->Grid()->CellText(7, 1), "192.0.2.44");
        ASSERT_TRUE(dialog->SelectPage("Device", "PTZ Camera"));
        CComboListCtrl* grid = dialog->Grid();
        ASSERT_TRUE(grid->EditCell(2, 1));
        grid->Combo()->setCurrentText("HONEYWELL");
        QTest::keyClick(grid->Combo(), Qt::Key_Return);
        ASSERT_EQ(grid->CellText(2, 1), "HONEYWELL");
        // For the README: the dialog as it shows under a real display.
        if (const char* shot = getenv("VYR_SETUP_SCREENSHOT"))
        {
            dialog->grab().save(QString("%1-%2.png").arg(shot).arg(dvrType));
            ASSERT_TRUE(dialog->SelectPage("Record", "Schedule Record"));
            dialog->grab().save(QString("%1-%2-schedule.png").arg(shot).arg(dvrType));
        }
        dialog->accept();
        EXPECT_FALSE(dialog->isVisible());

        std::vector<uint8_t> expected = original;
        setup::WriteInt(expected, (size == 12044 ? 0x2D50 : 0x5A7C) + 16 * 2 + 8, 6);
        char line[64];
        std::snprintf(line, sizeof line, "SETUP-UPLOAD %zu %08X", size, Crc32(expected));
        const std::string upload = sim.waitForLog("SETUP-UPLOAD", 10000);
        EXPECT_NE(upload.find(line), std::string::npos) << upload << " expected " << line;
    }
};

} // namespace

TEST_F(RemoteSetupTest, SmallLayoutDvrGetsBackItsRecordWithOnlyTheEditedBytesChanged)
{
    EditPtzTypeAndUpload(9, 12044);
}

TEST_F(RemoteSetupTest, BigLayoutDvrGetsBackItsRecordWithOnlyTheEditedBytesChanged)
{
    EditPtzTypeAndUpload(17, 23736);
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
