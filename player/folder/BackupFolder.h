#pragma once
// Opening a backup folder: finding its movie and index files, judging each
// movie file authentic, copied or not authenticated, and opening one reader
// per channel. No Qt: the view shows what this finds.
#include "player/reader/PlayerMovieReader.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

namespace zoplayer {

inline constexpr int kMaxChannels = 64;

inline constexpr const char* kMovieFileMask = "ch*_00.mp4*";
inline constexpr const char* kIndexFileMask = "ch*_00.m4i*";

inline constexpr const char* kNoBackupFileText = "No Backup File Exist";
inline constexpr const char* kNoIndexFileText = "No Index File Exist";
inline constexpr const char* kNotAuthenticatedText = "This is not an Authenticated Image!";
inline constexpr const char* kCopiedText = "This is a COPIED Image!";
inline constexpr const char* kAuthenticText = "This is an Authenticated Image.";

enum Authenticity : int { kNotAuthenticated = 0, kCopied = 1, kAuthentic = 2 };

const char* AuthenticityText(int status);

// Names (without folder) in `folder` matching `mask` without regard to case,
// sorted by the channel number in the name, then by name: directory order
// is arbitrary and would decide slots.
std::vector<std::string> FindBackupFiles(const std::string& folder, const std::string& mask);

// The channel number of "CH0<n>_00...", or -1.
int ChannelNumberOf(const std::string& name);

// The split mode of a folder of `files` movie files: 9 for 8, else the count.
int SplitModeFor(int files);

// What the file's times say: copied when its birth time and last-write time
// differ in whole seconds; authentic when they agree or when the file system
// keeps no birth time (the checksum then decides alone).
int JudgeFileTimes(const std::string& path);

struct OpenedFolder {
    enum Outcome { kOpened, kNoBackupFile, kNoIndexFile };
    Outcome outcome = kOpened;
    std::string authenticityText;
    std::string machineId;   // empty when no header was read
    std::string savedTime;
    int folderStatus = kAuthentic;
    int splitMode = 0;
    int movieFiles = 0;
    // By channel slot; slots without a channel hold kNotAuthenticated.
    std::array<int, kMaxChannels> channelStatus{};
    std::vector<std::unique_ptr<CMovieFileReader>> readers; // one per channel slot
    std::vector<std::string> moviePaths;
};

// Finds and judges the files of `folder`, opening a reader for each of the
// first 64 movie files of more than 28 bytes. Movie and index files are
// paired by channel number.
OpenedFolder OpenBackupFolder(const std::string& folder);

} // namespace zoplayer
