#include "viewercore/model/CDVR.h"
#include "viewercore/model/CGroup.h"

#include <gtest/gtest.h>

namespace {

CDVR MakeDvr(const QString& name, int type, const QString& base = QString())
{
    return CDVR(name, type, CDVR::DeviceDVR, base, CDVR::AddressFixed, { 192, 168, 1, 20 }, 9310, 1, 0, "Guest", "", 1);
}

template <class T>
std::vector<uint8_t> Write(const T& object, const ArchiveContext& context)
{
    platform::ArchiveWriter w;
    object.Serialize(w, context);
    return w.Bytes();
}

template <class T>
T Read(const std::vector<uint8_t>& bytes, const ArchiveContext& context)
{
    T object;
    platform::ArchiveReader r(bytes);
    object.Serialize(r, context);
    EXPECT_EQ(r.Remaining(), 0u);
    return object;
}

} // namespace

TEST(SiteModel, ChannelCountsAndNamesByType)
{
    const int expected[] = { 1, 4, 9, 17, 33, 49, 65, 0 };
    for (int type = 0; type <= 7; ++type)
        EXPECT_EQ(CDVR::GetChannelCount(type), expected[type]);
    EXPECT_EQ(CDVR::GetChannelCount(-1), 0);

    CDVR lobby = MakeDvr("Lobby", 2, "Door");
    ASSERT_EQ(lobby.channels.size(), 9u);
    EXPECT_EQ(lobby.channels.front()->name, "Door-01");
    EXPECT_EQ(lobby.channels.back()->name, "Door-09");
    EXPECT_EQ(lobby.channels.back()->number, 9);
    EXPECT_EQ(lobby.addressText, "192.168.1.20");
    EXPECT_TRUE(MakeDvr("X", 7).channels.empty());

    // Without a channel name the channels are named after the device.
    CDVR cam = MakeDvr("Cam", 6);
    ASSERT_EQ(cam.channels.size(), 65u);
    EXPECT_EQ(cam.channels[0]->name, "Cam-01");
    EXPECT_EQ(cam.channels[64]->name, "Cam-65");
}

TEST(SiteModel, LastFourBytesOfADvrInEachViewersReading)
{
    CDVR dvr = MakeDvr("A", 0);
    dvr.reservedA = 1;
    dvr.reservedB = 2;
    const auto network = Write(dvr, { ViewerVariant::Network, kSettingsStampNetwork });
    ASSERT_GE(network.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(network.end() - 4, network.end()), (std::vector<uint8_t>{ 1, 0, 2, 0 }));

    CDVR backup = Read<CDVR>(network, { ViewerVariant::Backup, kSettingsStampNetwork });
    EXPECT_EQ(backup.ReservedWord(), 0x00020001u);
    EXPECT_EQ(Write(backup, { ViewerVariant::Backup, kSettingsStampNetwork }), network);

    CDVR event = Read<CDVR>(network, { ViewerVariant::Event, kSettingsStampEvent });
    EXPECT_EQ(event.PollingFlag(), 1);
    EXPECT_EQ(event.reservedB, 2);
    event.SetPollingFlag(0);
    const auto unchecked = Write(event, { ViewerVariant::Event, kSettingsStampEvent });
    EXPECT_EQ(std::vector<uint8_t>(unchecked.end() - 4, unchecked.end()), (std::vector<uint8_t>{ 0, 0, 2, 0 }));
    EXPECT_EQ(Read<CDVR>(unchecked, {}).reservedB, 2);

    // The whole record, channels included, survives the other viewers' reading.
    CDVR copy = Read<CDVR>(network, {});
    EXPECT_EQ(copy.name, "A");
    ASSERT_EQ(copy.channels.size(), 1u);
    EXPECT_EQ(copy.channels[0]->name, "A-01");
    EXPECT_EQ(copy.port, 9310);
    EXPECT_EQ(copy.channel, 0) << "the typed channel is not stored";
}

TEST(SiteModel, GroupDefaultsOfTheNetworkAndBackupViewers)
{
    CGroup net;
    EXPECT_EQ(net.splitMode, 16);
    EXPECT_EQ(net.motionRecordingTime, 2);
    EXPECT_EQ(net.forcedRecordingTime, 2);
    EXPECT_EQ(net.beep, 0);
    EXPECT_EQ(net.motionRecord[63], 0);
    ASSERT_TRUE(net.cameras.has_value());
    EXPECT_TRUE(net.cameras->empty());

    CGroup backup(ViewerVariant::Backup);
    EXPECT_EQ(backup.splitMode, 16);
    EXPECT_EQ(backup.motionRecordingTime, 0);
    EXPECT_EQ(backup.sensorRecordingTime, 0);
    EXPECT_EQ(backup.forcedRecordingTime, 0);
    EXPECT_EQ(backup.beep, 1);
    EXPECT_EQ(backup.autoConnecting, 1);
    for (int c = 0; c < 64; ++c)
        ASSERT_TRUE(backup.motionRecord[c] == 1 && backup.sensorRecord[c] == 1 && backup.scheduleRecord[c] == 1);
    EXPECT_EQ(backup.schedule[5][3][12], 0);
}

TEST(SiteModel, GroupCopiesWithAndWithoutCameras)
{
    CGroup source;
    source.name = "Hall";
    source.splitMode = 9;
    source.diskSpaceToRemain = 3;
    source.sensorRecord[7] = 1;
    source.schedule[2][4][13] = 1;
    for (int cell : { 0, 5 }) {
        auto camera = std::make_unique<CCamera>();
        camera->deviceName = "Lobby";
        camera->cell = cell;
        camera->groupName = "Hall";
        camera->octets = { 1, 2, 3, 4 };
        source.cameras->push_back(std::move(camera));
    }

    auto bare = CGroup::CopyFrom(source, true);
    EXPECT_FALSE(bare->cameras.has_value()) << "no list at all, not an empty one";
    EXPECT_EQ(bare->name, "Hall");
    EXPECT_EQ(bare->schedule[2][4][13], 1);
    bare.reset(); // destroying a copy without a list touches none

    auto full = CGroup::CopyFrom(source, false);
    ASSERT_TRUE(full->cameras.has_value());
    ASSERT_EQ(full->cameras->size(), 2u);
    EXPECT_NE((*full->cameras)[0].get(), (*source.cameras)[0].get());
    EXPECT_EQ((*full->cameras)[1]->cell, 5);
    EXPECT_EQ((*full->cameras)[1]->octets[3], 4);
    EXPECT_EQ((*full->cameras)[1]->groupName, "Hall") << "a deep copy keeps the group its cameras belong to";
    EXPECT_EQ(full->splitMode, 9);
    EXPECT_EQ(full->diskSpaceToRemain, 3);
    EXPECT_EQ(full->sensorRecord[7], 1);

    // A copy without cameras is written with the null tag and read back so.
    auto bytes = Write(*CGroup::CopyFrom(source, true), {});
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 2, bytes.end()), (std::vector<uint8_t>{ 0, 0 }));
    EXPECT_FALSE(Read<CGroup>(bytes, {}).cameras.has_value());
}

TEST(SiteModel, GroupRecordOrder)
{
    CGroup g;
    g.beep = 1;
    g.autoConnecting = 1;
    g.splitMode = 36;
    g.recordingFileFormat = 1;
    g.sensorRecord[0] = 1;
    g.schedule[0][1][0] = 1; // cell 0, Sunday, 0 h: the second value of the grid
    g.schedule[0][0][1] = 2; // cell 0, every day, 1 h: the ninth
    const auto bytes = Write(g, {});
    // The empty camera list is a new "CObList" class tag and a zero count: 15 bytes.
    ASSERT_EQ(bytes.size(), 2u * 2 + 4 + 2 * 4 + 2 * 4 + 64 * 3 * 2 + 64 * 24 * 8 * 2 + 15);
    const uint8_t head[] = { 1, 0, 1, 0, 0xFF, 0xFE, 0xFF, 0, 36, 0, 1, 0, 36, 0, 1, 0, 2, 0, 2, 0, 2, 0, 0, 0, 0, 0, 1, 0 };
    EXPECT_TRUE(std::equal(std::begin(head), std::end(head), bytes.begin()));
    const std::size_t grid = 28 + 64 * 3 * 2 - 4;
    EXPECT_EQ(bytes[grid + 2], 1);
    EXPECT_EQ(bytes[grid + 16], 2);

    // The reader keeps the second pair of split mode and file format.
    auto changed = bytes;
    changed[8] = 4;
    changed[12] = 64;
    changed[14] = 0;
    CGroup read = Read<CGroup>(changed, {});
    EXPECT_EQ(read.splitMode, 64);
    EXPECT_EQ(read.recordingFileFormat, 0);
    EXPECT_EQ(read.schedule[0][1][0], 1);
    EXPECT_EQ(read.schedule[0][0][1], 2);
    EXPECT_EQ(read.sensorRecord[0], 1);
    EXPECT_EQ(read.sensorRecord[1], 0);
}

TEST(SiteModel, CameraGroupNameDependsOnStampAndViewer)
{
    CCamera camera;
    camera.deviceName = "Lobby";
    camera.cell = 12;
    camera.groupName = "Hall";
    const auto withName = Write(camera, { ViewerVariant::Network, kSettingsStampNetwork });
    const auto withoutName = Write(camera, { ViewerVariant::Event, kSettingsStampEvent });
    EXPECT_EQ(withName.size(), withoutName.size() + 4 + 2 * 4);

    EXPECT_EQ(Read<CCamera>(withName, { ViewerVariant::Network, kSettingsStampNetwork }).groupName, "Hall");
    // Files stamped 20080501 or older end the record after the device kind.
    CCamera old = Read<CCamera>(withoutName, { ViewerVariant::Network, kSettingsStampEvent });
    EXPECT_TRUE(old.groupName.isEmpty());
    EXPECT_EQ(old.cell, 12);
    EXPECT_EQ(Read<CCamera>(withoutName, { ViewerVariant::Event, kSettingsStampNetwork }).deviceName, "Lobby");

    CCamera copy;
    copy.CopyFrom(camera);
    EXPECT_EQ(copy.deviceName, "Lobby");
    EXPECT_EQ(copy.cell, 12);
    EXPECT_TRUE(copy.groupName.isEmpty());
}

TEST(SiteModel, RecordsWithValuesNoViewCanTakeAreRefused)
{
    CCamera camera;
    for (int cell : { -1, 64 }) {
        camera.cell = cell;
        const auto bytes = Write(camera, {});
        CCamera read;
        platform::ArchiveReader r(bytes);
        EXPECT_THROW(read.Serialize(r, {}), platform::ArchiveException) << cell;
    }
    CGroup g;
    for (int split : { 0, 2, 8, 16, 25, 64, 100 }) {
        g.splitMode = int16_t(split);
        const auto bytes = Write(g, {});
        CGroup read;
        platform::ArchiveReader r(bytes);
        if (CGroup::IsValidSplitMode(split))
            EXPECT_NO_THROW(read.Serialize(r, {})) << split;
        else
            EXPECT_THROW(read.Serialize(r, {}), platform::ArchiveException) << split;
    }
}
