#include "SettingsFixture.h"

#include <QDir>

#include <csignal>
#include <sys/resource.h>

namespace {

const SettingsFile kNetworkFiles[] = { SettingsFile::DeviceList, SettingsFile::Groups, SettingsFile::HandOver, SettingsFile::WindowPlacement };

std::vector<uint8_t> Stamp(uint32_t stamp)
{
    return { uint8_t(stamp), uint8_t(stamp >> 8), uint8_t(stamp >> 16), uint8_t(stamp >> 24) };
}

bool StartsWith(const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& prefix)
{
    return bytes.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), bytes.begin());
}

} // namespace

TEST(SettingsDocument, GoldenDeviceFile)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    doc.deviceList.push_back(GoldenDvr());
    ASSERT_TRUE(doc.SaveFile(SettingsFile::DeviceList));
    const auto bytes = ReadWholeFile(doc.FilePath(SettingsFile::DeviceList));
    EXPECT_EQ(bytes.size(), 137u);
    EXPECT_EQ(bytes, GoldenDeviceFile());

    SettingsDocument read(ViewerVariant::Network, dir.path());
    ASSERT_EQ(read.LoadFile(SettingsFile::DeviceList), SettingsDocument::LoadResult::Loaded);
    ASSERT_EQ(read.deviceList.size(), 1u);
    const CDVR& dvr = *read.deviceList[0];
    EXPECT_EQ(dvr.name, "A");
    EXPECT_EQ(dvr.addressText, "1.2.3.4");
    EXPECT_EQ(dvr.octets, (std::array<uint8_t, 4>{ 1, 2, 3, 4 }));
    EXPECT_EQ(dvr.port, 9310);
    EXPECT_EQ(dvr.loginId, "Guest");
    EXPECT_EQ(dvr.savePassword, 1);
    ASSERT_EQ(dvr.channels.size(), 1u);
    EXPECT_EQ(dvr.channels[0]->name, "A-01");
    EXPECT_EQ(dvr.channels[0]->number, 1);
}

TEST(SettingsDocument, FirstStartInAnEmptyDirectory)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    EXPECT_TRUE(doc.OnNewDocument());
    EXPECT_TRUE(doc.deviceList.empty());
    EXPECT_TRUE(doc.groupList.empty());
    EXPECT_FALSE(doc.currentGroup);
    EXPECT_EQ(doc.recordingDirectory, QDir::homePath() + "/OXA/Recording");
    EXPECT_EQ(doc.captureDirectory, QDir::homePath() + "/OXA/Capture");
    EXPECT_FALSE(doc.windowPlacementLoaded);
    EXPECT_EQ(doc.settingsStamp, 20080824u);
}

TEST(SettingsDocument, NetworkViewerFilesRoundTrip)
{
    QTemporaryDir first, second;
    SettingsDocument doc(ViewerVariant::Network, first.path());
    FillNetworkDocument(doc);
    const auto report = doc.SaveSettingsFiles();
    ASSERT_TRUE(report.ok()) << report.message.toStdString();

    for (SettingsFile file : kNetworkFiles)
        EXPECT_TRUE(StartsWith(ReadWholeFile(doc.FilePath(file)), { 0xB8, 0x68, 0x32, 0x01 })) << SettingsDocument::FileName(file).toStdString();
    const auto window = ReadWholeFile(doc.FilePath(SettingsFile::WindowPlacement));
    ASSERT_EQ(window.size(), 24u);
    EXPECT_EQ(window[22], 0xC0 | 0x00) << "caption bits are always set";
    EXPECT_EQ(window[23], 0x10);

    SettingsDocument loaded(ViewerVariant::Network, first.path());
    ASSERT_TRUE(loaded.OnNewDocument());
    ASSERT_EQ(loaded.deviceList.size(), 2u);
    EXPECT_EQ(loaded.deviceList[1]->channels.size(), 9u);
    ASSERT_EQ(loaded.groupList.size(), 2u);
    EXPECT_EQ(loaded.groupList[0]->splitMode, 64);
    EXPECT_EQ(loaded.groupList[1]->schedule[1][3][7], 1);
    ASSERT_EQ(loaded.groupList[1]->cameras->size(), 3u);
    EXPECT_EQ((*loaded.groupList[1]->cameras)[2]->cell, 40);
    EXPECT_EQ((*loaded.groupList[1]->cameras)[2]->groupName, "Group1");
    ASSERT_TRUE(loaded.currentGroup);
    EXPECT_EQ(loaded.currentGroup->recordingFileFormat, 1);
    EXPECT_EQ(loaded.recordingDirectory, "/data/rec");
    EXPECT_TRUE(loaded.windowPlacementLoaded);
    EXPECT_EQ(loaded.windowRect.right, 1034);
    EXPECT_EQ(loaded.windowStyle, 0x10C00000u);

    // Written again from what was read: every file byte for byte.
    SettingsDocument again(ViewerVariant::Network, second.path());
    again.deviceList = std::move(loaded.deviceList);
    again.groupList = std::move(loaded.groupList);
    again.currentGroup = std::move(loaded.currentGroup);
    again.recordingDirectory = loaded.recordingDirectory;
    again.captureDirectory = loaded.captureDirectory;
    again.windowRect = loaded.windowRect;
    again.windowStyle = loaded.windowStyle;
    ASSERT_TRUE(again.SaveSettingsFiles().ok());
    for (SettingsFile file : kNetworkFiles)
        EXPECT_EQ(ReadWholeFile(again.FilePath(file)), ReadWholeFile(doc.FilePath(file))) << SettingsDocument::FileName(file).toStdString();

    // The hand-over file carries the same directories and the current group's four words.
    SettingsDocument backup(ViewerVariant::Backup, first.path());
    ASSERT_EQ(backup.LoadFile(SettingsFile::HandOver), SettingsDocument::LoadResult::Loaded);
    EXPECT_EQ(backup.recordingDirectory, "/data/rec");
    EXPECT_EQ(backup.captureDirectory, "/data/cap");
    EXPECT_EQ(backup.currentGroup->recordingFileFormat, 1);
    EXPECT_EQ(backup.currentGroup->forcedRecordingTime, 4);
    EXPECT_EQ(backup.currentGroup->diskSpaceToRemain, 4);
    EXPECT_EQ(backup.currentGroup->autoConnecting, 1);
}

TEST(SettingsDocument, StoredEmptyDirectoriesGetTheDefaults)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    doc.captureDirectory = "/keep/me";
    ASSERT_TRUE(doc.SaveFile(SettingsFile::Groups));
    SettingsDocument loaded(ViewerVariant::Network, dir.path());
    loaded.OnNewDocument();
    EXPECT_EQ(loaded.recordingDirectory, QDir::homePath() + "/OXA/Recording");
    EXPECT_EQ(loaded.captureDirectory, "/keep/me");
}

TEST(SettingsDocument, HandOverWithoutCurrentGroupCarriesNewGroupValues)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    ASSERT_TRUE(doc.SaveFile(SettingsFile::HandOver));
    const auto bytes = ReadWholeFile(doc.FilePath(SettingsFile::HandOver));
    ASSERT_EQ(bytes.size(), 4u + 4 + 4 + 8);
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 8, bytes.end()), (std::vector<uint8_t>{ 0, 0, 2, 0, 0, 0, 0, 0 }));
}

TEST(SettingsDocument, OlderStampedGroupsLoadWithoutGroupNames)
{
    // Cameras of a file stamped 20080501 end after the device kind.
    QTemporaryDir dir;
    SettingsDocument old(ViewerVariant::Event, dir.path());
    FillNetworkDocument(old);
    ASSERT_TRUE(old.SaveFile(SettingsFile::Groups));
    ASSERT_TRUE(StartsWith(ReadWholeFile(old.FilePath(SettingsFile::Groups)), Stamp(20080501)));

    SettingsDocument doc(ViewerVariant::Network, dir.path());
    doc.OnNewDocument();
    ASSERT_EQ(doc.groupList.size(), 2u);
    ASSERT_EQ(doc.groupList[0]->cameras->size(), 3u);
    EXPECT_EQ((*doc.groupList[0]->cameras)[1]->cell, 20);
    EXPECT_TRUE((*doc.groupList[0]->cameras)[1]->groupName.isEmpty());
    ASSERT_TRUE(doc.currentGroup);
    EXPECT_EQ(doc.settingsStamp, 20080824u);

    // Written again: the new stamp and an (empty) group name on each camera.
    const auto before = ReadWholeFile(doc.FilePath(SettingsFile::Groups));
    ASSERT_TRUE(doc.SaveFile(SettingsFile::Groups));
    const auto after = ReadWholeFile(doc.FilePath(SettingsFile::Groups));
    EXPECT_TRUE(StartsWith(after, Stamp(20080824)));
    EXPECT_EQ(after.size(), before.size() + 9 * 4) << "nine cameras gain FF FE FF 00";
}

TEST(SettingsDocument, EventViewerRewritesDeviceFileByteForByte)
{
    QTemporaryDir dir;
    std::vector<uint8_t> file = GoldenDeviceFile();
    file[0] = 0x75;
    file[1] = 0x67; // stamp 20080501
    file[133] = 1; // polling flag
    file[135] = 0x7F; // reserved B
    WriteWholeFile(dir.filePath("device.vyr"), file);

    SettingsDocument event(ViewerVariant::Event, dir.path());
    event.OnNewDocument();
    ASSERT_EQ(event.deviceList.size(), 1u);
    EXPECT_EQ(event.deviceList[0]->PollingFlag(), 1);
    EXPECT_EQ(event.settingsStamp, 20080501u);
    ASSERT_TRUE(event.SaveSettingsFiles().ok());
    EXPECT_EQ(ReadWholeFile(dir.filePath("device.vyr")), file);

    // The network viewer reads the same file and writes it with its stamp only.
    SettingsDocument net(ViewerVariant::Network, dir.path());
    net.OnNewDocument();
    ASSERT_EQ(net.deviceList.size(), 1u);
    EXPECT_EQ(net.deviceList[0]->reservedA, 1);
    EXPECT_EQ(net.deviceList[0]->reservedB, 0x7F);
    ASSERT_TRUE(net.SaveFile(SettingsFile::DeviceList));
    auto expected = file;
    std::copy_n(Stamp(20080824).begin(), 4, expected.begin());
    EXPECT_EQ(ReadWholeFile(dir.filePath("device.vyr")), expected);
}

TEST(SettingsDocument, NetworkAndBackupViewersReadEachOthersDeviceFile)
{
    QTemporaryDir dir;
    SettingsDocument net(ViewerVariant::Network, dir.path());
    net.deviceList.push_back(GoldenDvr());
    net.deviceList[0]->reservedA = 1;
    net.deviceList[0]->reservedB = 2;
    ASSERT_TRUE(net.SaveFile(SettingsFile::DeviceList));
    const auto written = ReadWholeFile(net.FilePath(SettingsFile::DeviceList));

    SettingsDocument backup(ViewerVariant::Backup, dir.path());
    ASSERT_EQ(backup.LoadFile(SettingsFile::DeviceList), SettingsDocument::LoadResult::Loaded);
    EXPECT_EQ(backup.deviceList[0]->ReservedWord(), 0x00020001u);
    backup.deviceList[0]->SetReservedWord(0x00020001u);
    ASSERT_TRUE(backup.SaveFile(SettingsFile::DeviceList));
    EXPECT_EQ(ReadWholeFile(backup.FilePath(SettingsFile::DeviceList)), written);

    backup.deviceList[0]->SetReservedWord(0xBEEF1234u);
    ASSERT_TRUE(backup.SaveFile(SettingsFile::DeviceList));
    SettingsDocument again(ViewerVariant::Network, dir.path());
    ASSERT_EQ(again.LoadFile(SettingsFile::DeviceList), SettingsDocument::LoadResult::Loaded);
    EXPECT_EQ(again.deviceList[0]->reservedA, 0x1234);
    EXPECT_EQ(again.deviceList[0]->reservedB, 0xBEEF);
}

TEST(SettingsDocument, BackupViewerFilesAndLoadOrder)
{
    QTemporaryDir dir;
    {
        SettingsDocument net(ViewerVariant::Network, dir.path());
        FillNetworkDocument(net);
        net.recordingDirectory = "/from/network";
        ASSERT_TRUE(net.SaveFile(SettingsFile::HandOver));
    }
    // Without "config_bv.vyr" the hand-over values land in a new backup group.
    SettingsDocument first(ViewerVariant::Backup, dir.path());
    first.OnNewDocument();
    ASSERT_TRUE(first.currentGroup);
    EXPECT_EQ(first.currentGroup->splitMode, 16);
    EXPECT_EQ(first.currentGroup->beep, 1);
    EXPECT_EQ(first.currentGroup->motionRecord[40], 1);
    EXPECT_EQ(first.currentGroup->recordingFileFormat, 1);
    EXPECT_EQ(first.currentGroup->forcedRecordingTime, 4);
    EXPECT_EQ(first.recordingDirectory, "/from/network");

    // Its own file holds the settings group; the hand-over read later wins.
    first.currentGroup->forcedRecordingTime = 0;
    first.currentGroup->splitMode = 36;
    first.windowStyle = 2;
    ASSERT_TRUE(first.SaveSettingsFiles().ok());
    EXPECT_FALSE(QFile::exists(dir.filePath("config_nv.vyr")));
    EXPECT_TRUE(StartsWith(ReadWholeFile(dir.filePath("config_bv.vyr")), { 0xB8, 0x68, 0x32, 0x01, 0xFF, 0xFF, 0x01, 0x00, 0x06, 0x00, 'C', 'G' }));
    const auto window = ReadWholeFile(dir.filePath("config_win.vyr"));
    ASSERT_EQ(window.size(), 24u);
    EXPECT_EQ(window[20], 2) << "the backup viewer's state goes as it is";
    EXPECT_EQ(window[22], 0);

    SettingsDocument second(ViewerVariant::Backup, dir.path());
    second.OnNewDocument();
    ASSERT_TRUE(second.currentGroup);
    EXPECT_EQ(second.currentGroup->splitMode, 36);
    EXPECT_EQ(second.currentGroup->forcedRecordingTime, 4);
    EXPECT_TRUE(second.windowPlacementLoaded);
}

TEST(SettingsDocument, EventViewerSettings)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Event, dir.path());
    doc.OnNewDocument();
    EXPECT_EQ(doc.databaseDirectory, QDir::homePath() + "/OXA/DB");
    EXPECT_EQ(doc.searchDatabaseDirectory, doc.databaseDirectory);
    EXPECT_EQ(doc.eventSettings.maximumPolling, 4);
    EXPECT_EQ(doc.eventSettings.intervalNumber, 29);
    EXPECT_EQ(doc.eventSettings.intervalUnit, 0);
    EXPECT_EQ(doc.eventSettings.eventWords, (std::array<uint16_t, 8>{}));
    EXPECT_EQ(doc.settingsStamp, 20080501u);

    doc.databaseDirectory = "";
    doc.searchDatabaseDirectory = "S";
    doc.eventSettings.intervalUnit = 1;
    doc.eventSettings.eventWords[7] = 2;
    ASSERT_TRUE(doc.SaveSettingsFiles().ok());
    EXPECT_FALSE(QFile::exists(dir.filePath("config_nv.vyr")));
    const std::vector<uint8_t> expected = { 0x75, 0x67, 0x32, 0x01, 0xFF, 0xFE, 0xFF, 0x00, 0xFF, 0xFE, 0xFF, 0x01, 'S', 0,
                                            4, 0, 29, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0 };
    EXPECT_EQ(ReadWholeFile(dir.filePath("config_ev.vyr")), expected);
    EXPECT_TRUE(StartsWith(ReadWholeFile(dir.filePath("device.vyr")), Stamp(20080501)));

    // A stored empty database directory stays empty.
    SettingsDocument loaded(ViewerVariant::Event, dir.path());
    loaded.OnNewDocument();
    EXPECT_TRUE(loaded.databaseDirectory.isEmpty());
    EXPECT_EQ(loaded.searchDatabaseDirectory, "S");
    EXPECT_EQ(loaded.eventSettings.eventWords[7], 2);
}

TEST(SettingsDocument, WindowPlacementCountsOnlyWhenTheRectangleIsWhole)
{
    QTemporaryDir dir;
    WriteWholeFile(dir.filePath("config_win.vyr"), { 0xB8, 0x68, 0x32, 0x01, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0 });
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    doc.OnNewDocument();
    EXPECT_FALSE(doc.windowPlacementLoaded);
    EXPECT_EQ(doc.windowRect.left, 0);

    std::vector<uint8_t> whole = { 0xB8, 0x68, 0x32, 0x01 };
    for (int v : { 5, 6, 805, 606 })
        whole.insert(whole.end(), { uint8_t(v), uint8_t(v >> 8), 0, 0 });
    WriteWholeFile(dir.filePath("config_win.vyr"), whole); // no style word
    doc.OnNewDocument();
    EXPECT_TRUE(doc.windowPlacementLoaded);
    EXPECT_EQ(doc.windowRect.right, 805);
    EXPECT_EQ(doc.windowRect.bottom, 606);
}

TEST(SettingsDocument, UnwritableFilesAreReportedOnce)
{
    QTemporaryDir dir;
    WriteWholeFile(dir.filePath("plain"), { 1 });
    // A directory below a plain file can never be created.
    SettingsDocument doc(ViewerVariant::Network, dir.filePath("plain/settings"));
    auto report = doc.SaveSettingsFiles();
    EXPECT_EQ(report.failedFiles.size(), 4);
    EXPECT_TRUE(report.reportNow);
    EXPECT_FALSE(report.message.isEmpty());
    report = doc.SaveSettingsFiles();
    EXPECT_FALSE(report.ok());
    EXPECT_FALSE(report.reportNow) << "told once, not at every save";
}

TEST(SettingsDocument, AFullDiskKeepsThePreviousFile)
{
    QTemporaryDir dir;
    SettingsDocument doc(ViewerVariant::Network, dir.path());
    FillNetworkDocument(doc);
    ASSERT_TRUE(doc.SaveSettingsFiles().ok());
    const auto groups = ReadWholeFile(doc.FilePath(SettingsFile::Groups));
    ASSERT_GT(groups.size(), 40000u);

    doc.groupList.clear();
    doc.deviceList.pop_back();
    // The file size limit stands in for a full disk: the groups file no
    // longer fits, the small device file does.
    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 20000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    doc.currentGroup->name = QString(20000, QChar('x'));
    const auto report = doc.SaveSettingsFiles();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(report.failedFiles, QStringList{ "config_nv.vyr" });
    EXPECT_TRUE(report.reportNow);
    EXPECT_EQ(ReadWholeFile(doc.FilePath(SettingsFile::Groups)), groups);
    EXPECT_EQ(ReadWholeFile(doc.FilePath(SettingsFile::DeviceList)).size(), 137u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4) << "no temporary file left behind";

    // Once saving works again, a later failure is reported again.
    EXPECT_TRUE(doc.SaveSettingsFiles().ok());
}
