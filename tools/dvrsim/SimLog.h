// One line per event, flushed at once, so tests can follow the log live.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>

namespace dvrsim {

class SimLog {
public:
    SimLog() = default;
    ~SimLog();
    SimLog(const SimLog&) = delete;
    SimLog& operator=(const SimLog&) = delete;

    // Empty path: standard output.
    bool open(const std::string& path, std::string& error);
    void line(const std::string& text);

private:
    std::mutex lock_;
    std::FILE* file_ = stdout;
    bool ownsFile_ = false;
};

// A login text for a log line: bytes outside 0x21..0x7E and the backslash
// as \xNN, an empty text as "".
std::string escapedText(const std::string& text);
std::string hexWord(std::uint32_t value);

}  // namespace dvrsim
