#include "CRecordCatalog.h"

#include "control/record/MovieFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace vyrdax {

namespace {

struct DirEntry {
    std::string name;
    bool directory;
};

bool LessNoCase(const std::string& a, const std::string& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t k = 0; k < n; ++k) {
        const int ca = std::tolower(static_cast<unsigned char>(a[k]));
        const int cb = std::tolower(static_cast<unsigned char>(b[k]));
        if (ca != cb)
            return ca < cb;
    }
    return a.size() != b.size() ? a.size() < b.size() : a < b;
}

// The entries of a directory without "." and "..", sorted by name without
// regard to case, so that every search lists files in the same order.
std::vector<DirEntry> ListDirectory(const std::string& path)
{
    std::vector<DirEntry> entries;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir)
        return entries;
    while (const dirent* e = ::readdir(dir.get())) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        bool isDirectory = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            isDirectory = ::stat((path + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back(DirEntry{e->d_name, isDirectory});
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry& a, const DirEntry& b) { return LessNoCase(a.name, b.name); });
    return entries;
}

// The true time of a recording's start from the local time in its name. In
// the hour a clock repeats, both readings are valid: a file starts before
// it was last written and lasts far less than an hour, so the later reading
// that is not after its last write is the one.
std::time_t RecordingStartTime(const vyrmovie::RecordingName& n, std::time_t lastWrite)
{
    auto reading = [&n](int isdst, bool* valid) {
        std::tm t = vyrmovie::BrokenDownTime(n);
        t.tm_isdst = isdst;
        const std::time_t time = std::mktime(&t);
        // Only a reading that names the same local time is one.
        *valid = time != -1 && t.tm_hour == n.hour && t.tm_min == n.minute && t.tm_isdst == isdst;
        return time;
    };
    bool standardValid, summerValid, unused;
    const std::time_t standard = reading(0, &standardValid), summer = reading(1, &summerValid);
    if (standardValid && summerValid) {
        const std::time_t early = std::min(standard, summer), late = std::max(standard, summer);
        return late <= lastWrite ? late : early;
    }
    if (standardValid || summerValid)
        return standardValid ? standard : summer;
    return reading(-1, &unused); // a time the clock skipped
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

int Digit(char c) { return c >= '0' && c <= '9' ? c - '0' : -1; }

} // namespace

// A recording lies in the day directory of the date its name tells; one
// that earlier versions named in the last moment of a day may lie in the
// next day's. A pattern that fixes the date in the name ("*.YYYYMM*..." or
// "*.YYYYMMDD.*...") therefore needs only a few day directories; other
// directories are always walked.
struct CRecordCatalog::DateWindow {
    bool active = false;
    long first = 0, last = -1; // day numbers of the directories, inclusive

    static DateWindow FromPattern(const std::string& pattern)
    {
        DateWindow w;
        if (pattern.size() < 9 || pattern[0] != '*' || pattern[1] != '.')
            return w;
        int v[8];
        int count = 0;
        while (count < 8 && 2 + count < static_cast<int>(pattern.size()) && Digit(pattern[2 + count]) >= 0) {
            v[count] = Digit(pattern[2 + count]);
            ++count;
        }
        const char after = 2 + count < static_cast<int>(pattern.size()) ? pattern[2 + count] : '\0';
        const bool month = count == 6 && after == '*';
        const bool day = count == 8 && after == '.';
        if (!month && !day)
            return w;
        w.active = true;
        const int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
        const int m = v[4] * 10 + v[5];
        if (m < 1 || m > 12)
            return w; // no recording is named with such a month: an empty window
        if (month) {
            w.first = DaysFromCivil(y, m, 1);
            w.last = DaysFromCivil(y, m, vyrmovie::DaysInMonth(y, m)) + 1;
        } else {
            const int d = v[6] * 10 + v[7];
            if (d < 1 || d > vyrmovie::DaysInMonth(y, m))
                return w;
            w.first = DaysFromCivil(y, m, d);
            w.last = w.first + 1;
        }
        return w;
    }

    // Whether a name's date is one the pattern names: the window's days
    // without the last, which is only a directory to look into.
    bool HoldsDate(int y, int m, int d) const
    {
        if (!active)
            return true;
        const long n = DaysFromCivil(y, m, d);
        return n >= first && n < last;
    }

    bool Allows(const std::string& directoryName) const
    {
        int y, m, d;
        if (!active || !vyrmovie::ParseDayDirectoryName(directoryName, &y, &m, &d))
            return true;
        const long n = DaysFromCivil(y, m, d);
        return n >= first && n <= last;
    }
};

void ResetScanEntry(ScanEntry& entry)
{
    const std::time_t now = std::time(nullptr);
    entry = ScanEntry{};
    entry.directory.clear();
    entry.pattern = "*.*";
    entry.writeFrom = entry.writeTo = entry.createFrom = entry.createTo = entry.accessFrom = entry.accessTo = now;
}

bool MatchWildcard(const std::string& pattern, const std::string& name)
{
    if (pattern == "*.*" || pattern == "*")
        return true;
    // Greedy matching with one backtrack point for the last star.
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || std::tolower(static_cast<unsigned char>(pattern[p])) ==
                                      std::tolower(static_cast<unsigned char>(name[n])))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

CRecordCatalog::CRecordCatalog()
    : slotFiles_(static_cast<std::size_t>(kChannels * kSlots)), channelFiles_(static_cast<std::size_t>(kChannels))
{
}

CRecordCatalog::~CRecordCatalog() = default;

uint32_t CRecordCatalog::MonthEntry(int day) const
{
    if (day < 0 || day > 31)
        return 0;
    return vyrmovie::ReadLE32(monthTable_.data() + day * 4);
}

void CRecordCatalog::ClearLists()
{
    for (auto& list : slotFiles_)
        list.clear();
    for (auto& list : channelFiles_)
        list.clear();
    startTimes_.clear();
}

std::time_t CRecordCatalog::StartTime(const std::string& path) const
{
    const auto found = startTimes_.find(path);
    return found == startTimes_.end() ? 0 : found->second;
}

int CRecordCatalog::ParseFileName(const std::string& name)
{
    vyrmovie::RecordingName parsed;
    if (!vyrmovie::ParseRecordingName(vyrmovie::BaseName(name), &parsed))
        return -1;
    return parsed.hour * 2 + (parsed.minute >= 30 ? 1 : 0);
}

const uint8_t* CRecordCatalog::GetMonthDataL(const std::string& recordDirectory, const std::string& searchOption)
{
    ScanEntry entry;
    ResetScanEntry(entry);
    entry.directory = recordDirectory;
    entry.pattern = searchOption;
    entry.recurse = true;
    ResetList();
    for (int d = 1; d <= 31; ++d)
        vyrmovie::WriteLE32(monthTable_.data() + d * 4, 0);
    ScanMonths(entry);
    return monthTable_.data();
}

const uint8_t* CRecordCatalog::GetTimeDataL(const std::string& recordDirectory, const std::string& searchOption)
{
    ScanEntry entry;
    ResetScanEntry(entry);
    entry.directory = recordDirectory;
    entry.pattern = searchOption;
    entry.recurse = true;
    ResetList();
    ClearLists(); // a search lists only what it found
    std::fill(timeList_.begin() + 4, timeList_.end(), 0);
    ScanTimes(entry);
    return timeList_.data();
}

void CRecordCatalog::FindRecordingFile(const std::string& recordDirectory, int year, int month, int day)
{
    char pattern[48];
    std::snprintf(pattern, sizeof pattern, "*.%d%02d%02d.*.mp4", year, month, day);
    ScanEntry entry;
    ResetScanEntry(entry);
    entry.directory = recordDirectory;
    entry.pattern = pattern;
    entry.recurse = true;
    ResetList();
    ClearLists();
    std::fill(timeList_.begin() + 4, timeList_.end(), 0);
    ScanTimes(entry);
}

int CRecordCatalog::ScanMonths(const ScanEntry& entry)
{
    cancel = false;
    return ScanMonthsIn(entry, DateWindow::FromPattern(entry.pattern)) ? 1 : 0;
}

bool CRecordCatalog::ScanMonthsIn(const ScanEntry& entry, const DateWindow& window)
{
    const std::vector<DirEntry> entries = ListDirectory(entry.directory);
    bool found = false;
    for (const DirEntry& e : entries) {
        if (cancel.load())
            break;
        if (e.directory) {
            if (!entry.recurse || !window.Allows(e.name))
                continue;
            ScanEntry sub;
            ResetScanEntry(sub);
            sub.directory = entry.directory + "/" + e.name;
            sub.pattern = entry.pattern;
            sub.recurse = true;
            ScanMonthsIn(sub, window);
        } else if (MatchWildcard(entry.pattern, e.name)) {
            found = true;
            // The day the name tells, as the day lists file it: a name made
            // in the last moment of a day may lie in the next day's directory.
            vyrmovie::RecordingName n;
            if (vyrmovie::ParseRecordingName(e.name, &n) && window.HoldsDate(n.year, n.month, n.day))
                vyrmovie::WriteLE32(monthTable_.data() + n.day * 4, 1);
        }
    }
    return found;
}

int CRecordCatalog::ScanTimes(const ScanEntry& entry)
{
    cancel = false;
    ScanTimesIn(entry, DateWindow::FromPattern(entry.pattern));
    return static_cast<int>(namesFound_.size());
}

void CRecordCatalog::ScanTimesIn(const ScanEntry& entry, const DateWindow& window)
{
    const std::vector<DirEntry> entries = ListDirectory(entry.directory);
    if (entry.recurse) {
        for (const DirEntry& e : entries) {
            if (cancel.load())
                return;
            if (!e.directory || !window.Allows(e.name))
                continue;
            ScanEntry sub = entry;
            sub.directory = entry.directory + "/" + e.name;
            ScanTimesIn(sub, window);
        }
    }
    for (const DirEntry& e : entries) {
        if (cancel.load())
            return;
        if (e.directory || !MatchWildcard(entry.pattern, e.name))
            continue;
        const std::string path = entry.directory + "/" + e.name;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !PassesFilters(entry, path, st))
            continue;
        lastFileTime = st.st_mtime;
        lastFileLength = static_cast<uint64_t>(st.st_size);
        AddFile(e.name, path, st.st_mtime);
    }
}

bool CRecordCatalog::PassesFilters(const ScanEntry& entry, const std::string& path, const struct stat& st)
{
    const unsigned f = entry.filters;
    auto within = [](std::time_t t, std::time_t from, std::time_t to) { return t >= from && t <= to; };
    if ((f & FILTER_LENGTH) &&
        (static_cast<uint64_t>(st.st_size) < entry.minLength || static_cast<uint64_t>(st.st_size) > entry.maxLength))
        return false;
    if ((f & FILTER_WRITE_TIME) && !within(st.st_mtime, entry.writeFrom, entry.writeTo))
        return false;
    if (f & FILTER_CREATE_TIME) {
        struct statx sx {};
        std::time_t born = st.st_ctime; // where the file system keeps no birth time
        if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME))
            born = static_cast<std::time_t>(sx.stx_btime.tv_sec);
        if (!within(born, entry.createFrom, entry.createTo))
            return false;
    }
    if ((f & FILTER_ACCESS_TIME) && !within(st.st_atime, entry.accessFrom, entry.accessTo))
        return false;
    if ((f & FILTER_TEXT) && !FileContainsText(path, entry.text))
        return false;
    return true;
}

void CRecordCatalog::AddFile(const std::string& name, const std::string& path, std::time_t lastWrite)
{
    vyrmovie::RecordingName parsed;
    if (!vyrmovie::ParseRecordingName(name, &parsed))
        return; // not a recording's name: its slots and channel are unknown
    namesFound_.push_back(name);
    const int startSlot = parsed.hour * 2 + (parsed.minute >= 30 ? 1 : 0);
    std::tm written{};
    localtime_r(&lastWrite, &written);
    int endSlot = written.tm_hour * 2 + (written.tm_min > 29 ? 1 : 0);
    // A day's last file is closed at midnight, so it was last written on
    // the next day: it still covers its slots up to the end of its own day.
    const long startDay = DaysFromCivil(parsed.year, parsed.month, parsed.day);
    const long writtenDay = DaysFromCivil(written.tm_year + 1900, written.tm_mon + 1, written.tm_mday);
    if (writtenDay > startDay)
        endSlot = kSlots - 1;
    else if (writtenDay < startDay)
        endSlot = -1;
    else if (endSlot < startSlot)
        endSlot = startSlot; // closed after the clock went back an hour
    uint8_t code = KIND_NONE;
    switch (parsed.typeLetter) {
    case 'M': code = KIND_MOTION; break;
    case 'R': code = KIND_SCHEDULE; break;
    case 'F': code = KIND_MANUAL; break;
    default: break;
    }
    const int ch = parsed.channel;
    const std::time_t start = RecordingStartTime(parsed, lastWrite);
    startTimes_[path] = start;
    // In start order; files of one start keep the order they were found in.
    auto insert = [&](std::vector<std::string>& list) {
        const auto at = std::upper_bound(list.begin(), list.end(), start, [this](std::time_t t, const std::string& p) {
            return t < startTimes_[p];
        });
        list.insert(at, path);
    };
    for (int slot = startSlot; slot <= endSlot; ++slot) {
        uint8_t& byte = timeList_[4 + static_cast<std::size_t>(ch * kSlots + slot)];
        if (byte < code)
            byte = code;
        insert(slotFiles_[static_cast<std::size_t>(ch * kSlots + slot)]);
    }
    insert(channelFiles_[static_cast<std::size_t>(ch)]);
}

bool CRecordCatalog::FileContainsText(const std::string& path, const std::string& text)
{
    if (text.empty())
        return false;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file)
        return false;
    std::string wanted(text);
    for (char& c : wanted)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::size_t keep = wanted.size();
    const std::size_t chunk = std::max<std::size_t>(2 * keep, 128) - keep;
    // The window keeps the last `keep` bytes of the previous chunk in front,
    // so a match across a chunk border is found.
    std::string window;
    int chunks = 0;
    std::vector<char> buffer(chunk);
    while (true) {
        const std::size_t n = std::fread(buffer.data(), 1, chunk, file.get());
        if (n == 0)
            return false;
        for (std::size_t k = 0; k < n; ++k)
            window.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(buffer[k]))));
        if (window.find(wanted) != std::string::npos)
            return true;
        if (window.size() > keep)
            window.erase(0, window.size() - keep);
        if (++chunks % 10 == 0 && progress)
            progress(3, progressArgument);
        if (cancel.load())
            return false;
    }
}

} // namespace vyrdax
