#include "EventDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace eventdb {

namespace {

constexpr long kRecordSize = static_cast<long>(vyrdax::kEventRecordSize);

// The bytes of whole records in an open file: a write cut short by a full
// disk leaves part of a record at the end, which is not an event.
long WholeRecordBytes(std::FILE* file)
{
    if (std::fseek(file, 0, SEEK_END) != 0)
        return 0;
    const long size = std::ftell(file);
    return size < 0 ? 0 : size - size % kRecordSize;
}

// Reads `count` records ending at byte `end` (a whole-record offset).
std::vector<EventRecord> ReadRecordsBefore(std::FILE* file, long end, long count)
{
    std::vector<EventRecord> records;
    if (count <= 0 || std::fseek(file, end - count * kRecordSize, SEEK_SET) != 0)
        return records;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(count * kRecordSize));
    const std::size_t read = std::fread(bytes.data(), kRecordSize, static_cast<std::size_t>(count), file);
    records.reserve(read);
    for (std::size_t i = 0; i < read; ++i)
        records.push_back(EventRecord::FromBytes(bytes.data() + i * kRecordSize));
    return records;
}

// A DVR's clock may go back (a clock set right, the end of summer time on a
// DVR that keeps local time), so a file is in time order only mostly, and
// a batch asked for from the last stored time may repeat records stored
// anywhere in it. What a file holds where: the newest time of each block of
// kTimeMapBlock records. A batch is compared with the records of the blocks
// that reach its oldest time: in a file in time order that is its last
// block. Learnt by one read of the file, kept up by the appends, learnt
// anew when the file was changed by anything else.
constexpr long kTimeMapBlock = 4096;

// A file's times step coarsely: its last record tells a file written anew
// within one step as well.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    long bytes = -1;
    timespec modified{};
    std::array<uint8_t, vyrdax::kEventRecordSize> last{};
    bool operator==(const FileStamp& o) const
    {
        return device == o.device && inode == o.inode && bytes == o.bytes && modified.tv_sec == o.modified.tv_sec &&
               modified.tv_nsec == o.modified.tv_nsec && last == o.last;
    }
};

FileStamp StampOf(std::FILE* file, long wholeBytes)
{
    FileStamp stamp;
    struct stat info {};
    if (fstat(fileno(file), &info) != 0)
        return stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.bytes = wholeBytes;
    stamp.modified = info.st_mtim;
    const std::vector<EventRecord> last = ReadRecordsBefore(file, wholeBytes, wholeBytes > 0 ? 1 : 0);
    if (!last.empty())
        last.back().ToBytes(stamp.last.data());
    return stamp;
}

struct TimeMap {
    FileStamp stamp;
    std::vector<uint32_t> newest; // EventTimeOrder, per block
    void Add(long recordIndex, uint32_t order)
    {
        const std::size_t block = static_cast<std::size_t>(recordIndex / kTimeMapBlock);
        if (block >= newest.size())
            newest.resize(block + 1, 0);
        newest[block] = std::max(newest[block], order);
    }
};

std::mutex timeMapsLock;
std::unordered_map<std::string, TimeMap> timeMaps; // by file path

// The map of the file at `path`, taken out of the store: the kept one when
// the file is as the last append left it, else read from the file.
TimeMap TakeTimeMap(const std::string& path, std::FILE* file, long wholeBytes)
{
    const FileStamp stamp = StampOf(file, wholeBytes);
    {
        std::lock_guard<std::mutex> lock(timeMapsLock);
        auto found = timeMaps.find(path);
        if (found != timeMaps.end()) {
            TimeMap kept = std::move(found->second);
            timeMaps.erase(found);
            if (kept.stamp == stamp)
                return kept;
        }
    }
    TimeMap map;
    map.stamp = stamp;
    if (std::fseek(file, 0, SEEK_SET) != 0)
        return map;
    std::vector<uint8_t> bytes(static_cast<std::size_t>(kTimeMapBlock * kRecordSize));
    const long records = wholeBytes / kRecordSize;
    for (long at = 0; at < records;) {
        const std::size_t count = static_cast<std::size_t>(std::min(kTimeMapBlock, records - at));
        if (std::fread(bytes.data(), kRecordSize, count, file) != count)
            break;
        for (std::size_t i = 0; i < count; ++i, ++at) {
            const uint8_t* time = bytes.data() + i * kRecordSize + 4; // the packed time, little-endian
            map.Add(at, EventTimeOrder(uint32_t(time[0]) | uint32_t(time[1]) << 8 | uint32_t(time[2]) << 16 |
                                       uint32_t(time[3]) << 24));
        }
    }
    return map;
}

void KeepTimeMap(const std::string& path, TimeMap map)
{
    std::lock_guard<std::mutex> lock(timeMapsLock);
    timeMaps[path] = std::move(map);
}

// Every stored record of time `sinceOrder` or later, wherever it lies.
std::vector<EventRecord> ReadRecordsSince(std::FILE* file, long wholeBytes, const TimeMap& map, uint32_t sinceOrder)
{
    std::vector<EventRecord> since;
    const long records = wholeBytes / kRecordSize;
    for (std::size_t block = 0; block < map.newest.size(); ++block) {
        if (map.newest[block] < sinceOrder)
            continue;
        const long first = static_cast<long>(block) * kTimeMapBlock;
        const long end = std::min(records, first + kTimeMapBlock);
        for (const EventRecord& r : ReadRecordsBefore(file, end * kRecordSize, end - first))
            if (EventTimeOrder(r.packedTime) >= sinceOrder)
                since.push_back(r);
    }
    return since;
}

uint64_t EventIdentity(const EventRecord& r)
{
    return uint64_t(r.key) << 32 | r.packedTime;
}

QString WithoutTrailingSeparator(const QString& directory)
{
    QString d = QDir::cleanPath(directory);
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d;
}

} // namespace

FilePtr OpenRegularFile(const QString& path, const char* mode)
{
    const bool append = mode[0] == 'a';
    const bool update = std::strchr(mode, '+') != nullptr;
    const int access = update ? O_RDWR : append ? O_WRONLY : O_RDONLY;
    // Without blocking: a FIFO with nobody at its other end would hold the
    // open itself.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          access | (append ? O_CREAT | O_APPEND : 0) | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return nullptr;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FilePtr file(fdopen(fd, mode));
    if (!file)
        ::close(fd);
    return file;
}

bool IsUsableDvrName(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QStringLiteral("..")))
        return false;
    return std::none_of(name.begin(), name.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

QString DatabaseFilePath(const QString& directory, const QString& dvrName)
{
    if (!IsUsableDvrName(dvrName) || directory.isEmpty())
        return {};
    return QDir(directory).filePath(dvrName + QStringLiteral(".dat"));
}

std::vector<EventRecord> NewRecords(const std::vector<EventRecord>& recent, const std::vector<EventRecord>& batch)
{
    std::unordered_set<uint64_t> seen;
    seen.reserve(recent.size() + batch.size());
    for (const EventRecord& r : recent)
        seen.insert(EventIdentity(r));
    std::vector<EventRecord> fresh;
    for (const EventRecord& r : batch)
        if (seen.insert(EventIdentity(r)).second)
            fresh.push_back(r);
    return fresh;
}

AppendResult AppendBatch(const QString& directory, const QString& dvrName, const std::vector<EventRecord>& batch)
{
    AppendResult result;
    const QString path = DatabaseFilePath(directory, dvrName);
    if (path.isEmpty()) {
        result.error = QStringLiteral("\"%1\" cannot be used as a file name").arg(dvrName);
        return result;
    }
    FilePtr file = OpenRegularFile(path, "a+b");
    if (!file) {
        result.error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    result.opened = true;
    const long size = std::fseek(file.get(), 0, SEEK_END) == 0 ? std::ftell(file.get()) : -1;
    const long whole = WholeRecordBytes(file.get());
    if (size > whole) {
        // Appended after stray bytes, every later record would be read
        // shifted; the bytes are no event.
        if (ftruncate(fileno(file.get()), whole) != 0) {
            result.error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return result;
        }
        result.cutShortBytes = size - whole;
    }
    const std::string mapKey = path.toStdString();
    TimeMap map = TakeTimeMap(mapKey, file.get(), whole);
    if (!batch.empty()) {
        // Only a record of the same time can be the same event.
        uint32_t since = EventTimeOrder(batch.front().packedTime);
        for (const EventRecord& r : batch)
            since = std::min(since, EventTimeOrder(r.packedTime));
        result.fresh = NewRecords(ReadRecordsSince(file.get(), whole, map, since), batch);
    }
    result.alreadyStored = static_cast<int>(batch.size() - result.fresh.size());
    if (!result.fresh.empty()) {
        std::vector<uint8_t> bytes(result.fresh.size() * vyrdax::kEventRecordSize);
        for (std::size_t i = 0; i < result.fresh.size(); ++i)
            result.fresh[i].ToBytes(bytes.data() + i * vyrdax::kEventRecordSize);
        std::fseek(file.get(), 0, SEEK_END);
        const long before = std::ftell(file.get());
        if (std::fwrite(bytes.data(), bytes.size(), 1, file.get()) != 1 || std::fflush(file.get()) != 0) {
            result.error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            // A part of a record would shift every record after it.
            if (before >= 0 && ftruncate(fileno(file.get()), before) != 0)
                result.error += QStringLiteral(" (left cut short)");
        } else {
            for (std::size_t i = 0; i < result.fresh.size(); ++i)
                map.Add(whole / kRecordSize + static_cast<long>(i), EventTimeOrder(result.fresh[i].packedTime));
        }
    }
    std::fseek(file.get(), 0, SEEK_END);
    result.fileSize = std::ftell(file.get());
    // After a failed write the map is learnt anew from what the file holds.
    if (result.error.isEmpty()) {
        map.stamp = StampOf(file.get(), static_cast<long>(result.fileSize));
        KeepTimeMap(mapKey, std::move(map));
    }
    return result;
}

std::optional<EventRecord> LastStoredRecord(const QString& directory, const QString& dvrName)
{
    const QString path = DatabaseFilePath(directory, dvrName);
    if (path.isEmpty())
        return std::nullopt;
    FilePtr file = OpenRegularFile(path, "rb");
    if (!file)
        return std::nullopt;
    const std::vector<EventRecord> tail = ReadRecordsBefore(file.get(), WholeRecordBytes(file.get()), 1);
    if (tail.empty())
        return std::nullopt;
    return tail.back();
}

std::vector<EventRecord> ReadAll(const QString& path)
{
    std::vector<EventRecord> records;
    FilePtr file = OpenRegularFile(path, "rb");
    if (!file)
        return records;
    uint8_t bytes[vyrdax::kEventRecordSize];
    while (std::fread(bytes, sizeof bytes, 1, file.get()) == 1)
        records.push_back(EventRecord::FromBytes(bytes));
    return records;
}

QString BackupDirectoryName(const QString& directory, const QDateTime& now)
{
    const QDate d = now.date();
    const QTime t = now.time();
    return WithoutTrailingSeparator(directory) +
           QString::asprintf("-%02d%02d%04d%02d%02d%02d", d.month(), d.day(), d.year(), t.hour(), t.minute(),
                             t.second());
}

BackupResult BackupEventDb(const QString& directory, const QStringList& dvrNames, const QDateTime& now)
{
    BackupResult result;
    const QString database = WithoutTrailingSeparator(directory);
    result.backupDirectory = BackupDirectoryName(database, now);
    if (database.isEmpty() || database == QStringLiteral("/")) {
        result.error = QStringLiteral("No database directory is set.");
        return result;
    }
    // Renamed, a plain file would be taken for the database and a folder
    // put in its place.
    const QFileInfo databaseInfo(database);
    if (databaseInfo.exists() && !databaseInfo.isDir()) {
        result.error = QStringLiteral("%1 is not a folder.").arg(database);
        return result;
    }
    if (QFileInfo::exists(result.backupDirectory)) {
        result.error = QStringLiteral("%1 already exists.").arg(result.backupDirectory);
        return result;
    }
    if (std::rename(QFile::encodeName(database).constData(), QFile::encodeName(result.backupDirectory).constData()) !=
        0) {
        result.error = QStringLiteral("%1 could not be renamed to %2: %3")
                           .arg(database, result.backupDirectory, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    if (!QDir().mkpath(database)) {
        result.error = QStringLiteral("%1 could not be created.").arg(database);
        return result;
    }
    for (const QString& name : dvrNames) {
        const std::optional<EventRecord> last = LastStoredRecord(result.backupDirectory, name);
        if (!last)
            continue;
        if (AppendBatch(database, name, {*last}).error.isEmpty())
            ++result.seeded;
    }
    result.ok = true;
    return result;
}

} // namespace eventdb
