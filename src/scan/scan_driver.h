// The deep scan: the five phases from the first sector of the range to the final count.
//
//   1. search pass       classify every sector of the range, collect candidates
//   2. cluster-phase vote only when the phase is unknown: pick it, drop candidates off it
//   3. recovery pass     the recognisers on the candidates, from the highest sector down
//   4. late JPEG pass    JPEGs with an uncommon first marker, again from high to low
//   5. stream pass       MPEG program- and transport-stream packets from the work files
//
// The order decides which file a contested sector goes to: a recogniser that succeeds
// claims its sectors, and every later one refuses a claimed start and steps over claimed
// sectors.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scan/copies_ahead.h"
#include "scan/scan_context.h"

namespace morvane {

class ScanStateKeeper;

// A recogniser as the driver calls it: the scan and the candidate's byte offset. The entry
// decides itself what it passes on (the output folder for selected kinds, claim-only
// otherwise).
using RecogniserEntry = std::function<void(ScanContext& scan, int64_t startOffset)>;

// The recognisers of each pass by FileTypeId. An empty entry does nothing: the candidate
// only occupies its place in the list. Types 100 (file-system metadata) and 37 (the Samsung
// lead cluster) are handled by the driver itself.
struct RecogniserTable {
  std::array<RecogniserEntry, 256> Recovery;  // recovery pass
  RecogniserEntry LateJpeg;                   // late pass, type 2
  // Asked about each type 1 JPEG candidate that is not claimed yet: true makes it wait for
  // the late pass too. For pictures inside another file's data (video frames), which that
  // file's recogniser, called later in the recovery pass, is to take whole first.
  std::function<bool(ScanContext& scan, int64_t startOffset)> JpegWaitsForLatePass;
  std::array<RecogniserEntry, 256> Stream;    // stream pass, types 29, 30, 32, 34, 35
  // Content checks that workers may run ahead of the recovery pass (ScanOptions::Threads),
  // by the type of the candidate; in the late pass the late JPEG's, LateJpegAhead.
  std::array<const AheadCheck*, 256> Ahead{};
  const AheadCheck* LateJpegAhead = nullptr;
  // How long a file of the type says it is, for the large files the search pass has copied
  // ahead of the recovery pass (see scan/copies_ahead.h); none for the other types.
  std::array<StatedLength, 256> CopyAhead{};
  // The walks made ahead, for files whose end only a walk through them tells (streams, PDFs):
  // offered at the first candidate of each run of them the search finds.
  std::array<WalkedLength, 256> WalkAhead{};
};

// Names of the work files in the output folder.
inline constexpr const char* kStreamStartsFile = "FILESTAR.TMP";
inline constexpr const char* kStreamTypesFile = "FILETYPE.TMP";

struct ScanReport {
  int32_t RecoveredCount = 0;
  uint32_t FoundCount = 0;          // candidates of selected kinds found by the search pass (its progress)
  int64_t Candidates = 0;           // candidates kept for the recovery passes (after the vote)
  int64_t StreamCandidates = 0;     // packets kept in the work files
  int32_t DetectedClusterPhase = 0;
  bool ClusterPhaseVoted = false;
  bool FreeSpaceMapBuilt = false;   // the search saw free sectors only
  bool FreeSpaceUnavailable = false;  // the file system gives no map: the option is disabled
  bool SearchCancelled = false;     // the search pass (or the free-space collection) was cancelled
  bool WorkFilesFailed = false;     // "Can't create TMP file!", or they could not be written or read back
  bool Stopped = false;             // Stop (or Abort) ended the recovery passes early
  // What the cluster-phase vote did to the candidates it weighs (file starts, not stream
  // packets or file-system metadata): how many it saw and how many lay off the winning
  // phase and were dropped.
  int64_t VoteWeighed = 0;
  int64_t VoteDropped = 0;
  // The common spacing, in sectors, of the start sectors of those candidates as the search
  // found them (the greatest common divisor of their distances); 0 with fewer than two.
  // Finer than the cluster the scan used, it says the files were written on another grid.
  int64_t CandidateGridSectors = 0;
  // With ScanOptions::GeometryFromData: the cluster size the scan was set up with, and the
  // grid the strong file starts lie on (GridSectors 0: too few of them to tell). When that
  // grid is not the one set up, the scan searched it instead (GridOverrode).
  int64_t PlannedClusterSectors = 0;
  int64_t GridSectors = 0;
  int32_t GridPhase = -1;
  bool GridOverrode = false;
  // What became of the file starts of the selected kinds: each one that did not become a
  // file, with why, in the order they were tried; and how many were never tried (the scan
  // stopped, or the work files that held them failed). Every start found is one of these
  // or a recovered file: StartsFound().
  std::vector<UnrecoveredStart> Unrecovered;
  int64_t NotTried = 0;
  int64_t StartsFound() const { return RecoveredCount + static_cast<int64_t>(Unrecovered.size()) + NotTried; }
  // The sectors the search could not read (or, stopped or out of time, did not read again
  // after a failure), in disk order.
  std::vector<SectorSpan> Unreadable;
};

// The cluster grid that file starts lie on: the largest cluster of 1, 2, 4, ... sectors, up
// to maxSectors, on which nearly all of them (nine in ten) share one phase. With fewer than
// kMinGridStarts starts, single sectors; nullopt with none.
struct ClusterGrid {
  int64_t Sectors = 1;
  int32_t Phase = 0;
};
inline constexpr size_t kMinGridStarts = 4;
std::optional<ClusterGrid> InferClusterGrid(const std::vector<int64_t>& startSectors, int64_t maxSectors);
// The phase that most of the starts share on a grid of `sectors`, when nearly all do.
std::optional<int32_t> SharedPhase(const std::vector<int64_t>& startSectors, int64_t sectors);

// Whether a candidate type counts as "Found" for the kinds selected in typeMask.
bool CountsAsFound(uint8_t fileTypeId, uint32_t typeMask);
// The kind a start of this type counts under: "JPG", "DOC/XLS/PPT", "ASF/WMV"; "?" for none.
std::string StartKindName(uint8_t fileTypeId);

// Runs the scan synchronously on the calling thread. `detected` is the geometry found when
// the source was opened (the free-space map reads the file system it names). Another
// thread may set scan.SearchStop (cancel the search) and scan.RunState (pause, stop).
// With a keeper the scan saves where it stands as it goes, and continues from the state the
// keeper loaded (its context part put back with RestoreScan first).
ScanReport RunScan(ScanContext& scan, const TSourceGeometry& detected, const RecogniserTable& recognisers,
                   ScanStateKeeper* keeper = nullptr);

// The plan by which the search reads again what it skipped after read errors.
TRescuePlan SearchRescuePlan(const ScanContext& scan);

}  // namespace morvane
