#include "CMovieIndex.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace vyrmovie {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

} // namespace

bool CMovieIndex::Load(const std::string& path)
{
    table_.assign(1, IndexRecord{});
    count_ = 0;
    lastOffset_ = 0;
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return false;
    // The table is sized from the file, never at its maximum.
    struct stat st {};
    std::size_t expected = 0;
    if (::fstat(fileno(file.get()), &st) == 0 && st.st_size > 0)
        expected = static_cast<std::size_t>(st.st_size) / kIndexRecordSize;
    if (expected > kMaxIndexRecords)
        expected = kMaxIndexRecords;
    table_.clear();
    table_.reserve(expected + 1);
    uint8_t buffer[kIndexRecordSize];
    while (table_.size() < kMaxIndexRecords &&
           std::fread(buffer, 1, kIndexRecordSize, file.get()) == kIndexRecordSize)
        table_.push_back(IndexRecord::Decode(buffer));
    count_ = static_cast<int>(table_.size());
    table_.push_back(count_ > 0 ? table_.back() : IndexRecord{});
    lastOffset_ = table_.back().offset;
    return true;
}

uint32_t CMovieIndex::GetOffset(int i) const
{
    if (i < 0 || i > count_)
        return 0;
    return table_[static_cast<std::size_t>(i)].offset;
}

IndexRecord CMovieIndex::GetRecord(int i) const
{
    if (i < 0)
        i = 0;
    if (i > count_)
        i = count_;
    return table_[static_cast<std::size_t>(i)];
}

int CMovieIndex::FindNearest(int i, int32_t second, uint32_t microseconds) const
{
    const IndexRecord r = GetRecord(i);
    if (r.microseconds == microseconds)
        return i;
    if (r.microseconds < microseconds) {
        if (i + 1 > count_)
            return i;
        const IndexRecord next = GetRecord(i + 1);
        if (next.seconds != second)
            return i;
        if (next.microseconds == microseconds)
            return i + 1;
        // Equal distance keeps i.
        return microseconds - r.microseconds > static_cast<uint32_t>(next.microseconds - microseconds) ? i + 1 : i;
    }
    if (i - 1 < 0)
        return i;
    const IndexRecord previous = GetRecord(i - 1);
    if (previous.seconds != second)
        return i;
    if (previous.microseconds == microseconds)
        return i - 1;
    return r.microseconds - microseconds <= static_cast<uint32_t>(microseconds - previous.microseconds) ? i : i - 1;
}

int CMovieIndex::FindTime(int first, int last, int32_t second, uint32_t microseconds) const
{
    if (first == -1)
        first = 0;
    if (last == -1)
        last = count_;
    if (first < 0)
        first = 0;
    if (last > count_)
        last = count_;
    if (first >= last)
        return last;
    // The first key frame at or after the time: one later within the same
    // second counts too, so channels started at one time begin together.
    for (int i = first; i < last; ++i) {
        const IndexRecord& r = table_[static_cast<std::size_t>(i)];
        if ((r.seconds == second && r.microseconds >= microseconds) ||
            static_cast<uint32_t>(r.seconds) > static_cast<uint32_t>(second))
            return i;
    }
    return last;
}

} // namespace vyrmovie
