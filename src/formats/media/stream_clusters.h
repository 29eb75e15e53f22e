// Cluster starts inside a headerless stream.
//
// MPEG program and transport streams carry no length: where a stream was written in pieces,
// the only sign of a piece's end is a clock that jumps where the next cluster begins. The
// stream walks therefore test their clocks only at packets that begin a cluster of the
// source. A walk counts the stream's bytes from its start sector; the sectors it steps over
// belong to other files, which begin and end at cluster boundaries, so the stream byte at
// count n lies at a cluster start exactly when n plus the start sector's own distance from
// its cluster start is a multiple of the cluster size.
#pragma once

#include <cstdint>

#include "scan/scan_context.h"

namespace morvane {

class StreamClusters {
 public:
  StreamClusters(const ScanContext& scan, int64_t startSector)
      : clusterBytes_(int64_t{scan.SectorsPerCluster()} * scan.SectorSize()) {
    const int64_t spc = scan.SectorsPerCluster();
    const int64_t into = ((startSector - scan.DetectedClusterPhase) % spc + spc) % spc;
    lead_ = into * scan.SectorSize();
  }
  // Whether the stream byte `extent` bytes after the start sector's first byte begins a
  // cluster of the source.
  bool BeginsCluster(int64_t extent) const { return (extent + lead_) % clusterBytes_ == 0; }

 private:
  int64_t clusterBytes_;
  int64_t lead_ = 0;
};

}  // namespace morvane
