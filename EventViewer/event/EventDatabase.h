#pragma once
// The event database: one file of event records per DVR, "<directory>/<DVR
// name>.dat", appended to after a duplicate test, and its backup by renaming
// the whole directory.
#include "EventRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace eventdb {

// Above this size after an append the operator is offered a backup.
inline constexpr qint64 kSizeWarningBytes = 30000000;

inline constexpr const char* kSizeWarningText = "We recommand to backup your data base.\r\nDo you want to backup now?";
inline constexpr const char* kBackupCompleteText = "Backup Complete";

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;
// Opens a database file with the C runtime's `mode` ("rb", "a+b", "ab"),
// only when it is a regular file: a FIFO or a device under a DVR's name
// would block the open or the reads for ever. Null, with errno set, else.
FilePtr OpenRegularFile(const QString& path, const char* mode);

// A DVR name becomes a file name: one holding '/', "..", NUL or control
// characters (or nothing) could write outside the database directory.
bool IsUsableDvrName(const QString& name);
// Empty for a name that is not usable.
QString DatabaseFilePath(const QString& directory, const QString& dvrName);

// The records of `batch` that are not stored yet, in batch order: a record
// (key and packed time) already among `recent`, or earlier in the batch, is
// left out. `recent` is every stored record as late as the batch's oldest.
std::vector<EventRecord> NewRecords(const std::vector<EventRecord>& recent, const std::vector<EventRecord>& batch);

struct AppendResult {
    bool opened = false;
    int alreadyStored = 0;           // batch records that were not written again
    std::vector<EventRecord> fresh; // the records written, in batch order
    qint64 cutShortBytes = 0;       // a partial record found at the end and removed
    qint64 fileSize = 0;   // after the write
    QString error; // why nothing (or not everything) was written
    bool Stored() const { return opened && error.isEmpty(); }
    bool NeedsSizeWarning() const { return fileSize > kSizeWarningBytes; }
};
AppendResult AppendBatch(const QString& directory, const QString& dvrName, const std::vector<EventRecord>& batch);

// The newest stored record of a DVR; none when it has no file or an empty one.
std::optional<EventRecord> LastStoredRecord(const QString& directory, const QString& dvrName);
// All records of a file, oldest first (a cut-short last record is left out).
std::vector<EventRecord> ReadAll(const QString& path);

// "<directory>-MMDDYYYYhhmmss" of the local time `now`.
QString BackupDirectoryName(const QString& directory, const QDateTime& now);

struct BackupResult {
    bool ok = false;
    QString backupDirectory;
    int seeded = 0; // DVR files started with their last record
    QString error;
};
// Renames the database directory to its backup name, makes it anew and
// starts each DVR's file with that DVR's last record from the backup.
BackupResult BackupEventDb(const QString& directory, const QStringList& dvrNames,
                           const QDateTime& now = QDateTime::currentDateTime());

} // namespace eventdb
