// Writes random event databases through the monitor's writer, runs random
// searches over them with our readers and prints each search and what it
// kept, for the independent filter eventsearch.py to check.
//   eventviewer_search_probe DIRECTORY SEED
// Record times crowd around the clock changes of 2024 in the zone TZ names.
#include "EventViewer/event/EventDatabase.h"
#include "EventViewer/search/CFileMgr.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <random>

namespace {

constexpr int kDvrs = 3;
constexpr int kRecordsPerDvr = 6000;
constexpr int kSearches = 60;

EventTime RandomTime(std::mt19937& random)
{
    // The two change days and the days around them; now and then a field
    // out of range.
    static const int days[][2] = {{3, 30}, {3, 31}, {4, 1}, {4, 6}, {4, 7}, {10, 26}, {10, 27}, {10, 28}, {10, 6}};
    const auto& d = days[random() % std::size(days)];
    EventTime t{2024, d[0], d[1], int(random() % 24), int(random() % 60), int(random() % 60)};
    switch (random() % 40) {
    case 0: t.month = int(random() % 16); break;
    case 1: t.day = int(random() % 32); break;
    case 2: t.hour = int(random() % 32); break;
    case 3: t.minute = int(random() % 64); break;
    case 4: t.second = 60 + int(random() % 2); break;
    default: break;
    }
    return t;
}

EventRecord RandomRecord(std::mt19937& random, uint32_t key)
{
    static const uint16_t classes[] = {30, 31, 32, 33, 34, 35, 36, 37};
    static const uint8_t subKinds[] = {0, 1, 2, 3, 4, 10, 11, 19, 22, 23, 192};
    static const uint8_t actions[] = {20, 21, 22, 0, 1};
    EventRecord r;
    r.key = key;
    r.packedTime = PackEventTime(RandomTime(random));
    r.eventClass = classes[random() % std::size(classes)];
    r.channelMask = random() % 4 == 0 ? 0 : uint32_t(1u << (random() % 18)) | (random() % 3 == 0 ? random() : 0u);
    r.subKind = random() % 3 == 0 ? uint8_t(random() % 4 + 9) : subKinds[random() % std::size(subKinds)];
    r.action = actions[random() % std::size(actions)];
    r.address3 = uint8_t(random() % 2);
    r.address4 = uint8_t(random() % 2);
    r.userClass = random() % 2 ? 15 : uint8_t(random() % 20);
    return r;
}

uint8_t RandomKind(std::mt19937& random, std::initializer_list<uint8_t> kinds)
{
    return *(kinds.begin() + random() % kinds.size());
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: eventviewer_search_probe DIRECTORY SEED\n");
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString directory = QString::fromLocal8Bit(argv[1]);
    std::mt19937 random(static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)));
    QDir().mkpath(directory);
    for (int d = 0; d < kDvrs; ++d) {
        std::vector<EventRecord> records;
        for (int k = 0; k < kRecordsPerDvr; ++k)
            records.push_back(RandomRecord(random, uint32_t(d * 1000000 + k)));
        if (!eventdb::AppendBatch(directory, QStringLiteral("DVR%1").arg(d), records).Stored())
            return 1;
    }

    CFileMgr reader;
    reader.directory = directory;
    for (int s = 0; s < kSearches; ++s) {
        SearchFilter& f = reader.filter;
        f = SearchFilter{};
        bool* flags[] = {&f.motion,     &f.sensor,         &f.recordStart, &f.recordStop, &f.videoLoss,
                         &f.menuChange, &f.networkConnect, &f.powerOn,     &f.powerOff};
        for (bool* flag : flags)
            *flag = random() % 2;
        f.recordStartKind = RandomKind(random, {kAnyKind, kKindManual, kKindSchedule, kKindNetwork});
        f.recordStopKind = RandomKind(random, {kAnyKind, kKindManual, kKindSchedule, kKindNetwork});
        f.menuKind = RandomKind(random, {kAnyKind, kMenuAtDvr, kMenuFromNetwork});
        f.userKind = RandomKind(random, {kAnyKind, kUserAdmin, kUserOther});
        f.channelMask = random() % 3 == 0 ? 0xFFFF : uint32_t(random() & 0xFFFF);
        if (random() % 2)
            f.address = {random() % 2 ? 192 : 10, 0, int(random() % 2), int(random() % 2)};
        int window[12] = {0};
        if (random() % 4 != 0) {
            // Ends on the change days too, in and around the changed hour.
            const EventTime a = RandomTime(random);
            const EventTime b = RandomTime(random);
            const EventTime* ends[] = {&a, &b};
            for (int e = 0; e < 2; ++e) {
                EventTime t = *ends[e];
                t.month = std::clamp(t.month, 1, 12);
                t.day = std::clamp(t.day, 1, 31);
                t.hour = std::min(t.hour, 23);
                t.minute = std::min(t.minute, 59);
                t.second = std::min(t.second, 59);
                const int fields[6] = {t.year, t.month, t.day, t.hour, t.minute, t.second};
                std::copy(fields, fields + 6, window + e * 6);
            }
            f.windowStart = WallClockSeconds(window[0], window[1], window[2], window[3], window[4], window[5]);
            f.windowEnd = WallClockSeconds(window[6], window[7], window[8], window[9], window[10], window[11]);
        }
        reader.dvrName = QStringLiteral("DVR%1").arg(s % (kDvrs + 1)); // the last one has no file
        const CFileMgr::Outcome outcome = reader.SearchFile();
        std::printf("SEARCH %s %d %d %d %d %d %d %d %d %d %d %d %d %d %u %d %d %d %d %d", qPrintable(reader.dvrName),
                    f.motion, f.sensor, f.recordStart, f.recordStop, f.videoLoss, f.menuChange, f.networkConnect,
                    f.powerOn, f.powerOff, f.recordStartKind, f.recordStopKind, f.menuKind, f.userKind, f.channelMask,
                    f.address[0], f.address[1], f.address[2], f.address[3], f.windowStart != -1);
        for (int v : window)
            std::printf(" %d", v);
        const char* names[] = {"ready", "nodata", "full", "stopped"};
        std::printf("\nRESULT %s", names[static_cast<int>(outcome)]);
        for (int i = 0; i < reader.Count(); ++i)
            std::printf(" %u", reader.Record(i).key);
        std::printf("\n");
    }
    return 0;
}
