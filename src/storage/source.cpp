#include "storage/source.h"

#include <cstring>

namespace morvane {

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
