#include "storage/files.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace morvane {

static_assert(kWorkingFolder == AT_FDCWD);

int HoldFolder(const std::string& folder) { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }

void ReleaseFolder(int dir) { ::close(dir); }

bool NameTakenIn(int dir, const std::string& name) {
  struct stat st {};
  return ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

bool RenameNoReplaceIn(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (::renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system without the flag: look first (a short race, but never a planted link
  // followed: rename replaces a link itself, not what it points to).
  if (NameTakenIn(toDir, to)) {
    errno = EEXIST;
    return false;
  }
  return ::renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0;
}

bool RemoveFileIn(int dir, const std::string& name) { return ::unlinkat(dir, name.c_str(), 0) == 0; }

void SetFileModifiedTime(const std::string& path, int64_t seconds, long nanoseconds) {
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(seconds);
  times[1].tv_nsec = nanoseconds;
  ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

std::string WriteProbe(const std::string& folder) {
  std::string name = folder + (folder.back() == '/' ? "" : "/") + ".morvane-write-test-XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(buf.data());
  return {};
}

int OpenForWriting(const std::string& path, FileIdentity& identity) {
  // O_NONBLOCK: a FIFO planted under the name must not hold the open forever.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  identity = {S_ISREG(st.st_mode), static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return fd;
}

bool EmptyFile(int fd) { return ::ftruncate(fd, 0) == 0; }

bool FlushAndClose(int fd) {
  int error = ::fsync(fd) != 0 && errno != EINVAL ? errno : 0;
  if (::close(fd) != 0 && error == 0) error = errno;
  errno = error;
  return error == 0;
}

void CloseFile(int fd) { ::close(fd); }

std::string MakeTempFolder(const std::string& prefix) {
  std::string name = PathText(std::filesystem::temp_directory_path() / (prefix + "XXXXXX"));
  return ::mkdtemp(name.data()) ? name : std::string();
}

bool RemoveEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }
bool SyncFile(int fd) { return ::fsync(fd) == 0 || errno == EINVAL; }

std::string ExecutablePath() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.string();
}

bool RunsAsAdministrator() { return ::geteuid() == 0; }

bool IsDiskFull(int error) { return error == ENOSPC || error == EDQUOT; }

}  // namespace morvane
