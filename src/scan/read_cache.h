// The read-ahead reader behind every read of a scan.
//
// All reads of the search pass and of the recognisers go through one 64 KiB window, so the
// source is read in 64 KiB requests however small the caller's reads are. The window starts
// at the first byte asked for (it is not aligned), except near the end of the scan range,
// where it is pulled back so that it ends exactly at the end of the range. Nothing at or
// beyond the end of the range (limitBytes) is ever read or served. A request of 64 KiB or
// more that the window does not hold is read straight into the caller's buffer.
//
// A window that cannot be read (a bad sector somewhere in its 64 KiB) is not given up on:
// the bytes actually asked for are then read directly, and later requests that fall inside
// that failed window are read directly too, without trying the window again. So a sector
// next to a bad one stays readable, and a failing region costs one failed window read.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "storage/source.h"

namespace morvane {

inline constexpr int64_t kReadCacheWindow = 0x10000;

class TReadCache {
 public:
  // limitBytes: byte end of the scan range, (LastSector + 1) * SectorSize. bytesRead is
  // increased by the number of bytes actually read from the source.
  TReadCache(Source& source, int64_t limitBytes, std::atomic<int64_t>& bytesRead);

  // Copies count bytes at byte offset into buffer; returns the number of bytes NOT
  // delivered (0 = success). The delivered part is always a prefix of the request.
  int64_t ReadSectors(void* buffer, int64_t count, int64_t offset);

  int64_t LimitBytes() const { return limit_; }

 private:
  // Number of bytes at offset that the window holds (0 when it does not hold offset).
  int64_t CachedAt(int64_t offset) const;
  bool FillWindow(int64_t offset);
  bool InFailedWindow(int64_t offset) const { return offset >= failedStart_ && offset < failedEnd_; }

  Source& source_;
  int64_t limit_;
  std::atomic<int64_t>& bytesRead_;
  std::unique_ptr<uint8_t[]> window_;
  int64_t windowStart_ = 0;
  int64_t windowSize_ = 0;  // 0 = nothing cached
  int64_t failedStart_ = 0;
  int64_t failedEnd_ = 0;
};

}  // namespace morvane
