#pragma once
// What a search keeps of a DVR's event records: the enabled event types with
// their kinds, the channels, the address of a network connection and the
// local-time window.
#include "EventViewer/event/EventRecord.h"

#include <array>
#include <cstdint>

inline constexpr uint8_t kAnyKind = 255;
// Kinds the dialog's combos stand for.
inline constexpr uint8_t kKindNetwork = 19;
inline constexpr uint8_t kKindSchedule = 22;
inline constexpr uint8_t kKindManual = 23;
inline constexpr uint8_t kMenuFromNetwork = 1;
inline constexpr uint8_t kMenuAtDvr = 23;
inline constexpr uint8_t kUserAdmin = 15;
inline constexpr uint8_t kUserOther = 69;
inline constexpr uint8_t kActionRecordStart = 20;
inline constexpr uint8_t kActionRecordStop = 21;

struct SearchFilter {
    bool motion = false;
    bool sensor = false;
    bool recordStart = false;
    bool recordStop = false;
    bool videoLoss = false;
    bool menuChange = false;
    bool networkConnect = false;
    bool powerOn = false;
    bool powerOff = false;
    uint8_t recordStartKind = kAnyKind;
    uint8_t recordStopKind = kAnyKind;
    uint8_t menuKind = kAnyKind;
    uint8_t userKind = kAnyKind;
    uint32_t channelMask = 0;
    // The first byte -1: any address.
    std::array<int, 4> address{-1, 0, 0, 0};
    // The window's ends as wall-clock readings (WallClockSeconds), both
    // inclusive; a start of -1 means no window. A record is in it when its
    // DVR's clock reading is: an ambiguous autumn reading is in the window
    // once, whichever of its two instants it stood for.
    int64_t windowStart = -1;
    int64_t windowEnd = 0;
};

// Month 1..12, day 1..31, hour 0..23 and minute 0..59; the second is not
// looked at, and nothing else is.
inline bool HasSearchableTime(uint32_t packed)
{
    const uint32_t month = (packed >> 6) & 0xF, day = (packed >> 10) & 0x1F;
    const uint32_t hour = (packed >> 15) & 0x1F, minute = (packed >> 20) & 0x3F;
    return month >= 1 && month <= 12 && day >= 1 && hour <= 23 && minute <= 59;
}

// The event classes any enabled filter can take, as bits 1 << (class - 31):
// a record of another class is passed over before it is looked at further.
uint32_t SearchedClasses(const SearchFilter& filter);
inline bool IsSearchedClass(uint32_t searchedClasses, uint16_t eventClass)
{
    const unsigned bit = static_cast<unsigned>(eventClass) - kClassMenuChange;
    return bit < 32 && (searchedClasses >> bit) & 1;
}

// The window test of a scan: a record's clock reading (WallClockSeconds)
// against the window's ends. Records come day after day, so the day's part
// of the reading is worked out once per day met.
class ClockWindow {
public:
    ClockWindow(int64_t start, int64_t end) : start_(start), end_(end) {}
    bool Contains(uint32_t packed)
    {
        const uint32_t day = packed & 0x7FFFu; // year, month and day
        if (day != lastDay_) {
            lastDay_ = day;
            dayStart_ = WallClockSeconds(2000 + static_cast<int>(packed & 0x3F), static_cast<int>((packed >> 6) & 0xF),
                                         static_cast<int>((packed >> 10) & 0x1F), 0, 0, 0);
        }
        const int64_t seconds = dayStart_ + ((packed >> 15) & 0x1F) * 3600 + ((packed >> 20) & 0x3F) * 60 + (packed >> 26);
        return seconds >= start_ && seconds <= end_;
    }

private:
    int64_t start_;
    int64_t end_;
    uint32_t lastDay_ = 0xFFFFFFFFu;
    int64_t dayStart_ = 0;
};

// The event-type, kind, channel and address filters: true when any enabled
// filter takes the record.
bool PassesTypeFilters(const SearchFilter& filter, const EventRecord& record);
