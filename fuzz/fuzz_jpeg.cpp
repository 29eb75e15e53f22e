// Runs the JPEG recogniser over an in-memory image made of the input (FF D8 FF put in
// front), writing into a scratch folder. Nothing is counted unless a picture was accepted.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/pictures/jpeg.h"
#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"

namespace {

std::string ScratchFolder() {
  static std::string folder = [] {
    char name[] = "/tmp/fuzz_jpeg_XXXXXX";
    return std::string(mkdtemp(name)) + "/";
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> image = {0xFF, 0xD8, 0xFF};
  image.insert(image.end(), data, data + size);
  image.resize((image.size() + 511) / 512 * 512 + 512);
  morvane::MemorySource source(image);
  morvane::ScanSetup setup;
  setup.Geometry.PartitionLastSector = static_cast<int64_t>(image.size() / 512) - 1;
  setup.Geometry.SectorSize = 512;
  setup.Geometry.SectorsPerCluster = 1;
  setup.LastSector = setup.Geometry.PartitionLastSector;
  setup.Options.OutputFolder = ScratchFolder();
  static morvane::ProgressClock clock;
  auto scan = morvane::ScanContext::Create(source, setup, clock).Scan;
  if (!scan) return 0;
  const int length = morvane::RecoverJpeg(*scan, setup.Options.OutputFolder, 0);
  if (length == 0 && scan->RecoveredCount != 0) __builtin_trap();
  if (scan->RecoveredCount != 0) std::remove((setup.Options.OutputFolder + "TEST_AAAAAAAA.JPG").c_str());
  return 0;
}
