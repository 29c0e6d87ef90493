#include "RecordTestSupport.h"

#include "VideoLoops.h"
#include "control/link/DvrPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace recordtest {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    char pattern[] = "/tmp/vyr-record-XXXXXX";
    if (!::mkdtemp(pattern))
        throw std::runtime_error("mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

ScopedTimeZone::ScopedTimeZone(const char* zone)
{
    if (const char* tz = std::getenv("TZ")) {
        had_ = true;
        previous_ = tz;
    }
    ::setenv("TZ", zone, 1);
    ::tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (had_)
        ::setenv("TZ", previous_.c_str(), 1);
    else
        ::unsetenv("TZ");
    ::tzset();
}

std::tm ClockFields(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t = ClockFields(year, month, day, hour, minute, second);
    t.tm_isdst = -1;
    return std::mktime(&t);
}

const std::vector<Frame>& EncodedFrames(int width, int height, int count, int gop)
{
    static std::mutex lock;
    static std::map<std::tuple<int, int, int, int>, std::vector<Frame>> cache;
    std::lock_guard<std::mutex> guard(lock);
    auto key = std::make_tuple(width, height, count, gop);
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    dvrsim::LoopSettings s;
    s.width = width;
    s.height = height;
    s.loopFrames = count;
    s.gop = gop;
    std::vector<dvrsim::EncodedFrame> encoded;
    std::string error;
    if (!dvrsim::encodeChannelLoop(s, 0, encoded, error))
        throw std::runtime_error(error);
    std::vector<Frame> frames;
    for (std::size_t k = 0; k < encoded.size(); ++k) {
        Frame f;
        if (k == 0) {
            vyrdax::StreamHeader h = vyrdax::kStreamHeaderTemplate;
            vyrdax::PatchStreamHeader(h, static_cast<uint32_t>(width), static_cast<uint32_t>(height), false);
            f.bytes.assign(h.begin(), h.end());
        }
        f.bytes.insert(f.bytes.end(), encoded[k].bytes.begin(), encoded[k].bytes.end());
        f.key = encoded[k].key;
        frames.push_back(std::move(f));
    }
    return cache.emplace(key, std::move(frames)).first->second;
}

vyrdax::FrameInfo MakeInfo(const Frame& frame, int dvrChannel, int width, int height, uint32_t streamWord)
{
    using vyrdax::FrameInfo;
    FrameInfo info;
    info.SetWord(FrameInfo::kLength, static_cast<uint32_t>(frame.bytes.size()));
    info.SetWord(FrameInfo::kFrameType, frame.key ? 0 : 1);
    info.SetWord(FrameInfo::kStreamWord, streamWord);
    info.SetWord(FrameInfo::kEventBits, 0x12);
    info.SetWord(FrameInfo::kChannel, static_cast<uint32_t>(dvrChannel));
    info.SetWord(FrameInfo::kWidth, static_cast<uint32_t>(width));
    info.SetWord(FrameInfo::kHeight, static_cast<uint32_t>(height));
    info.SetWord(FrameInfo::kFirstStreamByte, 0xA5);
    info.SetWord(FrameInfo::kIntervalCode, 1);
    info.bytes[FrameInfo::kYear] = 9;
    info.bytes[FrameInfo::kMonth] = 3;
    info.bytes[FrameInfo::kDay] = 7;
    info.bytes[FrameInfo::kHour] = 10;
    info.bytes[FrameInfo::kMinute] = 19;
    info.bytes[FrameInfo::kSecond] = 50;
    return info;
}

uint32_t LE32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

ParsedMovie ParseMovie(const std::string& moviePath)
{
    ParsedMovie m;
    std::ifstream in(moviePath, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() < 32) {
        m.problem = "no file header";
        return m;
    }
    std::copy(data.begin(), data.begin() + 32, m.fileHeader);
    std::size_t at = 32;
    m.ok = true;
    while (at < data.size()) {
        if (data.size() - at < 32) {
            m.ok = false;
            m.problem = "cut header at " + std::to_string(at);
            break;
        }
        ParsedFrame f;
        f.offset = at;
        std::copy(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at) + 32, f.header);
        const uint32_t word = LE32(f.header + 4);
        f.length = word & 0xFFFFF;
        f.key = (word & 0x600000) == 0;
        if (f.header[0] != 0xFF || f.header[1] != 0xFF) {
            m.ok = false;
            m.problem = "no marker at " + std::to_string(at);
            break;
        }
        if (data.size() - at - 32 < f.length) {
            m.ok = false;
            m.problem = "cut payload at " + std::to_string(at);
            break;
        }
        f.payload.assign(data.begin() + static_cast<long>(at) + 32,
                         data.begin() + static_cast<long>(at) + 32 + f.length);
        at += 32 + f.length;
        m.frames.push_back(std::move(f));
    }
    if (!m.frames.empty() && !m.frames.front().key) {
        m.ok = false;
        m.problem = "first frame is not a key frame";
    }
    std::ifstream idx(moviePath + "i", std::ios::binary);
    std::vector<uint8_t> index((std::istreambuf_iterator<char>(idx)), std::istreambuf_iterator<char>());
    m.indexOk = idx.good() || idx.eof();
    if (index.size() % 12 != 0)
        m.indexOk = false;
    uint32_t previous = 0;
    for (std::size_t k = 0; k + 12 <= index.size(); k += 12) {
        const uint32_t offset = LE32(index.data() + k + 8);
        m.indexOffsets.push_back(offset);
        m.indexSeconds.push_back(static_cast<int32_t>(LE32(index.data() + k)));
        auto f = std::find_if(m.frames.begin(), m.frames.end(), [&](const ParsedFrame& p) { return p.offset == offset; });
        if (f == m.frames.end() || !f->key || offset <= previous ||
            LE32(index.data() + k) != LE32(f->header + 24) || LE32(index.data() + k + 4) != LE32(f->header + 20))
            m.indexOk = false;
        previous = offset;
    }
    // Every key frame is indexed.
    std::size_t keys = 0;
    for (const ParsedFrame& f : m.frames)
        keys += f.key;
    if (keys != m.indexOffsets.size())
        m.indexOk = false;
    return m;
}

std::vector<std::string> ListFiles(const std::string& directory)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(directory, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string MonthPattern(int year, int month)
{
    char pattern[32];
    std::snprintf(pattern, sizeof pattern, "*.%04d%02d*.*.mp4", year, month);
    return pattern;
}

std::string RunCommand(const std::string& command, int* status)
{
    std::string output;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p)
        return output;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        output.append(buffer, n);
    const int raw = ::pclose(p);
    *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return output;
}

namespace {

bool WriteProcFile(const char* path, const std::string& text)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// A mount namespace of the calling (single-threaded) process's own; inside
// a user namespace when the process may not make one by itself.
bool EnterOwnMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return false;
        WriteProcFile("/proc/self/setgroups", "deny");
        if (!WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return false;
    }
    // Mounts made here stay here.
    return ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

} // namespace

int RunOnSmallDisk(std::size_t bytes, const std::string& keep, const std::function<int(const std::string&)>& work)
{
    TempDir mountPoint;
    fs::create_directories(keep);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string size = "size=" + std::to_string(bytes);
        if (!EnterOwnMountNamespace() ||
            ::mount("tmpfs", mountPoint.path().c_str(), "tmpfs", 0, size.c_str()) != 0)
            ::_exit(kNoSmallDisk);
        const int result = work(mountPoint.path());
        std::error_code error;
        fs::copy(mountPoint.path(), keep, fs::copy_options::recursive, error);
        std::fflush(nullptr);
        ::_exit(error ? 120 : result);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace recordtest
