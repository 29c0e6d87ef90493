#include "PlayerMovieReader.h"

#include <algorithm>

namespace zoplayer {

CMovieFileReader::CMovieFileReader() : payload_(vyrmovie::kFrameBufferSize, 0) {}

CMovieFileReader::~CMovieFileReader()
{
    if (file_)
        std::fclose(file_);
}

void CMovieFileReader::OpenMovieFiles(const std::string& moviePath, const std::string& indexPath)
{
    std::lock_guard<std::mutex> guard(lock_);
    step_ = 1;
    state_ = kPlaying;
    keyIndex_ = -1;
    stepPending_ = false;
    end_ = kNotAtEnd;
    index_.LoadMovieIndex(indexPath);
    if (file_)
        std::fclose(file_);
    file_ = OpenRegularFile(moviePath);
    headerValid_ = false;
    fileHeader_ = {};
    if (!file_)
        return;
    const std::size_t got = std::fread(fileHeader_.bytes.data(), 1, fileHeader_.bytes.size(), file_);
    headerValid_ = got == fileHeader_.bytes.size() && fileHeader_.IsAuthentic();
}

int CMovieFileReader::ReadMovieFrame()
{
    std::lock_guard<std::mutex> guard(lock_);
    return ReadMovieFrameLocked();
}

int CMovieFileReader::ReadMovieFrameLocked()
{
    if (!file_) {
        end_ = kAtEnd;
        return -1;
    }
    framePosition_ = std::ftell(file_);
    uint8_t bytes[vyrmovie::kMovieFrameHeaderSize];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file_);
    if (got < sizeof bytes) {
        end_ = kAtEnd;
        return got == 0 ? -1 : -2;
    }
    header_ = MovieFrameHeader::Decode(bytes);
    if (header_.IsKeyFrame()) {
        framesSinceKey_ = 0;
        keyFramePosition_ = framePosition_.load();
        ++keyIndex_;
    } else {
        ++framesSinceKey_;
    }
    frameSeconds_ = header_.seconds;
    frameMicroseconds_ = static_cast<int32_t>(header_.microseconds);
    const uint32_t length = header_.Length();
    // No recorder writes a longer frame; the buffer holds the longest one.
    if (length > vyrmovie::kMaxFramePayload) {
        header_.bits &= ~vyrmovie::kLengthMask;
        end_ = kAtEnd;
        return -3;
    }
    const std::size_t read = std::fread(payload_.data(), 1, length, file_);
    std::fill(payload_.begin() + static_cast<long>(read), payload_.begin() + static_cast<long>(length) +
                                                              static_cast<long>(vyrmovie::kFramePadding), 0);
    if (read < length) {
        end_ = kAtEnd;
        return -3;
    }
    end_ = kNotAtEnd;
    return 1;
}

void CMovieFileReader::SeekLocked(int64_t offset)
{
    if (file_)
        std::fseek(file_, static_cast<long>(offset), SEEK_SET);
}

int CMovieFileReader::ReadNext()
{
    std::lock_guard<std::mutex> guard(lock_);
    return ReadNextLocked();
}

int CMovieFileReader::ReadNext(PlayerFrame* out)
{
    std::lock_guard<std::mutex> guard(lock_);
    const int result = ReadNextLocked();
    if (result > 0 && out) {
        out->header = header_;
        const std::size_t length = header_.Length();
        out->payload.assign(payload_.begin(), payload_.begin() + static_cast<long>(length + vyrmovie::kFramePadding));
    }
    return result;
}

int CMovieFileReader::ReadNextLocked()
{
    switch (state_.load()) {
    case kStopped:
    case kPaused:
        return 0;
    case kFastForward: {
        // Past the last key frame the key index stays at the record count,
        // however long fast forward goes on: rewind then goes back from the
        // last key frame, and the channel still counts as finished.
        const int next = keyIndex_.load() + step_.load();
        keyIndex_ = std::min(next, index_.Count());
        const int64_t offset = next < index_.Count() ? index_.GetOffset(next) : 0;
        if (offset == 0) {
            end_ = kAtEnd;
            return 0;
        }
        SeekLocked(offset);
        return PassOverRefusedLocked(ReadMovieFrameLocked(), next);
    }
    case kRewind: {
        const int record = keyIndex_ - step_.load() - 1;
        keyIndex_ = record;
        const int64_t offset = index_.GetOffset(record);
        if (offset == 0) {
            keyIndex_ = 0;
            end_ = kBeforeStart;
            return 0;
        }
        SeekLocked(offset);
        return PassOverRefusedLocked(ReadMovieFrameLocked(), record);
    }
    case kStepForward:
    case kStepBack:
        return stepPending_.exchange(false) ? 1 : 0;
    default:
        return PassOverRefusedLocked(ReadMovieFrameLocked(), -1);
    }
}

int CMovieFileReader::PassOverRefusedLocked(int result, int record)
{
    if (result != kFrameRefused)
        return result;
    if (record >= 0) {
        // The step's key frame counts as read, so the next step moves on
        // from it, whatever its damaged header said it was.
        keyIndex_ = record + 1;
        end_ = kNotAtEnd;
        return result;
    }
    // In play the frames after it up to the next key frame lack their
    // reference, and where the next frame starts is not known either.
    const int next = index_.RecordAfter(framePosition_.load());
    if (next >= index_.Count())
        return result; // the end flag of the read stays: nothing follows
    SeekLocked(index_.GetOffset(next));
    end_ = kNotAtEnd;
    return result;
}

void CMovieFileReader::Play()
{
    state_ = kPlaying;
    step_ = 1;
}

void CMovieFileReader::FastForward(int level)
{
    state_ = kFastForward;
    step_ = level - 1;
}

void CMovieFileReader::Rewind(int level)
{
    state_ = kRewind;
    step_ = level;
}

void CMovieFileReader::Pause()
{
    state_ = kPaused;
    step_ = 1;
    stepPending_ = false;
}

void CMovieFileReader::Reset()
{
    std::lock_guard<std::mutex> guard(lock_);
    end_ = kNotAtEnd;
    state_ = kStopped;
    keyIndex_ = 0;
    const int64_t offset = index_.GetOffset(0);
    if (offset != 0)
        SeekLocked(offset);
    step_ = 1;
}

int CMovieFileReader::StepForward()
{
    std::lock_guard<std::mutex> guard(lock_);
    state_ = kStepForward;
    step_ = 1;
    const int result = ReadMovieFrameLocked();
    stepPending_ = true;
    return result;
}

void CMovieFileReader::Step()
{
    state_ = kStepBack;
    step_ = 1;
    stepPending_ = true;
}

void CMovieFileReader::SeekRecord(int i)
{
    std::lock_guard<std::mutex> guard(lock_);
    SeekLocked(index_.GetOffset(i));
}

void CMovieFileReader::SeekTime(int32_t seconds, int32_t microseconds)
{
    std::lock_guard<std::mutex> guard(lock_);
    keyIndex_ = index_.FindTime(-1, -1, seconds, microseconds);
    const int64_t offset = index_.GetOffset(keyIndex_);
    if (offset != 0)
        SeekLocked(offset);
    else
        end_ = index_.LastOffset() == 0 ? kAtEnd : kNotAtEnd;
}

void CMovieFileReader::SeekFrame(int64_t position)
{
    std::lock_guard<std::mutex> guard(lock_);
    SeekLocked(position);
}

int CMovieFileReader::ReturnToFrame(int64_t position, int64_t keyPosition, int keyIndex, int framesSinceKey)
{
    std::lock_guard<std::mutex> guard(lock_);
    SeekLocked(position);
    const int result = ReadMovieFrameLocked();
    keyFramePosition_ = keyPosition;
    keyIndex_ = keyIndex;
    framesSinceKey_ = framesSinceKey;
    return result;
}

MovieFrameHeader CMovieFileReader::CurrentHeader() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return header_;
}

void CMovieFileReader::CopyFrame(PlayerFrame* out) const
{
    std::lock_guard<std::mutex> guard(lock_);
    out->header = header_;
    const std::size_t length = header_.Length();
    out->payload.assign(payload_.begin(), payload_.begin() + static_cast<long>(length + vyrmovie::kFramePadding));
}

} // namespace zoplayer
