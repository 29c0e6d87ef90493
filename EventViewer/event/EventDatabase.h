#pragma once
// The event database: one file of event records per DVR, "<directory>/<DVR
// name>.dat", appended to after a duplicate test, and its backup by renaming
// the whole directory.
#include "EventRecord.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace eventdb {

// Above this size after an append the operator is offered a backup.
inline constexpr qint64 kSizeWarningBytes = 30000000;
// How many stored records the duplicate test looks back over.
inline constexpr int kDuplicateScanRecords = 17;

inline constexpr const char* kSizeWarningText = "We recommand to backup your data base.\r\nDo you want to backup now?";
inline constexpr const char* kBackupCompleteText = "Backup Complete";

// A DVR name becomes a file name: one holding '/', "..", NUL or control
// characters (or nothing) could write outside the database directory.
bool IsUsableDvrName(const QString& name);
// Empty for a name that is not usable.
QString DatabaseFilePath(const QString& directory, const QString& dvrName);

// How many leading records of `batch` are already stored: the longest m (at
// most `tail`'s length and the batch's) for which the last m stored records
// equal the batch's first m. `tail` is the stored file's end, oldest first.
int CountAlreadyStored(const std::vector<EventRecord>& tail, const std::vector<EventRecord>& batch);

struct AppendResult {
    bool opened = false;
    int alreadyStored = 0; // leading batch records that were not written again
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
