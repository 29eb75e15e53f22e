#include "storage/streams.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace morvane {

int64_t FileSeek64(int fd, int origin, int64_t offset) {
  int whence = origin == soCurrent ? SEEK_CUR : origin == soEnd ? SEEK_END : SEEK_SET;
  off_t r = ::lseek(fd, static_cast<off_t>(offset), whence);
  return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t TNTHandleStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* out = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::read(handle_, out + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return 0;
    if (n == 0) break;
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  auto* in = static_cast<const uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count) {
    ssize_t n = ::write(handle_, in + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // a short write (disk full) is a failed write
    done += n;
  }
  return done;
}

int64_t TNTHandleStream::Seek(int64_t offset, int origin) { return FileSeek64(handle_, origin, offset); }

void TNTHandleStream::SetSize(int64_t size) {
  FileSeek64(handle_, soBeginning, size);
  if (::ftruncate(handle_, static_cast<off_t>(size)) != 0)
    throw std::system_error(errno, std::generic_category(), "set end of file");
}

namespace {

int OpenWithMode(int dir, const std::string& name, uint16_t mode) {
  if (mode == fmCreate) return ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (mode == fmCreateNew) return ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  int access = mode & 3;
  int flags = access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR;
  int fd = ::openat(dir, name.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return fd;
  // Sharing is advisory on this platform: deny-write and exclusive opens take a lock that
  // conflicts with writers, so a file being written elsewhere by us is not loaded half-done.
  int share = (mode >> 4) & 0xF;
  int lock = share == 2 ? LOCK_SH : (share <= 1 || share == 3) ? LOCK_EX : 0;
  if (lock != 0 && ::flock(fd, lock | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TNewFileStream::TNewFileStream(const std::string& fileName, uint16_t mode)
    : TNTHandleStream(OpenWithMode(AT_FDCWD, fileName, mode)), fileHandle_(handle_) {}

TNewFileStream::TNewFileStream(int dir, const std::string& name, uint16_t mode)
    : TNTHandleStream(OpenWithMode(dir, name, mode)), fileHandle_(handle_) {}

TNewFileStream::~TNewFileStream() {
  if (handle_ >= 0) ::close(handle_);
}

}  // namespace morvane
