#include "storage/source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "storage/geometry.h"

namespace morvane {
namespace {

class FdSource : public Source {
 public:
  FdSource(std::string path, int fd, SourceKind kind, int64_t size, uint32_t sectorSize, uint64_t dev)
      : Source(std::move(path)), fd_(fd), kind_(kind), size_(size), sectorSize_(sectorSize), dev_(dev) {}
  ~FdSource() override { ::close(fd_); }

  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    if (offset < 0) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
      ssize_t n = ::pread(fd_, out + done, length - done, offset + static_cast<int64_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }
  int64_t SizeBytes() const override { return size_; }
  uint32_t DeviceSectorSize() const override { return sectorSize_; }
  SourceKind Kind() const override { return kind_; }
  uint64_t DeviceNumber() const override { return dev_; }

 private:
  int fd_;
  SourceKind kind_;
  int64_t size_;
  uint32_t sectorSize_;
  uint64_t dev_;
};

// sysfs marks partitions with a "partition" file in their device folder.
bool IsPartitionDevice(dev_t dev) {
  std::string p = "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev)) +
                  "/partition";
  return ::access(p.c_str(), F_OK) == 0;
}

OpenError ErrorFromErrno(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR:
      return OpenError::NotFound;
    case EACCES:
    case EPERM:
      return OpenError::PermissionDenied;
    case EISDIR:
      return OpenError::IsDirectory;
    default:
      return OpenError::Other;
  }
}

}  // namespace

OpenResult OpenSource(const std::string& path) {
  OpenResult r;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    r.error = ErrorFromErrno(errno);
    r.detail = std::strerror(errno);
    return r;
  }
  if (S_ISDIR(st.st_mode)) {
    r.error = OpenError::IsDirectory;
    return r;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    r.error = ErrorFromErrno(errno);
    r.detail = std::strerror(errno);
    return r;
  }
  if (S_ISBLK(st.st_mode)) {
    uint64_t size = 0;
    int sectorSize = 0;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0 || ::ioctl(fd, BLKSSZGET, &sectorSize) != 0 ||
        sectorSize <= 0) {
      r.error = OpenError::SizeQueryFailed;
      r.detail = std::strerror(errno);
      ::close(fd);
      return r;
    }
    if (static_cast<uint32_t>(sectorSize) > kMaxSectorSize || sectorSize % 512 != 0) {
      r.error = OpenError::SectorTooLarge;
      r.detail = std::to_string(sectorSize) + " bytes per sector";
      ::close(fd);
      return r;
    }
    SourceKind kind = IsPartitionDevice(st.st_rdev) ? SourceKind::Partition : SourceKind::Disk;
    r.source = std::make_unique<FdSource>(path, fd, kind, static_cast<int64_t>(size),
                                          static_cast<uint32_t>(sectorSize), st.st_rdev);
    return r;
  }
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    r.error = OpenError::SizeQueryFailed;
    r.detail = std::strerror(errno);
    ::close(fd);
    return r;
  }
  r.source = std::make_unique<FdSource>(path, fd, SourceKind::ImageFile, end, 0, 0);
  return r;
}

bool MemorySource::ReadAt(int64_t offset, void* buffer, size_t length) {
  ++readCalls_;
  if (offset < 0 || static_cast<uint64_t>(offset) > bytes_.size() ||
      length > bytes_.size() - static_cast<uint64_t>(offset))
    return false;
  if (!bad_.empty() && length > 0) {
    int64_t first = offset / badSectorSize_;
    int64_t last = (offset + static_cast<int64_t>(length) - 1) / badSectorSize_;
    auto it = bad_.lower_bound(first);
    if (it != bad_.end() && *it <= last) return false;
  }
  std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

}  // namespace morvane
