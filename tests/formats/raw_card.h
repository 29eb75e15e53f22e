// An in-memory card (512-byte sectors unless told otherwise) for recogniser tests: files are placed over chosen
// sectors, then recognised one start at a time or scanned whole with every recogniser.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "formats/recognisers.h"
#include "scan/copies_ahead.h"
#include "scan/progress.h"
#include "scan/recovered_file.h"
#include "scan/scan_context.h"
#include "scan/scan_driver.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane::test {

inline int64_t Sectors(size_t bytes, int64_t sectorSize = 512) {
  return (static_cast<int64_t>(bytes) + sectorSize - 1) / sectorSize;
}

inline std::vector<int64_t> SectorRunOf(int64_t first, int64_t count) {
  std::vector<int64_t> s;
  for (int64_t i = 0; i < count; ++i) s.push_back(first + i);
  return s;
}

// Counts the reads that reach the medium.
class CountingSource : public Source {
 public:
  explicit CountingSource(Source& inner) : Source("counting"), inner_(inner) {}
  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    ++reads;
    bytes += static_cast<int64_t>(length);
    return inner_.ReadAt(offset, buffer, length);
  }
  bool CopyInto(int64_t offset, int64_t length, int fileHandle, int64_t fileOffset) override {
    return inner_.CopyInto(offset, length, fileHandle, fileOffset);
  }
  int64_t SizeBytes() const override { return inner_.SizeBytes(); }
  SourceKind Kind() const override { return SourceKind::ImageFile; }
  int64_t reads = 0, bytes = 0;

 private:
  Source& inner_;
};

// The first `count` sector numbers from 0 on that are not in `taken`.
inline std::vector<int64_t> SectorsAvoiding(int64_t count, const std::vector<int64_t>& taken) {
  std::vector<int64_t> s;
  for (int64_t sector = 0; static_cast<int64_t>(s.size()) < count; ++sector)
    if (std::find(taken.begin(), taken.end(), sector) == taken.end()) s.push_back(sector);
  return s;
}

// Parts of a file laid end to end.
inline std::vector<uint8_t> Cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Writes the low `width` bytes of v at `at`, least significant first.
inline void PutLe(std::vector<uint8_t>& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A sparse image file of a few gigabytes with pieces of a file written at their offsets,
// read through a CountingSource by a scan context over all of it (the output folder beside
// the image): for walks over long files in claim-only mode.
struct SparseCard {
  SparseCard(int64_t imageBytes, const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& pieces,
             uint32_t sectorSize = 512)
      : path(dir / "card.img") {
    if (WriteSparseImage(path, imageBytes, pieces)) file = OpenSource(path).source;
    if (file) counting = std::make_unique<CountingSource>(*file);
    setup.Geometry.SectorSize = sectorSize;
    setup.Geometry.PartitionLastSector = imageBytes / sectorSize - 1;
    setup.LastSector = setup.Geometry.PartitionLastSector;
    setup.Options.OutputFolder = dir.path().string() + "/";
  }
  // Null when the image could not be made; created on first use from setup.
  ScanContext* Context() {
    if (!scan && counting) scan = ScanContext::Create(*counting, setup, clock).Scan;
    return scan.get();
  }
  int64_t Claimed() { return scan->SectorMap.CountClaimed(0, setup.LastSector + 1); }
  // Nothing but the image in the folder: no file was written.
  bool ImageAlone() const { return std::distance(std::filesystem::directory_iterator(dir.path()), {}) == 1; }

  TempDir dir;
  std::string path;
  std::unique_ptr<Source> file;
  std::unique_ptr<CountingSource> counting;
  ScanSetup setup;
  ProgressClock clock;
  std::unique_ptr<ScanContext> scan;
};

struct RawCard {
  explicit RawCard(int64_t sectors, uint32_t sectorsPerCluster = 1, bool randomFill = false, uint32_t sectorSize = 512)
      : ss(sectorSize), image(static_cast<size_t>(sectors) * sectorSize, 0) {
    if (randomFill) {
      std::mt19937 rng(2024);
      for (auto& b : image) b = rng() & 0xFF;
    }
    setup.Geometry.PartitionLastSector = sectors - 1;
    setup.Geometry.SectorSize = sectorSize;
    setup.Geometry.SectorsPerCluster = sectorsPerCluster;
    setup.Geometry.ClusterPhase = 0;
    setup.LastSector = sectors - 1;
    setup.Options.OutputFolder = dir.path().string() + "/";
  }
  // Places bytes over the given sectors, one sector's worth each.
  void Place(const std::vector<uint8_t>& bytes, const std::vector<int64_t>& sectors) {
    const auto needed = static_cast<size_t>(Sectors(bytes.size(), ss));
    bool fits = sectors.size() >= needed;
    for (size_t i = 0; fits && i < needed; ++i) fits = sectors[i] >= 0 && sectors[i] <= setup.Geometry.PartitionLastSector;
    if (!fits) {
      ADD_FAILURE() << "a file of " << bytes.size() << " bytes does not fit where it was placed";
      return;
    }
    for (size_t i = 0; i * ss < bytes.size(); ++i)
      std::copy_n(bytes.begin() + i * ss, std::min<size_t>(ss, bytes.size() - i * ss), image.begin() + sectors[i] * ss);
  }
  void Place(const std::vector<uint8_t>& bytes, int64_t first) { Place(bytes, SectorRunOf(first, Sectors(bytes.size(), ss))); }
  // Places the files one after another from sector `first`, `gap` sectors apart; returns
  // their start sectors.
  std::vector<int64_t> PlaceInRow(const std::vector<std::vector<uint8_t>>& files, int64_t first, int64_t gap) {
    std::vector<int64_t> starts;
    for (const auto& f : files) {
      starts.push_back(first);
      Place(f, first);
      first += Sectors(f.size(), ss) + gap;
    }
    return starts;
  }
  ScanContext& Context() {
    if (!scan) {
      source = std::make_unique<MemorySource>(image);
      scan = ScanContext::Create(*source, setup, clock, observer).Scan;
    }
    return *scan;
  }
  // The context over the image written to a file, which the source copies into files in the
  // kernel, as it does a real image.
  ScanContext& ContextOverImageFile() {
    if (!scan) {
      const std::string path = imageDir.path().string() + "/card.img";
      WriteFileBytes(path, image);
      fileSource = OpenSource(path).source;
      scan = ScanContext::Create(*fileSource, setup, clock, observer).Scan;
    }
    return *scan;
  }
  // Runs `recover` over the image as a file, with the file at `sector` copied and walked
  // ahead by `walk` as the search pass's worker does (its place passed on every reportBytes);
  // `afterWalk`, when given, runs in between.
  void WithWalkAhead(WalkedLength walk, int64_t sector, int64_t reportBytes, const std::function<void()>& afterWalk,
                     const std::function<void(ScanContext&)>& recover) {
    ScanContext& s = ContextOverImageFile();
    CopiesAhead copies(*fileSource, setup.Options.OutputFolder, 0, reportBytes);
    copies.Offer(sector * ss, (setup.LastSector + 1 - sector) * ss, walk);
    copies.Settle();
    s.Copies = &copies;
    if (afterWalk) afterWalk();
    recover(s);
    s.Copies = nullptr;
  }
  // Writes bytes over the image file at `offset` (after ContextOverImageFile).
  void OverwriteImageFile(int64_t offset, const std::string& bytes) const {
    std::fstream file(imageDir.path() / "card.img", std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ScanReport RunAll() { return RunScan(Context(), setup.Geometry, DefaultRecognisers()); }
  std::string File(int64_t sector, const std::string& ext) const {
    return RecoveredFileName(setup.Options.OutputFolder, sector * ss, ext);
  }
  // The length the kind's finder for copies made ahead states for the file at `sector`,
  // within the rest of the range (0 when the kind has no finder).
  int64_t Stated(int fileType, int64_t sector) {
    Context();
    const morvane::StatedLength finder = DefaultRecognisers().CopyAhead[fileType];
    return finder ? finder(*source, sector * ss, (setup.LastSector + 1 - sector) * ss) : 0;
  }
  bool Claimed(int64_t s) { return Context().SectorMap.IsSectorClaimed(s); }
  std::vector<int64_t> ClaimedSectors() {
    std::vector<int64_t> v;
    for (int64_t s = 0; s <= setup.LastSector; ++s)
      if (Claimed(s)) v.push_back(s);
    return v;
  }
  int64_t ClaimedCount() { return static_cast<int64_t>(ClaimedSectors().size()); }
  std::vector<std::string> Files() const {
    std::vector<std::string> v;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
  }

  TempDir dir;
  uint32_t ss;
  std::vector<uint8_t> image;
  ScanSetup setup;
  ProgressClock clock;
  ScanObserver* observer = nullptr;  // set before the first Context()
  std::unique_ptr<MemorySource> source;
  TempDir imageDir;
  std::unique_ptr<Source> fileSource;
  std::unique_ptr<ScanContext> scan;
};

}  // namespace morvane::test
