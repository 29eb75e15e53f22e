// The image backup: copies a sector range of the source (or only its free sectors) into a
// raw image file, the plain byte-for-byte copy with no header, which can later be opened
// as a source instead of a failing device.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "scan/bad_areas.h"
#include "scan/progress.h"
#include "storage/geometry.h"
#include "storage/source.h"

namespace morvane {

struct BackupRequest {
  TSourceGeometry ScanGeometry;      // sector size, cluster size and last sector in force
  TSourceGeometry DetectedGeometry;  // the file system found on open (free-space map)
  int64_t FirstSector = 0;
  int64_t LastSector = -1;           // inclusive
  bool FreeSpaceOnly = false;        // copy only the sectors the file system does not use
  std::string ImagePath;
  // Keep an unfinished image when the program is ended abruptly (a second Ctrl-C). A
  // stopped or failed backup asks the observer (DeletePartialImage) instead.
  bool KeepPartial = false;
  // How long the backup may go on reading the ranges it skipped after read errors (they are
  // zeros in the image until read).
  RetryLimits Retries{};
};

// What the backup reports while it runs; called on the thread that runs it, at most once
// per progress tick. Cancel by setting the SearchStop flag passed to RunImageBackup.
class BackupObserver {
 public:
  virtual ~BackupObserver() = default;
  virtual void OnFreeSpaceProgress(int64_t total, int64_t done) {}
  virtual void OnCreatingImage() {}
  // The sector about to be copied, the range's size and what is done of it, and the
  // number of sectors that could not be read so far.
  virtual void OnBackupProgress(int64_t sector, int64_t rangeSectors, int64_t doneSectors, int64_t badSectors) {}
  // The backup was cancelled, or failed to write, after the image was created: true
  // deletes the partial image.
  virtual bool DeletePartialImage() { return false; }
};

enum class BackupOutcome {
  Finished,              // every sector copied ("Finished!")
  FinishedBadSectors,    // copied, some sectors unreadable and written as zeros
  Cancelled,             // the user cancelled while copying
  CancelledCollecting,   // the user cancelled while the free sectors were being collected
  InvalidRange,          // "Invalid sector range!"
  NoMemory,              // "No enough memory!"
  DiskFull,              // the image's drive is full ("No enough free space on dest drive!")
  WriteFailed,           // the image could not be created or written for another reason (Error says which)
  TargetIsSource,        // the image path names the source itself (a link to it, the same device)
  TargetNotFile,         // the image path names something other than a regular file (a device, a FIFO)
};

struct BackupResult {
  BackupOutcome Outcome = BackupOutcome::Finished;
  int64_t SectorsWritten = 0;   // sectors in the image
  int64_t BadSectors = 0;       // sectors that could not be read (zeros in the image)
  std::vector<SectorSpan> Unreadable;  // and where they lie, in disk order
  int64_t NextSector = 0;       // the first source sector not copied
  bool FreeSpaceMapBuilt = false;
  bool ImageDeleted = false;
  std::string Error;            // the system's words for a failed open or write
};

// Runs the backup synchronously. `SearchStop` is the cancel flag; it is cleared at the start
// (OnCreatingImage comes after that) and is true afterwards.
BackupResult RunImageBackup(Source& source, const BackupRequest& request, const ProgressClock& clock,
                            std::atomic<bool>& SearchStop, BackupObserver& observer);

}  // namespace morvane
