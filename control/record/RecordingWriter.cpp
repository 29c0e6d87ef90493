#include "RecordingWriter.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyrdax {

using namespace vyrmovie;

namespace {

// A movie file's buffer holds a few frames, so closing a file at a split
// writes little; the index file's holds a few hundred records.
constexpr std::size_t kMovieBuffer = 64 * 1024;
constexpr std::size_t kIndexBuffer = 4096;
constexpr std::size_t kStreamHeaderBytes = 30;

using SteadyClock = std::chrono::steady_clock;

uint64_t ElapsedNs(SteadyClock::time_point since)
{
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - since).count());
}

void RaiseMax(std::atomic<uint64_t>& target, uint64_t value)
{
    uint64_t seen = target.load();
    while (value > seen && !target.compare_exchange_weak(seen, value)) {
    }
}

std::tm LocalTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

} // namespace

RecordClockTime SystemRecordClock()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return RecordClockTime{ts.tv_sec, static_cast<int>(ts.tv_nsec / 1000000)};
}

// ---- RecordFile -----------------------------------------------------------

bool RecordFile::Open(const std::string& path, std::size_t bufferSize)
{
    return OpenWith(path, bufferSize, O_TRUNC);
}

bool RecordFile::OpenNew(const std::string& path, std::size_t bufferSize)
{
    return OpenWith(path, bufferSize, O_EXCL);
}

bool RecordFile::OpenWith(const std::string& path, std::size_t bufferSize, int createFlag)
{
    Close();
    path_.clear();
    used_ = 0;
    written_ = 0;
    accepted_ = 0;
    recordEnds_.clear();
    wholeRecordsEnd_ = 0;
    failed_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | createFlag | O_CLOEXEC, 0644);
    if (fd_ < 0)
        return false;
    path_ = path;
    buffer_.resize(bufferSize);
    return true;
}

void RecordFile::SettleRecordEnds()
{
    while (!recordEnds_.empty() && recordEnds_.front() <= written_) {
        wholeRecordsEnd_ = recordEnds_.front();
        recordEnds_.pop_front();
    }
}

bool RecordFile::WriteThrough(const uint8_t* data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd_, data, length);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            failed_ = true;
            SettleRecordEnds();
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
        written_ += static_cast<uint64_t>(n);
    }
    SettleRecordEnds();
    return true;
}

bool RecordFile::Flush()
{
    if (fd_ < 0)
        return false;
    const bool ok = WriteThrough(buffer_.data(), used_);
    used_ = 0; // what could not be written is given up
    return ok;
}

bool RecordFile::Write(const void* data, std::size_t length, bool endsRecord)
{
    if (fd_ < 0)
        return false;
    accepted_ += length;
    if (endsRecord)
        recordEnds_.push_back(accepted_);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (used_ + length > buffer_.size()) {
        if (!Flush())
            return false;
        if (length >= buffer_.size())
            return WriteThrough(bytes, length);
    }
    std::memcpy(buffer_.data() + used_, bytes, length);
    used_ += length;
    return true;
}

bool RecordFile::Close()
{
    if (fd_ < 0)
        return true;
    bool ok = Flush() && !failed_;
    if (failed_) {
        // A cut that fails too leaves a last record that readers stop at.
        if (::ftruncate(fd_, static_cast<off_t>(wholeRecordsEnd_)) == 0)
            written_ = wholeRecordsEnd_;
    }
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return ok && closed;
}

// ---- RecordingWriter ------------------------------------------------------

RecordingWriter::RecordingWriter(Notices notices, RecordClock clock, uint64_t largestAviFile)
    : notices_(std::move(notices)), clock_(std::move(clock))
{
    for (Channel& c : channels_)
        c.avi = std::make_unique<CAviWriter>(largestAviFile);
}

RecordingWriter::~RecordingWriter()
{
    for (Channel& c : channels_) {
        std::lock_guard<std::mutex> lock(c.lock);
        if (!c.newFile)
            CloseFilesLocked(c);
        if (c.aviWriting)
            CloseAviLocked(c);
    }
}

void RecordingWriter::SetClock(RecordClock clock)
{
    std::lock_guard<std::mutex> lock(clockLock_);
    clock_ = std::move(clock);
}

RecordClockTime RecordingWriter::Now() const
{
    std::lock_guard<std::mutex> lock(clockLock_);
    return clock_ ? clock_() : SystemRecordClock();
}

void RecordingWriter::StartLocked(Channel& c, bool movieMode, const std::string& path, const std::string& fname1,
                                  const std::string& fname2, const std::tm& local)
{
    // The host named the file from its own, earlier reading of the clock:
    // the name's day, not this reading's, picks the directory, so that the
    // catalogue finds the file where its name says.
    const std::string dayDirectory = RecordingDayDirectory(path, fname1, local);
    ::mkdir(dayDirectory.c_str(), 0755); // an existing one is fine; any other fault shows at the open
    c.splitMark = SplitMark(local.tm_min);
    {
        std::lock_guard<std::mutex> lock(directoryLock_);
        recordDirectory_ = path;
    }
    c.prefix = fname2;
    const std::string fullName = dayDirectory + "/" + fname1;
    if (movieMode) {
        c.moviePath = fullName;
        if (!c.recording.load()) {
            c.newFile = true;
            c.position = 0;
            c.recording = 1;
        }
    } else {
        c.aviPath = fullName;
        c.aviRequest = 1;
        UpdateAviActiveLocked(c);
    }
}

int RecordingWriter::StartRecord(bool movieMode, const std::string& path, const std::string& fname1,
                                 const std::string& fname2, int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return 0;
    // Without a directory the day folders would land at the file system's root.
    if (path.empty())
        return -1;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    std::lock_guard<std::mutex> lock(c.lock);
    // A start while an AVI still waits for its first intra frame replaces
    // the waiting request: the operator's last word counts.
    StartLocked(c, movieMode, path, fname1, fname2, LocalTime(Now().seconds));
    return 0;
}

void RecordingWriter::StopRecord(bool movieMode, int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    bool fault = false;
    {
        std::lock_guard<std::mutex> lock(c.lock);
        if (movieMode) {
            c.recording = 0;
            if (!c.newFile)
                fault = !CloseFilesLocked(c);
            c.newFile = true;
        } else if (c.aviWriting) {
            c.aviRequest = 3;
            UpdateAviActiveLocked(c);
        } else {
            // A file still waiting for its first intra frame is never opened:
            // the host has been told the recording stopped.
            c.aviRequest = 0;
            UpdateAviActiveLocked(c);
        }
    }
    Notify(fault ? Outcome::Fault : Outcome::Stopped, channel);
}

bool RecordingWriter::CommitIndexLocked(Channel& c)
{
    bool ok = true;
    uint8_t bytes[kIndexRecordSize];
    while (!c.pending.empty() && c.pending.front().recordEnd <= c.movie.Written()) {
        c.pending.front().record.Encode(bytes);
        ok = c.index.Write(bytes, sizeof bytes) && ok;
        c.pending.pop_front();
    }
    return ok;
}

bool RecordingWriter::CloseFilesLocked(Channel& c)
{
    const bool movieWasOpen = c.movie.IsOpen();
    const bool movieOk = c.movie.Close();
    // Records whose frames never reached the file are dropped with them.
    const bool indexOk = CommitIndexLocked(c);
    c.pending.clear();
    const bool indexClosed = c.index.Close();
    if (movieWasOpen) {
        uint64_t movieEnd = c.movie.WholeRecordsEnd();
        // Key frames whose records the index could not take (its disk full
        // before the movie file's) end the movie file: a reader seeks only
        // by the index.
        const std::size_t indexed = static_cast<std::size_t>(c.index.WholeRecordsEnd() / kIndexRecordSize);
        if (indexed < c.keyFrameOffsets.size() && c.keyFrameOffsets[indexed] < movieEnd) {
            movieEnd = c.keyFrameOffsets[indexed];
            if (::truncate(c.movie.Path().c_str(), static_cast<off_t>(movieEnd)) != 0)
                movieEnd = 0; // a file that cannot be cut goes whole
        }
        if (movieEnd <= kMovieFileHeaderSize) {
            // Not one whole frame is left (the disk was full from the
            // start): files of no frames are no recording, and no reader
            // takes them.
            ::unlink(c.movie.Path().c_str());
            if (!c.index.Path().empty())
                ::unlink(c.index.Path().c_str());
        }
    }
    c.keyFrameOffsets.clear();
    c.newFile = true;
    c.splitPending = false;
    c.position = 0;
    return movieOk && indexOk && indexClosed;
}

RecordingWriter::Outcome RecordingWriter::WriteLocked(Channel& c, int channel, const uint8_t* frame,
                                                      const FrameInfo& info)
{
    const uint32_t width = info.Word(FrameInfo::kWidth);
    const uint32_t height = info.Word(FrameInfo::kHeight);
    const uint32_t length = info.Length();
    if (width > static_cast<uint32_t>(kMaxPictureWidth) || height > static_cast<uint32_t>(kMaxPictureHeight) ||
        length > kMaxFramePayload)
        return Outcome::None;

    const RecordClockTime now = Now();
    const std::tm local = LocalTime(now.seconds);

    const uint32_t frameType = info.Word(FrameInfo::kFrameType);
    MovieFrameHeader h;
    h.firstStreamByte = info.bytes[FrameInfo::kFirstStreamByte];
    h.intervalCode = info.bytes[FrameInfo::kIntervalCode];
    // Only type 0 is a key frame; every other type stays a non-key frame.
    const int typeBits = frameType == 0 ? 0 : ((frameType & 3) != 0 ? static_cast<int>(frameType & 3) : 1);
    // The receive thread builds the stream header's interlaced form from the
    // same word (1 interlaced), so readers rebuild the header the DVR meant.
    const bool interlaced = info.Word(FrameInfo::kInterlace) == 1;
    h.bits = MovieFrameHeader::MakeBits(length, typeBits, static_cast<int>(info.Word(FrameInfo::kChannel) % 16),
                                        EventNibble(info.Word(FrameInfo::kEventBits), interlaced));
    h.width = static_cast<uint16_t>(width);
    h.height = static_cast<uint16_t>(height);
    h.year = static_cast<uint8_t>(info.bytes[FrameInfo::kYear] + 100);
    h.month = info.bytes[FrameInfo::kMonth];
    h.day = info.bytes[FrameInfo::kDay];
    h.hour = info.bytes[FrameInfo::kHour];
    h.minute = info.bytes[FrameInfo::kMinute];
    h.second = info.bytes[FrameInfo::kSecond];
    h.microseconds = static_cast<uint32_t>(now.milliseconds) * 1000u;
    // The true time: local fields rebuilt into a time would put the repeated
    // hour of a daylight-saving night an hour early.
    h.seconds = static_cast<int32_t>(now.seconds);
    h.streamWord = static_cast<uint16_t>(info.Word(FrameInfo::kStreamWord) & 0xFFFF);
    h.slot = kRecordingSlot;

    Outcome outcome = Outcome::None;
    if (SplitMark(local.tm_min) != c.splitMark) {
        // The first frame past a mark names the next file (and makes its
        // day directory); the open file takes every frame up to the next
        // key frame, which begins the next file, so nothing is lost.
        StartLocked(c, true, RecordDirectory(), RecordingFileName(c.prefix, local, channel), c.prefix, local);
        c.splitPending = !c.newFile;
    }
    if (c.splitPending && info.IsKeyFrame()) {
        const SteadyClock::time_point begin = SteadyClock::now();
        c.splitPending = false;
        const bool closed = CloseFilesLocked(c);
        splits_ += 1;
        RaiseMax(longestSplitNs_, ElapsedNs(begin));
        if (!closed) {
            c.recording = 0;
            return Outcome::Fault;
        }
        outcome = Outcome::Stopped; // the host hears of the closed file
    }

    if (c.newFile) {
        if (!info.IsKeyFrame())
            return Outcome::None;
        if (!OpenUnusedMovieFile(c) || !c.index.Open(IndexPathFor(c.moviePath), kIndexBuffer)) {
            c.recording = 0;
            CloseFilesLocked(c); // a movie file just made goes again
            return Outcome::Fault;
        }
        const MovieFileHeader fileHeader = MovieFileHeader::ForRecording(h);
        if (!c.movie.Write(fileHeader.bytes.data(), fileHeader.bytes.size())) {
            c.recording = 0;
            CloseFilesLocked(c);
            return Outcome::Fault;
        }
        c.position = kMovieFileHeaderSize;
        c.newFile = false;
    }

    const Bytes32 header = h.Encoded();
    if (!c.movie.Write(header.data(), header.size(), false) || !c.movie.Write(frame, length)) {
        c.recording = 0;
        CloseFilesLocked(c);
        return Outcome::Fault;
    }
    if (h.IsKeyFrame()) {
        c.keyFrameOffsets.push_back(c.position);
        c.pending.push_back(PendingIndex{IndexRecord{h.seconds, h.microseconds, c.position},
                                         uint64_t{c.position} + kMovieFrameHeaderSize + length});
    }
    if (!CommitIndexLocked(c)) {
        c.recording = 0;
        CloseFilesLocked(c);
        return Outcome::Fault;
    }
    c.position += kMovieFrameHeaderSize + length;
    frames_ += 1;
    bytes_ += kMovieFrameHeaderSize + length;
    return outcome;
}

bool RecordingWriter::OpenUnusedMovieFile(Channel& c)
{
    // A name already taken (the repeated hour of a daylight-saving night, a
    // second recording started within the same second) gets the next free
    // second, so that no recording is overwritten.
    const std::string path = ClaimFreeRecordingName(
        c.moviePath, [&c](const std::string& candidate) { return c.movie.OpenNew(candidate, kMovieBuffer); });
    if (path.empty())
        return false;
    c.moviePath = path;
    return true;
}

void RecordingWriter::WriteRecordFrame(int channel, const uint8_t* frame, const FrameInfo& info)
{
    if (channel < 0 || channel >= kChannelCount || !frame)
        return;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    const SteadyClock::time_point begin = SteadyClock::now();
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(c.lock);
        if (!c.recording.load())
            return;
        outcome = WriteLocked(c, channel, frame, info);
    }
    writeNs_ += ElapsedNs(begin);
    Notify(outcome, channel);
}

void RecordingWriter::Notify(Outcome outcome, int channel)
{
    if (outcome == Outcome::Fault && notices_.fileError)
        notices_.fileError(channel);
    if (outcome != Outcome::None && notices_.stopped)
        notices_.stopped(channel);
}

// ---- AVI ------------------------------------------------------------------

namespace {

bool CarriesStreamHeaders(const uint8_t* frame, uint32_t length)
{
    return length >= 4 && frame[0] == 0 && frame[1] == 0 && frame[2] == 1 && frame[3] == 0;
}

bool IsIntraFrame(const uint8_t* frame, uint32_t length)
{
    return length > 4 && (frame[4] & 0xC0) == 0;
}

std::string AviSplitName(const std::string& moviePath)
{
    const std::string::size_type dot = moviePath.rfind('.');
    return (dot == std::string::npos ? moviePath : moviePath.substr(0, dot)) + ".avi";
}

} // namespace

bool RecordingWriter::CloseAviLocked(Channel& c)
{
    const SteadyClock::time_point begin = SteadyClock::now();
    c.aviWriting = false;
    UpdateAviActiveLocked(c);
    // A failed rename keeps the data file under its temporary name; only a
    // write fault counts as one.
    c.avi->Close(c.aviOpenPath, c.aviRate);
    aviCloses_ += 1;
    RaiseMax(longestAviCloseNs_, ElapsedNs(begin));
    return !c.avi->CloseWriteFailed();
}

RecordingWriter::Outcome RecordingWriter::WriteAviLocked(Channel& c, int channel, const uint8_t* frame,
                                                         uint32_t length, uint32_t width, uint32_t height,
                                                         const uint8_t* streamHeader, int framesPerSecondTimes100)
{
    auto fault = [&c, this] {
        c.avi->Abandon();
        c.aviWriting = false;
        c.aviRequest = 0;
        UpdateAviActiveLocked(c);
        return Outcome::Fault;
    };
    if (c.aviRequest == 3) {
        c.aviRequest = 0;
        return CloseAviLocked(c) ? Outcome::None : fault();
    }
    if (c.aviWriting && c.aviRequest == 0) {
        if (!c.avi->WouldOverflow(length))
            return c.avi->AddFrame(frame, length) ? Outcome::None : fault();
        // Finished before a size in it wraps; the next file starts at a
        // frame that can open it.
        if (!CloseAviLocked(c))
            return fault();
        const RecordClockTime now = Now();
        const std::tm local = LocalTime(now.seconds);
        const std::string directory = DayDirectory(RecordDirectory(), local);
        ::mkdir(directory.c_str(), 0755);
        c.aviPath = AviSplitName(directory + "/" + RecordingFileName(c.prefix, local, channel));
        c.aviRequest = 1;
    }
    if (c.aviRequest != 1)
        return Outcome::None;
    if (c.aviWriting && !CloseAviLocked(c)) // asked to start again while writing
        return fault();
    int opened;
    if (CarriesStreamHeaders(frame, length)) {
        opened = c.avi->Open(c.aviPath, static_cast<int>(width), static_cast<int>(height), frame, length);
    } else if (IsIntraFrame(frame, length)) {
        std::vector<uint8_t> withHeaders(kStreamHeaderBytes + length);
        std::memcpy(withHeaders.data(), streamHeader, kStreamHeaderBytes);
        std::memcpy(withHeaders.data() + kStreamHeaderBytes, frame, length);
        opened = c.avi->Open(c.aviPath, static_cast<int>(width), static_cast<int>(height), withHeaders.data(),
                            static_cast<uint32_t>(withHeaders.size()));
    } else {
        return Outcome::None; // waits for an intra frame
    }
    if (!opened)
        return fault();
    c.aviOpenPath = c.avi->OpenName(); // the next free second of a taken name
    c.aviRate = framesPerSecondTimes100;
    c.aviWriting = true;
    c.aviRequest = 0;
    UpdateAviActiveLocked(c);
    return Outcome::None;
}

void RecordingWriter::WriteAviFrame(int channel, const uint8_t* frame, uint32_t length, uint32_t width,
                                    uint32_t height, const uint8_t* streamHeader, int framesPerSecondTimes100)
{
    if (channel < 0 || channel >= kChannelCount || !frame || !streamHeader)
        return;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    const SteadyClock::time_point begin = SteadyClock::now();
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(c.lock);
        outcome = WriteAviLocked(c, channel, frame, length, width, height, streamHeader, framesPerSecondTimes100);
    }
    aviFrames_ += 1;
    aviWriteNs_ += ElapsedNs(begin);
    Notify(outcome, channel);
}

bool RecordingWriter::AviActive(int channel) const
{
    return channel >= 0 && channel < kChannelCount && channels_[static_cast<std::size_t>(channel)].aviActive.load();
}

bool RecordingWriter::FinishAvi(int channel)
{
    if (channel < 0 || channel >= kChannelCount)
        return false;
    Channel& c = channels_[static_cast<std::size_t>(channel)];
    bool wasOpen, fault = false;
    {
        std::lock_guard<std::mutex> lock(c.lock);
        wasOpen = c.aviWriting;
        if (wasOpen) {
            c.aviRequest = 0;
            fault = !CloseAviLocked(c);
        }
    }
    if (fault)
        Notify(Outcome::Fault, channel);
    return wasOpen;
}

bool RecordingWriter::IsRecording(int channel) const
{
    return channel >= 0 && channel < kChannelCount && channels_[static_cast<std::size_t>(channel)].recording.load();
}

std::string RecordingWriter::MoviePath(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    std::lock_guard<std::mutex> lock(c.lock);
    return c.moviePath;
}

std::string RecordingWriter::RecordDirectory() const
{
    std::lock_guard<std::mutex> lock(directoryLock_);
    return recordDirectory_;
}

int RecordingWriter::AviRequest(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return 0;
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    std::lock_guard<std::mutex> lock(c.lock);
    return c.aviRequest;
}

std::string RecordingWriter::AviPath(int channel) const
{
    if (channel < 0 || channel >= kChannelCount)
        return {};
    const Channel& c = channels_[static_cast<std::size_t>(channel)];
    std::lock_guard<std::mutex> lock(c.lock);
    return c.aviPath;
}

RecordingWriter::Statistics RecordingWriter::Stats() const
{
    Statistics s;
    s.frames = frames_.load();
    s.bytes = bytes_.load();
    s.writeNanoseconds = writeNs_.load();
    s.splits = splits_.load();
    s.longestSplitNanoseconds = longestSplitNs_.load();
    s.aviFrames = aviFrames_.load();
    s.aviWriteNanoseconds = aviWriteNs_.load();
    s.aviCloses = aviCloses_.load();
    s.longestAviCloseNanoseconds = longestAviCloseNs_.load();
    return s;
}

} // namespace vyrdax
