// What a scan keeps in its output folder so that it can go on after an interruption.
//
// Two files of the folder belong to a scan that can be continued:
//   morvane-scan.state    where the scan stood at its last saved point: the pass and the
//                         position in it, the candidates found so far, the sector map, the
//                         files that a container may still take back, the counters and the
//                         front end's own record (the totals and the report so far). Written
//                         whole under a temporary name, flushed to the drive and renamed over
//                         the last one, at most every few seconds and when the scan stops at a
//                         clean point; a checksum guards it, and every count read back is
//                         bounded by the bytes that hold it.
//   morvane-scan.journal  every file the scan created in the folder since it began, a name a
//                         line, appended before the file takes the name (and again behind a '/'
//                         when it did not take it after all). The state notes how long the
//                         journal was when it was saved: the files named after that were made
//                         by work that the continued scan does again, so they are removed first
//                         (a file half-written or just placed by a killed scan among them).
// The saved points lie between two candidates, where no recognition is running. A stop that
// cuts a recognition short leaves the last point as it is: the continued scan does that
// candidate again. Both files are removed when the scan ends without being stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scan/bad_areas.h"
#include "scan/inner_files.h"
#include "scan/observer.h"
#include "scan/sector_map.h"
#include "scan/start_ledger.h"

namespace morvane {

class ScanContext;
class TNewFileStream;
struct ScanReport;
struct ScanSetup;

inline constexpr const char* kScanStateFile = "morvane-scan.state";
inline constexpr const char* kScanJournalFile = "morvane-scan.journal";

// A candidate of the search pass: a start sector and its type.
struct ScanCandidate {
  int64_t sector;
  uint8_t type;
  bool deferred = false;  // waits for the late pass
};

// What the scan reads and how: the state of one scan never serves another.
struct ScanIdentity {
  std::string Source;       // the source as named
  int64_t SourceBytes = 0;  // its size
  std::string Setup;        // the geometry, range and options, as SetupText gives them
};
// The setup as text (everything that decides what the scan recovers, not where it writes),
// and `extra` behind it (the front end's own choices that shape its record).
std::string SetupText(const ScanSetup& setup, const std::string& extra = {});

// The driver's position and the records it carries from one pass to the next.
struct DriverPoint {
  ScanPass Pass = ScanPass::Searching;
  // Searching: the first sector of the next block; the recovery passes: the index of the
  // next candidate (they count down); Streams: the stream packets done.
  int64_t Position = 0;
  const ScanReport* Report = nullptr;
  const std::vector<ScanCandidate>* Candidates = nullptr;
  bool FreeSpaceMapBuilt = false;
  // The stream packets' work files (names in the output folder) and their records.
  std::string WorkStarts, WorkTypes;
  int64_t WorkRecords = 0;
  // The starts of selected kinds left off the grid, and those tried so far.
  int64_t OffGrid = 0, Tried = 0;
  // After read errors: the stream packets the return pass found, and where the plan of
  // what to read again stands.
  const std::vector<ScanCandidate>* LateStream = nullptr;
  RescueProgress Rescue;
};

// The claimed sectors of a map as runs, walking again only the spans of the map changed
// since the last call (the rest is kept from it): a save costs what changed, not the disk.
class ClaimedRunsCache {
 public:
  std::vector<SectorRun> Runs(const TSectorMap& map);

 private:
  std::vector<std::vector<SectorRun>> spanRuns_;
};

// A state read back and checked.
struct SavedScan;

class ScanStateKeeper {
 public:
  // `folder` is the output folder as file names begin (ending in '/').
  ScanStateKeeper(std::string folder, ScanIdentity identity);
  // What gives the front end's record at each save; LoadedFrontEnd() gives it back.
  void SetFrontEnd(std::function<std::string()> frontEnd) { frontEnd_ = std::move(frontEnd); }
  ~ScanStateKeeper();
  ScanStateKeeper(const ScanStateKeeper&) = delete;
  ScanStateKeeper& operator=(const ScanStateKeeper&) = delete;

  // Whether the folder holds a saved state (of any scan).
  static bool StateIn(const std::string& folder);

  // Reads the saved state; empty when it can be continued, else why not (in English): none
  // saved, damaged, another source, a changed size or other options.
  std::string Load();
  const SavedScan* Loaded() const { return loaded_.get(); }
  // Starts afresh instead of continuing the state that Load read (or refused for another
  // source or other options): its state, its work files and the files its last run made
  // after the saved point go now; Begin then clears the journal.
  void Forget();

  // Makes the folder ready for the scan: a loaded state's later files are removed, and from
  // now on every file the scan creates is noted. False (errno) when the journal cannot be
  // written: the scan then cannot be continued later, and says so.
  bool Begin();

  // A few seconds since the last save (and at least ten times as long as it took).
  bool Due();
  // Saves where the scan stands; false (errno) when the state could not be written.
  bool Save(const ScanContext& scan, const DriverPoint& point);
  // The scan ended without a stop: its state and journal go.
  void Finish();

  // The front end's record of a loaded state.
  const std::string& LoadedFrontEnd() const;

 private:
  std::string folder_;
  ScanIdentity identity_;
  std::function<std::string()> frontEnd_;
  // Removes the files that the journal names from byte `length` on; false (errno) when it
  // cannot be read.
  bool RemoveFilesMadeAfter(TNewFileStream& journal, int64_t length);

  std::unique_ptr<SavedScan> loaded_, refused_;
  ClaimedRunsCache claimed_;
  int journal_ = -1;
  int64_t journalLength_ = 0;
  double lastSave_ = -1e9, saveCost_ = 0;
  int64_t duePoints_ = 0;
};

struct SavedScan {
  ScanIdentity Identity;
  ScanPass Pass = ScanPass::Searching;
  int64_t Position = 0;
  std::unique_ptr<ScanReport> Report;
  std::vector<ScanCandidate> Candidates;
  bool FreeSpaceMapBuilt = false;
  std::string WorkStarts, WorkTypes;
  int64_t WorkRecords = 0;
  uint32_t SectorsPerCluster = 1;
  int32_t ClusterPhase = -1;
  int32_t DetectedClusterPhase = 0;
  std::vector<SectorRun> Claimed;
  std::vector<InnerFile> InnerFiles;  // names relative to the folder
  std::vector<uint8_t> LeadCluster;
  bool LeadClusterPending = false;
  int32_t RecoveredCount = 0;
  int64_t BytesRead = 0, SectorsWorked = 0;
  int64_t JournalLength = 0;
  int64_t OffGrid = 0, Tried = 0;
  std::vector<UnrecoveredStart> Unrecovered;  // the ledger's records so far
  std::vector<ScanCandidate> LateStream;
  RescueProgress Rescue;
  std::vector<SectorSpan> Unreadable;  // the context's
  std::string FrontEnd;
  ~SavedScan();
};

// Puts the context's part of a saved state back into a fresh context of the same setup
// (folder: the output folder as file names begin); empty, or why the state is refused.
std::string RestoreScan(ScanContext& scan, const SavedScan& saved, const std::string& folder);

// For tests: MORVANE_TEST_KILL=<where>:<n> ends the process at once, as a kill would, at
// the n-th such point: "search" (a block of the search pass), "candidate" (one done, or a
// stream packet), "copy" (a sector copied into a file), "place" (a finished file given its
// name) or "retry" (a piece read again after read errors).
enum class TestKillPoint { Search, Candidate, Copy, Place, Retry };
void PassTestKillPoint(TestKillPoint where);

}  // namespace morvane
