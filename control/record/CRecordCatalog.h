#pragma once
// The recordings on the PC, as their directory and file names tell them:
// which days of a month have recordings, which half-hours of a day per
// channel and of which kind, and the files that cover each half-hour.
// Movie files are never opened.
#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include <sys/stat.h>

namespace vyrdax {

enum ScanFilter : unsigned {
    FILTER_LENGTH = 0x1,
    FILTER_WRITE_TIME = 0x2,
    FILTER_CREATE_TIME = 0x4,
    FILTER_ACCESS_TIME = 0x8,
    FILTER_TEXT = 0x20,
};

struct ScanEntry {
    std::string directory;
    std::string pattern = "*.*";
    std::string text;
    bool recurse = false;
    unsigned filters = 0;
    uint64_t minLength = 0, maxLength = 0;
    std::time_t writeFrom = 0, writeTo = 0;
    std::time_t createFrom = 0, createTo = 0;
    std::time_t accessFrom = 0, accessTo = 0;
};
void ResetScanEntry(ScanEntry& entry);

// Wildcards * and ?, without regard to case. "*.*" matches every name.
bool MatchWildcard(const std::string& pattern, const std::string& name);

// Record-kind codes of the day time list.
enum RecordKindCode : uint8_t { KIND_NONE = 0, KIND_MOTION = 21, KIND_SCHEDULE = 22, KIND_MANUAL = 23 };

class CRecordCatalog {
public:
    static constexpr int kChannels = 64;
    static constexpr int kSlots = 48;
    static constexpr std::size_t kMonthTableBytes = 32 * 4;
    static constexpr std::size_t kTimeListBytes = 4 + kChannels * kSlots;

    CRecordCatalog();
    virtual ~CRecordCatalog();
    CRecordCatalog(const CRecordCatalog&) = delete;
    CRecordCatalog& operator=(const CRecordCatalog&) = delete;

    // The host's searches: a pointer to the 128-byte month table, and to
    // the 3076 bytes of the time-list word and the time list.
    const uint8_t* GetMonthDataL(const std::string& recordDirectory, const std::string& searchOption);
    const uint8_t* GetTimeDataL(const std::string& recordDirectory, const std::string& searchOption);
    // Fills the lists for one day of playback; the month may be 0 or 13
    // (the neighbours of January and December), which find nothing.
    void FindRecordingFile(const std::string& recordDirectory, int year, int month, int day);

    int ScanMonths(const ScanEntry& entry);
    int ScanTimes(const ScanEntry& entry);
    // The half-hour slot a recording's name starts in; -1 for a name that
    // does not follow the recording format.
    static int ParseFileName(const std::string& name);
    bool FileContainsText(const std::string& path, const std::string& text);
    void ResetList() { namesFound_.clear(); }
    void ClearLists();

    uint32_t MonthEntry(int day) const;
    uint8_t TimeCode(int channel, int slot) const { return timeList_[4 + channel * kSlots + slot]; }
    const uint8_t* MonthTable() const { return monthTable_.data(); }
    const uint8_t* TimeList() const { return timeList_.data(); }
    const std::vector<std::string>& NamesFound() const { return namesFound_; }
    const std::vector<std::string>& SlotFiles(int channel, int slot) const
    {
        return slotFiles_[static_cast<std::size_t>(channel * kSlots + slot)];
    }
    const std::vector<std::string>& ChannelFiles(int channel) const
    {
        return channelFiles_[static_cast<std::size_t>(channel)];
    }
    // When a listed file began, as a true time: its name's local time, read
    // with the daylight-saving side its last write allows. The lists above
    // are in this order, so the two hours a clock repeats follow each other.
    std::time_t StartTime(const std::string& path) const;

    // The playback engine's position per channel.
    std::array<int, kChannels> currentSlot{};
    std::array<int, kChannels> currentFile{};

    std::atomic<bool> cancel{false};
    std::function<void(int code, void* argument)> progress;
    void* progressArgument = nullptr;
    std::time_t lastFileTime = 0;
    uint64_t lastFileLength = 0;

    // Which day directories a pattern's files can lie in.
    struct DateWindow;

private:
    bool ScanMonthsIn(const ScanEntry& entry, const DateWindow& window);
    void ScanTimesIn(const ScanEntry& entry, const DateWindow& window);
    bool PassesFilters(const ScanEntry& entry, const std::string& path, const struct stat& st);
    void AddFile(const std::string& name, const std::string& path, std::time_t lastWrite);

    std::array<uint8_t, kMonthTableBytes> monthTable_{};
    std::array<uint8_t, kTimeListBytes> timeList_{};
    std::vector<std::string> namesFound_;
    std::vector<std::vector<std::string>> slotFiles_;
    std::vector<std::vector<std::string>> channelFiles_;
    std::unordered_map<std::string, std::time_t> startTimes_;
};

} // namespace vyrdax
