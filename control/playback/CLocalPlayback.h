#pragma once
// Plays the recordings on the PC of up to 64 channels in step: one thread per
// channel reads its movie file, decodes and shows the frames, and waits for
// each frame's time against the master channel. At a file's end the channel
// moves on to its next (or, rewinding, previous) file across half-hours,
// days and months of the day catalogues.
#include "control/record/CMovieFileReader.h"
#include "control/record/CRecordCatalog.h"
#include "platform/WorkerThread.h"

#include <array>
#include <atomic>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyrdax {

class CVyrdaxCtrl;
class XvidDecoder;

class CLocalPlayback {
public:
    static constexpr int kChannels = 64;
    static constexpr int kSlots = 48;
    static constexpr int kDaysPerBlock = 33; // days 0..32; 0 and 32 stay empty

    explicit CLocalPlayback(CVyrdaxCtrl& control);
    ~CLocalPlayback(); // stops and joins every thread
    CLocalPlayback(const CLocalPlayback&) = delete;
    CLocalPlayback& operator=(const CLocalPlayback&) = delete;

    // The directory searched for recordings: the last one a search or a
    // recording named.
    void SetRecordDirectory(const std::string& directory);
    std::string RecordDirectory() const;

    // Dispatch methods.
    void StartLocalPlayback(int slot, std::time_t start);
    int32_t PlayFile(int32_t interval);
    void PauseFile();
    void StopFile();
    void EndPlayFile();
    void CloseDispThread();
    int32_t SeekFrame(int32_t frame)
    {
        playPosition_ = frame;
        return 1;
    }
    int32_t GetPlayPos() const { return playPosition_.load(); }
    // A double click makes the channel the master.
    void SelectMaster(int channel);

    // What a channel plays now, for the host's tests and benchmarks.
    struct ChannelView {
        bool hasReader = false;
        std::string path;
        int endFlag = 0;
        int slot = 0, day = 0, year = 0, month = 0;
        bool threadRunning = false;
    };
    ChannelView View(int channel) const;
    bool EndReached() const { return endReached_.load() != 0; }
    int64_t LastFrameTime() const { return lastFrameTime_.load(); }
    uint64_t FramesShown(int channel) const { return framesShown_[channel].load(); }
    // The PC time (ms since the epoch) of the frame a channel last showed.
    int64_t ShownFrameTimeMs(int channel) const { return shownFrameMs_[channel].load(); }
    // While kept (tests), the PC times (ms) of every frame each channel
    // shows, in the order shown.
    void KeepShownTimes(bool keep);
    std::vector<int64_t> ShownTimes(int channel) const;

    // Tests only: a playback thread calls `hook` with its channel and the
    // time left between its look at the clock and the wait that look
    // decided on (a frame not yet due, a reference not yet come), so that a
    // test can make that look late, as a busy machine does. Null (the
    // default) for none.
    using BeforeWaitHook = void (*)(int channel, int64_t msLeft);
    static void SetBeforeWaitHookForTests(BeforeWaitHook hook);

private:
    using ReaderPtr = std::shared_ptr<vyrmovie::CMovieFileReader>;
    // Months are counted as year * 12 + month - 1, so the neighbours of
    // December and January are real calendar months.
    static int MonthNumber(int year, int month) { return year * 12 + month - 1; }

    // What a playback thread keeps from frame to frame.
    struct ThreadState {
        std::vector<uint8_t> input; // stream header, payload and zeroed padding
        bool first = true;
        int lastWidth = 0, lastHeight = 0;
        int64_t previousOffset = 0;
        int64_t previousSeconds = 0;
        int64_t lastReadSeconds = 0; // the frame read before this one
    };
    // What a move to another file came to: a file opened, a file that could
    // not be opened (the walk goes on past it at the next read), or the end
    // (start, rewinding) of the recordings.
    enum class FileMove { Opened, Unopenable, End };

    void ThreadProc(platform::WorkerThread& self, int channel);
    // At a file's end (or start, rewinding): the next or previous file.
    void MoveToAdjacentFile(platform::WorkerThread& self, int channel, bool rewinding);
    // True when the frame gave a picture of a size the panes take.
    bool DecodeFrame(ThreadState& state, XvidDecoder& decoder, const vyrmovie::CMovieFileReader& reader);
    // Waits until the frame is due against the master; false when it is
    // not to be shown.
    bool PaceFrame(platform::WorkerThread& self, int channel, const vyrmovie::MovieFrameHeader& header,
                   const std::string& name, ThreadState& state);
    void DrawFrame(int channel, XvidDecoder& decoder, const vyrmovie::MovieFrameHeader& header,
                   const std::string& name);
    void StartThread(int channel);
    void StopThreads(); // every thread: stop, wake and join
    ReaderPtr Reader(int channel) const;

    // With the playback lock held.
    CRecordCatalog* Catalog(int month, int day);
    void FillCatalogs(std::time_t start);
    int OpenStartFiles(int slot, int startDay, bool announce);
    void OpenPlaybackFiles(int slot, int day, int month);
    // Every channel not yet playing that has a file from (slot, day, month)
    // on, in whichever half-hour and day: its first such file.
    void OpenLaterFiles(int slot, int day, int month);
    bool JoinPlayback(int channel, int slot, int day, int month);
    FileMove OpenNextDayFile(int channel);
    FileMove OpenAdjacentFile(int channel);
    void SeekAllToTime(int slot, std::time_t time);
    bool OpenReader(int channel, const std::string& path, bool keepState);

    void SelectMasterChannel(bool forward, int first, int last, int64_t position);
    void SelectEarliestChannel();
    void ReleasePlayThreads();
    void PauseAllReaders();
    void ForEachReader(void (vyrmovie::CMovieFileReader::*action)());
    void ResetChannelDisplay(int channel, const std::string& text);
    void AnnounceFile(int channel);
    // Waits for a frame's due time, `dueInMs` after the reference of
    // `referenceSeconds`; false when the thread was stopped.
    bool WaitForFrame(platform::WorkerThread& self, int channel, int64_t dueInMs, int64_t referenceSeconds);
    // Waits until the master has shown its frame, at most `limitMs`.
    void WaitForReference(platform::WorkerThread& self, int channel, int limitMs);

    CVyrdaxCtrl& control_;

    // Guards the reader table, the catalogues, the start fields and thread
    // starts; threads take it while they move to another file.
    mutable std::recursive_mutex playbackLock_;
    std::array<ReaderPtr, kChannels> readers_{};
    std::array<uint8_t, kChannels> playing_{};
    std::array<std::unique_ptr<platform::WorkerThread>, kChannels> threads_;
    bool ending_ = false; // no thread starts while threads are being stopped

    std::vector<std::unique_ptr<CRecordCatalog>> catalogs_; // 3 blocks of 33 days
    std::string recordDirectory_;
    std::string catalogDirectory_;
    int startMonth_ = 0; // as MonthNumber
    int lastForwardSlot_ = 0;
    std::atomic<int> endReached_{0};
    std::atomic<int> startGuard_{0};
    std::atomic<int64_t> lastFrameTime_{0};
    std::atomic<int32_t> playPosition_{0};
    std::array<std::atomic<uint64_t>, kChannels> framesShown_{};
    std::array<std::atomic<int64_t>, kChannels> shownFrameMs_{};
    mutable std::mutex shownTimesLock_;
    std::atomic<bool> keepShownTimes_{false};
    std::array<std::vector<int64_t>, kChannels> shownTimes_;
};

// Whether a frame's DVR time stamp is plausible: month 1..13, day 1..31,
// hour 0..25, minute and second 0..61, each byte read as signed.
bool IsValidPackedTime(const vyrmovie::MovieFrameHeader& header);

} // namespace vyrdax
