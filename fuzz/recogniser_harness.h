// The common frame of the recogniser fuzzers: an in-memory image made of the input, some
// sectors already claimed by other files, a cluster size and a shortened range picked by the
// mode byte; the recogniser runs once writing into a scratch folder and once in claim-only
// mode. Both runs must take the same sectors, and a file must exist exactly when the start
// sector stayed claimed.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace fuzzing {

inline std::string ScratchFolder(const char* pattern) {
  static std::string folder = [pattern] {
    std::string name = pattern;
    return std::string(mkdtemp(name.data())) + "/";
  }();
  return folder;
}

inline std::vector<uint8_t> Claims(const morvane::ScanContext& scan) {
  std::vector<uint8_t> bits(static_cast<size_t>(scan.LastSector + 1));
  for (int64_t s = 0; s <= scan.LastSector; ++s) bits[static_cast<size_t>(s)] = scan.SectorMap.IsSectorClaimed(s);
  return bits;
}

// mode bits: 0x10 1024-byte sectors, 0x20 sectors starting with EE are foreign, 0x40 four
// sectors per cluster, 0x80 the last sector lies outside the range.
//   prepare(image, setup)    makes the start sector one of the recogniser's, sets modes
//   recognise(scan, folder)  runs the recogniser at offset 0
//   sameClaims(image)        whether both runs must take the same sectors
template <class Prepare, class Recognise, class SameClaims>
void RunBothModes(uint8_t mode, const uint8_t* data, size_t size, const std::string& scratch, Prepare prepare,
                  Recognise recognise, SameClaims sameClaims) {
  const uint32_t sectorSize = (mode & 0x10) ? 1024 : 512;
  std::vector<uint8_t> image(data, data + size);
  image.resize((image.size() + sectorSize - 1) / sectorSize * sectorSize + sectorSize);
  morvane::ScanSetup setup;
  prepare(image, setup);
  std::vector<int64_t> foreign;
  for (size_t s = 1; s * sectorSize < image.size(); ++s)
    if ((mode & 0x20) && image[s * sectorSize] == 0xEE) foreign.push_back(static_cast<int64_t>(s));

  morvane::MemorySource source(image);
  setup.Geometry.PartitionLastSector = static_cast<int64_t>(image.size() / sectorSize) - 1;
  setup.Geometry.SectorSize = sectorSize;
  setup.Geometry.SectorsPerCluster = (mode & 0x40) ? 4 : 1;
  setup.Geometry.ClusterPhase = 0;
  setup.LastSector = setup.Geometry.PartitionLastSector - ((mode & 0x80) ? 1 : 0);
  setup.Options.OutputFolder = scratch;
  static morvane::ProgressClock clock;

  std::vector<uint8_t> claims[2];
  bool wrote = false;
  for (int pass = 0; pass < 2; ++pass) {
    auto scan = morvane::ScanContext::Create(source, setup, clock).Scan;
    if (!scan) return;
    for (int64_t s : foreign) scan->SectorMap.ClaimSector(s);
    recognise(*scan, pass == 0 ? scratch : std::string());
    claims[pass] = Claims(*scan);
    if (pass == 0) wrote = !std::filesystem::is_empty(scratch);
  }
  if (sameClaims(image) && claims[0] != claims[1]) __builtin_trap();
  // Nothing half-done: a file exists exactly when the start sector stayed claimed.
  if (claims[0][0] != wrote) __builtin_trap();
  for (const auto& e : std::filesystem::directory_iterator(scratch)) std::filesystem::remove(e.path());
}

// The common case: `magic` at byte 0 of the start sector, the same claims in both runs.
template <class Recognise>
void RunBothModes(uint8_t mode, const uint8_t* data, size_t size, std::string_view magic, const std::string& scratch,
                  Recognise recognise) {
  RunBothModes(
      mode, data, size, scratch,
      [&](std::vector<uint8_t>& image, morvane::ScanSetup&) { std::memcpy(image.data(), magic.data(), magic.size()); },
      recognise, [](const std::vector<uint8_t>&) { return true; });
}

}  // namespace fuzzing
