// The shared body of the camera raw fuzzers: the input becomes an in-memory image (its
// first byte picks the sector size, the cluster size, sectors that already belong to other
// files and a shortened range), the recogniser runs once writing into a scratch folder and
// once claim-only, and both runs must take the same sectors; a file exists exactly when the
// start sector stayed claimed.
#pragma once

#include "fuzz_card.h"

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace morvane::fuzz {

using RawRecogniser = int (*)(ScanContext&, const std::string&, int64_t);

inline std::string ScratchFolder() {
  static std::string folder = [] {
    char name[] = "/tmp/fuzz_raw_XXXXXX";
    return std::string(mkdtemp(name)) + "/";
  }();
  return folder;
}

inline int RunRawRecogniser(const uint8_t* data, size_t size, std::string_view magic, RawRecogniser recover) {
  FuzzCard card;
  if (!MakeFuzzCard(data, size, card)) return 0;
  const uint8_t mode = card.mode;
  const uint32_t sectorSize = card.sectorSize;
  std::vector<uint8_t>& image = card.image;
  const std::vector<int64_t>& foreign = card.foreign;
  std::memcpy(image.data(), magic.data(), magic.size());
  MemorySource source(image);
  ScanSetup& setup = card.setup;
  setup.Options.OutputFolder = ScratchFolder();
  setup.Options.DateTo = 1e9;  // every shooting time passes: a recognised file is written
  static ProgressClock clock;

  std::vector<bool> claims[2];
  bool wrote = false;
  for (int pass = 0; pass < 2; ++pass) {
    auto scan = ScanContext::Create(source, setup, clock).Scan;
    if (!scan) return 0;
    for (int64_t s : foreign) scan->SectorMap.ClaimSector(s);
    recover(*scan, pass == 0 ? setup.Options.OutputFolder : std::string(), 0);
    for (int64_t s = 0; s <= scan->LastSector; ++s) claims[pass].push_back(scan->SectorMap.IsSectorClaimed(s));
    if (pass == 0) wrote = !std::filesystem::is_empty(ScratchFolder());
  }
  if (claims[0] != claims[1]) __builtin_trap();
  if (claims[0][0] != wrote) __builtin_trap();
  for (const auto& e : std::filesystem::directory_iterator(ScratchFolder())) std::filesystem::remove(e.path());
  return 0;
}

}  // namespace morvane::fuzz
