// What the simulated DVR answers besides video: its event log, the month
// table and day time lists of its recordings, and its setup record.
#pragma once

#include "Wire.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

namespace dvrsim {

using EventRecord = std::array<std::uint8_t, kEventRecordSize>;
static_assert(sizeof(EventRecord) == 24, "event record is 24 bytes");

// Record k (from 0) of n: key k + 1, time `newest` - (n - k) minutes, the
// classes 31..36 in turn with plausible sub-kinds, one channel bit each.
std::vector<EventRecord> generateEvents(int count, int channels, std::time_t newest);
bool loadEvents(const std::string& path, std::vector<EventRecord>& events, std::string& error);
// Records at or after a packed time; all of them for 0.
std::vector<EventRecord> eventsSince(const std::vector<EventRecord>& events, std::uint32_t packedTime);

// Recordings exist on `days` calendar days ending with the day of `today`.
class RecordingCalendar {
public:
    RecordingCalendar(int days, int channels, std::time_t today);
    // 32 words; word d (1..31) is 1 for a day with recordings; word 0 holds
    // the packed time that was asked for.
    std::vector<std::uint8_t> monthTable(std::uint32_t packedTime) const;
    // A word (the packed time asked for), then 64 rows of 48 half-hour codes:
    // 19 network .. 23 manual, 0 none; only served channels have rows.
    std::vector<std::uint8_t> dayTimeList(std::uint32_t packedTime) const;
    bool hasRecordings(int year, int month, int day) const;

private:
    int channels_;
    std::vector<int> dayNumbers_;  // dates as year * 10000 + month * 100 + day
};

// Code of channel c in slot s on a day with recordings.
std::uint8_t recordingCode(int channel, int slot);

// The DVR's setup record, shared by all connections: the last upload wins.
class SetupStore {
public:
    explicit SetupStore(std::size_t size);
    bool loadFile(const std::string& path, std::string& error);
    std::vector<std::uint8_t> get() const;
    void put(std::vector<std::uint8_t> record);
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    mutable std::mutex lock_;
    std::vector<std::uint8_t> record_;
};

std::size_t setupRecordSizeFor(int dvrType);
std::uint32_t crc32Of(const std::uint8_t* data, std::size_t length);

}  // namespace dvrsim
