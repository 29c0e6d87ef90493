#pragma once
// The control's backups: `BackUp` estimates a range, makes the folder, and
// runs the copy on a thread of its own that tells the host when it ends.
#include "platform/WorkerThread.h"

#include <cstdint>
#include <ctime>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyrdax {

class CVyrdaxCtrl;

class CBackupRuns {
public:
    explicit CBackupRuns(CVyrdaxCtrl& control);
    ~CBackupRuns(); // stops and joins every running backup
    CBackupRuns(const CBackupRuns&) = delete;
    CBackupRuns& operator=(const CBackupRuns&) = delete;

    // 1 when a backup was started, else 0. `diskSize` and the estimate are
    // both in MiB.
    int32_t BackUp(const std::string& recordDirectory, const std::string& backupDirectory, std::time_t start,
                   std::time_t end, int32_t diskSize);

    // An estimate in KiB as whole MiB, rounded up: a range holding less than
    // a MiB of recordings is still something to back up.
    static int64_t EstimateMiB(int64_t kib) { return (kib + 1023) >> 10; }

    // The folder of the last backup started.
    std::string LastFolder() const;
    // Waits until no backup runs (tests and benchmarks).
    void JoinAll();
    // The clock that names a backup's folder (tests; nullptr: the wall
    // clock): a loaded machine cannot be trusted to fit two whole backups
    // into one second of the wall clock.
    static void SetFolderClockForTests(std::time_t (*clock)());

    // Copies a file over any older one; a missing source counts as copied.
    static bool CopyFileOver(const std::string& source, const std::string& destination);
    // The decoder library this control was linked against.
    static std::string DecoderLibraryPath();
    // Where the program lies: the directory of the control library, then
    // that of the running program.
    static std::vector<std::string> ProgramDirectories();
    // `name` in the first program directory that holds it; else where the
    // first would hold it.
    static std::string ProgramFile(const std::string& name);

private:
    // Copies the player program and the decoder library into the folder;
    // false, with neither left there, when one could not be found or copied.
    static bool CopyPlayerAndDecoder(const std::string& folder);

    CVyrdaxCtrl& control_;
    mutable std::mutex lock_;
    // Each run owns its thread, parameters and stop flag.
    std::list<std::unique_ptr<platform::WorkerThread>> runs_;
    std::string lastFolder_;
};

} // namespace vyrdax
