#include "scan/inner_files.h"

#include <cstdio>

#include "scan/file_type_id.h"
#include "scan/recovered_file.h"
#include "scan/scan_context.h"

namespace morvane {

void TInnerFiles::Add(InnerFile file) {
  const int64_t first = file.FirstSector;
  Take(first);  // a start sector is committed once; a record left from before is stale
  for (const SectorRun& r : file.Runs)
    if (r.Count > 0) runs_[r.First] = {r.Count, first};
  files_[first] = std::move(file);
}

const InnerFile* TInnerFiles::Owner(int64_t sector) const {
  auto run = runs_.upper_bound(sector);
  if (run == runs_.begin()) return nullptr;
  --run;
  if (sector >= run->first + run->second.count) return nullptr;
  auto file = files_.find(run->second.file);
  return file == files_.end() ? nullptr : &file->second;
}

std::optional<InnerFile> TInnerFiles::Take(int64_t firstSector) {
  auto it = files_.find(firstSector);
  if (it == files_.end()) return std::nullopt;
  InnerFile file = std::move(it->second);
  files_.erase(it);
  for (const SectorRun& r : file.Runs) {
    auto run = runs_.find(r.First);
    if (run != runs_.end() && run->second.file == firstSector) runs_.erase(run);
  }
  return file;
}

std::optional<std::vector<int64_t>> InnerFilesWithin(const ScanContext& scan, int64_t firstSector, int64_t endSector,
                                                     uint8_t kinds) {
  std::vector<int64_t> inner;
  for (int64_t s = firstSector; s < endSector;) {
    s = scan.SectorMap.NextClaimedSector(s, endSector - 1);
    if (s < 0) break;
    const InnerFile* owner = scan.InnerFiles.Owner(s);
    if (owner == nullptr || (owner->Kind & kinds) == 0) return std::nullopt;
    int64_t next = s + 1;
    for (const SectorRun& r : owner->Runs) {
      if (r.First < firstSector || r.First + r.Count > endSector) return std::nullopt;
      if (s >= r.First && s < r.First + r.Count) next = r.First + r.Count;
    }
    if (inner.empty() || inner.back() != owner->FirstSector) inner.push_back(owner->FirstSector);
    s = next;
  }
  return inner;
}

void WithdrawInnerFile(ScanContext& scan, int64_t firstSector) {
  std::optional<InnerFile> file = scan.InnerFiles.Take(firstSector);
  if (!file) return;
  // Sectors given back change what a failed walk over them would meet: forget those walks.
  for (const SectorRun& r : file->Runs) {
    scan.SectorMap.ReleaseSectorRun(r.First, r.Count);
    scan.DeadEnds.ForgetWalksOver(r.First, r.First + r.Count - 1, scan.SectorSize());
  }
  if (!file->Name.empty()) RemoveRecoveredFile(file->Name);
  // Its start is no file of its own after all: it lay inside the container.
  if (file->Counted) {
    --scan.RecoveredCount;
    const uint8_t guess = file->Kind == kInnerPicture ? uint8_t{ftJpegApp} : uint8_t{ftClassicMov};
    const uint8_t type = file->StartType ? file->StartType : guess;
    scan.Starts.Add(file->FirstSector, type, StartFate::InsideAnotherFile);
  }
  RecoveredFileInfo info;
  info.Name = file->Name;
  info.Extension = FileExtension(file->Name);
  info.FirstSector = file->FirstSector;
  info.Length = file->Length;
  info.Runs = std::move(file->Runs);
  scan.Observer().OnFileWithdrawn(info);
}

}  // namespace morvane
