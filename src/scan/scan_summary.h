// What a finished scan tells its user: the recovered files counted by kind, and a hint when
// the cluster geometry the scan used looks wrong for the files it found.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/language.h"
#include "scan/scan_driver.h"

namespace morvane {

// The recovered files by kind (the extension as written, without its dot: "JPG",
// "ENC.DOCX") and their total size.
class RecoveredTally {
 public:
  void Add(const std::string& extension, int64_t length);
  // Takes back a file that was added (one withdrawn as part of another).
  void Remove(const std::string& extension, int64_t length);
  // Adds a kind's totals at once (those of a scan that is being continued).
  void AddKind(const std::string& kind, int files, int64_t bytes);
  int Files() const { return files_; }
  int64_t Bytes() const { return bytes_; }
  const std::map<std::string, int>& ByKind() const { return byKind_; }
  const std::map<std::string, int64_t>& BytesByKind() const { return bytesByKind_; }
  // "JPG 16  MOV 3  MP4 1", most frequent first (ties by name); empty when none.
  std::string KindsText() const;

 private:
  std::map<std::string, int> byKind_;
  std::map<std::string, int64_t> bytesByKind_;
  int files_ = 0;
  int64_t bytes_ = 0;
};

// The name of a detected file system: "FAT12", "FAT32", "NTFS", "exFAT", "HFS+", "other".
std::string FileSystemName(uint8_t fsType);

// A cluster size as the cluster lists name it: 512 -> "0.5K", 4096 -> "4K".
std::string ClusterSizeName(int64_t bytes);

// When the found file starts lie on a finer grid than the clusters the scan used and the
// vote left a good share of them out (or no vote ran), the cluster size that would keep
// them: the largest listed size (0.5K..128K) dividing that grid. Nothing otherwise.
struct GeometryAdvice {
  int64_t ClusterBytes = 0;      // suggested cluster size
  int64_t UsedClusterBytes = 0;  // the cluster size the scan used
  int64_t Found = 0, OffGrid = 0;  // the file starts found, and those left off the grid used
};
std::optional<GeometryAdvice> AdviseGeometry(const ScanReport& report, uint32_t sectorsPerCluster,
                                             uint32_t sectorSize);

// With the grid taken from the data: one line (English) when it replaced the cluster size
// set up ("The files lie on a 4K grid; the exFAT volume uses 32K clusters: searched the 4K
// grid."), empty otherwise. fsName is the file system found, empty when none was.
std::string GridFromDataText(const ScanReport& report, uint32_t sectorSize, const std::string& fsName);

// The file system found on the source (`detected`) by name when the scan was set up with
// its cluster size; empty otherwise.
std::string PlannedFileSystemName(const TSourceGeometry& detected, const ScanReport& report);

// A folder name beside `folder` that nothing uses yet ("rescued-2", "rescued-3", ...), for
// advice that scans again: its files must not mix with the first scan's.
std::string FreshFolderBeside(std::string folder);

// The advice in words (English), without the command line.
std::string GeometryAdviceText(const GeometryAdvice& advice);

// How a scan ended: ran to its end, stopped by the user (Stop, Cancel, a signal), or failed
// (its output could not be written).
enum class ScanEnding { Finished, Stopped, Failed };

// What the closing summary is made of.
struct ScanOutcome {
  ScanReport Report;
  RecoveredTally Tally;
  std::string Folder;           // where the files went
  double Seconds = 0;
  int64_t BytesRead = 0;
  int WriteFailures = 0;        // recovered files that could not be written
  bool Interrupted = false;     // stopped from outside the scan (a signal)
  ScanEnding Ending() const;
};

// The starts found that did not become files, by why (in the order of StartFate) and kind.
struct UnrecoveredGroup {
  StartFate Fate;
  int64_t Count = 0;
  std::map<std::string, int64_t> ByKind;
};
std::vector<UnrecoveredGroup> GroupUnrecovered(const ScanReport& report);

// "Finished", "Stopped" or "Failed" in `language`.
std::string EndingTitle(ScanEnding ending, Language language);

// The closing summary in `language`, a line each: the files by kind, their size and folder;
// the time and read rate; the file starts found and not recovered, then a line for each
// reason with its count by kind; a cancelled search; files not written; work files that
// could not be made.
std::vector<std::string> ClosingSummary(const ScanOutcome& outcome, Language language);

// A progress line's rate and time left in `language`: "12.5 MB/s   left 3m20s"; the rate only
// while the time left is unknown (negative).
std::string RateAndTimeLeft(double bytesPerSecond, double secondsLeft, Language language);
// "3 files" in `language`.
std::string FileCountText(int64_t count, Language language);
// The sectors that could not be read, in `language`: their number and the first
// kUnreadableShown ranges as first sector+count ("... and 3 more"); empty when there are none.
inline constexpr size_t kUnreadableShown = 8;
std::string UnreadableText(const std::vector<SectorSpan>& spans, Language language);

// "12.5 MB/s", "3m20s", "85.3 MB" and the like.
std::string FormatRate(double bytesPerSecond);
std::string FormatDuration(double seconds);
std::string FormatBytes(int64_t bytes);

}  // namespace morvane
