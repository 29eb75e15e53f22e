// The in-memory card every recogniser fuzzer builds from its input. The first input byte
// picks the setting: 0x10 sectors of 1024 bytes, 0x20 sectors that begin with EE belong to
// other files, 0x40 clusters of 4 sectors, 0x80 the range ends one sector before the image
// does. The rest of the input is the image from sector 0, padded to whole sectors plus one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scan/scan_context.h"

struct FuzzCard {
  uint8_t mode = 0;
  uint32_t sectorSize = 512;
  std::vector<uint8_t> image;
  std::vector<int64_t> foreign;  // sectors of other files, to be claimed before each run
  morvane::ScanSetup setup;
};

// False for an input too short to hold a setting and a byte.
inline bool MakeFuzzCard(const uint8_t* data, size_t size, FuzzCard& card) {
  if (size < 2) return false;
  card.mode = data[0];
  card.sectorSize = (card.mode & 0x10) ? 1024 : 512;
  const uint32_t ss = card.sectorSize;
  card.image.assign(data + 1, data + size);
  card.image.resize((card.image.size() + ss - 1) / ss * ss + ss);
  for (size_t s = 1; s * ss < card.image.size(); ++s)
    if ((card.mode & 0x20) && card.image[s * ss] == 0xEE) card.foreign.push_back(static_cast<int64_t>(s));
  auto& g = card.setup.Geometry;
  g.PartitionLastSector = static_cast<int64_t>(card.image.size() / ss) - 1;
  g.SectorSize = ss;
  g.SectorsPerCluster = (card.mode & 0x40) ? 4 : 1;
  g.ClusterPhase = 0;
  card.setup.LastSector = g.PartitionLastSector - ((card.mode & 0x80) ? 1 : 0);
  return true;
}
