#include "EventDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include <unistd.h>

namespace eventdb {

namespace {

constexpr long kRecordSize = static_cast<long>(vyrdax::kEventRecordSize);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

FilePtr OpenFile(const QString& path, const char* mode)
{
    return FilePtr(std::fopen(QFile::encodeName(path).constData(), mode));
}

// The last `count` whole records before the end of an open file, oldest
// first; fewer when the file is shorter.
std::vector<EventRecord> ReadTail(std::FILE* file, int count)
{
    std::vector<EventRecord> tail;
    if (std::fseek(file, 0, SEEK_END) != 0)
        return tail;
    const long size = std::ftell(file);
    const int available = size < 0 ? 0 : static_cast<int>(std::min<long>(count, size / kRecordSize));
    if (available == 0 || std::fseek(file, size - available * kRecordSize, SEEK_SET) != 0)
        return tail;
    uint8_t bytes[vyrdax::kEventRecordSize];
    for (int i = 0; i < available && std::fread(bytes, sizeof bytes, 1, file) == 1; ++i)
        tail.push_back(EventRecord::FromBytes(bytes));
    return tail;
}

QString WithoutTrailingSeparator(const QString& directory)
{
    QString d = QDir::cleanPath(directory);
    while (d.size() > 1 && d.endsWith(QLatin1Char('/')))
        d.chop(1);
    return d;
}

} // namespace

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

int CountAlreadyStored(const std::vector<EventRecord>& tail, const std::vector<EventRecord>& batch)
{
    const int limit = static_cast<int>(std::min(tail.size(), batch.size()));
    for (int m = limit; m > 0; --m) {
        const auto stored = tail.end() - m;
        if (std::equal(stored, tail.end(), batch.begin(),
                       [](const EventRecord& a, const EventRecord& b) { return a.SameEvent(b); }))
            return m;
    }
    return 0;
}

AppendResult AppendBatch(const QString& directory, const QString& dvrName, const std::vector<EventRecord>& batch)
{
    AppendResult result;
    const QString path = DatabaseFilePath(directory, dvrName);
    if (path.isEmpty()) {
        result.error = QStringLiteral("\"%1\" cannot be used as a file name").arg(dvrName);
        return result;
    }
    FilePtr file = OpenFile(path, "a+b");
    if (!file) {
        result.error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return result;
    }
    result.opened = true;
    const std::size_t n = batch.size();
    if (n > 0) {
        const std::vector<EventRecord> tail =
            ReadTail(file.get(), static_cast<int>(std::min<std::size_t>(kDuplicateScanRecords, n)));
        result.alreadyStored = CountAlreadyStored(tail, batch);
    }
    const std::size_t fresh = n - static_cast<std::size_t>(result.alreadyStored);
    if (fresh > 0) {
        std::vector<uint8_t> bytes(fresh * vyrdax::kEventRecordSize);
        for (std::size_t i = 0; i < fresh; ++i)
            batch[result.alreadyStored + i].ToBytes(bytes.data() + i * vyrdax::kEventRecordSize);
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
    FilePtr file = OpenFile(path, "rb");
    if (!file)
        return std::nullopt;
    const std::vector<EventRecord> tail = ReadTail(file.get(), 1);
    if (tail.empty())
        return std::nullopt;
    return tail.back();
}

std::vector<EventRecord> ReadAll(const QString& path)
{
    std::vector<EventRecord> records;
    FilePtr file = OpenFile(path, "rb");
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
