#include "JpegFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int JpegFileOpen(const char* name, int access) {
  if (name == nullptr || name[0] == '\0') return kJpegNoFile;
  int flags = O_CLOEXEC;
  if ((access & kJpegAccessWrite) != 0)
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  else
    flags |= O_RDONLY;
  int file;
  do {
    file = ::open(name, flags, 0644);
  } while (file < 0 && errno == EINTR);
  return file < 0 ? kJpegNoFile : file;
}

bool JpegFileClose(int file) {
  if (file == kJpegNoFile) return true;
  // On Linux the descriptor is released even when close reports EINTR.
  return ::close(file) == 0 || errno == EINTR;
}

bool JpegFileRead(int file, void* buffer, size_t count, size_t* done) {
  *done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (*done < count) {
    const ssize_t got = ::read(file, bytes + *done, count - *done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;  // end of file: a short count, not a failure
    *done += static_cast<size_t>(got);
  }
  return true;
}

bool JpegFileWrite(int file, const void* buffer, size_t count, size_t* done) {
  *done = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (*done < count) {
    const ssize_t put = ::write(file, bytes + *done, count - *done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (put == 0) return false;
    *done += static_cast<size_t>(put);
  }
  return true;
}

bool JpegFileSeek(int file, int64_t distance, int origin) {
  const int whence = origin == kJpegSeekSet ? SEEK_SET : origin == kJpegSeekEnd ? SEEK_END : SEEK_CUR;
  return ::lseek(file, static_cast<off_t>(distance), whence) != static_cast<off_t>(-1);
}
