#include "MovieFormat.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>

namespace vyrmovie {

uint32_t MovieFrameHeader::MakeBits(uint32_t length, int frameType, int channel, int events)
{
    return (length & kLengthMask) | (static_cast<uint32_t>(frameType) & 3u) << 21 |
           (static_cast<uint32_t>(channel) & 0xFu) << 24 | (static_cast<uint32_t>(events) & 0xFu) << 28;
}

void MovieFrameHeader::Encode(uint8_t* out) const
{
    WriteLE16(out + 0, marker);
    out[2] = firstStreamByte;
    out[3] = intervalCode;
    WriteLE32(out + 4, bits);
    WriteLE16(out + 8, width);
    WriteLE16(out + 10, height);
    out[12] = year;
    out[13] = month;
    out[14] = day;
    out[15] = hour;
    out[16] = minute;
    out[17] = second;
    out[18] = reserved[0];
    out[19] = reserved[1];
    WriteLE32(out + 20, microseconds);
    WriteLE32(out + 24, static_cast<uint32_t>(seconds));
    WriteLE16(out + 28, streamWord);
    WriteLE16(out + 30, slot);
}

MovieFrameHeader MovieFrameHeader::Decode(const uint8_t* in)
{
    MovieFrameHeader h;
    h.marker = ReadLE16(in + 0);
    h.firstStreamByte = in[2];
    h.intervalCode = in[3];
    h.bits = ReadLE32(in + 4);
    h.width = ReadLE16(in + 8);
    h.height = ReadLE16(in + 10);
    h.year = in[12];
    h.month = in[13];
    h.day = in[14];
    h.hour = in[15];
    h.minute = in[16];
    h.second = in[17];
    h.reserved[0] = in[18];
    h.reserved[1] = in[19];
    h.microseconds = ReadLE32(in + 20);
    h.seconds = static_cast<int32_t>(ReadLE32(in + 24));
    h.streamWord = ReadLE16(in + 28);
    h.slot = ReadLE16(in + 30);
    return h;
}

MovieFileHeader MovieFileHeader::ForRecording(const MovieFrameHeader& firstFrame)
{
    MovieFileHeader h;
    const Bytes32 frame = firstFrame.Encoded();
    for (int k = 0; k < 6; ++k)
        h.bytes[16 + k] = frame[12 + k];
    return h;
}

MovieFileHeader MovieFileHeader::ForBackup(const MovieFrameHeader& firstFrame, const std::tm& savedLocal)
{
    MovieFileHeader h;
    h.bytes = firstFrame.Encoded();
    h.bytes[16] = static_cast<uint8_t>((savedLocal.tm_year + 1900 - 2000) & 0xFF);
    h.bytes[17] = static_cast<uint8_t>(savedLocal.tm_mon + 1);
    h.bytes[18] = static_cast<uint8_t>(savedLocal.tm_mday);
    h.bytes[19] = static_cast<uint8_t>(savedLocal.tm_hour);
    h.bytes[20] = static_cast<uint8_t>(savedLocal.tm_min);
    h.bytes[21] = static_cast<uint8_t>(savedLocal.tm_sec);
    h.Seal();
    return h;
}

uint32_t MovieFileHeader::ComputeChecksum() const { return Crc32(bytes.data(), 24); }

void IndexRecord::Encode(uint8_t* out) const
{
    WriteLE32(out + 0, static_cast<uint32_t>(seconds));
    WriteLE32(out + 4, microseconds);
    WriteLE32(out + 8, offset);
}

IndexRecord IndexRecord::Decode(const uint8_t* in)
{
    IndexRecord r;
    r.seconds = static_cast<int32_t>(ReadLE32(in + 0));
    r.microseconds = ReadLE32(in + 4);
    r.offset = ReadLE32(in + 8);
    return r;
}

namespace {

struct CrcTable {
    uint32_t entry[256];
    CrcTable()
    {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            entry[n] = c;
        }
    }
};

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...)
{
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0)
        return std::string();
    return std::string(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
}

std::string DateTimeFields(const std::tm& t)
{
    return Format("%04d%02d%02d.%02d%02d%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec);
}

// Reads `count` decimal digits; false on anything else.
bool Digits(const std::string& s, std::size_t at, std::size_t count, int* value)
{
    if (at + count > s.size())
        return false;
    int v = 0;
    for (std::size_t k = at; k < at + count; ++k) {
        if (s[k] < '0' || s[k] > '9')
            return false;
        v = v * 10 + (s[k] - '0');
    }
    *value = v;
    return true;
}

} // namespace

uint32_t Crc32(const uint8_t* data, std::size_t length, uint32_t crc)
{
    static const CrcTable table;
    for (std::size_t k = 0; k < length; ++k)
        crc = table.entry[(crc ^ data[k]) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::string DayDirectoryName(const std::tm& t)
{
    return Format("%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
}

std::string DayDirectory(const std::string& recordDirectory, const std::tm& local)
{
    return recordDirectory + "/" + DayDirectoryName(local);
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0))
        return 29;
    return month >= 1 && month <= 12 ? days[month - 1] : 0;
}

std::string RecordingFileName(const std::string& prefix, const std::tm& local, int channel)
{
    return prefix + "." + DateTimeFields(local) + Format(".%02d.mp4", channel);
}

std::string IndexPathFor(const std::string& moviePath) { return moviePath + "i"; }

std::string BackupFolder(const std::string& backupDirectory, const std::tm& t)
{
    return backupDirectory + "/" +
           Format("%04d-%02d-%02d-%02d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min,
                  t.tm_sec);
}

std::string MakeBackupFolder(const std::string& backupDirectory, const std::tm& local)
{
    constexpr int kSecondsOfADay = 24 * 60 * 60;
    std::tm t = local;
    for (int tried = 0; tried <= kSecondsOfADay && t.tm_year + 1900 <= 9999; ++tried) {
        const std::string folder = BackupFolder(backupDirectory, t);
        // mkdir claims the name in one step, also against a backup of
        // another program writing into the same directory.
        if (::mkdir(folder.c_str(), 0777) == 0)
            return folder;
        if (errno != EEXIST)
            return {};
        t = NextClockSecond(t);
    }
    errno = EEXIST;
    return {};
}

std::string BackupMovieFile(const std::string& folder, int slot) { return folder + Format("/CH0%d_00.mp4", slot); }

std::string BackupIndexFile(const std::string& folder, int slot) { return folder + Format("/CH0%d_00.m4i", slot); }

std::string BaseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// The fixed tail ".YYYYMMDD.HHMMSS.CC.ext" is 23 characters; in front of it
// stand the type letter, a point and the channel name.
constexpr std::size_t kRecordingNameTail = 23;

// Parses a recording name with any three-character extension.
bool ParseRecordingFields(const std::string& name, RecordingName* out)
{
    constexpr std::size_t kTail = kRecordingNameTail;
    if (name.size() < kTail + 2 || name[1] != '.')
        return false;
    const std::size_t t = name.size() - kTail;
    if (name[t] != '.' || name[t + 9] != '.' || name[t + 16] != '.' || name[t + 19] != '.')
        return false;
    RecordingName r;
    if (!Digits(name, t + 1, 4, &r.year) || !Digits(name, t + 5, 2, &r.month) || !Digits(name, t + 7, 2, &r.day) ||
        !Digits(name, t + 10, 2, &r.hour) || !Digits(name, t + 12, 2, &r.minute) ||
        !Digits(name, t + 14, 2, &r.second) || !Digits(name, t + 17, 2, &r.channel))
        return false;
    if (r.month < 1 || r.month > 12 || r.day < 1 || r.day > DaysInMonth(r.year, r.month) || r.hour > 23 ||
        r.minute > 59 || r.second > 59 || r.channel >= kChannelCount)
        return false;
    r.typeLetter = name[0];
    const std::size_t nameEnd = name.find('.', 2);
    r.channelName = name.substr(2, nameEnd - 2);
    if (out)
        *out = std::move(r);
    return true;
}

} // namespace

bool ParseRecordingName(const std::string& name, RecordingName* out)
{
    const std::string ext = name.size() >= 3 ? name.substr(name.size() - 3) : std::string();
    if (ext.size() != 3 || std::tolower(static_cast<unsigned char>(ext[0])) != 'm' ||
        std::tolower(static_cast<unsigned char>(ext[1])) != 'p' || ext[2] != '4')
        return false;
    return ParseRecordingFields(name, out);
}

std::tm BrokenDownTime(const RecordingName& name)
{
    std::tm t{};
    t.tm_year = name.year - 1900;
    t.tm_mon = name.month - 1;
    t.tm_mday = name.day;
    t.tm_hour = name.hour;
    t.tm_min = name.minute;
    t.tm_sec = name.second;
    return t;
}

std::tm NextClockSecond(const std::tm& t)
{
    std::tm fields = t;
    fields.tm_isdst = 0;
    const std::time_t next = timegm(&fields) + 1;
    std::tm n{};
    if (!gmtime_r(&next, &n))
        n.tm_year = 9999 + 1 - 1900;
    return n;
}

std::string NextSecondRecordingPath(const std::string& path)
{
    const std::string name = BaseName(path);
    RecordingName r;
    if (!ParseRecordingFields(name, &r))
        return {};
    const std::tm t = BrokenDownTime(r);
    const std::tm n = NextClockSecond(t);
    if (n.tm_year + 1900 > 9999)
        return {};
    const std::size_t t0 = name.size() - kRecordingNameTail;
    const std::string nextName = name.substr(0, t0 + 1) + DateTimeFields(n) + name.substr(t0 + 16);
    std::string directory = path.substr(0, path.size() - name.size());
    // A file in the day directory of its date follows its date into the next.
    if (n.tm_mday != r.day && !directory.empty()) {
        const std::string parent = directory.substr(0, directory.size() - 1);
        if (BaseName(parent) == DayDirectoryName(t))
            directory = parent.substr(0, parent.size() - BaseName(parent).size()) + DayDirectoryName(n) + "/";
    }
    return directory + nextName;
}

std::string RecordingDayDirectory(const std::string& recordDirectory, const std::string& fileName,
                                  const std::tm& local)
{
    RecordingName r;
    if (!ParseRecordingFields(BaseName(fileName), &r))
        return DayDirectory(recordDirectory, local);
    return DayDirectory(recordDirectory, BrokenDownTime(r));
}

bool ParseDayDirectoryName(const std::string& name, int* year, int* month, int* day)
{
    int y, m, d;
    if (name.size() != 10 || name[4] != '-' || name[7] != '-' || !Digits(name, 0, 4, &y) || !Digits(name, 5, 2, &m) ||
        !Digits(name, 8, 2, &d))
        return false;
    if (m < 1 || m > 12 || d < 1 || d > 31)
        return false;
    *year = y;
    *month = m;
    *day = d;
    return true;
}

std::string ClaimFreeRecordingName(const std::string& path, const std::function<bool(const std::string&)>& claim)
{
    constexpr int kSecondsOfADay = 24 * 60 * 60;
    std::string candidate = path;
    for (int tried = 0; tried <= kSecondsOfADay; ++tried) {
        if (claim(candidate))
            return candidate;
        if (errno != EEXIST)
            return {};
        const std::string next = NextSecondRecordingPath(candidate);
        if (next.empty()) {
            errno = EEXIST; // a name without a time: nothing to move to
            return {};
        }
        const std::string directory = next.substr(0, next.size() - BaseName(next).size());
        if (directory != candidate.substr(0, candidate.size() - BaseName(candidate).size()) && directory.size() > 1)
            ::mkdir(directory.substr(0, directory.size() - 1).c_str(), 0755); // an existing one is fine
        candidate = next;
    }
    errno = EEXIST;
    return {};
}

} // namespace vyrmovie
