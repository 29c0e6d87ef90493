#include "CBackupMaker.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vyrdax {

using vyrmovie::IndexRecord;
using vyrmovie::MovieFileHeader;
using vyrmovie::MovieFrameHeader;

namespace {

// A recording mapped into memory: payloads go to the backup file straight
// from the page cache, as cp copies, with only the headers rewritten.
struct MappedFile {
    explicit MappedFile(const std::string& path)
    {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0) {
            void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                data = static_cast<const uint8_t*>(p);
                size = static_cast<std::size_t>(st.st_size);
                ::madvise(p, size, MADV_SEQUENTIAL);
            }
        }
        ::close(fd);
    }
    ~MappedFile()
    {
        if (data)
            ::munmap(const_cast<uint8_t*>(data), size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

// After a write that failed (a full disk), makes what a channel's backup
// files hold agree: the movie file is cut back to its last whole frame, and
// its index holds a record for every key frame on file (the records still
// waiting are written from the frames themselves). When the disk has no room
// even for those records, the movie file is cut back further, to its first
// key frame without one. A file left with no whole frame goes with its index.
void CutBackToWholeFrames(const std::string& moviePath, const std::string& indexPath)
{
    const int movie = ::open(moviePath.c_str(), O_RDWR | O_CLOEXEC);
    if (movie < 0)
        return;
    struct KeyFrame {
        uint64_t offset;
        IndexRecord record;
    };
    std::vector<KeyFrame> keys;
    uint64_t end = 0;
    struct stat st {};
    if (::fstat(movie, &st) == 0 && static_cast<uint64_t>(st.st_size) >= vyrmovie::kMovieFileHeaderSize) {
        const uint64_t size = static_cast<uint64_t>(st.st_size);
        uint64_t at = vyrmovie::kMovieFileHeaderSize;
        uint8_t bytes[vyrmovie::kMovieFrameHeaderSize];
        while (size - at >= vyrmovie::kMovieFrameHeaderSize &&
               ::pread(movie, bytes, sizeof bytes, static_cast<off_t>(at)) == static_cast<ssize_t>(sizeof bytes)) {
            const MovieFrameHeader header = MovieFrameHeader::Decode(bytes);
            const uint64_t length = header.Length();
            if (header.marker != vyrmovie::kFrameMarker || length > vyrmovie::kMaxFramePayload ||
                size - at - vyrmovie::kMovieFrameHeaderSize < length)
                break;
            if (header.IsKeyFrame())
                keys.push_back(KeyFrame{at, IndexRecord{header.seconds, header.microseconds, static_cast<uint32_t>(at)}});
            at += vyrmovie::kMovieFrameHeaderSize + length;
        }
        end = at;
    }

    // The records on file that point at whole frames stay; the ones of the
    // key frames after them are written anew.
    std::size_t kept = 0;
    const int index = ::open(indexPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (index >= 0) {
        uint8_t record[vyrmovie::kIndexRecordSize];
        while (kept < keys.size() &&
               ::pread(index, record, sizeof record, static_cast<off_t>(kept * sizeof record)) ==
                   static_cast<ssize_t>(sizeof record) &&
               IndexRecord::Decode(record).offset == keys[kept].offset)
            ++kept;
        std::vector<uint8_t> waiting((keys.size() - kept) * vyrmovie::kIndexRecordSize);
        for (std::size_t k = kept; k < keys.size(); ++k)
            keys[k].record.Encode(waiting.data() + (k - kept) * vyrmovie::kIndexRecordSize);
        const off_t from = static_cast<off_t>(kept * vyrmovie::kIndexRecordSize);
        std::size_t done = 0;
        while (done < waiting.size()) {
            const ssize_t n = ::pwrite(index, waiting.data() + done, waiting.size() - done,
                                       from + static_cast<off_t>(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
        if (done == waiting.size())
            kept = keys.size();
        else if (kept < keys.size())
            end = keys[kept].offset; // the frames from the first key frame without a record go
        if (::ftruncate(index, static_cast<off_t>(kept * vyrmovie::kIndexRecordSize)) != 0) {
            // Shrinking a file needs no room; there is nothing more to do.
        }
        ::close(index);
    } else if (!keys.empty()) {
        end = vyrmovie::kMovieFileHeaderSize; // no index can be written: no frame stays
    }
    if (::ftruncate(movie, static_cast<off_t>(end)) != 0) {
        // As above; a file that keeps no whole frame goes anyway.
    }
    ::close(movie);
    if (end <= vyrmovie::kMovieFileHeaderSize) {
        ::unlink(moviePath.c_str());
        ::unlink(indexPath.c_str());
    }
}

// Gathers many small pieces and writes them with few system calls. Pieces
// added by copy live in the writer; pieces added in place must outlive the
// next Flush.
class BatchWriter {
public:
    ~BatchWriter()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Open() const { return fd_ >= 0; }
    bool Open(const std::string& path, bool fresh)
    {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : O_APPEND), 0666);
        return fd_ >= 0;
    }
    bool Add(const uint8_t* bytes, std::size_t length)
    {
        if (copied_.size() + length > copied_.capacity() && !Flush())
            return false;
        if (copied_.capacity() == 0)
            copied_.reserve(kCopiedBytes);
        // Pieces point into copied_, which never moves between flushes.
        const std::size_t at = copied_.size();
        copied_.insert(copied_.end(), bytes, bytes + length);
        return Push(copied_.data() + at, length);
    }
    bool AddInPlace(const uint8_t* bytes, std::size_t length) { return length == 0 || Push(bytes, length); }
    bool Flush()
    {
        std::size_t done = 0;
        while (done < pieces_.size()) {
            const int count = static_cast<int>(std::min<std::size_t>(pieces_.size() - done, IOV_MAX));
            const ssize_t n = ::writev(fd_, pieces_.data() + done, count);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return Fail();
            }
            // Steps past what was written, part of a piece included.
            std::size_t left = static_cast<std::size_t>(n);
            while (left > 0 && done < pieces_.size()) {
                iovec& piece = pieces_[done];
                const std::size_t take = std::min(left, piece.iov_len);
                piece.iov_base = static_cast<uint8_t*>(piece.iov_base) + take;
                piece.iov_len -= take;
                left -= take;
                if (piece.iov_len == 0)
                    ++done;
            }
            if (n == 0)
                return Fail();
        }
        pieces_.clear();
        copied_.clear();
        return true;
    }
    // Writes what is gathered and closes; false when anything was lost.
    bool Close()
    {
        bool ok = Flush();
        ok = ::close(fd_) == 0 && ok;
        fd_ = -1;
        return ok;
    }

private:
    static constexpr std::size_t kCopiedBytes = 64 * 1024;
    static constexpr std::size_t kPieces = 4096;
    bool Push(const uint8_t* bytes, std::size_t length)
    {
        pieces_.push_back(iovec{const_cast<uint8_t*>(bytes), length});
        return pieces_.size() < kPieces || Flush();
    }
    bool Fail()
    {
        pieces_.clear();
        copied_.clear();
        return false;
    }
    int fd_ = -1;
    std::vector<iovec> pieces_;
    std::vector<uint8_t> copied_;
};

} // namespace

void StampBirthTime(const std::string& path)
{
#ifdef STATX_BTIME
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME, &sx) != 0 || !(sx.stx_mask & STATX_BTIME))
        return;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = sx.stx_btime.tv_sec;
    times[1].tv_nsec = sx.stx_btime.tv_nsec;
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
#else
    (void)path;
#endif
}

CBackupMaker::CBackupMaker(std::string recordDirectory, std::time_t start, std::time_t end, uint64_t largestFile)
    : recordDirectory_(std::move(recordDirectory)), start_(start), end_(end),
      largestFile_(std::min(largestFile, kLargestFile))
{
}

void CBackupMaker::ForEachDay(const std::function<void(int, int, int)>& visit) const
{
    std::tm first{}, last{};
    localtime_r(&start_, &first);
    localtime_r(&end_, &last);
    // Calendar dates, not 86,400-second steps: a daylight-saving night
    // neither skips nor repeats a day.
    std::tm day{};
    day.tm_year = first.tm_year;
    day.tm_mon = first.tm_mon;
    day.tm_mday = first.tm_mday;
    day.tm_hour = 12;
    day.tm_isdst = -1;
    auto key = [](const std::tm& t) { return (t.tm_year * 13 + t.tm_mon) * 32 + t.tm_mday; };
    while (key(day) <= key(last)) {
        visit(day.tm_year + 1900, day.tm_mon + 1, day.tm_mday);
        ++day.tm_mday;
        day.tm_hour = 12;
        day.tm_isdst = -1;
        std::mktime(&day);
    }
}

int64_t CBackupMaker::EstimateIndex(const std::string& indexPath)
{
    if (!index_.Load(indexPath) || start_ == end_ || index_.Count() == 0)
        return 0;
    const int count = index_.Count();
    int first = -1;
    for (int i = 0; i < count; ++i)
        if (index_.GetRecord(i).seconds >= start_) {
            first = i;
            break;
        }
    if (first < 0)
        return 0;
    const uint32_t firstOffset = index_.GetOffset(first);
    if (firstOffset == 0 || firstOffset == 0xFFFFFFFFu)
        return 0;
    uint32_t lastOffset = 32;
    for (int i = count - 1; i >= 0; --i)
        if (index_.GetRecord(i).seconds <= end_) {
            lastOffset = index_.GetOffset(i);
            break;
        }
    // A range that ends before the first key frame it starts from adds
    // nothing rather than a negative size.
    if (lastOffset <= firstOffset)
        return 0;
    return (static_cast<int64_t>(lastOffset) - firstOffset) / 1024;
}

int64_t CBackupMaker::EstimateKiB()
{
    int64_t total = 0;
    ForEachDay([&](int year, int month, int day) {
        // The catalogue lists recordings only; each one's index lies beside it.
        catalog_.FindRecordingFile(recordDirectory_, year, month, day);
        for (int ch = 0; ch < kChannels; ++ch)
            for (const std::string& path : catalog_.ChannelFiles(ch))
                total += EstimateIndex(vyrmovie::IndexPathFor(path));
    });
    return total;
}

bool CBackupMaker::Run(const std::string& folder, const std::atomic<bool>& stop)
{
    writePosition_.fill(vyrmovie::kMovieFileHeaderSize);
    full_.fill(false);
    bool ok = true;
    ForEachDay([&](int year, int month, int day) {
        if (!ok)
            return;
        catalog_.FindRecordingFile(recordDirectory_, year, month, day);
        for (int ch = 0; ch < kChannels && ok; ++ch)
            for (const std::string& path : catalog_.ChannelFiles(ch)) {
                if (stop.load() || CopyFrames(path, ch, folder, stop) == CopyResult::Failed) {
                    ok = false;
                    break;
                }
            }
    });
    const bool allFitted = std::none_of(full_.begin(), full_.end(), [](bool full) { return full; });
    return ok && allFitted && !stop.load();
}

CBackupMaker::CopyResult CBackupMaker::CopyFrames(const std::string& moviePath, int channel,
                                                  const std::string& folder, const std::atomic<bool>& stop)
{
    if (!index_.Load(vyrmovie::IndexPathFor(moviePath)))
        return CopyResult::Done;
    int first = -1;
    for (int i = 0; i < index_.Count(); ++i)
        if (index_.GetRecord(i).seconds >= start_) {
            first = i;
            break;
        }
    if (first < 0 || index_.GetOffset(first) == 0 || full_[static_cast<std::size_t>(channel)])
        return CopyResult::Done;

    // A recording that cannot be read is passed over; a backup file that
    // cannot be written ends the backup.
    const MappedFile source(moviePath);
    if (!source.data)
        return CopyResult::Done;
    const uint8_t* const data = source.data;
    const std::size_t size = source.size;
    std::size_t at = index_.GetOffset(first);

    // The backup files are opened at the first frame to copy, so a channel
    // with nothing in the range leaves no empty files behind.
    const std::string moviePathOut = vyrmovie::BackupMovieFile(folder, channel);
    const std::string indexPathOut = vyrmovie::BackupIndexFile(folder, channel);
    BatchWriter movie, index;
    bool written = true;
    uint64_t& position = writePosition_[static_cast<std::size_t>(channel)];
    while (written && !stop.load()) {
        // A record cut short (a file still being written) ends the copy at
        // the last whole frame.
        if (at > size || size - at < vyrmovie::kMovieFrameHeaderSize)
            break;
        MovieFrameHeader header = MovieFrameHeader::Decode(data + at);
        if (header.seconds > end_)
            break;
        const uint32_t length = header.Length();
        if (length > vyrmovie::kMaxFramePayload)
            break; // a damaged record: nothing this long is ever recorded
        if (size - at - vyrmovie::kMovieFrameHeaderSize < length)
            break;
        if (position + vyrmovie::kMovieFrameHeaderSize + length > largestFile_) {
            // The channel's file ends with its last whole frame that the
            // index can address; its later frames are left out.
            full_[static_cast<std::size_t>(channel)] = true;
            break;
        }
        if (!movie.Open()) {
            // A run owns its files: the first file of a channel starts them
            // afresh (two backups in one second share a folder), the
            // following ones append.
            const bool fresh = position == vyrmovie::kMovieFileHeaderSize;
            if (!movie.Open(moviePathOut, fresh) || !index.Open(indexPathOut, fresh)) {
                movie.Close();
                index.Close();
                CutBackToWholeFrames(moviePathOut, indexPathOut);
                return CopyResult::Failed;
            }
        }
        if (position == vyrmovie::kMovieFileHeaderSize) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            written = movie.Add(MovieFileHeader::ForBackup(header, local).bytes.data(), vyrmovie::kMovieFileHeaderSize);
        }
        if (written && header.IsKeyFrame()) {
            IndexRecord record;
            record.seconds = header.seconds;
            record.microseconds = header.microseconds;
            record.offset = static_cast<uint32_t>(position);
            uint8_t out[vyrmovie::kIndexRecordSize];
            record.Encode(out);
            written = index.Add(out, sizeof out);
        }
        position += vyrmovie::kMovieFrameHeaderSize + length;
        header.year = static_cast<uint8_t>(header.year - 100);
        header.slot = static_cast<uint16_t>(channel);
        uint8_t bytes[vyrmovie::kMovieFrameHeaderSize];
        header.Encode(bytes);
        written = written && movie.Add(bytes, sizeof bytes) &&
                  movie.AddInPlace(data + at + vyrmovie::kMovieFrameHeaderSize, length);
        at += vyrmovie::kMovieFrameHeaderSize + length;
        // A zero-length record ends the copy once its header is copied and
        // indexed, so no index record points past the file.
        if (length == 0)
            break;
    }
    if (!movie.Open())
        return stop.load() ? CopyResult::Failed : CopyResult::Done;
    written = movie.Close() && written;
    written = index.Close() && written;
    if (!written) {
        // A file cut short is no authentic copy of its range.
        CutBackToWholeFrames(moviePathOut, indexPathOut);
        return CopyResult::Failed;
    }
    StampBirthTime(moviePathOut);
    StampBirthTime(indexPathOut);
    return CopyResult::Done;
}

} // namespace vyrdax
