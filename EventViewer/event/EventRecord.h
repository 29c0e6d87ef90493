#pragma once
// The 24-byte event record of a DVR's event log, as the control hands it over
// and as the event database stores it, and the words a record is shown with.
#include "control/interface/VyrdaxInterface.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// Event classes a DVR writes.
enum EventClass : uint16_t {
    kClassMenuChange = 31,
    kClassNetworkConnect = 32,
    kClassCamera = 33, // video loss, motion, sensor
    kClassPower = 34,
    kClassBackupHistory = 35,
    kClassRecord = 36,
};

// The eight event types the operator shows and sounds, in the order of the
// settings file's words.
enum EventType : int {
    kTypeNone = -1, // shown always, never sounds
    kTypeMotion = 0,
    kTypeSensor,
    kTypeRecord,
    kTypeVideoLoss,
    kTypePowerOn,
    kTypePowerOff,
    kTypeMenuChange,
    kTypeNetworkConnect,
    kEventTypeCount
};

struct EventRecord {
    uint32_t key = 0;        // with the time, tells one event from another
    uint32_t packedTime = 0; // the DVR's local time, see UnpackEventTime
    uint16_t eventClass = 0;
    std::array<uint8_t, 2> reserved10{};
    uint32_t channelMask = 0; // bit k = channel k+1
    std::array<uint8_t, 2> reserved16{};
    uint8_t subKind = 0;   // class 32: first address byte
    uint8_t action = 0;    // class 32: second address byte
    uint8_t address3 = 0;
    uint8_t address4 = 0;
    uint8_t userClass = 0; // class 32: 15 administrator
    uint8_t reserved23 = 0;

    static EventRecord FromBytes(const uint8_t* bytes);
    void ToBytes(uint8_t* bytes) const;
    // The duplicate test's notion of the same event.
    bool SameEvent(const EventRecord& other) const { return key == other.key && packedTime == other.packedTime; }
};
static_assert(sizeof(EventRecord) == vyrdax::kEventRecordSize, "an event record is 24 bytes");

struct EventTime {
    int year = 2000;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Bits 0-5 year - 2000, 6-9 month, 10-14 day, 15-19 hour, 20-25 minute,
// 26-31 second.
EventTime UnpackEventTime(uint32_t packed);
uint32_t PackEventTime(const EventTime& time);
// The packed fields rearranged so that a later time compares greater (year
// first, second last), for ordering records by their DVR's clock.
uint32_t EventTimeOrder(uint32_t packed);
// The fields as a reading of a wall clock, counted in seconds from 1970 as
// if there were no time zone and no daylight saving: the same reading always
// gives the same number, whatever zone the PC is in, and a reading one hour
// of the autumn night shows twice is one number. Fields past their range
// carry on into the next minute, day or month, as mktime carries them.
int64_t WallClockSeconds(int year, int month, int day, int hour, int minute, int second);
inline int64_t WallClockSeconds(const EventTime& t)
{
    return WallClockSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
}
// The instant from which a DVR is asked for the events since a stored
// record's time, for a control that reads it back on the PC's clock: an
// instant at which the PC's clock shows exactly that time, or, when the
// time falls into the hour the spring clock change skips (the DVR's clock
// does not have to skip it), the last instant before the skip, so that no
// later event is left out. 0 (every event) for a time that is no time.
int64_t PollStartInstant(uint32_t packed);
// "2008/03/14 15:30:05"
QString EventTimeText(uint32_t packed);
// The set channels 1..16 as "01/03/16"; empty for none.
QString ChannelText(uint32_t channelMask);

// The columns a record fills in the event lists beside its index, DVR name
// and ID; `hasRow` is false for a class that gets no row.
struct EventWords {
    bool hasRow = false;
    EventType type = kTypeNone;
    QString eventType;
    QString from;
    QString ip;
    QString channel;
};
EventWords DescribeEvent(const EventRecord& record);

// Reads a batch as the control hands it over: a 32-bit count, then the
// records. False when the table is missing, its count is over the control's
// room or the table is shorter than its count says.
bool ReadEventBatch(const void* table, std::size_t size, std::vector<EventRecord>* records);
