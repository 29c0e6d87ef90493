#include "CBackupRuns.h"

#include "CBackupMaker.h"
#include "control/CVyrdaxCtrl.h"
#include "platform/MessageBox.h"

#include <xvid.h>

#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vyrdax {

namespace {

constexpr const char* kPlayerProgram = "ZoPlayer";
constexpr const char* kFailToCopy = "Fail To Copy %s %s";
constexpr const char* kFailToCopyRemove = "Fail To Copy  %s %s";
// Backup progress: wParam 1 with the estimate, then 0 with 0 on success or
// -1 (no display index) when the copy failed or was stopped.
constexpr platform::WPARAM kProgressEstimate = 1;
constexpr platform::WPARAM kProgressEnd = 0;
constexpr platform::LPARAM kBackupFailed = -1;

std::string Format(const char* format, const std::string& a, const std::string& b)
{
    char text[2048];
    std::snprintf(text, sizeof text, format, a.c_str(), b.c_str());
    return text;
}

} // namespace

CBackupRuns::CBackupRuns(CVyrdaxCtrl& control) : control_(control) {}

CBackupRuns::~CBackupRuns() { JoinAll(); }

void CBackupRuns::JoinAll()
{
    std::list<std::unique_ptr<platform::WorkerThread>> runs;
    {
        std::lock_guard<std::mutex> lock(lock_);
        runs.swap(runs_);
    }
    for (auto& run : runs)
        run->StopAndJoin();
}

std::string CBackupRuns::LastFolder() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return lastFolder_;
}

std::string CBackupRuns::DecoderLibraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&xvid_decore), &info) == 0 || !info.dli_fname)
        return {};
    // The name it was loaded by is the one a program linked against it asks for.
    return info.dli_fname;
}

bool CBackupRuns::CopyFileOver(const std::string& source, const std::string& destination)
{
    namespace fs = std::filesystem;
    std::error_code error;
    if (fs::copy_file(source, destination, fs::copy_options::overwrite_existing, error))
        return true;
    if (!fs::exists(source))
        return true; // nothing to carry along
    std::error_code removeError;
    fs::remove(destination, removeError);
    if (removeError) {
        platform::MessageBox(nullptr, Format(kFailToCopyRemove, destination, source));
        return false;
    }
    if (!fs::copy_file(source, destination, fs::copy_options::overwrite_existing, error)) {
        platform::MessageBox(nullptr, Format(kFailToCopy, destination, source));
        return false;
    }
    return true;
}

int32_t CBackupRuns::BackUp(const std::string& recordDirectory, const std::string& backupDirectory,
                            std::time_t start, std::time_t end, int32_t diskSize)
{
    const int64_t mib = EstimateMiB(CBackupMaker(recordDirectory, start, end).EstimateKiB());
    control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEstimate, static_cast<platform::LPARAM>(mib));
    if (mib == 0 || mib > diskSize)
        return 0;

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    const std::string folder = vyrmovie::BackupFolder(backupDirectory, local);
    // A folder that exists already belongs to another backup of this second:
    // two copies into one folder would truncate each other's files.
    if (::mkdir(folder.c_str(), 0777) != 0) {
        control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEnd, kBackupFailed);
        return 0;
    }
    // The player and the decoder library go first: a folder without them
    // does not play by itself, so when they do not fit (the copy routine
    // has said so) nothing of the backup is left behind.
    if (!CopyPlayerAndDecoder(folder)) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEnd, kBackupFailed);
        return 0;
    }

    auto run = std::make_unique<platform::WorkerThread>();
    platform::WorkerThread* thread = run.get();
    {
        std::lock_guard<std::mutex> lock(lock_);
        // Finished runs are joined here, so the list does not grow.
        runs_.remove_if([](const std::unique_ptr<platform::WorkerThread>& r) {
            if (r->Running())
                return false;
            r->StopAndJoin();
            return true;
        });
        runs_.push_back(std::move(run));
        lastFolder_ = folder;
    }
    thread->Start([this, recordDirectory, folder, start, end](platform::WorkerThread& self) {
        CBackupMaker maker(recordDirectory, start, end);
        const bool ok = maker.Run(folder, self.StopFlag());
        control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEnd, ok ? 0 : kBackupFailed, &self.StopFlag());
    });

    return 1;
}

bool CBackupRuns::CopyPlayerAndDecoder(const std::string& folder)
{
    const std::string player = folder + "/" + kPlayerProgram;
    if (!CopyFileOver(kPlayerProgram, player)) {
        std::error_code ignored;
        std::filesystem::remove(player, ignored); // a part copy is no program
        return false;
    }
    const std::string decoder = DecoderLibraryPath();
    if (decoder.empty())
        return true;
    const std::string library = folder + "/" + std::filesystem::path(decoder).filename().string();
    if (!CopyFileOver(decoder, library)) {
        std::error_code ignored;
        std::filesystem::remove(library, ignored);
        std::filesystem::remove(player, ignored);
        return false;
    }
    return true;
}

} // namespace vyrdax
