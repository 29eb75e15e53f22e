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
  FdSource(std::string path, int fd, SourceKind kind, int64_t size, uint32_t sectorSize, const struct stat& st)
      : Source(std::move(path)),
        fd_(fd),
        kind_(kind),
        size_(size),
        sectorSize_(sectorSize),
        dev_(S_ISBLK(st.st_mode) ? st.st_rdev : 0),
        fileDev_(st.st_dev),
        fileIno_(st.st_ino) {}
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
  // In the kernel, page cache to page cache, for image files (devices cannot be copied so).
  bool CopyInto(int64_t offset, int64_t length, int fileHandle, int64_t fileOffset) override {
    if (kind_ != SourceKind::ImageFile || offset < 0 || fileOffset < 0) return false;
    loff_t in = offset, out = fileOffset;
    for (int64_t left = length; left > 0;) {
      const ssize_t n = ::copy_file_range(fd_, &in, fileHandle, &out, static_cast<size_t>(left), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      left -= n;
    }
    return true;
  }
  int64_t SizeBytes() const override { return size_; }
  uint32_t DeviceSectorSize() const override { return sectorSize_; }
  SourceKind Kind() const override { return kind_; }
  uint64_t DeviceNumber() const override { return dev_; }
  uint64_t FileDevice() const override { return fileDev_; }
  uint64_t FileInode() const override { return fileIno_; }

 private:
  int fd_;
  SourceKind kind_;
  int64_t size_;
  uint32_t sectorSize_;
  uint64_t dev_;
  uint64_t fileDev_;
  uint64_t fileIno_;
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
  auto fail = [&r](OpenError error, int fd) {
    r.error = error;
    r.detail = std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return std::move(r);
  };
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer forever. The
  // type is then checked on what was really opened, not on an earlier stat of the path.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(ErrorFromErrno(errno), -1);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(OpenError::Other, fd);
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    r.error = OpenError::IsDirectory;
    return r;
  }
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    ::close(fd);
    r.error = OpenError::NotFileOrDevice;
    r.detail = "not a regular file or block device";
    return r;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return fail(OpenError::Other, fd);
  if (S_ISBLK(st.st_mode)) {
    uint64_t size = 0;
    int sectorSize = 0;
    if (::ioctl(fd, BLKGETSIZE64, &size) != 0 || ::ioctl(fd, BLKSSZGET, &sectorSize) != 0 ||
        sectorSize <= 0)
      return fail(OpenError::SizeQueryFailed, fd);
    if (static_cast<uint32_t>(sectorSize) > kMaxSectorSize || sectorSize % 512 != 0) {
      r.error = OpenError::SectorTooLarge;
      r.detail = std::to_string(sectorSize) + " bytes per sector";
      ::close(fd);
      return r;
    }
    SourceKind kind = IsPartitionDevice(st.st_rdev) ? SourceKind::Partition : SourceKind::Disk;
    r.source = std::make_unique<FdSource>(path, fd, kind, static_cast<int64_t>(size),
                                          static_cast<uint32_t>(sectorSize), st);
    return r;
  }
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) return fail(OpenError::SizeQueryFailed, fd);
  r.source = std::make_unique<FdSource>(path, fd, SourceKind::ImageFile, end, 0, st);
  return r;
}

}  // namespace morvane
