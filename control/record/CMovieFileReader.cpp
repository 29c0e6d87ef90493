#include "CMovieFileReader.h"

#include <algorithm>
#include <cstring>

namespace vyrmovie {

CMovieFileReader::CMovieFileReader()
    : index_(std::make_unique<CMovieIndex>()), payload_(new uint8_t[kFrameBufferSize]())
{
}

CMovieFileReader::~CMovieFileReader() { Close(); }

int CMovieFileReader::Open(const std::string& moviePath, const std::string& indexPath)
{
    busy_ = 1;
    step_ = 1;
    keyCounter_ = -1;
    stepPending_ = 0;
    end_ = END_NONE;
    std::lock_guard<std::mutex> lock(fileLock_);
    std::FILE* file = nullptr;
    if (!index_->Load(indexPath) || !(file = std::fopen(moviePath.c_str(), "rb"))) {
        dataPath_ = moviePath;
        // Named all the same: the pane of a file that cannot be played
        // still says whose it is.
        ParseFileName(moviePath);
        busy_ = 0;
        return 0;
    }
    if (file_)
        std::fclose(file_);
    file_ = file;
    dataPath_ = moviePath;
    ParseFileName(moviePath);
    // The file header is read past; no reader of recordings uses it.
    uint8_t bytes[kMovieFileHeaderSize];
    if (std::fread(bytes, 1, sizeof bytes, file_) == sizeof bytes)
        header_ = MovieFrameHeader::Decode(bytes);
    frameSeconds_ = index_->GetRecord(0).seconds; // the first frame comes next
    busy_ = 0;
    return 1;
}

void CMovieFileReader::Close()
{
    std::lock_guard<std::mutex> lock(fileLock_);
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

bool CMovieFileReader::HasFile() const
{
    std::lock_guard<std::mutex> lock(fileLock_);
    return file_ != nullptr;
}

void CMovieFileReader::ParseFileName(const std::string& path)
{
    // Only the file's own name counts: directories may hold points.
    const std::string name = BaseName(path);
    channelIndex_ = 0;
    if (name.size() >= 6) {
        const char a = name[name.size() - 6], b = name[name.size() - 5];
        if (a >= '0' && a <= '9' && b >= '0' && b <= '9')
            channelIndex_ = (a - '0') * 10 + (b - '0');
    }
    channelName_.clear();
    const std::size_t first = name.find('.');
    if (first != std::string::npos) {
        const std::size_t next = name.find('.', first + 1);
        channelName_ = name.substr(first + 1, next == std::string::npos ? std::string::npos : next - first - 1);
    }
}

bool CMovieFileReader::SeekLocked(uint32_t offset)
{
    return file_ && std::fseek(file_, static_cast<long>(offset), SEEK_SET) == 0;
}

int CMovieFileReader::ReadFrameLocked()
{
    if (!file_) {
        end_ = END_OF_FILE;
        return -1;
    }
    uint8_t bytes[kMovieFrameHeaderSize];
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file_);
    if (got < sizeof bytes) {
        end_ = END_OF_FILE;
        return got > 0 ? -2 : -1;
    }
    header_ = MovieFrameHeader::Decode(bytes);
    frameSeconds_ = header_.seconds;
    if (header_.IsKeyFrame()) {
        ++keyCounter_;
        framesSinceKey_ = 0;
    } else {
        ++framesSinceKey_;
    }
    const uint32_t length = header_.Length();
    if (length > kMaxFramePayload) {
        // Nothing this long ever came from a DVR: the record is damaged.
        header_.bits &= ~kLengthMask;
        end_ = END_OF_FILE;
        return -3;
    }
    const std::size_t read = std::fread(payload_.get(), 1, length, file_);
    std::memset(payload_.get() + read, 0, kFrameBufferSize - read);
    if (read < length) {
        end_ = END_OF_FILE;
        return -3;
    }
    end_ = END_NONE;
    return 1;
}

int CMovieFileReader::ReadFrame()
{
    std::lock_guard<std::mutex> lock(fileLock_);
    return ReadFrameLocked();
}

int CMovieFileReader::ReadNext()
{
    if (busy_.load())
        return 0;
    switch (state_.load()) {
    case STATE_RESET:
    case STATE_PAUSE: return 0;
    case STATE_PLAY: return ReadFrame();
    case STATE_FAST_FORWARD: {
        std::lock_guard<std::mutex> lock(fileLock_);
        const int counter = keyCounter_ += step_.load();
        const uint32_t offset = index_->GetOffset(counter);
        if (offset == 0) {
            keyCounter_ -= step_.load();
            end_ = END_OF_FILE;
            return 0;
        }
        SeekLocked(offset);
        return ReadFrameLocked();
    }
    case STATE_REWIND: {
        std::lock_guard<std::mutex> lock(fileLock_);
        const int counter = keyCounter_ -= step_.load() + 1;
        const uint32_t offset = index_->GetOffset(counter);
        if (offset == 0) {
            keyCounter_ = 0;
            end_ = END_AT_START;
            return 0;
        }
        SeekLocked(offset);
        return ReadFrameLocked();
    }
    case STATE_STEP_FORWARD:
    case STATE_STEP: {
        int expected = 1;
        return stepPending_.compare_exchange_strong(expected, 0) ? 1 : 0;
    }
    default: return ReadFrame();
    }
}

void CMovieFileReader::Reset()
{
    end_ = END_NONE;
    state_ = STATE_RESET;
    keyCounter_ = 0;
    {
        std::lock_guard<std::mutex> lock(fileLock_);
        const uint32_t offset = index_->GetOffset(0);
        if (offset != 0) {
            SeekLocked(offset);
            frameSeconds_ = index_->GetRecord(0).seconds;
        }
    }
    step_ = 1;
}

void CMovieFileReader::Play()
{
    state_ = STATE_PLAY;
    step_ = 1;
}

void CMovieFileReader::Pause()
{
    state_ = STATE_PAUSE;
    step_ = 1;
    stepPending_ = 0;
}

int CMovieFileReader::StepForward()
{
    state_ = STATE_STEP_FORWARD;
    step_ = 1;
    const int result = ReadFrame();
    stepPending_ = 1;
    return result;
}

int CMovieFileReader::Step()
{
    state_ = STATE_STEP;
    step_ = 1;
    stepPending_ = 1;
    return 1;
}

void CMovieFileReader::SeekRecord(int i)
{
    std::lock_guard<std::mutex> lock(fileLock_);
    SeekLocked(index_->GetOffset(i));
}

void CMovieFileReader::SeekLastKeyFrame()
{
    std::lock_guard<std::mutex> lock(fileLock_);
    const int last = index_->Count() - 1;
    keyCounter_ = last;
    SeekLocked(index_->GetOffset(last));
    state_ = STATE_REWIND;
    frameSeconds_ = index_->GetRecord(std::max(0, last - (step_.load() + 1))).seconds; // what a rewind reads next
}

void CMovieFileReader::SeekTime(int32_t second, uint32_t microseconds)
{
    std::lock_guard<std::mutex> lock(fileLock_);
    if (index_->Count() == 0) {
        end_ = END_OF_FILE;
        return;
    }
    const int counter = index_->FindTime(-1, -1, second, microseconds);
    keyCounter_ = counter;
    const uint32_t offset = index_->GetOffset(counter);
    if (offset > 0) {
        SeekLocked(offset);
        frameSeconds_ = index_->GetRecord(counter).seconds;
    } else
        end_ = index_->LastOffset() == 0 ? END_OF_FILE : END_NONE;
}

} // namespace vyrmovie
