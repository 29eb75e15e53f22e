// Pieces shared by the main-window tests: real images made by mkfs.fat and mtools, sources
// that read slowly or stop reading, and the main window with its dialogs answered.
#pragma once

#include <QApplication>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "app/startup.h"
#include "gui/form1.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane::test {

inline StartupResult TestStartup() {
  StartupResult s;
  s.ok = true;
  s.branding = DefaultBranding();
  return s;
}

// A FAT32 volume of `megabytes` MiB with 8 sectors per cluster; empty when the tools are
// missing or fail.
inline std::string MakeFat32Image(const TempDir& dir, int megabytes = 64) {
  if (!HaveTool("mkfs.fat")) return {};
  std::string img = dir / "vol.img";
  if (Run("PATH=$PATH:/sbin:/usr/sbin; truncate -s " + std::to_string(megabytes) + "M " + img +
          " && mkfs.fat -F 32 -s 8 -n MORVANE " + img + " >/dev/null 2>&1") != 0)
    return {};
  return img;
}

// Bytes in memory, read with an adjustable delay per read, and reads that fail from a
// chosen read on (the medium was pulled out).
class ControlledSource : public Source {
 public:
  explicit ControlledSource(std::vector<uint8_t> bytes) : Source("controlled.img"), bytes_(std::move(bytes)) {}

  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    int delay = delayMs.load();
    if (delay > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    int64_t n = reads.fetch_add(1);
    int64_t failFrom = failFromRead.load();
    if (failFrom >= 0 && n >= failFrom) return false;
    if (offset < 0 || static_cast<uint64_t>(offset) + length > bytes_.size()) return false;
    std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
  }
  int64_t SizeBytes() const override { return static_cast<int64_t>(bytes_.size()); }
  SourceKind Kind() const override { return SourceKind::Memory; }

  std::atomic<int> delayMs{0};
  std::atomic<int64_t> failFromRead{-1};  // -1: never
  std::atomic<int64_t> reads{0};

 private:
  std::vector<uint8_t> bytes_;
};

// `count` copies of a JPEG laid out one per 32 KiB, on a source without a file system.
inline std::vector<uint8_t> JpegRun(const std::vector<uint8_t>& jpeg, int count) {
  const size_t slot = 32 * 1024;
  std::vector<uint8_t> bytes(slot * static_cast<size_t>(count) + slot, 0);
  for (int i = 0; i < count; ++i) std::copy(jpeg.begin(), jpeg.end(), bytes.begin() + slot * static_cast<size_t>(i));
  return bytes;
}

// Files in `folder` whose name ends with `suffix`.
inline int CountFiles(const std::string& folder, const std::string& suffix) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) ++n;
  }
  return n;
}

}  // namespace morvane::test
