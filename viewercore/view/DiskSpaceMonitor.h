#pragma once
// Watches the free space on the recording drive from a worker thread. It
// only measures: when the space falls below the group's threshold it posts a
// notice to the view, which stops the recordings on its own thread.
#include "platform/WorkerThread.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

class QObject;

namespace viewer {

class DiskSpaceMonitor {
public:
    // Bytes available to this user on the directory's file system; negative
    // when it cannot be measured.
    using FreeSpaceSource = std::function<int64_t(const QString& directory)>;

    static constexpr int kPassMilliseconds = 753;
    static constexpr int kPassesPerTest = 12;

    // `lowMessage` is posted to `receiver` after each test that finds too
    // little space.
    DiskSpaceMonitor(QObject* receiver, uint32_t lowMessage);
    ~DiskSpaceMonitor();
    DiskSpaceMonitor(const DiskSpaceMonitor&) = delete;
    DiskSpaceMonitor& operator=(const DiskSpaceMonitor&) = delete;

    // The view keeps these copies current, so the thread never reads a group
    // that may be replaced under it.
    void SetSettings(const QString& recordingDirectory, int diskSpaceSetting);
    void SetFreeSpaceSource(FreeSpaceSource source);

    // Tests at once, then every twelfth pass of 753 ms, until stopped.
    void Start();
    void Stop();
    bool Running() const { return thread_.Running(); }

    // Set until a test finds too little space, and again once one finds enough.
    bool SpaceSufficient() const { return sufficient_.load(); }
    // One test, as the thread makes it.
    void TestNow();

    // Megabytes (of 10^6 bytes) that must stay free for setting 0..5.
    static int ThresholdMegabytes(int diskSpaceSetting);
    static int64_t FreeBytesOf(const QString& directory);

private:
    QObject* receiver_;
    uint32_t lowMessage_;
    std::atomic<bool> sufficient_{true};
    mutable std::mutex lock_; // the copies below
    QString directory_;
    int setting_ = 0;
    FreeSpaceSource source_;
    platform::WorkerThread thread_;
};

} // namespace viewer
