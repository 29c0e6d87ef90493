// The event record, its display words and the event database: the duplicate
// test, the size boundary, the backup.
#include "EventViewer/event/EventDatabase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

namespace {

EventRecord Record(uint32_t key, uint32_t second = 0)
{
    EventRecord r;
    r.key = key;
    r.packedTime = PackEventTime({2008, 3, 14, 15, 30, static_cast<int>(second)});
    r.eventClass = kClassCamera;
    r.subKind = 2;
    r.channelMask = 1;
    return r;
}

std::vector<uint32_t> Keys(const std::vector<EventRecord>& records)
{
    std::vector<uint32_t> keys;
    for (const EventRecord& r : records)
        keys.push_back(r.key);
    return keys;
}

class EventDatabaseTest : public ::testing::Test {
protected:
    QString Db() const { return dir.filePath("DB"); }
    void SetUp() override { ASSERT_TRUE(QDir().mkpath(Db())); }
    // Sizes the file as if it held that many bytes of records.
    static bool SetSize(const QString& path, qint64 size)
    {
        QFile file(path);
        return file.open(QIODevice::ReadWrite) && file.resize(size);
    }
    std::vector<uint32_t> StoredKeys(const QString& dvr) { return Keys(eventdb::ReadAll(Db() + "/" + dvr + ".dat")); }
    QTemporaryDir dir;
};

} // namespace

TEST(EventRecordTest, BytesRoundTripInTheirPlaces)
{
    uint8_t bytes[24];
    for (int i = 0; i < 24; ++i)
        bytes[i] = static_cast<uint8_t>(i + 1);
    const EventRecord r = EventRecord::FromBytes(bytes);
    EXPECT_EQ(r.key, 0x04030201u);
    EXPECT_EQ(r.packedTime, 0x08070605u);
    EXPECT_EQ(r.eventClass, 0x0A09);
    EXPECT_EQ(r.channelMask, 0x100F0E0Du);
    EXPECT_EQ(r.subKind, 19);
    EXPECT_EQ(r.action, 20);
    EXPECT_EQ(r.userClass, 23);
    uint8_t back[24] = {};
    r.ToBytes(back);
    EXPECT_EQ(0, std::memcmp(bytes, back, 24)); // reserved bytes kept as received
}

TEST(EventRecordTest, TimeAndChannelTexts)
{
    EXPECT_EQ(EventTimeText(0), "2000/00/00 00:00:00");
    EXPECT_EQ(EventTimeText(PackEventTime({2008, 3, 14, 15, 30, 5})), "2008/03/14 15:30:05");
    EXPECT_EQ(EventTimeText(0xFFFFFFFFu), "2063/15/31 31:63:63");
    EXPECT_EQ(ChannelText(0), "");
    EXPECT_EQ(ChannelText(0xFFFF), "01/02/03/04/05/06/07/08/09/10/11/12/13/14/15/16");
    EXPECT_EQ(ChannelText((1u << 0) | (1u << 2) | (1u << 15) | (1u << 20)), "01/03/16");
}

TEST(EventRecordTest, DisplayWordsOfEveryClass)
{
    struct Case {
        uint16_t eventClass;
        uint8_t subKind, action, userClass;
        bool row;
        EventType type;
        const char *eventType, *from, *ip, *channel;
    };
    const Case cases[] = {
        {31, 1, 0, 0, true, kTypeMenuChange, "Menu Change", "Network", "", ""},
        {31, 0, 0, 0, true, kTypeMenuChange, "Menu Change", "DVR", "", ""},
        {32, 192, 168, 15, true, kTypeNetworkConnect, "Network Connect", "Admin", "192.168.000.007", ""},
        {32, 10, 1, 0, true, kTypeNetworkConnect, "Network Connect", "Guest", "010.001.000.007", ""},
        {33, 1, 0, 0, true, kTypeVideoLoss, "Video Loss", "", "", "01/03"},
        {33, 2, 0, 0, true, kTypeMotion, "Motion", "", "", "01/03"},
        {33, 3, 0, 0, true, kTypeSensor, "Sensor", "", "", "01/03"},
        {33, 4, 0, 0, true, kTypeNone, "", "", "", "01/03"},
        {34, 10, 0, 0, true, kTypePowerOn, "DVR Power On", "", "", ""},
        {34, 11, 0, 0, true, kTypePowerOff, "DVR Power Off", "", "", ""},
        {34, 12, 0, 0, true, kTypeNone, "", "", "", ""},
        {35, 0, 0, 0, true, kTypeNone, "Backup History", "", "", ""},
        {36, 19, 20, 0, true, kTypeRecord, "Record Start", "Network", "", "01/03"},
        {36, 22, 20, 0, true, kTypeRecord, "Record Start", "Schedule", "", "01/03"},
        {36, 23, 21, 0, true, kTypeRecord, "Record Stop", "Manual", "", ""},
        {36, 5, 21, 0, true, kTypeRecord, "Record Stop", "", "", ""},
        {30, 0, 0, 0, false, kTypeNone, "", "", "", ""},
        {37, 0, 0, 0, false, kTypeNone, "", "", "", ""},
    };
    for (const Case& c : cases) {
        EventRecord r;
        r.eventClass = c.eventClass;
        r.subKind = c.subKind;
        r.action = c.action;
        r.userClass = c.userClass;
        r.channelMask = 0b101;
        if (c.eventClass == 32) {
            r.address3 = 0;
            r.address4 = 7;
        }
        const EventWords w = DescribeEvent(r);
        SCOPED_TRACE(testing::Message() << "class " << c.eventClass << " sub-kind " << int(c.subKind));
        EXPECT_EQ(w.hasRow, c.row);
        if (!c.row)
            continue;
        EXPECT_EQ(w.type, c.type);
        EXPECT_EQ(w.eventType, c.eventType);
        EXPECT_EQ(w.from, c.from);
        EXPECT_EQ(w.ip, c.ip);
        EXPECT_EQ(w.channel, c.channel);
    }
}

TEST(EventRecordTest, BatchTablesAreCheckedAgainstTheirCount)
{
    std::vector<uint8_t> table(4 + 2 * 24, 0);
    table[0] = 2;
    std::vector<EventRecord> records;
    EXPECT_TRUE(ReadEventBatch(table.data(), table.size(), &records));
    EXPECT_EQ(records.size(), 2u);
    EXPECT_FALSE(ReadEventBatch(table.data(), table.size() - 1, &records)); // shorter than its count
    EXPECT_FALSE(ReadEventBatch(nullptr, 0, &records));
    std::vector<uint8_t> huge(4, 0);
    huge[2] = 1;
    huge[0] = 1; // 65537 records
    EXPECT_FALSE(ReadEventBatch(huge.data(), huge.size(), &records));
    EXPECT_TRUE(records.empty());
}

TEST(DuplicateTest, EveryNewEventIsStoredOnce)
{
    const EventRecord A = Record(1), B = Record(2), C = Record(3), X = Record(9);
    struct Case {
        const char* name;
        std::vector<EventRecord> stored, batch;
        int alreadyStored;
    };
    std::vector<EventRecord> seventeenA(17, A);
    std::vector<EventRecord> longTail;
    for (uint32_t k = 1; k <= 20; ++k)
        longTail.push_back(Record(k));
    std::vector<EventRecord> overlap(longTail.end() - 17, longTail.end());
    overlap.push_back(Record(21));
    std::vector<EventRecord> overlap18(longTail.end() - 18, longTail.end());
    overlap18.push_back(Record(21));
    const Case cases[] = {
        {"first batch record is the last stored", {X, A}, {A, B, C}, 1},
        {"three stored A before A, B, C", {A, A, A}, {A, B, C}, 1},
        {"one record equal to the last two stored", {A, A}, {A}, 1},
        {"stored A, B before A, B, C", {A, B}, {A, B, C}, 2},
        {"nothing stored", {}, {A, B}, 0},
        {"no overlap", {X}, {A, B}, 0},
        {"same key at another time is new", {A}, {Record(1, 7)}, 0},
        {"empty batch", {A}, {}, 0},
        {"seventeen stored A before seventeen A", seventeenA, seventeenA, 17},
        {"seventeen overlapping records", longTail, overlap, 17},
        // Further back than the test looks is not seen.
        {"eighteen overlapping records", longTail, overlap18, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        if (!c.stored.empty()) {
            ASSERT_TRUE(eventdb::AppendBatch(dir.path(), "DVR", c.stored).opened);
        }
        const eventdb::AppendResult result = eventdb::AppendBatch(dir.path(), "DVR", c.batch);
        ASSERT_TRUE(result.opened);
        EXPECT_EQ(result.alreadyStored, c.alreadyStored);
        std::vector<EventRecord> expected = c.stored;
        expected.insert(expected.end(), c.batch.begin() + c.alreadyStored, c.batch.end());
        const std::vector<EventRecord> stored = eventdb::ReadAll(dir.filePath("DVR.dat"));
        EXPECT_EQ(Keys(stored), Keys(expected));
        EXPECT_EQ(result.fileSize, static_cast<qint64>(expected.size() * 24));
    }
}

TEST_F(EventDatabaseTest, TheSizeWarningStartsAboveThirtyMillionBytes)
{
    // 1,249,999 records and 16 bytes of a cut-short one make 29,999,992 bytes.
    const QString path = Db() + "/Big.dat";
    ASSERT_TRUE(SetSize(path, 29999992));
    eventdb::AppendResult result = eventdb::AppendBatch(Db(), "Big", {Record(1)});
    EXPECT_EQ(result.fileSize, 30000016);
    EXPECT_TRUE(result.NeedsSizeWarning());

    ASSERT_TRUE(SetSize(path, 30000000 - 24));
    result = eventdb::AppendBatch(Db(), "Big", {Record(2)});
    EXPECT_EQ(result.fileSize, 30000000);
    EXPECT_FALSE(result.NeedsSizeWarning());
    ASSERT_TRUE(SetSize(path, 30000001 - 24));
    result = eventdb::AppendBatch(Db(), "Big", {Record(3)});
    EXPECT_EQ(result.fileSize, 30000001);
    EXPECT_TRUE(result.NeedsSizeWarning());
}

TEST_F(EventDatabaseTest, NamesThatLeaveTheDirectoryAreRefused)
{
    for (const QString& name : {QString("../up"), QString("a/b"), QString(".."), QString("tab\there"),
                                QString(QChar(0)) + "x", QString()}) {
        EXPECT_FALSE(eventdb::IsUsableDvrName(name)) << name.toStdString();
        EXPECT_TRUE(eventdb::DatabaseFilePath(Db(), name).isEmpty());
        const eventdb::AppendResult result = eventdb::AppendBatch(Db(), name, {Record(1)});
        EXPECT_FALSE(result.opened);
        EXPECT_FALSE(result.error.isEmpty());
    }
    EXPECT_TRUE(eventdb::IsUsableDvrName("Gate 1.old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 0);
    EXPECT_EQ(QDir(Db()).entryList(QDir::Files).size(), 0);
}

TEST_F(EventDatabaseTest, AMissingDirectoryIsAFailedOpen)
{
    const eventdb::AppendResult result = eventdb::AppendBatch(dir.filePath("nowhere"), "Gate", {Record(1)});
    EXPECT_FALSE(result.opened);
    EXPECT_FALSE(result.error.isEmpty());
}

TEST_F(EventDatabaseTest, LastStoredRecord)
{
    EXPECT_FALSE(eventdb::LastStoredRecord(Db(), "Gate"));
    QFile empty(Db() + "/Gate.dat");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(eventdb::LastStoredRecord(Db(), "Gate"));
    eventdb::AppendBatch(Db(), "Gate", {Record(1), Record(2, 9)});
    const std::optional<EventRecord> last = eventdb::LastStoredRecord(Db(), "Gate");
    ASSERT_TRUE(last);
    EXPECT_EQ(last->key, 2u);
    EXPECT_EQ(EventTimeText(last->packedTime), "2008/03/14 15:30:09");
}

TEST_F(EventDatabaseTest, BackupRenamesAndSeedsEachDvrWithItsLastRecord)
{
    eventdb::AppendBatch(Db(), "Gate", {Record(1), Record(2), Record(3)});
    eventdb::AppendBatch(Db(), "Yard", {Record(7)});
    QFile empty(Db() + "/Empty.dat");
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    const QDateTime when(QDate(2008, 3, 14), QTime(15, 30, 5));
    EXPECT_EQ(eventdb::BackupDirectoryName("/x/OXA/DB/", when), "/x/OXA/DB-03142008153005");

    const eventdb::BackupResult result =
        eventdb::BackupEventDb(Db() + "/", {"Gate", "Yard", "Empty", "Missing", "../x"}, when);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.backupDirectory, Db() + "-03142008153005");
    EXPECT_EQ(result.seeded, 2);
    EXPECT_EQ(StoredKeys("Gate"), (std::vector<uint32_t>{3}));
    EXPECT_EQ(StoredKeys("Yard"), (std::vector<uint32_t>{7}));
    EXPECT_FALSE(QFile::exists(Db() + "/Empty.dat"));
    EXPECT_FALSE(QFile::exists(Db() + "/Missing.dat"));
    EXPECT_EQ(Keys(eventdb::ReadAll(result.backupDirectory + "/Gate.dat")), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_TRUE(QFile::exists(result.backupDirectory + "/Empty.dat"));

    // A second backup in the same second would overwrite the first: refused,
    // and the database stays as it is.
    const eventdb::BackupResult again = eventdb::BackupEventDb(Db(), {"Gate"}, when);
    EXPECT_FALSE(again.ok);
    EXPECT_FALSE(again.error.isEmpty());
    EXPECT_EQ(StoredKeys("Gate"), (std::vector<uint32_t>{3}));
}

TEST_F(EventDatabaseTest, AFailedRenameSeedsNothing)
{
    const QString missing = dir.filePath("NoSuchDB");
    const eventdb::BackupResult result = eventdb::BackupEventDb(missing, {"Gate"});
    EXPECT_FALSE(result.ok);
    EXPECT_FALSE(result.error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(missing));
    EXPECT_FALSE(QFileInfo::exists(result.backupDirectory));
}

TEST_F(EventDatabaseTest, AWriteThatFailsIsNotTakenForStored)
{
    // A full disk: the file opens, the write does not go through.
    ASSERT_TRUE(QFile::link("/dev/full", Db() + "/Full.dat"));
    const eventdb::AppendResult result = eventdb::AppendBatch(Db(), "Full", {Record(1)});
    EXPECT_TRUE(result.opened);
    EXPECT_FALSE(result.Stored());
    EXPECT_FALSE(result.error.isEmpty());
    const eventdb::AppendResult good = eventdb::AppendBatch(Db(), "Good", {Record(1)});
    EXPECT_TRUE(good.Stored());
}
