#include "SimLog.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace dvrsim {

SimLog::~SimLog()
{
    if (ownsFile_)
        std::fclose(file_);
}

bool SimLog::open(const std::string& path, std::string& error)
{
    if (path.empty())
        return true;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (!f) {
        error = "cannot open log " + path + ": " + std::strerror(errno);
        return false;
    }
    file_ = f;
    ownsFile_ = true;
    return true;
}

void SimLog::line(const std::string& text)
{
    std::lock_guard<std::mutex> lock(lock_);
    std::fputs(text.c_str(), file_);
    std::fputc('\n', file_);
    std::fflush(file_);
}

std::string escapedText(const std::string& text)
{
    if (text.empty())
        return "\"\"";
    std::string out;
    for (unsigned char c : text) {
        if (c > 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string hexWord(std::uint32_t value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

}  // namespace dvrsim
