// What a finished scan tells its user: the recovered files counted by kind, and a hint when
// the cluster geometry the scan used looks wrong for the files it found.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "scan/scan_driver.h"

namespace morvane {

// The recovered files by kind (the extension as written, without its dot: "JPG",
// "ENC.DOCX") and their total size.
class RecoveredTally {
 public:
  void Add(const std::string& extension, int64_t length);
  int Files() const { return files_; }
  int64_t Bytes() const { return bytes_; }
  const std::map<std::string, int>& ByKind() const { return byKind_; }
  // "JPG 16  MOV 3  MP4 1", most frequent first (ties by name); empty when none.
  std::string KindsText() const;

 private:
  std::map<std::string, int> byKind_;
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
  int64_t Weighed = 0, Dropped = 0;
};
std::optional<GeometryAdvice> AdviseGeometry(const ScanReport& report, uint32_t sectorsPerCluster,
                                             uint32_t sectorSize);

// The advice in words (English), without the command line.
std::string GeometryAdviceText(const GeometryAdvice& advice);

}  // namespace morvane
