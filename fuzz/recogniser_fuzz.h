// The common frame of the recogniser fuzzers: the input becomes an in-memory image, the
// recogniser runs on it once writing into a scratch folder with every kind selected and
// once claim-only, and the two runs must take the same sectors and leave nothing half-done.
//
// The first input byte picks the setting: 0x10 sectors of 1024 bytes, 0x20 sectors that
// begin with EE are already claimed, 0x40 clusters of 4 sectors, 0x80 the range ends one
// sector before the image does. The recogniser's signature is put at the start.
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

#include "filetypes/catalogue.h"
#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace fuzzing {

using Recogniser = int (*)(morvane::ScanContext&, const std::string&, int64_t);

inline std::string ScratchFolder() {
  static std::string folder = [] {
    char name[] = "/tmp/fuzz_recogniser_XXXXXX";
    return std::string(mkdtemp(name)) + "/";
  }();
  return folder;
}

inline int RunBothModes(const uint8_t* data, size_t size, std::string_view signature, Recogniser recover,
                        std::string_view extension) {
  FuzzCard card;
  if (!MakeFuzzCard(data, size, card)) return 0;
  std::vector<uint8_t>& image = card.image;
  const std::vector<int64_t>& foreign = card.foreign;
  std::memcpy(image.data(), signature.data(), signature.size());
  morvane::MemorySource source(image);
  morvane::ScanSetup& setup = card.setup;
  static morvane::ProgressClock clock;

  std::vector<bool> claims[2];
  for (int pass = 0; pass < 2; ++pass) {
    setup.Options.OutputFolder = pass == 0 ? ScratchFolder() : std::string();
    setup.Options.TypeMask = pass == 0 ? morvane::kAllTypesMask : 0;
    auto scan = morvane::ScanContext::Create(source, setup, clock).Scan;
    if (!scan) return 0;
    for (int64_t s : foreign) scan->SectorMap.ClaimSector(s);
    recover(*scan, setup.Options.OutputFolder, 0);
    for (int64_t s = 0; s <= scan->LastSector; ++s) claims[pass].push_back(scan->SectorMap.IsSectorClaimed(s));
    if (pass == 1 && scan->RecoveredCount != 0) __builtin_trap();  // claim-only writes nothing
  }
  if (claims[0] != claims[1]) __builtin_trap();
  // Only the finished file may be left, and only for a start that stayed claimed.
  const std::string expected = "TEST_AAAAAAAA";
  for (const auto& e : std::filesystem::directory_iterator(ScratchFolder())) {
    const std::string name = e.path().filename().string();
    const bool finished = name.rfind(expected, 0) == 0 && name.size() > expected.size() &&
                          (extension.empty() || name.substr(expected.size()) == extension);
    if (!finished || !claims[0][0]) __builtin_trap();
    std::filesystem::remove(e.path());
  }
  return 0;
}

}  // namespace fuzzing
