#pragma once
// Records live channels into movie files and key-frame index files: opens a
// file at a key frame, writes every frame behind its header, indexes the key
// frames and starts a new file at every 20-minute mark of the PC clock.
//
// The receive thread writes; the host's thread starts and stops. Each
// channel's state is guarded by its own lock, so a stop never closes a file
// under a write and a split costs the receive thread only the file closes.
#include "control/link/FrameInfo.h"
#include "control/record/CAviWriter.h"
#include "control/record/MovieFormat.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vyrdax {

// The PC's clock as the writer reads it: whole seconds and milliseconds.
struct RecordClockTime {
    std::time_t seconds = 0;
    int milliseconds = 0;
};
using RecordClock = std::function<RecordClockTime()>;
RecordClockTime SystemRecordClock();

// A write-only file with its own buffer. Written() counts the bytes that
// reached the file, so the writer knows which frames are really there.
// After a failed write (a full disk) closing cuts the file back to the end
// of the last whole record that reached it, so no reader meets half a frame.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile() { Close(); }
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool Open(const std::string& path, std::size_t bufferSize);
    // Creates the file only when none of that name exists (errno EEXIST).
    bool OpenNew(const std::string& path, std::size_t bufferSize);
    bool IsOpen() const { return fd_ >= 0; }
    // The file of the last open that succeeded; empty after one that failed.
    const std::string& Path() const { return path_; }
    // `endsRecord` false when more of the same record follows (a frame's
    // header before its payload).
    bool Write(const void* data, std::size_t length, bool endsRecord = true);
    bool Flush();
    // Flushes and closes; false when the flush (or an earlier write) failed.
    bool Close();
    uint64_t Written() const { return written_; }
    // Where the last whole record on file ends; after Close, what the file
    // holds of whole records.
    uint64_t WholeRecordsEnd() const { return wholeRecordsEnd_; }

private:
    bool WriteThrough(const uint8_t* data, std::size_t length);
    // Moves the end of the last whole record on as far as the file goes.
    void SettleRecordEnds();
    bool OpenWith(const std::string& path, std::size_t bufferSize, int createFlag);

    int fd_ = -1;
    std::string path_;
    std::vector<uint8_t> buffer_;
    std::size_t used_ = 0;
    uint64_t written_ = 0;
    uint64_t accepted_ = 0;               // bytes taken by Write, buffered or written
    std::deque<uint64_t> recordEnds_;     // ends of records not yet all on file
    uint64_t wholeRecordsEnd_ = 0;        // the file holds whole records up to here
    bool failed_ = false;
};

class RecordingWriter {
public:
    // Called outside every lock: `stopped` when a channel's recording ended
    // (by StopRecord, a split, or a file fault), `fileError` once for each
    // file that could not be opened or written.
    struct Notices {
        std::function<void(int channel)> stopped;
        std::function<void(int channel)> fileError;
    };

    struct Statistics {
        uint64_t frames = 0;
        uint64_t bytes = 0; // frame headers and payloads written
        uint64_t writeNanoseconds = 0;
        uint64_t splits = 0;
        uint64_t longestSplitNanoseconds = 0;
        uint64_t aviFrames = 0;           // WriteAviFrame calls
        uint64_t aviWriteNanoseconds = 0; // in WriteAviFrame, closes included
        uint64_t aviCloses = 0;
        uint64_t longestAviCloseNanoseconds = 0;
    };

    // `largestAviFile` below CAviWriter::kLargestFile lets tests reach an AVI
    // split with small files.
    explicit RecordingWriter(Notices notices, RecordClock clock = SystemRecordClock,
                             uint64_t largestAviFile = CAviWriter::kLargestFile);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    void SetClock(RecordClock clock);

    // Movie mode (true) records into movie files; otherwise the request is
    // left for the AVI writer. Returns 0, or -1 (nothing started) for an
    // empty directory.
    int StartRecord(bool movieMode, const std::string& path, const std::string& fname1, const std::string& fname2,
                    int channel);
    void StopRecord(bool movieMode, int channel);
    // One video frame of a recording channel; `frame` holds info.Length() bytes.
    void WriteRecordFrame(int channel, const uint8_t* frame, const FrameInfo& info);

    // AVI mode, on the receive thread for every frame of a channel with an
    // AVI request or file: opens at a frame that carries its stream headers
    // (or at an intra frame, behind `streamHeader`, the channel's 30 patched
    // header bytes), adds, and closes when asked. A file that would outgrow
    // its 32-bit sizes is finished and a new one started, named as a split
    // names a movie file but with ".avi". A file plays at the rate of the
    // frame that opened it (frames per second x 100).
    void WriteAviFrame(int channel, const uint8_t* frame, uint32_t length, uint32_t width, uint32_t height,
                       const uint8_t* streamHeader, int framesPerSecondTimes100);
    // Without a lock or a file: whether the channel has AVI work to do.
    bool AviActive(int channel) const;
    // Finishes an open AVI file of the channel (a disconnected channel sends
    // no frame that would close it); true when one was open.
    bool FinishAvi(int channel);

    bool IsRecording(int channel) const;
    std::string MoviePath(int channel) const;
    std::string RecordDirectory() const;
    int AviRequest(int channel) const;
    std::string AviPath(int channel) const;
    Statistics Stats() const;

private:
    struct PendingIndex {
        vyrmovie::IndexRecord record;
        uint64_t recordEnd; // the frame is on file once this many bytes are
    };
    struct Channel {
        mutable std::mutex lock;
        std::atomic<int> recording{0};
        bool newFile = true;
        bool splitPending = false; // past a mark: the next key frame opens the next file
        uint32_t position = 0;
        RecordFile movie;
        RecordFile index;
        std::deque<PendingIndex> pending;
        std::vector<uint32_t> keyFrameOffsets; // of the open file, in file order
        std::string moviePath;
        std::string prefix;
        int splitMark = 0;
        int aviRequest = 0; // 0 none, 1 open at the next key frame, 3 close
        bool aviWriting = false;
        std::string aviPath;     // where the next AVI file goes
        std::string aviOpenPath; // the open file's final name
        int aviRate = 0;         // the open file's frames per second x 100
        std::atomic<bool> aviActive{false}; // aviRequest != 0 || aviWriting
        std::unique_ptr<CAviWriter> avi;
    };
    enum class Outcome { None, Stopped, Fault };

    void StartLocked(Channel& c, bool movieMode, const std::string& path, const std::string& fname1,
                     const std::string& fname2, const std::tm& local);
    // Closes the files so that every index record points at data that is on
    // file and every key frame on file has its record (a movie file whose
    // index could not take them all ends before the first key frame without
    // one), and removes both when not one whole frame is left; false when
    // data could not be written.
    bool CloseFilesLocked(Channel& c);
    bool CommitIndexLocked(Channel& c);
    Outcome WriteLocked(Channel& c, int channel, const uint8_t* frame, const FrameInfo& info);
    // Opens the channel's movie file under its path, or under the next free
    // second of its name (into the next minute, hour or day); moviePath
    // follows. A taken name without a time is not opened.
    bool OpenUnusedMovieFile(Channel& c);
    void Notify(Outcome outcome, int channel);
    Outcome WriteAviLocked(Channel& c, int channel, const uint8_t* frame, uint32_t length, uint32_t width,
                           uint32_t height, const uint8_t* streamHeader, int framesPerSecondTimes100);
    // Finishes the open AVI file; false on a write fault, which removes it.
    bool CloseAviLocked(Channel& c);
    void UpdateAviActiveLocked(Channel& c) { c.aviActive = c.aviRequest != 0 || c.aviWriting; }
    RecordClockTime Now() const;

    Notices notices_;
    mutable std::mutex clockLock_;
    RecordClock clock_;
    mutable std::mutex directoryLock_;
    std::string recordDirectory_;
    std::array<Channel, vyrmovie::kChannelCount> channels_;

    std::atomic<uint64_t> frames_{0}, bytes_{0}, writeNs_{0}, splits_{0}, longestSplitNs_{0};
    std::atomic<uint64_t> aviFrames_{0}, aviWriteNs_{0}, aviCloses_{0}, longestAviCloseNs_{0};
};

} // namespace vyrdax
