#include "BackupFolder.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>

namespace zoplayer {

namespace {

// Files of this many bytes or fewer hold no frame.
constexpr off_t kShortestMovieFile = 28;

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

void ReadHeaderPanes(const vyrmovie::MovieFileHeader& header, OpenedFolder& out)
{
    const uint8_t* b = header.bytes.data();
    char text[64];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", b[8], b[9], b[10], b[11], b[12], b[13]);
    out.machineId = text;
    std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", b[16] + 2000, b[17], b[18], b[19], b[20], b[21]);
    out.savedTime = text;
}

} // namespace

const char* AuthenticityText(int status)
{
    if (status == kAuthentic)
        return kAuthenticText;
    if (status == kCopied)
        return kCopiedText;
    return kNotAuthenticatedText;
}

int ChannelNumberOf(const std::string& name)
{
    if (name.size() < 3 || std::tolower(static_cast<unsigned char>(name[0])) != 'c' ||
        std::tolower(static_cast<unsigned char>(name[1])) != 'h' || !std::isdigit(static_cast<unsigned char>(name[2])))
        return -1;
    int number = 0;
    for (std::size_t i = 2; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); ++i) {
        number = number * 10 + (name[i] - '0');
        if (number > 1000000)
            return -1;
    }
    return number;
}

std::vector<std::string> FindBackupFiles(const std::string& folder, const std::string& mask)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (::fnmatch(mask.c_str(), name.c_str(), FNM_CASEFOLD) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const int ca = ChannelNumberOf(a), cb = ChannelNumberOf(b);
        return ca != cb ? ca < cb : a < b;
    });
    return names;
}

int SplitModeFor(int files) { return files == 8 ? 9 : files; }

int JudgeFileTimes(const std::string& path)
{
#ifdef STATX_BTIME
    struct statx sx {};
    if (::statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0)
        return kNotAuthenticated;
    if (!(sx.stx_mask & STATX_BTIME))
        return kAuthentic;
    return sx.stx_btime.tv_sec == sx.stx_mtime.tv_sec ? kAuthentic : kCopied;
#else
    (void)path;
    return kAuthentic;
#endif
}

OpenedFolder OpenBackupFolder(const std::string& folder)
{
    OpenedFolder out;
    const std::vector<std::string> movies = FindBackupFiles(folder, kMovieFileMask);
    const std::vector<std::string> indexes = FindBackupFiles(folder, kIndexFileMask);
    out.movieFiles = static_cast<int>(movies.size());
    if (movies.empty()) {
        out.outcome = OpenedFolder::kNoBackupFile;
        return out;
    }
    if (movies.size() != indexes.size()) {
        out.outcome = OpenedFolder::kNoIndexFile;
        return out;
    }
    out.splitMode = SplitModeFor(out.movieFiles);

    // First pass: the times of every file. The checksum follows when the
    // readers open.
    std::vector<int> verdicts;
    bool copySeen = false;
    for (const std::string& name : movies) {
        const std::string path = JoinPath(folder, name);
        // Anything but a regular file cannot be a movie file.
        std::FILE* file = OpenRegularFile(path);
        if (!file) {
            out.authenticityText = kNotAuthenticatedText;
            out.folderStatus = kNotAuthenticated;
            return out;
        }
        // A file too short to hold a frame gets no channel below: it leaves
        // the folder's verdict alone.
        struct stat st {};
        if (::fstat(fileno(file), &st) != 0 || st.st_size <= kShortestMovieFile) {
            std::fclose(file);
            verdicts.push_back(kNotAuthenticated);
            continue;
        }
        vyrmovie::MovieFileHeader header;
        const std::size_t got = std::fread(header.bytes.data(), 1, header.bytes.size(), file);
        std::fclose(file);
        ReadHeaderPanes(header, out);
        int verdict = JudgeFileTimes(path);
        // A file too short for its header cannot carry a checksum.
        if (got < header.bytes.size())
            verdict = kNotAuthenticated;
        if (verdict == kCopied) {
            copySeen = true;
            if (out.folderStatus != kNotAuthenticated)
                out.folderStatus = kCopied;
        } else if (verdict == kNotAuthenticated) {
            out.folderStatus = kNotAuthenticated;
        }
        verdicts.push_back(verdict);
    }
    out.authenticityText = out.folderStatus == kNotAuthenticated ? kNotAuthenticatedText
                           : copySeen                            ? kCopiedText
                                                                 : kAuthenticText;

    // Second pass: a reader per channel, status kept by the channel slot it
    // plays in.
    for (std::size_t j = 0; j < movies.size() && out.readers.size() < kMaxChannels; ++j) {
        const std::string path = JoinPath(folder, movies[j]);
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= kShortestMovieFile)
            continue;
        std::string indexName;
        const int channel = ChannelNumberOf(movies[j]);
        for (const std::string& candidate : indexes)
            if (ChannelNumberOf(candidate) == channel) {
                indexName = candidate;
                break;
            }
        auto reader = std::make_unique<CMovieFileReader>();
        reader->OpenMovieFiles(path, indexName.empty() ? std::string() : JoinPath(folder, indexName));
        const std::size_t slot = out.readers.size();
        out.channelStatus[slot] = verdicts[j];
        if (!reader->HeaderValid()) {
            out.authenticityText = kNotAuthenticatedText;
            out.folderStatus = kNotAuthenticated;
            out.channelStatus[slot] = kNotAuthenticated;
        }
        out.readers.push_back(std::move(reader));
        out.moviePaths.push_back(path);
    }
    return out;
}

} // namespace zoplayer
