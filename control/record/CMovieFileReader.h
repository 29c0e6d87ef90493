#pragma once
// One open movie file with its key-frame index: reads frame after frame and
// moves through the file by play state. The playback thread reads; the
// host's thread changes the state, seeks and closes.
#include "CMovieIndex.h"
#include "MovieFormat.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace vyrmovie {

class CMovieFileReader {
public:
    enum PlayState : int { STATE_RESET = 0, STATE_PLAY, STATE_PAUSE, STATE_FAST_FORWARD, STATE_REWIND,
                           STATE_STEP_FORWARD, STATE_STEP };
    enum EndFlag : int { END_NONE = 0, END_OF_FILE = 1, END_AT_START = 2 };

    CMovieFileReader();
    virtual ~CMovieFileReader();
    CMovieFileReader(const CMovieFileReader&) = delete;
    CMovieFileReader& operator=(const CMovieFileReader&) = delete;

    // 1 when both files are open, else 0.
    int Open(const std::string& moviePath, const std::string& indexPath);
    void Close();
    void ParseFileName(const std::string& path);

    // 1 a frame is ready, -1 end of file, -2 short header, -3 short or
    // oversized payload.
    int ReadFrame();
    // 1 a frame is ready, 0 nothing to show, or ReadFrame's negative codes.
    int ReadNext();

    void Reset();
    void Play();
    void Pause();
    void FastForward() { state_ = STATE_FAST_FORWARD; }
    void Rewind() { state_ = STATE_REWIND; }
    int StepForward();
    int Step();
    void SeekRecord(int i);
    void SeekLastKeyFrame();
    void SeekTime(int32_t second, uint32_t microseconds);
    IndexRecord GetIndexRecord(int i) const { return index_->GetRecord(i); }

    // The frame last read: header and payload (the buffer holds
    // kFrameBufferSize bytes, zeroed past the payload's end).
    const MovieFrameHeader& CurrentHeader() const { return header_; }
    const uint8_t* Payload() const { return payload_.get(); }
    uint32_t PayloadLength() const { return header_.Length(); }

    int State() const { return state_.load(); }
    int StepSize() const { return step_.load(); }
    void SetStepSize(int step) { step_ = step; }
    int EndFlag() const { return end_.load(); }
    // The playback engine marks the ends of the recordings it walks.
    void SetEndFlag(int flag) { end_ = flag; }
    // The PC time of the frame last read or, right after an open or a
    // seek, of the frame the next read gives; safe beside the reading thread.
    int32_t FrameSeconds() const { return frameSeconds_.load(); }
    int KeyFrameCounter() const { return keyCounter_.load(); }
    int FramesSinceKey() const { return framesSinceKey_.load(); }
    int ChannelIndex() const { return channelIndex_; }
    const std::string& ChannelName() const { return channelName_; }
    const std::string& DataPath() const { return dataPath_; }
    const CMovieIndex& Index() const { return *index_; }
    bool HasFile() const;

    // Where the playback engine found this file in its catalogue.
    int catalogSlot = 0;
    int catalogDay = 0;
    int catalogMonth = 0;

private:
    int ReadFrameLocked();
    bool SeekLocked(uint32_t offset);

    std::unique_ptr<CMovieIndex> index_;
    mutable std::mutex fileLock_; // every seek and read of the data file
    std::FILE* file_ = nullptr;
    std::unique_ptr<uint8_t[]> payload_;
    MovieFrameHeader header_;

    std::atomic<int> state_{STATE_RESET};
    std::atomic<int> step_{1};
    std::atomic<int> stepPending_{0};
    std::atomic<int> busy_{0};
    std::atomic<int> end_{END_NONE};
    std::atomic<int> keyCounter_{-1};
    std::atomic<int> framesSinceKey_{0};
    std::atomic<int32_t> frameSeconds_{0};
    int channelIndex_ = 0;
    std::string channelName_;
    std::string dataPath_;
};

} // namespace vyrmovie
