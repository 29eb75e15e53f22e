// The state of one scan.
//
// The driver creates one ScanContext per scan and hands it by reference to every
// recogniser. It holds the source and its geometry, the inclusive sector range, the options,
// the sector map, the read-ahead cache, the counters and the run flags. There is no state
// of a scan anywhere else, so two scans can run side by side.
//
// The counters and run flags are atomics: a front end may read BytesRead and
// RecoveredCount, and set RunState and SearchStop, from another thread while the scan runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <vector>

#include "scan/checks_ahead.h"
#include "scan/copies_ahead.h"
#include "scan/inner_files.h"
#include "scan/dead_ends.h"
#include "scan/observer.h"
#include "scan/progress.h"
#include "scan/read_cache.h"
#include "scan/scan_options.h"
#include "scan/sector_map.h"
#include "scan/scan_state.h"
#include "scan/start_ledger.h"
#include "storage/geometry.h"
#include "storage/source.h"

namespace morvane {

enum class ScanSetupError {
  None,
  InvalidGeometry,  // sector size not a multiple of 512 in 512..4096, or no sectors
  InvalidRange,     // not 0 <= FirstSector <= LastSector <= PartitionLastSector
  NoMemory,         // the sector map could not be allocated ("No enough memory!")
};

struct ScanSetup {
  TSourceGeometry Geometry;
  int64_t FirstSector = 0;
  int64_t LastSector = -1;
  ScanOptions Options;
};

class ScanContext;

struct ScanContextResult {
  std::unique_ptr<ScanContext> Scan;  // null on error
  ScanSetupError Error = ScanSetupError::None;
};

class ScanContext {
 public:
  // Checks the setup and allocates the sector map ((PartitionLastSector + 8) div 8 bytes,
  // zero-filled). A SectorsPerCluster of 0 (a cluster smaller than a sector) counts as 1.
  // The source, clock and observer must outlive the context; observer may be null.
  static ScanContextResult Create(Source& source, const ScanSetup& setup, const ProgressClock& clock,
                                  ScanObserver* observer = nullptr);

  ScanContext(const ScanContext&) = delete;
  ScanContext& operator=(const ScanContext&) = delete;

  // The cached reader; returns the number of bytes not delivered (0 = success). A sector
  // known to be unreadable is not read again: the request ends in front of it.
  int64_t ReadSectors(void* buffer, int64_t count, int64_t offset);

  // Claims sectors from `sector` on while (sector - DetectedClusterPhase) mod
  // SectorsPerCluster is not 0, so the slack behind a file's end up to its cluster boundary
  // is never examined again. Returns the first sector that was not claimed.
  int64_t ClaimClusterTail(int64_t sector);
  // The first sector from `sector` on that ClaimClusterTail would not claim.
  int64_t ClusterTailEnd(int64_t sector) const;

  // Shows copy progress when the progress tick has moved since the last display.
  void ShowCopyProgress(int64_t fileStartSector, int64_t currentSector) {
    PassTestKillPoint(TestKillPoint::Copy);
    if (Progress.Due()) Observer().OnCopyProgress(fileStartSector, currentSector);
  }

  ScanObserver& Observer() { return observer_ ? *observer_ : defaultObserver_; }

  // What a recogniser has learned about the source's bytes and keeps from one candidate to
  // the next (one object of each type per scan, made on first use). It must hold facts
  // about the bytes only, true whatever is claimed later.
  template <typename T>
  T& RecogniserMemo() {
    std::shared_ptr<void>& slot = memos_[std::type_index(typeid(T))];
    if (!slot) slot = std::make_shared<T>();
    return *static_cast<T*>(slot.get());
  }
  // Forgets everything the recognisers learned (tests compare against a scan without it).
  void ForgetRecogniserMemos() {
    memos_.clear();
    DeadEnds.Clear();
  }
  // The content check of a file's bytes: a worker's verdict on the same bytes when workers
  // check ahead of the pass (Ahead), else the check run here.
  ContentVerdict CheckContent(int64_t startOffset, ByteView bytes, ContentCheck check) {
    return Ahead ? Ahead->Verdict(startOffset, bytes, check) : check(bytes, nullptr);
  }
  Source& SourceHandle() { return source_; }
  uint32_t SectorSize() const { return ScanGeometry.SectorSize; }
  uint32_t SectorsPerCluster() const { return ScanGeometry.SectorsPerCluster; }
  // Byte end of the scan range: (LastSector + 1) * SectorSize.
  int64_t RangeEndOffset() const { return (LastSector + 1) * static_cast<int64_t>(SectorSize()); }
  // Byte end of the medium (the partition or image the range lies in): no file on it can
  // reach further, and none can be longer.
  int64_t MediumEndOffset() const {
    return (ScanGeometry.PartitionLastSector + 1) * static_cast<int64_t>(SectorSize());
  }

  // The geometry the scan works with. With ScanOptions::GeometryFromData the driver sets
  // the cluster size and phase from the file starts after the search pass.
  TSourceGeometry ScanGeometry;
  const int64_t FirstSector;
  const int64_t LastSector;  // inclusive
  const ScanOptions Options;
  // Phase of the clusters (sector mod SectorsPerCluster where they begin): the known
  // ClusterPhase, else 0 until the driver's vote sets it.
  int32_t DetectedClusterPhase;

  TSectorMap SectorMap;
  // The sectors known to be unreadable: those the search could not read, and single sectors
  // that failed since.
  TSectorSpans Unreadable;
  // Where chain walks of each family are known to fail (kept by Recognition).
  DeadEndMemo DeadEnds;
  ProgressPacer Progress;

  std::atomic<int32_t> RecoveredCount{0};
  // Counts one more recovered file (RecoveredCount and the ledger's count).
  void CountRecoveredFile() {
    ++RecoveredCount;
    Starts.CountFile();
  }
  // What became of each file start tried.
  StartLedger Starts;
  std::atomic<int64_t> BytesRead{0};
  // Sectors read for the recognisers, and claimed by them unread: their work, which must
  // grow with the medium, not with its square, whatever it holds.
  int64_t SectorsWorked = 0;
  std::atomic<morvane::RunState> RunState{rsRunning};  // rsRunning, rsPaused, rsStopped
  std::atomic<bool> SearchStop{false};
  // The stop came with a file given up (Abort after a failed write): the candidate at hand
  // is not done, so a continued scan must do it again.
  bool StopGaveUpFile = false;

  // Committed files that may lie inside a container (frames, embedded pictures), which the
  // container can take back.
  TInnerFiles InnerFiles;

  // The workers that check contents ahead of the recovery pass; null when the pass checks
  // every file itself.
  ChecksAhead* Ahead = nullptr;
  // The large files copied while the search pass read on; null when there are none. The
  // bytes of the files written that such a copy held, and that were not written again.
  CopiesAhead* Copies = nullptr;
  int64_t BytesCopiedAhead = 0;

  // Samsung camera mode: the cluster in front of a "moov" box that ends with the "mdat"
  // header of the video's data, kept for the MP4 recogniser.
  std::vector<uint8_t> LeadClusterBuffer;
  bool LeadClusterPending = false;

 private:
  ScanContext(Source& source, const ScanSetup& setup, const ProgressClock& clock, ScanObserver* observer);

  Source& source_;
  ScanObserver* observer_;
  ScanObserver defaultObserver_;
  TReadCache readCache_;
  std::unordered_map<std::type_index, std::shared_ptr<void>> memos_;
};

}  // namespace morvane
