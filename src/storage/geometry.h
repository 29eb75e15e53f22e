// The geometry of an opened source: what the boot sector (or the user) says about sectors
// and clusters.
#pragma once

#include <cstdint>

namespace morvane {

enum FsType : uint8_t {
  fsFAT12 = 0,
  fsFAT16 = 1,
  fsFAT32 = 2,
  fsNTFS = 3,
  fsExFAT = 4,
  fsHFS = 5,
  fsHFSPlus = 6,
  fsOther = 7,
};

// Largest sector size the engine works with; sources that report more are refused on open.
inline constexpr uint32_t kMaxSectorSize = 4096;

struct TSourceGeometry {
  int64_t PartitionLastSector = -1;  // last sector index of the source (count - 1)
  uint32_t SectorSize = 512;         // bytes per sector, multiple of 512, at most 4096
  uint32_t SectorsPerCluster = 1;    // cluster size in sectors, never 0 once a source is open
  int32_t ClusterPhase = -1;         // sector index mod SectorsPerCluster where clusters begin; -1 unknown
  uint8_t FsType = fsOther;

  bool operator==(const TSourceGeometry&) const = default;
};

}  // namespace morvane
