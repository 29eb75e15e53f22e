// Runs the JPEG recogniser claim-only on every sector of an in-memory image that begins
// FF D8 FF, from the highest down, as the recovery passes do, twice: keeping what earlier end
// searches learned about the image, and forgetting it before every candidate. Both runs must
// claim the same sectors after every candidate. Between candidates, sectors that begin with
// EE and lie above the candidate just tried are claimed, as files found later would, so that
// sectors come to follow each other that were apart when they were learned.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/pictures/jpeg.h"
#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace {

std::vector<std::vector<bool>> Run(morvane::MemorySource& source, const morvane::ScanSetup& setup, bool forget) {
  static morvane::ProgressClock clock{morvane::ProgressClock::Manual{}};
  auto scan = morvane::ScanContext::Create(source, setup, clock).Scan;
  std::vector<std::vector<bool>> after;
  if (!scan) return after;
  const std::vector<uint8_t>& image = source.Bytes();
  const int64_t sectors = static_cast<int64_t>(image.size() / 512);
  for (int64_t c = sectors - 1; c >= 0; --c) {
    const uint8_t* s = &image[static_cast<size_t>(c) * 512];
    if (s[0] != 0xFF || s[1] != 0xD8 || s[2] != 0xFF) continue;
    if (forget) scan->ForgetRecogniserMemos();
    morvane::RecoverJpeg(*scan, "", c * 512);
    for (int64_t x = c + 1; x < sectors; ++x)
      if (image[static_cast<size_t>(x) * 512] == 0xEE) scan->SectorMap.ClaimSector(x);
    std::vector<bool> claimed;
    for (int64_t x = 0; x < sectors; ++x) claimed.push_back(scan->SectorMap.IsSectorClaimed(x));
    after.push_back(std::move(claimed));
  }
  return after;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 512) return 0;
  std::vector<uint8_t> image(data, data + size);
  image.resize((image.size() + 511) / 512 * 512 + 512);
  morvane::MemorySource source(image);
  morvane::ScanSetup setup;
  setup.Geometry.PartitionLastSector = static_cast<int64_t>(image.size() / 512) - 1;
  setup.Geometry.SectorSize = 512;
  setup.Geometry.SectorsPerCluster = 1;
  setup.LastSector = setup.Geometry.PartitionLastSector;
  if (Run(source, setup, false) != Run(source, setup, true)) __builtin_trap();
  return 0;
}
