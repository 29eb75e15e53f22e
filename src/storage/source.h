// Sources: the read-only medium a scan reads from.
//
// A source is an image file, a whole disk or a partition (volume). It is always opened
// read-only and read by positioned reads of whole sectors. Tests and fuzzers use the
// in-memory source, which can also be told to fail reads of chosen sectors.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace morvane {

enum class SourceKind { ImageFile, Disk, Partition, Memory };

enum class OpenError {
  None,
  NotFound,           // path does not exist
  IsDirectory,        // path names a folder
  PermissionDenied,   // exists but may not be read (devices: run as root)
  SizeQueryFailed,    // opened, but its length could not be learned
  SectorTooLarge,     // device sector size above kMaxSectorSize
  NotFileOrDevice,    // a FIFO, socket or character device: only files and block devices are read
  Other,
};

class Source {
 public:
  virtual ~Source() = default;

  // Reads exactly `length` bytes at byte `offset`. False on any failure or short read
  // (the buffer's contents are then unspecified).
  virtual bool ReadAt(int64_t offset, void* buffer, size_t length) = 0;

  // Copies exactly `length` bytes at byte `offset` into the open output file `fileHandle`
  // at `fileOffset` without passing them through this process, where the system can (an
  // image file on Linux). False when it cannot or the copy fails: the caller then reads and
  // writes the bytes itself (the file may hold part of them already).
  virtual bool CopyInto(int64_t offset, int64_t length, int fileHandle, int64_t fileOffset) { return false; }
  // Length of the source in bytes.
  virtual int64_t SizeBytes() const = 0;

  // The sector size a device reports (BLKSSZGET); 0 for image files and memory sources,
  // whose sector size comes from their boot sector or defaults to 512.
  virtual uint32_t DeviceSectorSize() const { return 0; }

  virtual SourceKind Kind() const = 0;
  const std::string& Path() const { return path_; }

  // Device number of the block device behind the source (0 for files and memory).
  virtual uint64_t DeviceNumber() const { return 0; }

  // The file system object that was opened: st_dev and st_ino of the image file or of the
  // device node. Both 0 for memory sources. Outputs are compared against it so that no
  // output can name the source itself, whatever the path (links included).
  virtual uint64_t FileDevice() const { return 0; }
  virtual uint64_t FileInode() const { return 0; }

 protected:
  explicit Source(std::string path) : path_(std::move(path)) {}

 private:
  std::string path_;
};

struct OpenResult {
  std::unique_ptr<Source> source;
  OpenError error = OpenError::None;
  std::string detail;  // the system's own words, for diagnostics
};

// Opens a path read-only: a regular file becomes an image-file source, a block device a
// disk or partition source (partition when sysfs says so). Anything else (a FIFO, a socket,
// a terminal) is refused with NotFileOrDevice; the open itself never waits for a writer.
OpenResult OpenSource(const std::string& path);

// Faults for tests: every read that touches a sector listed as bad fails, after a delay
// as a failing disk's reads do.
class FaultInjection {
 public:
  FaultInjection() = default;
  FaultInjection(FaultInjection&& other) noexcept
      : bad_(std::move(other.bad_)),
        badSectorSize_(other.badSectorSize_),
        failedReads_(other.failedReads_.load()),
        failDelay_(other.failDelay_) {}

  void SetBadSectors(std::set<int64_t> sectors, uint32_t sectorSize = 512) {
    bad_ = std::move(sectors);
    badSectorSize_ = sectorSize;
  }
  // Each failed read takes this long first.
  void SetFailDelay(std::chrono::microseconds delay) { failDelay_ = delay; }
  // The reads that failed so far.
  uint64_t FailedReads() const { return failedReads_; }

 protected:
  // False (after the delay) when the bytes at `offset` touch a bad sector.
  bool Passes(int64_t offset, size_t length);

 private:
  std::set<int64_t> bad_;
  uint32_t badSectorSize_ = 512;
  std::atomic<uint64_t> failedReads_{0};
  std::chrono::microseconds failDelay_{0};
};

// A source over bytes held in memory.
class MemorySource : public Source, public FaultInjection {
 public:
  explicit MemorySource(std::vector<uint8_t> bytes, std::string name = "memory")
      : Source(std::move(name)), bytes_(std::move(bytes)) {}
  MemorySource(MemorySource&& other) noexcept
      : Source(std::move(other)),
        FaultInjection(std::move(other)),
        bytes_(std::move(other.bytes_)),
        readCalls_(other.readCalls_.load()) {}

  bool ReadAt(int64_t offset, void* buffer, size_t length) override;
  int64_t SizeBytes() const override { return static_cast<int64_t>(bytes_.size()); }
  SourceKind Kind() const override { return SourceKind::Memory; }

  // Number of ReadAt calls so far (tests use it to prove that nothing was read).
  uint64_t ReadCalls() const { return readCalls_; }
  std::vector<uint8_t>& Bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::atomic<uint64_t> readCalls_{0};
};

// For tests of the whole program: MORVANE_TEST_BAD_SECTORS=<first>+<count>,... makes the
// source fail every read that touches those 512-byte sectors; without it, the source as given.
std::unique_ptr<Source> WithTestFaults(std::unique_ptr<Source> source);

}  // namespace morvane
