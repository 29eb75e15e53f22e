// What a scan tells its front end, and the one question it asks.
//
// The engine never prints or prompts; it calls these methods on the thread that runs the
// scan. Every method has a harmless default, so a front end overrides only what it shows.
// Progress methods are called at most once per progress tick (about five times a second).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scan/sector_map.h"

namespace morvane {

enum class SaveFailureChoice { Abort, Retry, Ignore };

// The phases of a scan, in the order they run.
enum class ScanPass { CollectingFreeSpace, Searching, Voting, Recovery, LateJpeg, Streams, Finished };

struct RecoveredFileInfo {
  std::string Name;          // full path of the written file
  std::string Extension;     // the type's extension as written, e.g. ".JPG", ".ENC.DOCX"
  int64_t FirstSector = 0;   // start sector of the file on the source
  int64_t Length = 0;        // length of the written file in bytes
  std::vector<SectorRun> Runs;  // the source sectors the file was read from, in file order
  int64_t ZeroFilled = 0;       // bytes that were never read (beyond the scan range), written as zeros
  int64_t DeclaredLength = 0;   // the length the file states, when the medium ends before it (else 0)
};

class ScanObserver {
 public:
  virtual ~ScanObserver() = default;

  // A recognition is reading a file: its start sector and the sector just read (both in
  // sector units). Front ends show "Sector: " + start + ", " + current.
  virtual void OnCopyProgress(int64_t fileStartSector, int64_t currentSector) {}

  // A recovered file could not be written. Retry tries again, Abort stops the scan after
  // the current recognition, Ignore gives the file up and goes on. The default is Ignore:
  // with nobody to ask, one unwritable file must neither stop the scan nor loop forever.
  virtual SaveFailureChoice OnSaveFailed(const std::string& fileName) { return SaveFailureChoice::Ignore; }
  // The same question with the system's reason (an errno value: ENOSPC, EACCES, ...); the
  // engine asks this one. Front ends that show the reason override it; by default it asks
  // OnSaveFailed.
  virtual SaveFailureChoice OnSaveFailedBecause(const std::string& fileName, int error) {
    return OnSaveFailed(fileName);
  }

  // A recovered file has been written completely under its final name.
  virtual void OnFileRecovered(const RecoveredFileInfo& file) {}
  // A file reported by OnFileRecovered turned out to be part of a larger one (a video's
  // frame): it has been deleted and is no longer counted. Also called, with an empty Name,
  // for such a file that was only claimed.
  virtual void OnFileWithdrawn(const RecoveredFileInfo& file) {}

  // The driver's phases and their progress.
  virtual void OnPhase(ScanPass pass) {}
  // Bytes of the file system's allocation structure read, of total.
  virtual void OnFreeSpaceProgress(int64_t total, int64_t done) {}
  // The search pass is at `sector`; `done` of the range's `rangeSectors` are behind it.
  virtual void OnSearchProgress(int64_t sector, int64_t rangeSectors, int64_t done, uint32_t found) {}
  // The cluster-phase vote has weighed `done` of `count` candidates.
  virtual void OnVoteProgress(int64_t sector, int64_t count, int64_t done) {}
  // A recovery pass has tried `done` of `count` candidates; `sector` is the latest.
  virtual void OnRecoveryProgress(ScanPass pass, int64_t done, int64_t count, int64_t sector, int32_t recovered) {}
  // The work files for stream packets could not be created ("Can't create TMP file!").
  virtual void OnWorkFilesFailed() {}
  // The same with the system's reason (an errno value). `later`: they were created but
  // could not be written or read back, and the stream candidates found are lost. The
  // engine calls this one; by default it calls OnWorkFilesFailed.
  virtual void OnWorkFilesFailedBecause(int error, bool later) { OnWorkFilesFailed(); }
};

}  // namespace morvane
