// Damaged settings files: cut short at every byte, bytes flipped at random,
// counts and lengths far beyond the data. Each load keeps what came before the
// damage and never takes a value the view cannot use.
#include "SettingsFixture.h"

#include <random>

namespace {

struct Sample {
    ViewerVariant variant;
    SettingsFile file;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Serialized(SettingsDocument& doc, SettingsFile file)
{
    doc.fileSelector = file;
    platform::ArchiveWriter w;
    doc.Serialize(w);
    return w.Bytes();
}

std::vector<Sample> Samples()
{
    SettingsDocument net(ViewerVariant::Network);
    FillNetworkDocument(net);
    // One saved group and the current group cover every structure of the
    // groups file; a group is mostly its 24 KB schedule grid.
    net.groupList.pop_back();
    net.deviceList.push_back(std::make_unique<CDVR>("Third", 1, 0, "", 0, std::array<uint8_t, 4>{ 9, 9, 9, 9 }, 1, 1, 0, "u", "p", 1));
    SettingsDocument event(ViewerVariant::Event);
    event.databaseDirectory = "/db";
    event.searchDatabaseDirectory = "/search";
    std::vector<Sample> samples;
    for (SettingsFile f : { SettingsFile::DeviceList, SettingsFile::Groups, SettingsFile::HandOver, SettingsFile::WindowPlacement })
        samples.push_back({ ViewerVariant::Network, f, Serialized(net, f) });
    samples.push_back({ ViewerVariant::Backup, SettingsFile::BackupSettings, Serialized(net, SettingsFile::BackupSettings) });
    samples.push_back({ ViewerVariant::Event, SettingsFile::EventSettings, Serialized(event, SettingsFile::EventSettings) });
    return samples;
}

// What a damaged load may leave: only values the rest of the program can use.
void ExpectUsable(const SettingsDocument& doc)
{
    auto checkGroup = [](const CGroup& g) {
        EXPECT_TRUE(CGroup::IsValidSplitMode(g.splitMode));
        if (g.cameras) {
            for (const auto& camera : *g.cameras)
                EXPECT_TRUE(camera && camera->cell >= 0 && camera->cell < 64);
        }
    };
    for (const auto& dvr : doc.deviceList)
        for (const auto& channel : dvr->channels)
            EXPECT_TRUE(channel);
    for (const auto& g : doc.groupList)
        checkGroup(*g);
    if (doc.currentGroup)
        checkGroup(*doc.currentGroup);
}

bool Load(SettingsDocument& doc, SettingsFile file, const uint8_t* data, std::size_t size)
{
    doc.fileSelector = file;
    platform::ArchiveReader r(data, size);
    return doc.Serialize(r);
}

} // namespace

TEST(DamagedFiles, CutShortAtEveryByte)
{
    for (const Sample& s : Samples()) {
        SCOPED_TRACE(SettingsDocument::FileName(s.file).toStdString());
        SettingsDocument whole(s.variant);
        ASSERT_TRUE(Load(whole, s.file, s.bytes.data(), s.bytes.size()));
        std::size_t devices = 0, groups = 0;
        for (std::size_t size = 0; size < s.bytes.size(); ++size) {
            SettingsDocument doc(s.variant);
            ASSERT_FALSE(Load(doc, s.file, s.bytes.data(), size)) << size;
            ExpectUsable(doc);
            // Whole objects before the cut stay, in order; nothing appears twice.
            ASSERT_GE(doc.deviceList.size(), devices);
            ASSERT_GE(doc.groupList.size(), groups);
            devices = doc.deviceList.size();
            groups = doc.groupList.size();
            for (std::size_t i = 0; i < devices; ++i)
                ASSERT_EQ(doc.deviceList[i]->name, whole.deviceList[i]->name);
            ASSERT_TRUE(!doc.currentGroup || s.file == SettingsFile::HandOver || doc.currentGroup->name == whole.currentGroup->name);
        }
        EXPECT_LT(devices, std::max<std::size_t>(whole.deviceList.size(), 1));
    }
}

TEST(DamagedFiles, DamageInTheThirdDeviceKeepsTheFirstTwo)
{
    const Sample device = Samples()[0];
    SettingsDocument whole(ViewerVariant::Network);
    ASSERT_TRUE(Load(whole, SettingsFile::DeviceList, device.bytes.data(), device.bytes.size()));
    ASSERT_EQ(whole.deviceList.size(), 3u);
    // The third device's name starts right after its class reference 0x8003.
    const std::vector<uint8_t> marker = { 0x03, 0x80, 0xFF, 0xFE, 0xFF, 0x05, 'T' };
    auto at = std::search(device.bytes.begin(), device.bytes.end(), marker.begin(), marker.end());
    ASSERT_NE(at, device.bytes.end());
    auto damaged = device.bytes;
    damaged[std::size_t(at - device.bytes.begin()) + 5] = 0xFE; // a name longer than the file

    SettingsDocument doc(ViewerVariant::Network);
    EXPECT_FALSE(Load(doc, SettingsFile::DeviceList, damaged.data(), damaged.size()));
    ASSERT_EQ(doc.deviceList.size(), 2u);
    EXPECT_EQ(doc.deviceList[1]->name, "Lobby");
    EXPECT_EQ(doc.deviceList[1]->channels.size(), 9u);
}

TEST(DamagedFiles, HugeCountsAndBackReferencesAreRefused)
{
    const std::vector<uint8_t> listHead = { 0xB8, 0x68, 0x32, 0x01, 0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00, 'C', 'O', 'b', 'L', 'i', 's', 't' };
    auto withTail = [&](std::initializer_list<uint8_t> tail) {
        auto bytes = listHead;
        bytes.insert(bytes.end(), tail);
        return bytes;
    };
    const std::vector<std::vector<uint8_t>> files = {
        withTail({ 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF }), // 2^32-1 devices
        withTail({ 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00 }),
        withTail({ 0x01, 0x00, 0x02, 0x00 }), // the list as its own element
        withTail({ 0x01, 0x00, 0x01, 0x80 }), // a list where a device belongs
        withTail({ 0x01, 0x00, 0xFF, 0x7F, 0x02, 0x00, 0x00, 0x00 }), // long form of the same
        withTail({ 0x01, 0x00, 0xFF, 0xFF, 0x02, 0x00, 0x04, 0x00, 'C', 'D', 'V', 'R' }), // schema 2
        withTail({ 0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0xFF, 0xFF }), // class name 65535 bytes long
        withTail({ 0x01, 0x00, 0xFF, 0xFF, 0x01, 0x00, 0x04, 0x00, 'C', 'D', 'V', 'R', 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F }),
    };
    for (const auto& bytes : files) {
        SettingsDocument doc(ViewerVariant::Network);
        EXPECT_FALSE(Load(doc, SettingsFile::DeviceList, bytes.data(), bytes.size()));
        EXPECT_TRUE(doc.deviceList.empty());
    }
}

TEST(DamagedFiles, RandomByteFlips)
{
    const auto samples = Samples();
    std::mt19937 random(20080824);
    int damaged = 0;
    for (int round = 0; round < 6000; ++round) {
        const Sample& s = samples[std::size_t(round) % samples.size()];
        auto bytes = s.bytes;
        const int flips = 1 + int(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Half of the flips land in the first 200 bytes, where the tags,
            // counts and lengths are.
            const std::size_t span = (random() % 2) ? std::min<std::size_t>(bytes.size(), 200) : bytes.size();
            const std::size_t at = random() % span;
            bytes[at] = (random() % 3 == 0) ? uint8_t(0xFF) : uint8_t(bytes[at] ^ (1u << (random() % 8)));
        }
        SettingsDocument doc(s.variant);
        if (!Load(doc, s.file, bytes.data(), bytes.size()))
            ++damaged;
        ExpectUsable(doc);
        // What was read can be written and read back (after a load the
        // stamp is the viewer's own again).
        doc.settingsStamp = SettingsStampOf(s.variant);
        doc.fileSelector = s.file;
        platform::ArchiveWriter w;
        doc.Serialize(w);
        SettingsDocument again(s.variant);
        EXPECT_TRUE(Load(again, s.file, w.Bytes().data(), w.Bytes().size()));
    }
    EXPECT_GT(damaged, 500) << "the flips should reach the structure";
}
