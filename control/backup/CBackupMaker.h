#pragma once
// Copies the recordings of a time range into a backup folder: one movie
// file and one key-frame index file per channel, with a checksummed file
// header. No Qt; one worker per estimate and per backup run.
#include "control/record/CMovieIndex.h"
#include "control/record/CRecordCatalog.h"
#include "control/record/MovieFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace vyrdax {

class CBackupMaker {
public:
    static constexpr int kChannels = 64;
    // Index records hold 32-bit offsets: a backup movie file stays within
    // what they address.
    static constexpr uint64_t kLargestFile = 0xFFFFFFFFu;

    // `largestFile` below kLargestFile lets tests reach the limit with
    // small files.
    CBackupMaker(std::string recordDirectory, std::time_t start, std::time_t end,
                 uint64_t largestFile = kLargestFile);

    // The size of the range in KiB, from the key-frame indexes of its days.
    int64_t EstimateKiB();

    // Copies the range into `folder`. False when a file could not be
    // written (a full disk), a channel's frames did not all fit in one
    // backup file (it then ends at the last whole frame that fits, its
    // index consistent) or the stop flag was raised.
    bool Run(const std::string& folder, const std::atomic<bool>& stop);

    // Days of the range by calendar date, start's date to end's inclusive.
    void ForEachDay(const std::function<void(int year, int month, int day)>& visit) const;

private:
    enum class CopyResult { Done, Failed };
    CopyResult CopyFrames(const std::string& moviePath, int channel, const std::string& folder,
                          const std::atomic<bool>& stop);
    int64_t EstimateIndex(const std::string& indexPath);

    std::string recordDirectory_;
    std::time_t start_;
    std::time_t end_;
    CRecordCatalog catalog_;
    vyrmovie::CMovieIndex index_;
    uint64_t largestFile_;
    std::array<uint64_t, kChannels> writePosition_{};
    std::array<bool, kChannels> full_{};
};

// Gives a closed file its birth time as its modification time, where the
// file system keeps one: a backup written over seconds still reads as made
// at once.
void StampBirthTime(const std::string& path);

} // namespace vyrdax
