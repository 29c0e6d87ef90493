// The event record, its display words and the event database: the duplicate
// test, the size boundary, the backup.
#include "EventViewer/event/EventDatabase.h"
#include "ScopedTimeZone.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <random>
#include <set>

#include <sys/resource.h>
#include <sys/stat.h>

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
        // However many records share the last stored second, none is
        // stored twice.
        {"eighteen overlapping records of one second", longTail, overlap18, 18},
        {"a repeat further back in the batch", {A, B}, {B, C, A}, 2},
        {"a record twice in one batch", {X}, {A, A, B}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        // Stored as they stand, repeats and all (files written before the
        // duplicate test looked this far back hold such repeats).
        if (!c.stored.empty()) {
            QFile file(dir.filePath("DVR.dat"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            for (const EventRecord& r : c.stored) {
                uint8_t bytes[24];
                r.ToBytes(bytes);
                ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), 24), 24);
            }
        }
        const eventdb::AppendResult result = eventdb::AppendBatch(dir.path(), "DVR", c.batch);
        ASSERT_TRUE(result.opened);
        EXPECT_EQ(result.alreadyStored, c.alreadyStored);
        std::vector<EventRecord> expected = c.stored;
        for (const EventRecord& r : c.batch)
            if (std::none_of(expected.begin(), expected.end(), [&](const EventRecord& e) { return e.SameEvent(r); }))
                expected.push_back(r);
        EXPECT_EQ(Keys(result.fresh), Keys(std::vector<EventRecord>(expected.begin() + c.stored.size(), expected.end())));
        const std::vector<EventRecord> stored = eventdb::ReadAll(dir.filePath("DVR.dat"));
        EXPECT_EQ(Keys(stored), Keys(expected));
        EXPECT_EQ(result.fileSize, static_cast<qint64>(expected.size() * 24));
    }
}

TEST_F(EventDatabaseTest, TheSizeWarningStartsAboveThirtyMillionBytes)
{
    // 1,249,999 records and 16 bytes of a cut-short one: the stray bytes go,
    // and one record more makes exactly 30,000,000 bytes, no warning yet.
    const QString path = Db() + "/Big.dat";
    ASSERT_TRUE(SetSize(path, 29999992));
    eventdb::AppendResult result = eventdb::AppendBatch(Db(), "Big", {Record(1)});
    EXPECT_EQ(result.cutShortBytes, 16);
    EXPECT_EQ(result.fileSize, 30000000);
    EXPECT_FALSE(result.NeedsSizeWarning());
    // The next record passes the mark.
    result = eventdb::AppendBatch(Db(), "Big", {Record(2)});
    EXPECT_EQ(result.fileSize, 30000024);
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

    // A plain file where the database should be is no database: it keeps
    // its name, and no folder takes its place.
    const QString plain = dir.filePath("PlainDB");
    {
        QFile file(plain);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a database");
    }
    const eventdb::BackupResult refused = eventdb::BackupEventDb(plain, {"Gate"});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.error, plain + " is not a folder.");
    EXPECT_TRUE(QFileInfo(plain).isFile());
    EXPECT_EQ(QFileInfo(plain).size(), 14);
    EXPECT_FALSE(QFileInfo::exists(refused.backupDirectory));
}

TEST_F(EventDatabaseTest, AWriteThatFailsIsNotTakenForStored)
{
    // A full disk: the file opens, the write stops part of the way (a file
    // size limit, as `ulimit -f` sets it, stands in for the disk).
    std::vector<EventRecord> first;
    for (uint32_t k = 1; k <= 10; ++k)
        first.push_back(Record(k, k));
    ASSERT_TRUE(eventdb::AppendBatch(Db(), "Full", first).Stored());
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = 10 * 24 + 30; // room for a record and a quarter
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const eventdb::AppendResult result = eventdb::AppendBatch(Db(), "Full", {Record(11, 11), Record(12, 12)});
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_TRUE(result.opened);
    EXPECT_FALSE(result.Stored());
    EXPECT_FALSE(result.error.isEmpty());
    // Nothing half written stays behind: the next poll asks again from the
    // last whole record and stores the two.
    EXPECT_EQ(QFileInfo(Db() + "/Full.dat").size(), 10 * 24);
    EXPECT_EQ(eventdb::LastStoredRecord(Db(), "Full")->key, 10u);
    const eventdb::AppendResult again = eventdb::AppendBatch(Db(), "Full", {Record(10, 10), Record(11, 11), Record(12, 12)});
    EXPECT_TRUE(again.Stored());
    EXPECT_EQ(StoredKeys("Full"), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

// A FIFO, a device or a directory where a DVR's file should be: no open
// blocks, nothing is read or written, and the caller is told.
TEST_F(EventDatabaseTest, OnlyRegularFilesAreOpened)
{
    ASSERT_EQ(mkfifo(QFile::encodeName(Db() + "/Pipe.dat").constData(), 0600), 0);
    ASSERT_TRUE(QFile::link("/dev/zero", Db() + "/Device.dat"));
    ASSERT_TRUE(QDir().mkpath(Db() + "/Folder.dat"));
    for (const char* name : {"Pipe", "Device", "Folder"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(eventdb::LastStoredRecord(Db(), name));
        EXPECT_TRUE(eventdb::ReadAll(Db() + "/" + name + ".dat").empty());
        const eventdb::AppendResult result = eventdb::AppendBatch(Db(), name, {Record(1)});
        EXPECT_FALSE(result.opened);
        EXPECT_FALSE(result.error.isEmpty());
    }
    EXPECT_EQ(QFileInfo(Db() + "/Pipe.dat").isFile(), false);
}

// A DVR stamps many events with one second (sixteen channels starting to
// record at once); it sends that whole second again from the start time it
// is given. Poll after poll, each event is stored once.
TEST_F(EventDatabaseTest, SameSecondBurstsAreStoredOnceAtEveryPoll)
{
    std::vector<EventRecord> log;
    for (uint32_t k = 1; k <= 3; ++k)
        log.push_back(Record(k, k)); // 15:30:01..03
    for (uint32_t k = 4; k <= 23; ++k)
        log.push_back(Record(k, 9)); // twenty at 15:30:09
    const auto since = [&](uint32_t packed) {
        std::vector<EventRecord> answer;
        for (const EventRecord& r : log)
            if (EventTimeOrder(r.packedTime) >= EventTimeOrder(packed))
                answer.push_back(r);
        return answer;
    };
    ASSERT_TRUE(eventdb::AppendBatch(Db(), "Burst", log).Stored());
    for (int poll = 0; poll < 3; ++poll) {
        const std::optional<EventRecord> last = eventdb::LastStoredRecord(Db(), "Burst");
        ASSERT_TRUE(last);
        const eventdb::AppendResult result = eventdb::AppendBatch(Db(), "Burst", since(last->packedTime));
        ASSERT_TRUE(result.Stored());
        EXPECT_EQ(result.alreadyStored, 20);
        EXPECT_TRUE(result.fresh.empty());
        EXPECT_EQ(StoredKeys("Burst").size(), 23u) << poll;
    }
    // New events of the same second and of later ones are stored, once.
    log.push_back(Record(24, 9));
    log.push_back(Record(25, 10));
    const eventdb::AppendResult result =
        eventdb::AppendBatch(Db(), "Burst", since(eventdb::LastStoredRecord(Db(), "Burst")->packedTime));
    EXPECT_EQ(Keys(result.fresh), (std::vector<uint32_t>{24, 25}));
    std::vector<uint32_t> all;
    for (uint32_t k = 1; k <= 25; ++k)
        all.push_back(k);
    EXPECT_EQ(StoredKeys("Burst"), all);
}

namespace {

// A DVR's event log polled as the monitor polls it: each answer is every
// event of the log from the time of the previous answer's last record on,
// in log order, whatever the times in it.
struct PolledLog {
    std::vector<EventRecord> log;
    uint32_t from = 0;
    std::set<std::pair<uint32_t, uint32_t>> sent; // key and time of every event answered
    eventdb::AppendResult Poll(const QString& db, const QString& dvr)
    {
        std::vector<EventRecord> answer;
        for (const EventRecord& r : log)
            if (from == 0 || EventTimeOrder(r.packedTime) >= EventTimeOrder(from)) {
                answer.push_back(r);
                sent.insert({r.key, r.packedTime});
            }
        eventdb::AppendResult result = eventdb::AppendBatch(db, dvr, answer);
        if (result.Stored() && !answer.empty())
            from = answer.back().packedTime;
        return result;
    }
};

EventRecord At(uint32_t key, int hour, int minute, int second, int day = 14)
{
    EventRecord r = Record(key);
    r.packedTime = PackEventTime({2008, 3, day, hour, minute, second});
    return r;
}

// Each event the DVR sent is stored exactly once.
void ExpectEachEventOnce(const std::vector<EventRecord>& stored, const PolledLog& dvr)
{
    std::multiset<std::pair<uint32_t, uint32_t>> have;
    for (const EventRecord& r : stored)
        have.insert({r.key, r.packedTime});
    EXPECT_EQ(have, (std::multiset<std::pair<uint32_t, uint32_t>>(dvr.sent.begin(), dvr.sent.end())));
}

} // namespace

// The DVR's clock goes back an hour (the end of summer time on a DVR that
// keeps local time): events of 10:00-10:59, then of 09:00-09:39. Asked from
// 09:39, the DVR sends the hour of 10 again, pass after pass until its clock
// is past it; none is stored again, and the events it logs meanwhile, some
// at the very times stored before, are stored once each.
TEST_F(EventDatabaseTest, AClockThatWentBackRepeatsNothingAtLaterPolls)
{
    PolledLog dvr;
    uint32_t key = 0;
    for (int minute = 0; minute < 60; ++minute)
        dvr.log.push_back(At(++key, 10, minute, 0));
    for (int minute = 0; minute < 40; ++minute)
        dvr.log.push_back(At(++key, 9, minute, 0));
    const int fresh[] = {100, 0, 0};
    for (int pass = 0; pass < 3; ++pass) {
        SCOPED_TRACE(pass);
        const eventdb::AppendResult result = dvr.Poll(Db(), "Clock");
        ASSERT_TRUE(result.Stored());
        EXPECT_EQ(result.fresh.size(), std::size_t(fresh[pass]));
        EXPECT_EQ(StoredKeys("Clock").size(), 100u);
    }
    EXPECT_EQ(EventTimeText(dvr.from), "2008/03/14 09:39:00");
    // Its clock runs on through the hour it showed before: an event each
    // half minute, on the minute the very times stored before.
    for (int minute = 40; minute < 120; ++minute)
        for (int second : {0, 30}) {
            dvr.log.push_back(At(++key, 9 + minute / 60, minute % 60, second));
            if (key % 7 == 0) {
                ASSERT_TRUE(dvr.Poll(Db(), "Clock").Stored());
                ASSERT_TRUE(dvr.Poll(Db(), "Clock").fresh.empty());
            }
        }
    for (int pass = 0; pass < 3; ++pass)
        ASSERT_TRUE(dvr.Poll(Db(), "Clock").Stored());
    EXPECT_EQ(dvr.sent.size(), dvr.log.size()); // every event was asked for
    ExpectEachEventOnce(eventdb::ReadAll(Db() + "/Clock.dat"), dvr);
}

// The events a later answer repeats lie far back in a long file: a day of
// events, then ten thousand one a second from 07:00, then the clock set
// back to 08:00. Every repeat is found, wherever it lies.
TEST_F(EventDatabaseTest, RepeatsAreFoundFarBackInALongFile)
{
    PolledLog dvr;
    for (uint32_t k = 0; k < 10000; ++k)
        dvr.log.push_back(At(20001 + k, int(k * 8 / 3600), int(k * 8 / 60 % 60), int(k * 8 % 60), 13));
    for (uint32_t k = 0; k < 10000; ++k)
        dvr.log.push_back(At(k + 1, 7 + int(k / 3600), int(k / 60 % 60), int(k % 60)));
    for (uint32_t k = 0; k < 50; ++k)
        dvr.log.push_back(At(10001 + k, 8, 0, int(k)));
    ASSERT_EQ(dvr.Poll(Db(), "Long").fresh.size(), 20050u);
    for (int pass = 0; pass < 2; ++pass) {
        const eventdb::AppendResult result = dvr.Poll(Db(), "Long");
        ASSERT_TRUE(result.Stored());
        EXPECT_EQ(result.alreadyStored, (10000 - 3649) + 1) << pass; // of the first run from 08:00:49 on, and the last
        EXPECT_TRUE(result.fresh.empty()) << pass;
    }
    // Put back from a copy behind the viewer's back, in another order (the
    // newest events first) and without its last event: that event comes
    // again, once, and nothing else.
    std::vector<EventRecord> copy = eventdb::ReadAll(Db() + "/Long.dat");
    copy.pop_back();
    std::reverse(copy.begin(), copy.end());
    {
        QFile file(Db() + "/Long.dat");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        for (const EventRecord& r : copy) {
            uint8_t bytes[24];
            r.ToBytes(bytes);
            ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), 24), 24);
        }
    }
    const eventdb::AppendResult result = dvr.Poll(Db(), "Long");
    ASSERT_TRUE(result.Stored());
    EXPECT_EQ(Keys(result.fresh), (std::vector<uint32_t>{10050}));
    ExpectEachEventOnce(eventdb::ReadAll(Db() + "/Long.dat"), dvr);
}

// A DVR whose clock gives its events random times within a day: the first
// poll stores them all, the second and third nothing; of the events it logs
// later, each one it sends is stored once, whatever its time.
TEST_F(EventDatabaseTest, ARandomTimeLogIsStoredOnceAtEveryPoll)
{
    std::mt19937 random(61);
    PolledLog dvr;
    uint32_t key = 0;
    auto logSome = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const int second = int(random() % 86400);
            dvr.log.push_back(At(++key, second / 3600, second / 60 % 60, second % 60));
        }
    };
    logSome(200);
    const int fresh[] = {200, 0, 0};
    for (int pass = 0; pass < 3; ++pass) {
        const eventdb::AppendResult result = dvr.Poll(Db(), "Random");
        ASSERT_TRUE(result.Stored());
        EXPECT_EQ(result.fresh.size(), std::size_t(fresh[pass])) << pass;
    }
    for (int round = 0; round < 20; ++round) {
        logSome(int(random() % 30));
        ASSERT_TRUE(dvr.Poll(Db(), "Random").Stored());
    }
    ExpectEachEventOnce(eventdb::ReadAll(Db() + "/Random.dat"), dvr);
}

// A write cut short by a full disk leaves part of a record. Cut at every
// byte of the last record: the newest whole record is the last stored one,
// the next append removes the stray bytes first, nothing stored is lost and
// nothing is stored twice.
TEST_F(EventDatabaseTest, ACutShortLastRecordIsRemovedBeforeTheNextAppend)
{
    for (int cut = 0; cut < 24; ++cut) {
        SCOPED_TRACE(cut);
        const QString path = Db() + "/Cut.dat";
        QFile::remove(path);
        std::vector<EventRecord> first;
        for (uint32_t k = 1; k <= 10; ++k)
            first.push_back(Record(k, k));
        ASSERT_TRUE(eventdb::AppendBatch(Db(), "Cut", first).Stored());
        // The eleventh record's write was cut after `cut` bytes.
        uint8_t bytes[24];
        Record(11, 11).ToBytes(bytes);
        {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::Append));
            ASSERT_EQ(file.write(reinterpret_cast<const char*>(bytes), cut), cut);
        }
        const std::optional<EventRecord> last = eventdb::LastStoredRecord(Db(), "Cut");
        ASSERT_TRUE(last);
        EXPECT_EQ(last->key, 10u);
        EXPECT_EQ(EventTimeText(last->packedTime), "2008/03/14 15:30:10");
        // The DVR answers from the last whole record's time.
        const eventdb::AppendResult result =
            eventdb::AppendBatch(Db(), "Cut", {Record(10, 10), Record(11, 11), Record(12, 12)});
        ASSERT_TRUE(result.Stored());
        EXPECT_EQ(result.cutShortBytes, cut);
        EXPECT_EQ(Keys(result.fresh), (std::vector<uint32_t>{11, 12}));
        EXPECT_EQ(result.fileSize, 12 * 24);
        EXPECT_EQ(QFileInfo(path).size(), 12 * 24);
        EXPECT_EQ(StoredKeys("Cut"), (std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    }
}

namespace {

// What the PC's clock shows at `instant`, packed as a DVR packs its time.
uint32_t ReadingAt(int64_t instant)
{
    const std::time_t t = static_cast<std::time_t>(instant);
    std::tm local{};
    localtime_r(&t, &local);
    return PackEventTime(
        {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec});
}

} // namespace

// A poll starts at the DVR's own reading of its last stored event. Where the
// PC's clock never shows that reading (the spring night; the DVR's clock
// need not jump), it starts at the last reading before, never after.
TEST(PollStartTest, TheStoredReadingOrTheLastOneBeforeTheSkip)
{
    for (const ClockChangeZone& zone : kClockChangeZones) {
        SCOPED_TRACE(zone.name);
        ScopedTimeZone inZone(zone.name);
        // Ordinary days and the repeated autumn reading: exactly that reading.
        for (const EventTime t : {EventTime{2024, 5, 6, 7, 8, 9}, EventTime{2024, 1, 31, 23, 59, 59},
                                  EventTime{2024, zone.autumnMonth, zone.autumnDay, zone.repeatedHour,
                                            zone.repeatedMinute + 10, 0}}) {
            const uint32_t packed = PackEventTime(t);
            EXPECT_EQ(ReadingAt(PollStartInstant(packed)), packed) << EventTimeText(packed).toStdString();
        }
        // Every minute of the skipped half hour or hour starts the poll one
        // second before the skip.
        for (int minute = 0; minute < 30; ++minute) {
            const EventTime t{2024, zone.springMonth, zone.springDay, zone.skippedHour, zone.skippedMinute + minute, 30};
            const int64_t start = PollStartInstant(PackEventTime(t));
            EXPECT_EQ(EventTimeText(ReadingAt(start)).toStdString(),
                      EventTimeText(PackEventTime({2024, zone.springMonth, zone.springDay, zone.skippedHour - 1, 59,
                                                   59}))
                          .toStdString());
            EXPECT_EQ(ReadingAt(start + 1), PackEventTime({2024, zone.springMonth, zone.springDay,
                                                           zone.afterSkipHour, zone.afterSkipMinute, 0}));
        }
    }
    // No time at all: every event.
    EXPECT_EQ(PollStartInstant(0), 0);
    EXPECT_EQ(PollStartInstant(PackEventTime({2024, 13, 1, 0, 0, 0})), 0);
}

TEST(WallClockTest, ReadingsCountLikeACalendarAndCarryOn)
{
    EXPECT_EQ(WallClockSeconds(1970, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(WallClockSeconds(2024, 3, 31, 2, 10, 0), 1711851000);
    EXPECT_EQ(WallClockSeconds(2000, 2, 29, 0, 0, 0), 951782400);
    // Past its range a field carries on, as mktime does it.
    EXPECT_EQ(WallClockSeconds(2024, 2, 31, 0, 0, 0), WallClockSeconds(2024, 3, 2, 0, 0, 0));
    EXPECT_EQ(WallClockSeconds(2024, 5, 6, 7, 8, 63), WallClockSeconds(2024, 5, 6, 7, 9, 3));
    EXPECT_EQ(WallClockSeconds(2024, 0, 1, 0, 0, 0), WallClockSeconds(2023, 12, 1, 0, 0, 0));
    ScopedTimeZone inZone("Europe/Berlin");
    EXPECT_EQ(WallClockSeconds(2024, 10, 27, 2, 30, 0), 1729996200); // one number for both readings
}
