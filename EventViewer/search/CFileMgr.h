#pragma once
// One of the search dialog's database readers: scans a DVR's event database
// file on the search thread, keeps the records that pass its filter and tells
// the dialog with WM_SEARCH_DONE.
#include "EventViewer/event/EventRecord.h"
#include "SearchFilter.h"
#include "platform/Messages.h"

#include <QString>

#include <atomic>
#include <memory>

class QObject;

// wParam: the DVR row; lParam: kSearchNoData, kSearchBufferFull or the
// reader's index.
inline constexpr uint32_t WM_SEARCH_DONE = platform::WM_USER + 0x800;
inline constexpr platform::LPARAM kSearchNoData = -1;
inline constexpr platform::LPARAM kSearchBufferFull = -2;

class CFileMgr {
public:
    static constexpr int kRecordSlots = 65536;
    // One slot fewer than there is room for: a DVR with more passing records
    // than this shows "Buffer Full" and lists none.
    static constexpr int kMaxResults = 65535;

    enum class Outcome { Ready, NoData, BufferFull, Stopped };

    CFileMgr();
    CFileMgr(const CFileMgr&) = delete;
    CFileMgr& operator=(const CFileMgr&) = delete;

    // Reads the DVR's file under `directory`, keeps what passes `filter`, and
    // sends WM_SEARCH_DONE to `window` unless the search was stopped (by the
    // reader's own stop flag or `threadStop`, which also cuts the send short).
    Outcome SearchFile(const std::atomic<bool>* threadStop = nullptr);

    // The database directory; empty reads from the default, where the
    // monitor then writes.
    QString directory;
    QString dvrName;
    SearchFilter filter;
    int request = 0; // the DVR row
    int id = 0;      // this reader's index
    QObject* window = nullptr;

    // True when the reader may be handed out; cleared while it scans and
    // until its records are listed.
    std::atomic<bool> free{true};
    std::atomic<bool> stop{false};

    int Count() const { return count_; }
    const EventRecord& Record(int i) const { return slots_[static_cast<std::size_t>(i)]; }

private:
    bool Stopped(const std::atomic<bool>* threadStop) const
    {
        return stop.load(std::memory_order_relaxed) || (threadStop && threadStop->load(std::memory_order_relaxed));
    }
    void Report(platform::LPARAM result, const std::atomic<bool>* threadStop);

    std::unique_ptr<EventRecord[]> slots_;
    int count_ = 0;
};
