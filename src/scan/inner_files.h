// Files that may lie inside a container, kept so that the container can take them back.
//
// A video whose frames are pictures (Motion-JPEG) can lose sectors to its own frames: a
// frame that starts a sector is recovered as a photo before the video is tried (the
// recovery pass works from the last candidate to the first), and the video's walk then
// steps over the frame's sectors as another file's. When the container's own structure,
// read where it lies, goes on behind such a file (a header found in its place) and the file
// lies wholly inside the container, the file was part of it: the container withdraws it —
// its sectors are released, its written file is deleted, it is no longer counted and the
// observer is told — and then walks over its own sectors.
//
// Only recognitions that say they may lie inside a container (pictures, movies found by a
// box other than "ftyp") are recorded here, at their commit, with every sector the commit
// left claimed (the cluster tail as far as the commit claimed it), the name they were
// written under (none when only claimed) and whether they were counted.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "scan/sector_map.h"

namespace morvane {

class ScanContext;

// What an inner file is; a container says which kinds it may take back.
enum InnerKind : uint8_t {
  kInnerPicture = 1,       // a photo: a Motion-JPEG frame, an embedded picture
  kInnerClassicMovie = 2,  // a movie found by a box inside another movie's structure
};

struct InnerFile {
  int64_t FirstSector = 0;
  uint8_t Kind = kInnerPicture;
  std::vector<SectorRun> Runs;  // every sector the commit left claimed
  std::string Name;             // the written file; empty when it was only claimed
  int64_t Length = 0;
  bool Counted = false;
  uint8_t StartType = 0;  // the type of the candidate it was recovered from, when known
};

class TInnerFiles {
 public:
  void Add(InnerFile file);
  // The recorded file that holds `sector`, or nullptr.
  const InnerFile* Owner(int64_t sector) const;
  // Removes the record of the file that starts at firstSector and returns it.
  std::optional<InnerFile> Take(int64_t firstSector);
  const std::map<int64_t, InnerFile>& All() const { return files_; }

 private:
  struct RunOwner {
    int64_t count;
    int64_t file;  // first sector of the owning file
  };
  std::map<int64_t, InnerFile> files_;  // by first sector
  std::map<int64_t, RunOwner> runs_;    // by the first sector of each run
};

// The start sectors of the recorded files of the given kinds (a mask of InnerKind) that
// hold the claimed sectors of [firstSector, endSector), when every claimed sector there
// belongs to such a file lying wholly inside the span; nullopt when one belongs to anything
// else (another file, file-system metadata, allocated space) or to a file reaching out of
// the span. The cost follows the span's unclaimed sectors and the files found.
std::optional<std::vector<int64_t>> InnerFilesWithin(const ScanContext& scan, int64_t firstSector, int64_t endSector,
                                                     uint8_t kinds);

// Withdraws a recorded file: its sectors are released, its written file is deleted, it is no
// longer counted, and the observer is told (OnFileWithdrawn).
void WithdrawInnerFile(ScanContext& scan, int64_t firstSector);

}  // namespace morvane
