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
bool HasSearchableTime(uint32_t packedTime);

// The event-type, kind, channel and address filters: true when any enabled
// filter takes the record.
bool PassesTypeFilters(const SearchFilter& filter, const EventRecord& record);
