#pragma once
// A key-frame index file held in memory, looked up by record number and by
// time.
#include "MovieFormat.h"

#include <string>
#include <vector>

namespace vyrmovie {

class CMovieIndex {
public:
    CMovieIndex() = default;
    virtual ~CMovieIndex() = default;

    // Reads whole 12-byte records, at most kMaxIndexRecords; a trailing
    // partial record is not a record. False when the file cannot be opened
    // (the index is then empty).
    bool Load(const std::string& path);

    int Count() const { return count_; }
    uint32_t LastOffset() const { return lastOffset_; }

    // The offset of record i; 0 below 0 or above the count. Record `count`
    // is the last record again.
    uint32_t GetOffset(int i) const;
    // Record i with i clamped to 0..count.
    IndexRecord GetRecord(int i) const;
    // i or a neighbour of the same second whose microseconds lie nearer.
    int FindNearest(int i, int32_t second, uint32_t microseconds) const;
    // The first record from `first` (-1: 0) to `last` (-1: the count) that
    // holds exactly that time or a later second; `last` when none does.
    int FindTime(int first, int last, int32_t second, uint32_t microseconds) const;

private:
    // count + 1 slots: the one past the last repeats the last record.
    std::vector<IndexRecord> table_{IndexRecord{}};
    int count_ = 0;
    uint32_t lastOffset_ = 0;
};

} // namespace vyrmovie
