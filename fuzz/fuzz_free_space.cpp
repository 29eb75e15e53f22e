// Builds the free-space map of an in-memory volume made of the input. The first byte picks
// the file system, the second the sectors per cluster (1 to 128) and the sector size, and the
// next four a volume size in sectors that may be far larger than the input (a short image of
// a huge volume); the map itself covers at most the image. Every walk must end, claim nothing
// beyond the volume and overflow nothing.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "scan/free_space_map.h"
#include "scan/sector_map.h"
#include "storage/geometry.h"
#include "storage/source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const uint8_t kinds[] = {morvane::fsFAT12, morvane::fsFAT16, morvane::fsFAT32, morvane::fsNTFS,
                                  morvane::fsExFAT, morvane::fsHFS,   morvane::fsHFSPlus};
  morvane::TSourceGeometry g;
  g.FsType = kinds[data[0] % 7];
  g.SectorsPerCluster = 1u << (data[1] & 7);
  g.SectorSize = 512u << ((data[1] >> 3) & 3);
  uint64_t volume = 0;
  for (int i = 0; i < 4; ++i) volume |= uint64_t{data[2 + i]} << (8 * i);
  volume <<= (data[1] >> 5);  // up to 2^39 sectors
  std::vector<uint8_t> image(data + 6, data + size);
  image.resize(std::max<size_t>(image.size(), 8192));
  const int64_t imageSectors = static_cast<int64_t>(image.size() / g.SectorSize);
  g.PartitionLastSector = volume == 0 ? imageSectors - 1 : static_cast<int64_t>(volume) - 1;
  g.ClusterPhase = 0;
  morvane::MemorySource source(image);
  morvane::TSectorMap map(imageSectors + 64);
  std::atomic<bool> stop{false};
  morvane::BuildFreeSpaceMap(source, g, map, stop);
  // Nothing beyond the volume's last sector is ever claimed.
  for (int64_t s = g.PartitionLastSector + 1; s < map.SectorCount(); ++s)
    if (s >= 0 && map.IsSectorClaimed(s)) __builtin_trap();
  return 0;
}
