#include "EventRecord.h"

#include <QStringList>

#include <ctime>

namespace {

uint32_t Read32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void Write32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

QString TwoDigits(int value)
{
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

EventRecord EventRecord::FromBytes(const uint8_t* b)
{
    EventRecord r;
    r.key = Read32(b);
    r.packedTime = Read32(b + 4);
    r.eventClass = static_cast<uint16_t>(b[8] | b[9] << 8);
    r.reserved10 = {b[10], b[11]};
    r.channelMask = Read32(b + 12);
    r.reserved16 = {b[16], b[17]};
    r.subKind = b[18];
    r.action = b[19];
    r.address3 = b[20];
    r.address4 = b[21];
    r.userClass = b[22];
    r.reserved23 = b[23];
    return r;
}

void EventRecord::ToBytes(uint8_t* b) const
{
    Write32(b, key);
    Write32(b + 4, packedTime);
    b[8] = static_cast<uint8_t>(eventClass);
    b[9] = static_cast<uint8_t>(eventClass >> 8);
    b[10] = reserved10[0];
    b[11] = reserved10[1];
    Write32(b + 12, channelMask);
    b[16] = reserved16[0];
    b[17] = reserved16[1];
    b[18] = subKind;
    b[19] = action;
    b[20] = address3;
    b[21] = address4;
    b[22] = userClass;
    b[23] = reserved23;
}

EventTime UnpackEventTime(uint32_t packed)
{
    EventTime t;
    t.year = 2000 + static_cast<int>(packed & 0x3F);
    t.month = static_cast<int>((packed >> 6) & 0xF);
    t.day = static_cast<int>((packed >> 10) & 0x1F);
    t.hour = static_cast<int>((packed >> 15) & 0x1F);
    t.minute = static_cast<int>((packed >> 20) & 0x3F);
    t.second = static_cast<int>((packed >> 26) & 0x3F);
    return t;
}

uint32_t PackEventTime(const EventTime& t)
{
    return (uint32_t(t.year - 2000) & 0x3F) | (uint32_t(t.month) & 0xF) << 6 | (uint32_t(t.day) & 0x1F) << 10 |
           (uint32_t(t.hour) & 0x1F) << 15 | (uint32_t(t.minute) & 0x3F) << 20 | (uint32_t(t.second) & 0x3F) << 26;
}

uint32_t EventTimeOrder(uint32_t packed)
{
    const EventTime t = UnpackEventTime(packed);
    return uint32_t(t.year - 2000) << 26 | uint32_t(t.month) << 22 | uint32_t(t.day) << 17 | uint32_t(t.hour) << 12 |
           uint32_t(t.minute) << 6 | uint32_t(t.second);
}

int64_t WallClockSeconds(int year, int month, int day, int hour, int minute, int second)
{
    // Days from 1970-01-01 to the first of the month, counting March as the
    // year's first month so that a leap day falls at a year's end.
    const int64_t m = month - 1; // may run past a year, as mktime allows
    const int64_t y = year + (m >= 0 ? m / 12 : (m - 11) / 12);
    const int64_t mon = m - (y - year) * 12 + 1; // 1..12
    const int64_t yy = mon <= 2 ? y - 1 : y;
    const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const int64_t yearOfEra = yy - era * 400;
    const int64_t dayOfYear = (153 * (mon > 2 ? mon - 3 : mon + 9) + 2) / 5;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    const int64_t days = era * 146097 + dayOfEra - 719468 + (day - 1);
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

int64_t PollStartInstant(uint32_t packed)
{
    const EventTime t = UnpackEventTime(packed);
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return 0;
    const int64_t wanted = WallClockSeconds(t);
    const auto reading = [](int64_t instant) {
        const std::time_t x = static_cast<std::time_t>(instant);
        std::tm local{};
        localtime_r(&x, &local);
        return WallClockSeconds(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                local.tm_sec);
    };
    std::tm fields{};
    fields.tm_year = t.year - 1900;
    fields.tm_mon = t.month - 1;
    fields.tm_mday = t.day;
    fields.tm_hour = t.hour;
    fields.tm_min = t.minute;
    fields.tm_sec = t.second;
    fields.tm_isdst = -1;
    const int64_t guess = static_cast<int64_t>(std::mktime(&fields));
    // Either instant of the repeated autumn hour shows the same reading.
    if (reading(guess) == wanted)
        return std::max<int64_t>(guess, 0);
    // A skipped reading: the latest instant that reads earlier. Readings
    // only rise within two days of a skip.
    int64_t earlier = guess - 2 * 86400;
    int64_t later = guess + 2 * 86400;
    if (reading(earlier) > wanted || reading(later) <= wanted)
        return 0;
    while (later - earlier > 1) {
        const int64_t middle = earlier + (later - earlier) / 2;
        (reading(middle) <= wanted ? earlier : later) = middle;
    }
    return std::max<int64_t>(earlier, 0);
}

QString EventTimeText(uint32_t packed)
{
    const EventTime t = UnpackEventTime(packed);
    return QStringLiteral("%1/%2/%3 %4:%5:%6")
        .arg(t.year, 4, 10, QLatin1Char('0'))
        .arg(TwoDigits(t.month), TwoDigits(t.day), TwoDigits(t.hour), TwoDigits(t.minute), TwoDigits(t.second));
}

QString ChannelText(uint32_t channelMask)
{
    QStringList channels;
    for (int k = 0; k < 16; ++k)
        if (channelMask & (1u << k))
            channels << TwoDigits(k + 1);
    return channels.join(QLatin1Char('/'));
}

EventWords DescribeEvent(const EventRecord& r)
{
    EventWords w;
    w.hasRow = true;
    switch (r.eventClass) {
    case kClassMenuChange:
        w.type = kTypeMenuChange;
        w.eventType = QStringLiteral("Menu Change");
        w.from = r.subKind == 1 ? QStringLiteral("Network") : QStringLiteral("DVR");
        break;
    case kClassNetworkConnect:
        w.type = kTypeNetworkConnect;
        w.eventType = QStringLiteral("Network Connect");
        w.from = r.userClass == 15 ? QStringLiteral("Admin") : QStringLiteral("Guest");
        w.ip = QStringLiteral("%1.%2.%3.%4")
                   .arg(r.subKind, 3, 10, QLatin1Char('0'))
                   .arg(r.action, 3, 10, QLatin1Char('0'))
                   .arg(r.address3, 3, 10, QLatin1Char('0'))
                   .arg(r.address4, 3, 10, QLatin1Char('0'));
        break;
    case kClassCamera:
        switch (r.subKind) {
        case 1: w.type = kTypeVideoLoss; w.eventType = QStringLiteral("Video Loss"); break;
        case 2: w.type = kTypeMotion; w.eventType = QStringLiteral("Motion"); break;
        case 3: w.type = kTypeSensor; w.eventType = QStringLiteral("Sensor"); break;
        default: break;
        }
        w.channel = ChannelText(r.channelMask);
        break;
    case kClassPower:
        if (r.subKind == 10) {
            w.type = kTypePowerOn;
            w.eventType = QStringLiteral("DVR Power On");
        } else if (r.subKind == 11) {
            w.type = kTypePowerOff;
            w.eventType = QStringLiteral("DVR Power Off");
        }
        break;
    case kClassBackupHistory:
        w.eventType = QStringLiteral("Backup History");
        break;
    case kClassRecord:
        w.type = kTypeRecord;
        w.eventType = r.action == 20 ? QStringLiteral("Record Start") : QStringLiteral("Record Stop");
        switch (r.subKind) {
        case 19: w.from = QStringLiteral("Network"); break;
        case 22: w.from = QStringLiteral("Schedule"); break;
        case 23: w.from = QStringLiteral("Manual"); break;
        default: break;
        }
        if (r.action == 20)
            w.channel = ChannelText(r.channelMask);
        break;
    default:
        w.hasRow = false;
        break;
    }
    return w;
}

bool ReadEventBatch(const void* table, std::size_t size, std::vector<EventRecord>* records)
{
    records->clear();
    if (!table || size < 4)
        return false;
    const auto* bytes = static_cast<const uint8_t*>(table);
    const uint32_t count = Read32(bytes);
    if (count > vyrdax::kMaxEventRecords || size < 4 + std::size_t(count) * vyrdax::kEventRecordSize)
        return false;
    records->reserve(count);
    for (uint32_t i = 0; i < count; ++i)
        records->push_back(EventRecord::FromBytes(bytes + 4 + std::size_t(i) * vyrdax::kEventRecordSize));
    return true;
}
