// The free-space map: asks the file system which clusters are allocated and claims every
// sector of them in the sector map, so that a scan (or a backup) sees only free sectors.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "storage/geometry.h"
#include "storage/source.h"

namespace morvane {

class TSectorMap;
class ProgressPacer;

struct FreeSpaceResult {
  bool built = false;      // the whole allocation structure was read
  bool cancelled = false;  // SearchStop was set during the walk
};

// Called when the progress tick moved: bytes of the allocation structure done of total.
using FreeSpaceProgress = std::function<void(int64_t total, int64_t done)>;

// Reads the allocation structure of the file system that `detected` names (the geometry
// found when the source was opened, not the user's choice) and claims the allocated
// sectors. Claims are never made beyond detected.PartitionLastSector. Claims already made
// stay in the map when the walk fails or is cancelled.
FreeSpaceResult BuildFreeSpaceMap(Source& source, const TSourceGeometry& detected, TSectorMap& map,
                                  const std::atomic<bool>& SearchStop, ProgressPacer* pacer = nullptr,
                                  const FreeSpaceProgress& progress = {});

}  // namespace morvane
