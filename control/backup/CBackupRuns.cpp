#include "CBackupRuns.h"

#include "CBackupMaker.h"
#include "control/CVyrdaxCtrl.h"
#include "platform/Component.h"
#include "platform/MessageBox.h"

#include <xvid.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <unistd.h>

namespace vyrdax {

namespace {

constexpr const char* kPlayerProgram = "ZoPlayer";
// The decoder library's name where the loader cannot tell it.
constexpr const char* kDecoderLibrary = "libxvidcore.so.4";
constexpr const char* kFailToCopy = "Fail To Copy %s %s";
constexpr const char* kFailToCopyRemove = "Fail To Copy  %s %s";
// Backup progress: wParam 1 with the estimate, then 0 with 0 on success or
// -1 (no display index) when the copy failed or was stopped.
constexpr platform::WPARAM kProgressEstimate = 1;
constexpr platform::WPARAM kProgressEnd = 0;
constexpr platform::LPARAM kBackupFailed = -1;

std::atomic<std::time_t (*)()> folderClockForTests{nullptr};

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

void CBackupRuns::SetFolderClockForTests(std::time_t (*clock)())
{
    folderClockForTests = clock;
}

std::string CBackupRuns::LastFolder() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return lastFolder_;
}

std::vector<std::string> CBackupRuns::ProgramDirectories()
{
    std::vector<std::string> directories;
    // The control library's own directory first, then the running program's:
    // never the working directory, which a host may have set anywhere.
    for (const std::string& path : {platform::ModulePathOf(reinterpret_cast<const void*>(&ProgramFile)),
                                    platform::RunningProgramPath()}) {
        if (path.empty() || path[0] != '/')
            continue;
        const std::string directory = std::filesystem::path(path).parent_path().string();
        if (std::find(directories.begin(), directories.end(), directory) == directories.end())
            directories.push_back(directory);
    }
    return directories;
}

std::string CBackupRuns::ProgramFile(const std::string& name)
{
    const std::vector<std::string> directories = ProgramDirectories();
    for (const std::string& directory : directories) {
        std::error_code error;
        if (std::filesystem::is_regular_file(directory + "/" + name, error))
            return directory + "/" + name;
    }
    return directories.empty() ? name : directories.front() + "/" + name;
}

std::string CBackupRuns::DecoderLibraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&xvid_decore), &info) == 0 || !info.dli_fname || !*info.dli_fname)
        return ProgramFile(kDecoderLibrary);
    // The name it was loaded by is the one a program linked against it asks
    // for. A name the loader found relative to the working directory is
    // looked for in the program's directory instead.
    const std::string loaded = info.dli_fname;
    if (loaded[0] == '/')
        return loaded;
    return ProgramFile(std::filesystem::path(loaded).filename().string());
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

    std::time_t (*const clock)() = folderClockForTests.load();
    const std::time_t now = clock ? clock() : std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // A folder that exists already belongs to another backup of this second
    // (two presses in one second, or a backup that ended within a double
    // click): two copies into one folder would truncate each other's
    // files, so this one takes the next free second's.
    const std::string folder = vyrmovie::MakeBackupFolder(backupDirectory, local);
    if (folder.empty()) {
        control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEnd, kBackupFailed);
        return 0;
    }
    // The player and the decoder library go first: a folder without them
    // does not play by itself, so when they cannot be found or do not fit
    // (a box has said so) nothing of the backup is left behind.
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
        // A backup short of what it was asked for would still play, and its
        // files read as authentic: a part of the range taken for the whole.
        // It goes, as when the player could not be carried.
        if (!ok) {
            std::error_code ignored;
            std::filesystem::remove_all(folder, ignored);
        }
        control_.SendHostMessage(WM_VIDEO_PROGRESS, kProgressEnd, ok ? 0 : kBackupFailed, &self.StopFlag());
    });

    return 1;
}

bool CBackupRuns::CopyPlayerAndDecoder(const std::string& folder)
{
    const std::string sources[] = {ProgramFile(kPlayerProgram), DecoderLibraryPath()};
    std::vector<std::string> copied;
    auto giveUp = [&copied] {
        std::error_code ignored;
        for (const std::string& file : copied)
            std::filesystem::remove(file, ignored); // a part copy is no program
        return false;
    };
    for (const std::string& source : sources) {
        const std::string destination = folder + "/" + std::filesystem::path(source).filename().string();
        copied.push_back(destination);
        // A folder without them does not play by itself: one that cannot be
        // found is a failed copy here, not one to pass over.
        std::error_code error;
        if (!std::filesystem::is_regular_file(source, error)) {
            platform::MessageBox(nullptr, Format(kFailToCopy, destination, source));
            return giveUp();
        }
        if (!CopyFileOver(source, destination))
            return giveUp();
    }
    return true;
}

} // namespace vyrdax
