#pragma once
// The key-frame index of one movie file of a backup folder, as the player
// reads it: a trailing partial record still counts, and times are found by
// interpolation.
#include "control/record/MovieFormat.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zoplayer {

using vyrmovie::IndexRecord;

// Opens `path` for reading when it is a regular file, never blocking: a
// FIFO, device or folder in its place gives nullptr, as a missing file does.
std::FILE* OpenRegularFile(const std::string& path);

class CMovieIndex {
public:
    // Reads 12-byte records until the file ends; a last read of 1 to 11
    // bytes is a record too (its missing bytes are zero). At most
    // vyrmovie::kMaxIndexRecords records; the table is sized from the file.
    // False when the file cannot be opened (the index is then empty).
    bool LoadMovieIndex(const std::string& path);

    int Count() const { return count_; }
    // The offset of the last record read.
    int64_t LastOffset() const { return lastOffset_; }

    // The offset of record i; 0 below 0 or above the count. Record `count`
    // repeats the last record.
    int64_t GetOffset(int i) const;
    // Record i with i clamped to 0..count.
    IndexRecord GetRecord(int i) const;
    // The offset of the last record that lies before `offset` (the offsets
    // ascend), or 0 when none does.
    int64_t OffsetBefore(int64_t offset) const;
    // The number of the first record that lies after `offset`, or the count
    // when none does.
    int RecordAfter(int64_t offset) const;
    int FindNearest(int i, int32_t seconds, int32_t microseconds) const;
    // The record of a time between `first` (-1: 0) and `last` (-1: the last
    // record), by interpolation over the seconds; 0 for an empty index.
    int FindTime(int first, int last, int32_t seconds, int32_t microseconds) const;

private:
    std::vector<IndexRecord> table_{IndexRecord{}};
    int count_ = 0;
    int64_t lastOffset_ = 0;
};

} // namespace zoplayer
