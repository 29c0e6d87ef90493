// File wrappers of the codec over POSIX I/O.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int kJpegNoFile = -1;
constexpr int kJpegAccessRead = 1;
constexpr int kJpegAccessWrite = 2;
constexpr int kJpegSeekSet = 0;
constexpr int kJpegSeekCurrent = 1;
constexpr int kJpegSeekEnd = 2;

// Write access creates or truncates; read-only access needs an existing file.
int JpegFileOpen(const char* name, int access);  // kJpegNoFile on failure
bool JpegFileClose(int file);
bool JpegFileRead(int file, void* buffer, size_t count, size_t* done);
bool JpegFileWrite(int file, const void* buffer, size_t count, size_t* done);
bool JpegFileSeek(int file, int64_t distance, int origin);
