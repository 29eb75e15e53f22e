#include "scan/scan_context.h"

#include <algorithm>
#include <new>

namespace morvane {
namespace {

TSourceGeometry Normalised(TSourceGeometry g) {
  if (g.SectorsPerCluster == 0) g.SectorsPerCluster = 1;
  if (g.ClusterPhase >= static_cast<int32_t>(g.SectorsPerCluster)) g.ClusterPhase = -1;
  return g;
}

ScanSetupError Check(const ScanSetup& setup) {
  const TSourceGeometry& g = setup.Geometry;
  if (g.SectorSize < 512 || g.SectorSize > kMaxSectorSize || g.SectorSize % 512 != 0 || g.PartitionLastSector < 0)
    return ScanSetupError::InvalidGeometry;
  if (setup.FirstSector < 0 || setup.FirstSector > setup.LastSector || setup.LastSector > g.PartitionLastSector)
    return ScanSetupError::InvalidRange;
  return ScanSetupError::None;
}

}  // namespace

ScanContext::ScanContext(Source& source, const ScanSetup& setup, const ProgressClock& clock, ScanObserver* observer)
    : ScanGeometry(Normalised(setup.Geometry)),
      FirstSector(setup.FirstSector),
      LastSector(setup.LastSector),
      Options(setup.Options),
      DetectedClusterPhase(ScanGeometry.ClusterPhase >= 0 ? ScanGeometry.ClusterPhase : 0),
      SectorMap(ScanGeometry.PartitionLastSector + 1),
      Progress(clock),
      source_(source),
      observer_(observer),
      readCache_(source, RangeEndOffset(), BytesRead) {}

ScanContextResult ScanContext::Create(Source& source, const ScanSetup& setup, const ProgressClock& clock,
                                      ScanObserver* observer) {
  ScanContextResult result;
  result.Error = Check(setup);
  if (result.Error != ScanSetupError::None) return result;
  try {
    result.Scan.reset(new ScanContext(source, setup, clock, observer));
  } catch (const std::bad_alloc&) {
    result.Error = ScanSetupError::NoMemory;
  }
  return result;
}

int64_t ScanContext::ReadSectors(void* buffer, int64_t count, int64_t offset) {
  const int64_t bps = SectorSize();
  SectorsWorked += count / bps;
  if (count <= 0) return 0;
  const int64_t first = offset / bps;
  const int64_t bad = Unreadable.FirstIn(first, (offset + count - 1) / bps - first + 1);
  const int64_t readable = bad < 0 ? count : std::max<int64_t>(0, bad * bps - offset);
  const int64_t missing = readCache_.ReadSectors(buffer, readable, offset) + (count - readable);
  if (missing > 0 && readable == count && count == bps && offset % bps == 0 && offset < RangeEndOffset())
    Unreadable.Add(first, 1);
  return missing;
}

int64_t ScanContext::ClusterTailEnd(int64_t sector) const {
  const int64_t spc = SectorsPerCluster();
  if (spc <= 1) return sector;
  auto offCluster = [&](int64_t s) { return ((s - DetectedClusterPhase) % spc + spc) % spc != 0; };
  while (offCluster(sector) && sector < SectorMap.SectorCount()) ++sector;
  return sector;
}

int64_t ScanContext::ClaimClusterTail(int64_t sector) {
  const int64_t end = ClusterTailEnd(sector);
  for (; sector < end; ++sector) SectorMap.ClaimSector(sector);
  return sector;
}

}  // namespace morvane
