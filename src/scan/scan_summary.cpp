#include "scan/scan_summary.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <vector>

namespace morvane {

namespace {
std::string KindOf(const std::string& extension) {
  std::string kind = extension;
  if (!kind.empty() && kind.front() == '.') kind.erase(0, 1);
  return kind.empty() ? "?" : kind;
}
}  // namespace

void RecoveredTally::Add(const std::string& extension, int64_t length) {
  const std::string kind = KindOf(extension);
  ++byKind_[kind];
  ++files_;
  bytes_ += std::max<int64_t>(length, 0);
  bytesByKind_[kind] += std::max<int64_t>(length, 0);
}

void RecoveredTally::Remove(const std::string& extension, int64_t length) {
  const std::string kind = KindOf(extension);
  auto it = byKind_.find(kind);
  if (it == byKind_.end()) return;
  if (--it->second == 0) {
    byKind_.erase(it);
    bytesByKind_.erase(kind);
  } else {
    bytesByKind_[kind] -= std::max<int64_t>(length, 0);
  }
  --files_;
  bytes_ -= std::max<int64_t>(length, 0);
}

std::string RecoveredTally::KindsText() const {
  std::vector<std::pair<std::string, int>> kinds(byKind_.begin(), byKind_.end());
  std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out;
  for (const auto& [kind, n] : kinds) {
    if (!out.empty()) out += "  ";
    out += kind + " " + std::to_string(n);
  }
  return out;
}

std::string FileSystemName(uint8_t fsType) {
  static const char* const names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "exFAT", "HFS", "HFS+"};
  return fsType < std::size(names) ? names[fsType] : "other";
}

std::string ClusterSizeName(int64_t bytes) {
  if (bytes == 512) return "0.5K";
  return std::to_string(bytes / 1024) + "K";
}

std::string PlannedFileSystemName(const TSourceGeometry& detected, const ScanReport& r) {
  if (detected.FsType >= fsOther || detected.SectorsPerCluster != r.PlannedClusterSectors) return {};
  return FileSystemName(detected.FsType);
}

std::string FreshFolderBeside(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  for (int n = 2;; ++n) {
    std::string name = folder + "-" + std::to_string(n);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec)) || n >= 9999) return name;
  }
}

std::string GridFromDataText(const ScanReport& r, uint32_t sectorSize, const std::string& fsName) {
  if (!r.GridOverrode) return {};
  const std::string grid = ClusterSizeName(r.GridSectors * sectorSize);
  const std::string planned = ClusterSizeName(r.PlannedClusterSectors * sectorSize);
  const std::string sameSize = r.GridSectors == r.PlannedClusterSectors ? " at another phase" : "";
  return "The files lie on a " + grid + " grid" + sameSize + "; " +
         (fsName.empty() ? "the scan was set up for " + planned + " clusters"
                         : "the " + fsName + " volume uses " + planned + " clusters") +
         ": searched the " + grid + " grid.";
}

std::optional<GeometryAdvice> AdviseGeometry(const ScanReport& report, uint32_t sectorsPerCluster,
                                             uint32_t sectorSize) {
  // The grid was taken from the data already.
  if (report.GridSectors > 0) return std::nullopt;
  const int64_t grid = report.CandidateGridSectors, spc = std::max<uint32_t>(sectorsPerCluster, 1);
  if (grid <= 0 || grid >= spc || sectorSize == 0) return std::nullopt;
  // A vote that kept nearly everything: the odd start off the grid is a file inside
  // another one, not a sign of another geometry.
  if (report.VoteWeighed > 0 && report.VoteDropped * 5 < report.VoteWeighed) return std::nullopt;
  const int64_t gridBytes = grid * static_cast<int64_t>(sectorSize);
  int64_t suggest = 0;
  for (int64_t size = 512; size <= 128 * 1024; size *= 2)
    if (gridBytes % size == 0) suggest = size;
  const int64_t used = spc * static_cast<int64_t>(sectorSize);
  if (suggest == 0 || suggest >= used) return std::nullopt;
  return GeometryAdvice{suggest, used, report.VoteWeighed, report.VoteDropped};
}

std::string GeometryAdviceText(const GeometryAdvice& a) {
  std::string text;
  if (a.Dropped > 0)
    text = "The cluster-phase vote kept " + std::to_string(a.Weighed - a.Dropped) + " of " + std::to_string(a.Weighed) +
           " file starts on one " + ClusterSizeName(a.UsedClusterBytes) + " grid and left " +
           std::to_string(a.Dropped) + " out. ";
  text += "The file starts lie on a " + ClusterSizeName(a.ClusterBytes) + " grid, finer than the " +
          ClusterSizeName(a.UsedClusterBytes) +
          " clusters scanned: the card was probably written with smaller clusters before it was formatted. "
          "A scan with the reason \"formatted\" and " +
          ClusterSizeName(a.ClusterBytes) + " clusters would look for them.";
  return text;
}

}  // namespace morvane
