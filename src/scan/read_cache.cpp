#include "scan/read_cache.h"

#include <algorithm>
#include <cstring>

namespace morvane {

TReadCache::TReadCache(Source& source, int64_t limitBytes, std::atomic<int64_t>& bytesRead)
    : source_(source),
      limit_(std::max<int64_t>(limitBytes, 0)),
      bytesRead_(bytesRead),
      window_(new uint8_t[kReadCacheWindow]) {}

int64_t TReadCache::CachedAt(int64_t offset) const {
  if (windowSize_ == 0 || offset < windowStart_ || offset >= windowStart_ + windowSize_) return 0;
  return windowStart_ + windowSize_ - offset;
}

bool TReadCache::FillWindow(int64_t offset) {
  int64_t start = std::max<int64_t>(std::min(offset, limit_ - kReadCacheWindow), 0);
  int64_t size = std::min(kReadCacheWindow, limit_ - start);
  if (!source_.ReadAt(start, window_.get(), static_cast<size_t>(size))) {
    // The window keeps what it held before; its bytes are still good.
    failedStart_ = start;
    failedEnd_ = start + size;
    return false;
  }
  bytesRead_ += size;
  windowStart_ = start;
  windowSize_ = size;
  return true;
}

int64_t TReadCache::ReadSectors(void* buffer, int64_t count, int64_t offset) {
  auto* out = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    if (offset < 0 || offset >= limit_) return count;
    if (int64_t cached = CachedAt(offset); cached > 0) {
      int64_t n = std::min(count, cached);
      std::memcpy(out, window_.get() + (offset - windowStart_), static_cast<size_t>(n));
      out += n;
      offset += n;
      count -= n;
      continue;
    }
    // A request of a window or more gains nothing from the window: it is read in place.
    if (count < kReadCacheWindow && !InFailedWindow(offset) && FillWindow(offset)) continue;
    // Read what was asked for directly, up to the end of the range.
    int64_t n = std::min(count, limit_ - offset);
    if (!source_.ReadAt(offset, out, static_cast<size_t>(n))) return count;
    bytesRead_ += n;
    out += n;
    offset += n;
    count -= n;
  }
  return 0;
}

}  // namespace morvane
