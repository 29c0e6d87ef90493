#include "EventDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
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

// What a batch may repeat of the stored file, oldest first: the last
// kDuplicateScanRecords records, and before them every record back to the
// first one older than `since`. A DVR can write any number of events in one
// second and sends that whole second again from the start time it is given.
std::vector<EventRecord> ReadRecentRecords(std::FILE* file, long wholeBytes, uint32_t sinceOrder)
{
    constexpr long kBlock = 4096;
    // However many records share a second, a batch cannot hold more.
    constexpr long kMaxLookBack = kDuplicateScanRecords + static_cast<long>(vyrdax::kMaxEventRecords);
    std::vector<EventRecord> newestFirst;
    long end = wholeBytes;
    bool older = false;
    while (!older && end > 0 && static_cast<long>(newestFirst.size()) < kMaxLookBack) {
        const long count = std::min({kBlock, end / kRecordSize, kMaxLookBack - static_cast<long>(newestFirst.size())});
        const std::vector<EventRecord> block = ReadRecordsBefore(file, end, count);
        if (static_cast<long>(block.size()) != count)
            break;
        for (auto it = block.rbegin(); it != block.rend(); ++it) {
            if (newestFirst.size() >= static_cast<std::size_t>(kDuplicateScanRecords) &&
                EventTimeOrder(it->packedTime) < sinceOrder) {
                older = true;
                break;
            }
            newestFirst.push_back(*it);
        }
        end -= count * kRecordSize;
    }
    return {newestFirst.rbegin(), newestFirst.rend()};
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
    if (!batch.empty()) {
        uint32_t since = EventTimeOrder(batch.front().packedTime);
        for (const EventRecord& r : batch)
            since = std::min(since, EventTimeOrder(r.packedTime));
        const std::vector<EventRecord> last = ReadRecordsBefore(file.get(), whole, whole > 0 ? 1 : 0);
        if (!last.empty())
            since = std::min(since, EventTimeOrder(last.back().packedTime));
        result.fresh = NewRecords(ReadRecentRecords(file.get(), whole, since), batch);
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
        }
    }
    std::fseek(file.get(), 0, SEEK_END);
    result.fileSize = std::ftell(file.get());
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
