#include "CFileMgr.h"

#include "EventViewer/event/EventDatabase.h"
#include "viewercore/model/SettingsDocument.h"

#include <QFile>

#include <cstdio>
#include <memory>

namespace {

constexpr std::size_t kRecordSize = vyrdax::kEventRecordSize;
// Records read in one go; the stop flags are looked at between blocks.
constexpr std::size_t kBlockRecords = 4096;

uint16_t ClassOf(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[8] | bytes[9] << 8);
}

uint32_t PackedTimeOf(const uint8_t* bytes)
{
    return uint32_t(bytes[4]) | uint32_t(bytes[5]) << 8 | uint32_t(bytes[6]) << 16 | uint32_t(bytes[7]) << 24;
}

} // namespace

CFileMgr::CFileMgr() : slots_(new EventRecord[kRecordSlots]) {}

void CFileMgr::Report(platform::LPARAM result, const std::atomic<bool>* threadStop)
{
    if (!window)
        return;
    // Sent, not posted: the dialog has taken the result before the next
    // reader scans. A stop cuts the wait short so that a join never waits
    // on the dialog.
    const std::atomic<bool>* giveUp = threadStop ? threadStop : &stop;
    platform::SendMessage(window, WM_SEARCH_DONE, static_cast<platform::WPARAM>(request), result, giveUp);
}

CFileMgr::Outcome CFileMgr::SearchFile(const std::atomic<bool>* threadStop)
{
    count_ = 0;
    const QString path =
        eventdb::DatabaseFilePath(directory.isEmpty() ? DefaultDatabaseDirectory() : directory, dvrName);
    // Anything but a regular file (a FIFO would block the open) is no database.
    eventdb::FilePtr file = path.isEmpty() ? nullptr : eventdb::OpenRegularFile(path, "rb");
    if (!file) {
        free = true;
        Report(kSearchNoData, threadStop);
        return Outcome::NoData;
    }

    const SearchFilter f = filter;
    const bool windowed = f.windowStart != -1;
    ClockWindow window(f.windowStart, f.windowEnd);
    const uint32_t classes = SearchedClasses(f);
    bool full = false;
    int count = 0;
    std::unique_ptr<uint8_t[]> block(new uint8_t[kBlockRecords * kRecordSize]);
    while (!Stopped(threadStop)) {
        // A cut-short last record (one being appended) is left for the next
        // search.
        const std::size_t records = std::fread(block.get(), kRecordSize, kBlockRecords, file.get());
        for (std::size_t i = 0; i < records; ++i) {
            const uint8_t* bytes = block.get() + i * kRecordSize;
            // The cheap tests first: most records of a wide search fail the
            // class, and every test must pass.
            if (!IsSearchedClass(classes, ClassOf(bytes)))
                continue;
            const uint32_t packed = PackedTimeOf(bytes);
            if (!HasSearchableTime(packed) || (windowed && !window.Contains(packed)))
                continue;
            const EventRecord record = EventRecord::FromBytes(bytes);
            if (!PassesTypeFilters(f, record))
                continue;
            if (count < kMaxResults)
                slots_[static_cast<std::size_t>(count++)] = record;
            else
                full = true; // the scan goes on to the end all the same
        }
        if (records < kBlockRecords)
            break;
    }
    file.reset();
    count_ = count;

    if (Stopped(threadStop))
        return Outcome::Stopped;
    if (full) {
        free = true;
        Report(kSearchBufferFull, threadStop);
        return Outcome::BufferFull;
    }
    if (count < 1) {
        free = true;
        Report(kSearchNoData, threadStop);
        return Outcome::NoData;
    }
    // The reader stays taken until its records are listed.
    Report(id, threadStop);
    return Outcome::Ready;
}
