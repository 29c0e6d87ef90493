// Writes a sample event database through our writer and prints each stored
// record as our reader sees it, one line per record, for the independent
// decoder eventdat.py to compare with its own reading of the same file.
//   eventviewer_db_dump DIRECTORY
#include "EventViewer/event/EventDatabase.h"

#include <QFile>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: eventviewer_db_dump DIRECTORY\n");
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    // Every class and sub-kind, masks from none to all, odd reserved bytes.
    std::vector<EventRecord> records;
    for (uint32_t k = 0; k < 120; ++k) {
        EventRecord r;
        r.key = 1000 + k * 7919;
        r.packedTime = PackEventTime({2000 + int(k % 64), int(k % 13), int(k % 32), int(k % 24), int(k % 60),
                                      int((k * 7) % 60)});
        r.eventClass = static_cast<uint16_t>(30 + k % 8);
        r.reserved10 = {uint8_t(k), uint8_t(255 - k)};
        r.channelMask = k % 5 == 0 ? 0 : k % 5 == 1 ? 0xFFFFu : (k * 2654435761u);
        r.reserved16 = {uint8_t(k * 3), 0x5A};
        const uint8_t subKinds[] = {1, 2, 3, 4, 10, 11, 19, 22, 23, 0, 192};
        r.subKind = subKinds[k % 11];
        r.action = k % 3 == 0 ? 20 : k % 3 == 1 ? 21 : uint8_t(k);
        r.address3 = uint8_t(k * 5);
        r.address4 = uint8_t(k * 11);
        r.userClass = k % 4 == 0 ? 15 : uint8_t(k);
        r.reserved23 = uint8_t(0xA0 + k % 16);
        records.push_back(r);
    }
    // Two appends that overlap by three records, with the end of a third
    // write cut short by the disk between them: the file holds each record
    // once and nothing else.
    const std::vector<EventRecord> first(records.begin(), records.begin() + 70);
    const std::vector<EventRecord> second(records.begin() + 67, records.end());
    if (!eventdb::AppendBatch(directory, "Sample", first).opened)
        return 1;
    if (std::FILE* file = std::fopen(QFile::encodeName(eventdb::DatabaseFilePath(directory, "Sample")).constData(), "ab")) {
        const char stray[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        std::fwrite(stray, sizeof stray, 1, file);
        std::fclose(file);
    }
    if (eventdb::AppendBatch(directory, "Sample", second).alreadyStored != 3)
        return 1;
    for (const EventRecord& r : eventdb::ReadAll(eventdb::DatabaseFilePath(directory, "Sample"))) {
        const EventWords w = DescribeEvent(r);
        std::printf("%u|%s|%u|%u|%u|%u|%u|%u|%u|%d|%s|%s|%s|%s\n", r.key, qPrintable(EventTimeText(r.packedTime)),
                    r.eventClass, r.channelMask, r.subKind, r.action, r.address3, r.address4, r.userClass,
                    w.hasRow ? 1 : 0, qPrintable(w.eventType), qPrintable(w.from), qPrintable(w.ip),
                    qPrintable(w.channel));
    }
    return 0;
}
