#include "CBackupMaker.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace vyrdax {

using vyrmovie::IndexRecord;
using vyrmovie::MovieFileHeader;
using vyrmovie::MovieFrameHeader;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f)
            std::fclose(f);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Closes a written file and says whether everything reached it.
bool CloseWritten(File& file)
{
    std::FILE* f = file.release();
    return f && std::fclose(f) == 0;
}

bool WriteAll(std::FILE* f, const void* data, std::size_t length)
{
    return length == 0 || std::fwrite(data, 1, length, f) == length;
}

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

CBackupMaker::CBackupMaker(std::string recordDirectory, std::time_t start, std::time_t end)
    : recordDirectory_(std::move(recordDirectory)), start_(start), end_(end),
      frame_(new uint8_t[vyrmovie::kFrameBufferSize]())
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
    writePosition_.fill(static_cast<uint32_t>(vyrmovie::kMovieFileHeaderSize));
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
    return ok && !stop.load();
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
    if (first < 0 || index_.GetOffset(first) == 0)
        return CopyResult::Done;

    // A recording that cannot be read is passed over; a backup file that
    // cannot be written ends the backup.
    File source(std::fopen(moviePath.c_str(), "rb"));
    if (!source)
        return CopyResult::Done;
    if (std::fseek(source.get(), static_cast<long>(index_.GetOffset(first)), SEEK_SET) != 0)
        return CopyResult::Done;
    // The backup files are opened at the first frame to copy, so a channel
    // with nothing in the range leaves no empty files behind.
    const std::string moviePathOut = vyrmovie::BackupMovieFile(folder, channel);
    const std::string indexPathOut = vyrmovie::BackupIndexFile(folder, channel);
    File movie, index;

    bool written = true;
    uint32_t& position = writePosition_[static_cast<std::size_t>(channel)];
    uint8_t bytes[vyrmovie::kMovieFrameHeaderSize];
    while (written && !stop.load()) {
        // A record cut short (a file still being written) ends the copy at
        // the last whole frame.
        if (std::fread(bytes, 1, sizeof bytes, source.get()) != sizeof bytes)
            break;
        MovieFrameHeader header = MovieFrameHeader::Decode(bytes);
        if (header.seconds > end_)
            break;
        const uint32_t length = header.Length();
        if (length > vyrmovie::kMaxFramePayload)
            break; // a damaged record: nothing this long is ever recorded
        if (std::fread(frame_.get(), 1, length, source.get()) != length)
            break;
        if (!movie) {
            movie.reset(std::fopen(moviePathOut.c_str(), "ab"));
            index.reset(std::fopen(indexPathOut.c_str(), "ab"));
            if (!movie || !index)
                return CopyResult::Failed;
        }
        if (position == vyrmovie::kMovieFileHeaderSize) {
            const std::time_t now = std::time(nullptr);
            std::tm local{};
            localtime_r(&now, &local);
            const MovieFileHeader fileHeader = MovieFileHeader::ForBackup(header, local);
            written = WriteAll(movie.get(), fileHeader.bytes.data(), fileHeader.bytes.size());
        }
        if (written && header.IsKeyFrame()) {
            IndexRecord record;
            record.seconds = header.seconds;
            record.microseconds = header.microseconds;
            record.offset = position;
            uint8_t out[vyrmovie::kIndexRecordSize];
            record.Encode(out);
            written = WriteAll(index.get(), out, sizeof out);
        }
        position += static_cast<uint32_t>(vyrmovie::kMovieFrameHeaderSize) + length;
        header.year = static_cast<uint8_t>(header.year - 100);
        header.slot = static_cast<uint16_t>(channel);
        header.Encode(bytes);
        written = written && WriteAll(movie.get(), bytes, sizeof bytes) && WriteAll(movie.get(), frame_.get(), length);
        // A zero-length record ends the copy once its header is copied and
        // indexed, so no index record points past the file.
        if (length == 0)
            break;
    }
    if (!movie)
        return stop.load() ? CopyResult::Failed : CopyResult::Done;
    written = CloseWritten(movie) && written;
    written = CloseWritten(index) && written;
    StampBirthTime(moviePathOut);
    StampBirthTime(indexPathOut);
    return written ? CopyResult::Done : CopyResult::Failed;
}

} // namespace vyrdax
