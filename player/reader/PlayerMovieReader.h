#pragma once
// One channel of a backup folder: its movie file and key-frame index, read
// frame by frame and moved through by play state. The user-interface thread
// changes the state, seeks and steps while the channel's playback thread
// reads; one lock orders every file access.
#include "PlayerMovieIndex.h"
#include "control/record/MovieFormat.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace zoplayer {

using vyrmovie::MovieFrameHeader;

enum PlayState : int {
    kStopped = 0,
    kPlaying = 1,
    kPaused = 2,
    kFastForward = 3,
    kRewind = 4,
    kStepForward = 5,
    kStepBack = 6,
};

enum EndFlag : int { kNotAtEnd = 0, kAtEnd = 1, kBeforeStart = 2 };

// What ReadMovieFrame gives for a frame cut short or longer than any frame a
// recorder writes.
inline constexpr int kFrameRefused = -3;

// A frame as the playback thread takes it from the reader.
struct PlayerFrame {
    MovieFrameHeader header;
    std::vector<uint8_t> payload; // header.Length() bytes, zero padding behind
    // The display cell the frame belongs to (the channel of bytes 30-31).
    int Cell() const { return header.slot; }
    // The picture flag of the top four bits of the length word.
    bool Interlaced() const { return (header.bits >> 28) >= 9; }
};

class CMovieFileReader {
public:
    CMovieFileReader();
    ~CMovieFileReader();
    CMovieFileReader(const CMovieFileReader&) = delete;
    CMovieFileReader& operator=(const CMovieFileReader&) = delete;

    // Opens both files and checks the file header's checksum; the caller
    // reads HeaderValid(). A movie file shorter than its header is not valid
    // and is never read past its end.
    void OpenMovieFiles(const std::string& moviePath, const std::string& indexPath);

    // 1 a whole frame, -1 end of file, -2 a cut header, -3 a cut payload or
    // one longer than any frame the recorder writes.
    int ReadMovieFrame();
    // The next frame by play state: ReadMovieFrame's result, or 0 when there
    // is nothing to show. A refused frame (kFrameRefused) is passed over:
    // the reader moves on to the next key frame the index lists (the next
    // step's in fast forward and rewind) and reads on from there; only a
    // file with no key frame after it is at its end.
    int ReadNext();
    // ReadNext, then a copy of the frame read, in one step.
    int ReadNext(PlayerFrame* out);

    void Play();
    void FastForward(int level);
    void Rewind(int level);
    void Pause();
    void Reset();
    int StepForward();
    void Step();
    void SeekRecord(int i);
    void SeekTime(int32_t seconds, int32_t microseconds);
    // Back to a frame header read before (a FramePosition()).
    void SeekFrame(int64_t position);
    // Reads the frame at `position` again and counts it as `framesSinceKey`
    // frames after the key frame at `keyPosition`, number `keyIndex`: where
    // a step back leaves the reader. ReadMovieFrame's result.
    int ReturnToFrame(int64_t position, int64_t keyPosition, int keyIndex, int framesSinceKey);
    // The file offset of the frame header read last.
    int64_t FramePosition() const { return framePosition_.load(); }
    // The file offset of the key frame header read last.
    int64_t KeyFramePosition() const { return keyFramePosition_.load(); }
    // The offset of the last key frame the index places before `position`,
    // or 0 when there is none.
    int64_t KeyFrameBefore(int64_t position) const { return index_.OffsetBefore(position); }
    IndexRecord GetIndexRecord(int i) const { return index_.GetRecord(i); }

    bool HeaderValid() const { return headerValid_; }
    const vyrmovie::MovieFileHeader& FileHeader() const { return fileHeader_; }
    int State() const { return state_.load(); }
    int StepSize() const { return step_.load(); }
    int EndFlag() const { return end_.load(); }
    // The end of the file was read: a read past its last frame (or a frame
    // cut short there), or fast forward past its last key frame. Cleared by
    // the next frame read and by Reset.
    bool Finished() const { return end_.load() == kAtEnd; }
    int KeyIndex() const { return keyIndex_.load(); }
    void SetKeyIndex(int k) { keyIndex_ = k; }
    int FramesSinceKey() const { return framesSinceKey_.load(); }
    void SetFramesSinceKey(int n) { framesSinceKey_ = n; }
    int RecordCount() const { return index_.Count(); }
    // The time of the frame last read.
    int32_t FrameSeconds() const { return frameSeconds_.load(); }
    int32_t FrameMicroseconds() const { return frameMicroseconds_.load(); }
    MovieFrameHeader CurrentHeader() const;
    void CopyFrame(PlayerFrame* out) const;

private:
    int ReadMovieFrameLocked();
    int ReadNextLocked();
    // After a refused frame: on to the next key frame, as described at ReadNext.
    // `record` is the index record a fast forward or rewind step read, or -1.
    int PassOverRefusedLocked(int result, int record);
    void SeekLocked(int64_t offset);

    mutable std::mutex lock_;
    std::FILE* file_ = nullptr;
    std::atomic<int> state_{kStopped};
    std::atomic<int> step_{1};
    std::atomic<bool> stepPending_{false};
    MovieFrameHeader header_;
    std::vector<uint8_t> payload_;
    bool headerValid_ = false;
    vyrmovie::MovieFileHeader fileHeader_;
    std::atomic<int> end_{kNotAtEnd};
    std::atomic<int> keyIndex_{-1};
    std::atomic<int> framesSinceKey_{0};
    std::atomic<int64_t> framePosition_{0};
    std::atomic<int64_t> keyFramePosition_{0};
    std::atomic<int32_t> frameSeconds_{0};
    std::atomic<int32_t> frameMicroseconds_{0};
    CMovieIndex index_;
};

} // namespace zoplayer
