#include "DiskSpaceMonitor.h"

#include "platform/Messages.h"

#include <QFile>

#include <algorithm>

#include <sys/statvfs.h>

namespace viewer {

DiskSpaceMonitor::DiskSpaceMonitor(QObject* receiver, uint32_t lowMessage)
    : receiver_(receiver), lowMessage_(lowMessage), source_(&DiskSpaceMonitor::FreeBytesOf)
{
}

DiskSpaceMonitor::~DiskSpaceMonitor() { Stop(); }

void DiskSpaceMonitor::SetSettings(const QString& recordingDirectory, int diskSpaceSetting)
{
    std::lock_guard<std::mutex> lock(lock_);
    directory_ = recordingDirectory;
    setting_ = diskSpaceSetting;
}

void DiskSpaceMonitor::SetFreeSpaceSource(FreeSpaceSource source)
{
    std::lock_guard<std::mutex> lock(lock_);
    source_ = source ? std::move(source) : FreeSpaceSource(&DiskSpaceMonitor::FreeBytesOf);
}

void DiskSpaceMonitor::Start()
{
    thread_.Start([this](platform::WorkerThread& self) {
        int countdown = 0;
        while (!self.StopRequested()) {
            if (countdown == 0) {
                TestNow();
                countdown = kPassesPerTest - 1;
            } else {
                --countdown;
            }
            if (!self.SleepFor(kPassMilliseconds))
                break;
        }
    });
}

void DiskSpaceMonitor::Stop() { thread_.StopAndJoin(); }

void DiskSpaceMonitor::TestNow()
{
    QString directory;
    int setting;
    FreeSpaceSource source;
    {
        std::lock_guard<std::mutex> lock(lock_);
        directory = directory_;
        setting = setting_;
        source = source_;
    }
    const int64_t bytes = source(directory);
    if (bytes < 0)
        return; // nothing measured, nothing decided
    if (bytes / 1000000 < ThresholdMegabytes(setting)) {
        sufficient_ = false;
        platform::PostMessage(receiver_, lowMessage_, 0, 0);
    } else {
        sufficient_ = true;
    }
}

int DiskSpaceMonitor::ThresholdMegabytes(int diskSpaceSetting)
{
    static constexpr int kThresholds[6] = {700, 1000, 2000, 3000, 4000, 5000};
    return kThresholds[std::clamp(diskSpaceSetting, 0, 5)];
}

int64_t DiskSpaceMonitor::FreeBytesOf(const QString& directory)
{
    struct statvfs info {};
    if (directory.isEmpty() || ::statvfs(QFile::encodeName(directory).constData(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

} // namespace viewer
