#include "storage/source.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace morvane {

bool FaultInjection::Passes(int64_t offset, size_t length) {
  if (bad_.empty() || length == 0) return true;
  const int64_t first = offset / badSectorSize_;
  const int64_t last = (offset + static_cast<int64_t>(length) - 1) / badSectorSize_;
  const auto it = bad_.lower_bound(first);
  if (it == bad_.end() || *it > last) return true;
  ++failedReads_;
  if (failDelay_.count() > 0) std::this_thread::sleep_for(failDelay_);
  return false;
}

bool MemorySource::ReadAt(int64_t offset, void* buffer, size_t length) {
  ++readCalls_;
  if (offset < 0 || static_cast<uint64_t>(offset) > bytes_.size() ||
      length > bytes_.size() - static_cast<uint64_t>(offset) || !Passes(offset, length))
    return false;
  std::memcpy(buffer, bytes_.data() + offset, length);
  return true;
}

namespace {

// Another source with faults.
class FaultySource : public Source, public FaultInjection {
 public:
  explicit FaultySource(std::unique_ptr<Source> inner) : Source(inner->Path()), inner_(std::move(inner)) {}
  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    return Passes(offset, length) && inner_->ReadAt(offset, buffer, length);
  }
  int64_t SizeBytes() const override { return inner_->SizeBytes(); }
  uint32_t DeviceSectorSize() const override { return inner_->DeviceSectorSize(); }
  SourceKind Kind() const override { return inner_->Kind(); }
  uint64_t DeviceNumber() const override { return inner_->DeviceNumber(); }
  uint64_t FileDevice() const override { return inner_->FileDevice(); }
  uint64_t FileInode() const override { return inner_->FileInode(); }

 private:
  std::unique_ptr<Source> inner_;
};

}  // namespace

std::unique_ptr<Source> WithTestFaults(std::unique_ptr<Source> source) {
  const char* text = std::getenv("MORVANE_TEST_BAD_SECTORS");
  if (!text || !source) return source;
  std::set<int64_t> bad;
  for (const char* at = text; *at;) {
    char* end = nullptr;
    const long long first = std::strtoll(at, &end, 10);
    const long long count = *end == '+' ? std::strtoll(end + 1, &end, 10) : 1;
    for (long long s = first; s < first + std::min(count, 1LL << 20); ++s) bad.insert(s);
    at = *end == ',' ? end + 1 : end + std::strlen(end);
  }
  auto faulty = std::make_unique<FaultySource>(std::move(source));
  faulty->SetBadSectors(std::move(bad));
  return faulty;
}

}  // namespace morvane
