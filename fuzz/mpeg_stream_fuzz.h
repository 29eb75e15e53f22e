// The body shared by the four MPEG stream fuzzers: runs one stream recogniser over an
// in-memory image made of the input, once writing into a scratch folder and once in
// claim-only mode, and checks that both take the same sectors and that the file written is
// exactly the leading bytes of the sectors claimed, in order.
//
// The first input byte picks the sector size (bit 4), four-sector clusters (bit 6), a range
// that ends one sector early (bit 7), and, with bit 5, which sectors already belong to other
// files (those whose first byte is EE). The rest is the image, from the start sector on.
#pragma once

#include "fuzz_card.h"

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace morvane::fuzz {

using StreamRecogniser = int (*)(ScanContext&, const std::string&, const std::string&, int64_t);

inline std::string ScratchFolder() {
  static std::string folder = [] {
    char name[] = "/tmp/fuzz_mpeg_XXXXXX";
    return std::string(mkdtemp(name)) + "/";
  }();
  return folder;
}

inline int RunStreamFuzz(const uint8_t* data, size_t size, StreamRecogniser recover) {
  FuzzCard card;
  if (!MakeFuzzCard(data, size, card)) return 0;
  const uint32_t sectorSize = card.sectorSize;
  std::vector<uint8_t>& image = card.image;
  const std::vector<int64_t>& foreign = card.foreign;

  MemorySource source(image);
  ScanSetup& setup = card.setup;
  setup.Options.OutputFolder = ScratchFolder();
  static ProgressClock clock;

  std::vector<uint8_t> claims[2];
  for (int pass = 0; pass < 2; ++pass) {
    auto scan = ScanContext::Create(source, setup, clock).Scan;
    if (!scan) return 0;
    for (int64_t s : foreign) scan->SectorMap.ClaimSector(s);
    recover(*scan, pass == 0 ? setup.Options.OutputFolder : std::string(), pass == 0 ? ".X" : "", 0);
    claims[pass].assign(static_cast<size_t>(setup.LastSector + 1), 0);
    for (int64_t s = 0; s <= setup.LastSector; ++s)
      claims[pass][static_cast<size_t>(s)] = scan->SectorMap.IsSectorClaimed(s);
  }
  if (claims[0] != claims[1]) __builtin_trap();

  // The claimed sectors that are the stream's own (not the other files'), in order.
  std::vector<uint8_t> own;
  for (int64_t s = 0; s <= setup.LastSector; ++s)
    if (claims[0][static_cast<size_t>(s)] && std::find(foreign.begin(), foreign.end(), s) == foreign.end())
      own.insert(own.end(), image.begin() + s * sectorSize, image.begin() + (s + 1) * sectorSize);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(ScratchFolder())) {
    ++files;
    std::vector<uint8_t> written(std::filesystem::file_size(e.path()));
    FILE* f = std::fopen(e.path().c_str(), "rb");
    if (!f || std::fread(written.data(), 1, written.size(), f) != written.size()) __builtin_trap();
    std::fclose(f);
    if (written.empty() || written.size() > own.size() || std::memcmp(written.data(), own.data(), written.size()) != 0)
      __builtin_trap();
    std::filesystem::remove(e.path());
  }
  // Nothing half-done: a file exists exactly when the start sector stayed claimed.
  if (files != (claims[0][0] ? 1u : 0u)) __builtin_trap();
  return 0;
}

}  // namespace morvane::fuzz
