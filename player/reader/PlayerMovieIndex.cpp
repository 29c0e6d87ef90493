#include "PlayerMovieIndex.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zoplayer {

namespace {

int32_t Micro(const IndexRecord& r) { return static_cast<int32_t>(r.microseconds); }

} // namespace

std::FILE* OpenRegularFile(const std::string& path)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(fd, "rb");
    if (!file)
        ::close(fd);
    return file;
}

bool CMovieIndex::LoadMovieIndex(const std::string& path)
{
    table_.assign(1, IndexRecord{});
    count_ = 0;
    lastOffset_ = 0;
    std::FILE* file = OpenRegularFile(path);
    if (!file)
        return false;
    struct stat st {};
    if (::fstat(fileno(file), &st) == 0 && st.st_size > 0) {
        const uint64_t records = (static_cast<uint64_t>(st.st_size) + vyrmovie::kIndexRecordSize - 1) /
                                 vyrmovie::kIndexRecordSize;
        table_.reserve(static_cast<std::size_t>(std::min<uint64_t>(records, vyrmovie::kMaxIndexRecords)) + 1);
    }
    uint8_t bytes[vyrmovie::kIndexRecordSize];
    table_.clear();
    while (count_ < static_cast<int>(vyrmovie::kMaxIndexRecords)) {
        std::fill(std::begin(bytes), std::end(bytes), 0);
        const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
        if (got == 0)
            break;
        table_.push_back(IndexRecord::Decode(bytes));
        ++count_;
        if (got < sizeof bytes)
            break;
    }
    std::fclose(file);
    // The slot past the last record repeats it, as the table's last read left it.
    table_.push_back(count_ > 0 ? table_.back() : IndexRecord{});
    lastOffset_ = table_.back().offset;
    return true;
}

int64_t CMovieIndex::GetOffset(int i) const
{
    if (i < 0 || i > count_)
        return 0;
    return table_[static_cast<std::size_t>(i)].offset;
}

int64_t CMovieIndex::OffsetBefore(int64_t offset) const
{
    const auto end = table_.begin() + count_;
    const auto after = std::lower_bound(table_.begin(), end, offset,
                                        [](const IndexRecord& r, int64_t o) { return r.offset < o; });
    return after == table_.begin() ? 0 : std::prev(after)->offset;
}

int CMovieIndex::RecordAfter(int64_t offset) const
{
    const auto end = table_.begin() + count_;
    const auto after = std::upper_bound(table_.begin(), end, offset,
                                        [](int64_t o, const IndexRecord& r) { return o < r.offset; });
    return static_cast<int>(after - table_.begin());
}

IndexRecord CMovieIndex::GetRecord(int i) const
{
    return table_[static_cast<std::size_t>(std::clamp(i, 0, count_))];
}

int CMovieIndex::FindNearest(int i, int32_t seconds, int32_t microseconds) const
{
    const IndexRecord here = GetRecord(i);
    const int64_t distance = std::llabs(static_cast<int64_t>(Micro(here)) - microseconds);
    if (Micro(here) == microseconds)
        return i;
    if (Micro(here) < microseconds) {
        if (i + 1 < count_) {
            const IndexRecord next = GetRecord(i + 1);
            if (next.seconds == seconds &&
                (Micro(next) == microseconds || std::llabs(static_cast<int64_t>(Micro(next)) - microseconds) < distance))
                return i + 1;
        }
        return i;
    }
    if (i - 1 >= 0) {
        const IndexRecord previous = GetRecord(i - 1);
        if (previous.seconds == seconds &&
            (Micro(previous) == microseconds ||
             std::llabs(static_cast<int64_t>(Micro(previous)) - microseconds) < distance))
            return i - 1;
    }
    return i;
}

int CMovieIndex::FindTime(int first, int last, int32_t seconds, int32_t microseconds) const
{
    if (count_ == 0)
        return 0;
    if (first < 0)
        first = 0;
    if (last < 0)
        last = count_ - 1;
    first = std::min(first, count_ - 1);
    last = std::clamp(last, first, count_ - 1);
    // Each round narrows first..last strictly, so even an unsorted table ends.
    for (;;) {
        const IndexRecord a = GetRecord(first);
        const IndexRecord b = GetRecord(last);
        if (a.seconds == seconds && Micro(a) == microseconds)
            return first;
        if (b.seconds == seconds && Micro(b) == microseconds)
            return last;
        if (seconds == a.seconds)
            return FindNearest(first, seconds, microseconds);
        if (seconds < a.seconds)
            return first;
        if (seconds == b.seconds)
            return FindNearest(last, seconds, microseconds);
        if (seconds > b.seconds)
            return last;
        if (last - first <= 2)
            return last;
        // Times near the 32-bit limits would overflow the product in 32 bits.
        const int64_t span = static_cast<int64_t>(b.seconds) - a.seconds;
        const int64_t step = static_cast<int64_t>(last - first) * (static_cast<int64_t>(seconds) - a.seconds) / span;
        const int k = first + static_cast<int>(std::max<int64_t>(1, step));
        const IndexRecord middle = GetRecord(k);
        if (middle.seconds == seconds)
            return Micro(middle) == microseconds ? k : FindNearest(k, seconds, microseconds);
        if (middle.seconds < seconds)
            first = k;
        else
            last = k;
    }
}

} // namespace zoplayer
