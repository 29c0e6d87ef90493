#include "DvrRecords.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace dvrsim {

namespace {

int dateNumber(int year, int month, int day)
{
    return year * 10000 + month * 100 + day;
}

}  // namespace

std::vector<EventRecord> generateEvents(int count, int channels, std::time_t newest)
{
    std::vector<EventRecord> events(static_cast<std::size_t>(std::max(0, count)));
    const int channelSpan = std::min(std::max(channels, 1), 16);  // the mask names channels 1..16
    for (int k = 0; k < count; ++k) {
        EventRecord& r = events[static_cast<std::size_t>(k)];
        r.fill(0);
        putU32(&r[0], static_cast<std::uint32_t>(k + 1));
        putU32(&r[4], packLocalTime(newest - static_cast<std::time_t>(count - k) * 60));
        const int eventClass = 31 + k % 6;
        putU16(&r[8], static_cast<std::uint16_t>(eventClass));
        const std::uint32_t channelBit = 1u << (k % channelSpan);
        switch (eventClass) {
        case 31:  // menu change, from the network on every other one
            r[18] = (k / 6) % 2 ? 1 : 0;
            break;
        case 32:  // network connect from 127.0.0.1, administrator or guest
            r[18] = 127;
            r[19] = 0;
            r[20] = 0;
            r[21] = 1;
            r[22] = (k / 6) % 2 ? 15 : 0;
            break;
        case 33:  // video loss, motion, sensor
            putU32(&r[12], channelBit);
            r[18] = static_cast<std::uint8_t>(1 + (k / 6) % 3);
            break;
        case 34:  // power on / off
            r[18] = (k / 6) % 2 ? 11 : 10;
            break;
        case 35:  // backup history
            break;
        case 36: {  // record start / stop by network, schedule or manual
            static const std::uint8_t kinds[] = {19, 22, 23};
            putU32(&r[12], channelBit);
            r[18] = kinds[(k / 6) % 3];
            r[19] = (k / 6) % 2 ? 21 : 20;
            break;
        }
        }
    }
    return events;
}

bool loadEvents(const std::string& path, std::vector<EventRecord>& events, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() % kEventRecordSize != 0 || bytes.size() / kEventRecordSize > kMaxEventCount) {
        error = path + ": not a whole number of 24-byte records, or more than 65536";
        return false;
    }
    events.resize(bytes.size() / kEventRecordSize);
    for (std::size_t i = 0; i < events.size(); ++i)
        std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes.data()) + i * kEventRecordSize,
                    kEventRecordSize, events[i].begin());
    return true;
}

std::vector<EventRecord> eventsSince(const std::vector<EventRecord>& events, std::uint32_t packedTime)
{
    if (packedTime == 0)
        return events;
    const std::uint64_t from = packedTimeOrder(packedTime);
    std::vector<EventRecord> out;
    for (const EventRecord& r : events)
        if (packedTimeOrder(getU32(&r[4])) >= from)
            out.push_back(r);
    return out;
}

RecordingCalendar::RecordingCalendar(int days, int channels, std::time_t today)
    : channels_(std::min(channels, kMaxChannels))
{
    std::tm t = localTimeOf(today);
    t.tm_hour = 12;  // noon keeps day steps clear of daylight-saving shifts
    t.tm_min = t.tm_sec = 0;
    for (int i = 0; i < days; ++i) {
        std::tm d = t;
        d.tm_mday -= i;
        d.tm_isdst = -1;
        std::mktime(&d);
        dayNumbers_.push_back(dateNumber(d.tm_year + 1900, d.tm_mon + 1, d.tm_mday));
    }
}

bool RecordingCalendar::hasRecordings(int year, int month, int day) const
{
    return std::find(dayNumbers_.begin(), dayNumbers_.end(), dateNumber(year, month, day)) !=
           dayNumbers_.end();
}

std::vector<std::uint8_t> RecordingCalendar::monthTable(std::uint32_t packedTime) const
{
    std::vector<std::uint8_t> table(kMonthTableSize, 0);
    putU32(&table[0], packedTime);
    if (packedTime == 0)
        return table;
    const std::tm asked = unpackTime(packedTime);
    for (int day = 1; day <= 31; ++day)
        if (hasRecordings(asked.tm_year + 1900, asked.tm_mon + 1, day))
            putU32(&table[static_cast<std::size_t>(day) * 4], 1);
    return table;
}

std::uint8_t recordingCode(int channel, int slot)
{
    if ((slot + channel) % 7 == 6)
        return 0;  // a gap now and then
    return static_cast<std::uint8_t>(19 + (slot / 6 + channel) % 5);
}

std::vector<std::uint8_t> RecordingCalendar::dayTimeList(std::uint32_t packedTime) const
{
    std::vector<std::uint8_t> list(kDayTimeListSize, 0);
    putU32(&list[0], packedTime);
    if (packedTime == 0)
        return list;
    const std::tm asked = unpackTime(packedTime);
    if (!hasRecordings(asked.tm_year + 1900, asked.tm_mon + 1, asked.tm_mday))
        return list;
    for (int c = 0; c < channels_; ++c)
        for (int s = 0; s < kDayTimeListSlots; ++s)
            list[4 + static_cast<std::size_t>(c * kDayTimeListSlots + s)] = recordingCode(c, s);
    return list;
}

std::size_t setupRecordSizeFor(int dvrType)
{
    return dvrType < 16 ? kSetupRecordSmallSize : kSetupRecordLargeSize;
}

SetupStore::SetupStore(std::size_t size) : size_(size), record_(size)
{
    for (std::size_t i = 0; i < size; ++i)
        record_[i] = static_cast<std::uint8_t>(i % 251);
}

bool SetupStore::loadFile(const std::string& path, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != size_) {
        error = path + ": " + std::to_string(bytes.size()) + " bytes, the DVR type needs " +
                std::to_string(size_);
        return false;
    }
    put(std::move(bytes));
    return true;
}

std::vector<std::uint8_t> SetupStore::get() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return record_;
}

void SetupStore::put(std::vector<std::uint8_t> record)
{
    std::lock_guard<std::mutex> lock(lock_);
    record_ = std::move(record);
}

std::uint32_t crc32Of(const std::uint8_t* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

}  // namespace dvrsim
