#include "formats/media/mp4.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "filetypes/catalogue.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"
#include "storage/geometry.h"

namespace morvane {
namespace {

constexpr std::string_view kMdatExtension = ".MDAT";

// The extension of the file that starts with this sector, or empty when its kind is not
// selected (the file is then only claimed).
std::string ExtensionFor(ByteView first, uint32_t typeMask) {
  if (first.Matches(4, "mdat")) return (typeMask & kTypeMov) ? std::string(kMdatExtension) : "";
  if (first.Matches(8, "3gp")) return (typeMask & kType3gp) ? ".3GP" : "";
  if (first.Matches(8, "mp4")) return (typeMask & kTypeMp4) ? ".MP4" : "";
  return (typeMask & kTypeMov) ? ".MOV" : "";
}

bool IsStartSector(ByteView first) {
  return first.Matches(4, "mdat") || (first.U8(0) == 0 && first.U8(1) == 0 && first.Matches(4, "ftyp"));
}

// The box types a file of this family is followed across.
bool IsAcceptedTopLevelBox(ByteView type) {
  for (const char* t : {"isom", "free", "uuid", "mdat", "moov", "wide", "skip"})
    if (type.Matches(0, t)) return true;
  return false;
}

constexpr int64_t kNoBox = 0;         // size 0, or too small to hold its own header: the file ends
constexpr int64_t kBeyondReach = -1;  // longer than any medium: the file cannot be followed

// The length of the box whose header starts at `header` (8 bytes, or 16 with a 64-bit
// size), or kNoBox, or kBeyondReach.
int64_t BoxLength(ByteView header) {
  const uint32_t size = header.Be32(0);
  if (size != 1) return size >= 8 ? size : kNoBox;
  const uint64_t large = header.Be64(8);
  if (large < 16) return kNoBox;
  if (large > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return kBeyondReach;
  return static_cast<int64_t>(large);
}

// The kept cluster (Samsung mode) belongs to this file only when the file's boxes, followed
// from its start through its own first cluster and on into the kept one, lead exactly to
// the "mdat" header at the kept cluster's end. Any other video's cluster would only corrupt
// this one. `spliced` is the file's first cluster followed by the kept cluster.
bool LeadClusterFits(ByteView spliced, int64_t firstBox) {
  if (spliced.size() < 16 || firstBox <= 0) return false;
  const uint64_t mdatAt = spliced.size() - 8;
  if (!spliced.Matches(mdatAt + 4, "mdat")) return false;
  auto offset = static_cast<uint64_t>(firstBox);
  while (offset < mdatAt) {
    const ByteView h = spliced.Sub(offset, 16);
    if (h.size() < 8 || !IsAcceptedTopLevelBox(h.Sub(4, 4))) return false;
    const int64_t length = BoxLength(h);
    if (length <= 0 || static_cast<uint64_t>(length) > mdatAt - offset) return false;
    offset += static_cast<uint64_t>(length);
  }
  return offset == mdatAt;
}

// What the walk has met so far: a file whose next box header lies beyond the range is
// whole only when it already holds both its movie header and its media data.
struct Seen {
  bool moov = false;
  bool mdat = false;
  void Note(ByteView type) {
    moov = moov || type.Matches(0, "moov");
    mdat = mdat || type.Matches(0, "mdat");
  }
};

enum class Have { Yes, RangeEnd, Failed };

// Makes sure the output holds bytes up to `end` (a box header just after the data read so
// far); RangeEnd when the range ends before that.
Have EnsureHeader(Recognition& rec, int64_t end) {
  switch (rec.CopyAsFarAs(end)) {
    case CopyStop::Reached: return Have::Yes;
    case CopyStop::RangeEnd: return Have::RangeEnd;
    default: return Have::Failed;
  }
}

// Follows the boxes from `offset` on. Returns the file's length, or -1 when it cannot be
// followed to its end. A header cut off by the end of the range ends the file there only
// when it is complete (moov and mdat seen); otherwise the rest of the file lies beyond the
// range, as for a box that runs past it, and the file is given up.
int64_t WalkBoxes(Recognition& rec, int64_t offset, Seen seen) {
  std::array<uint8_t, 16> header{};
  for (;;) {
    Have have = EnsureHeader(rec, offset + 8);
    if (have == Have::RangeEnd) return seen.moov && seen.mdat ? offset : -1;
    if (have == Have::Failed || !rec.ReadBack(offset, header.data(), 8)) return -1;
    const ByteView h(header.data(), header.size());
    if (!IsAcceptedTopLevelBox(h.Sub(4, 4))) return offset;
    if (h.Be32(0) == 1) {
      have = EnsureHeader(rec, offset + 16);
      if (have == Have::RangeEnd) return seen.moov && seen.mdat ? offset : -1;
      if (have == Have::Failed || !rec.ReadBack(offset + 8, header.data() + 8, 8)) return -1;
    }
    const int64_t length = BoxLength(h);
    if (length == kNoBox) return offset;
    if (length == kBeyondReach || length > std::numeric_limits<int64_t>::max() - offset) return -1;
    // The whole box is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(offset + length)) return -1;
    seen.Note(h.Sub(4, 4));
    offset += length;
  }
}

}  // namespace

int RecoverMp4(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  // The kind of output follows from the start sector: nothing is created for a refused one.
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  const uint32_t sectorSize = scan.SectorSize();
  const ByteView first = rec.FirstBytes();
  if (!IsStartSector(first)) return 0;

  const std::string extension = ExtensionFor(first, scan.Options.TypeMask);
  const bool writes = !extension.empty() && !outputFolder.empty();
  // A first box of 256 bytes or more is no file header; only a bare media-data run that is
  // to be written goes on with it.
  const int64_t firstBox = BoxLength(first);
  if (firstBox <= 0) return 0;
  if (firstBox >= kMp4LongFirstBox && !(writes && extension == kMdatExtension)) return 0;

  if (!rec.ChooseOutput(writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                               : RecognitionOutput::ClaimOnly()))
    return 0;
  if (scan.Options.CameraMode.Sony) rec.SetClaimedSectorStride(kSonyClaimedStepBytes / sectorSize);

  // Samsung: the file's own first cluster, then the kept cluster that ends with the header
  // of its media data; the walk goes on over both. A kept cluster that does not continue
  // this file's boxes stays pending for the file it belongs to.
  if (writes && scan.LeadClusterPending) {
    const int64_t cluster = int64_t{scan.SectorsPerCluster()} * sectorSize;
    if (!rec.CopySectorRun(cluster)) return 0;
    if (static_cast<int64_t>(scan.LeadClusterBuffer.size()) >= cluster) {
      std::vector<uint8_t> spliced(static_cast<size_t>(2 * cluster));
      std::copy_n(scan.LeadClusterBuffer.begin(), cluster, spliced.begin() + cluster);
      if (rec.ReadBack(0, spliced.data(), static_cast<size_t>(cluster)) &&
          LeadClusterFits(ByteView(spliced.data(), spliced.size()), firstBox)) {
        scan.LeadClusterPending = false;
        if (!rec.Append(ByteView(spliced.data() + cluster, static_cast<size_t>(cluster)))) return 0;
      }
    }
  }

  if (!rec.StepOver(firstBox)) return 0;
  Seen seen;
  seen.Note(first.Sub(4, 4));
  const int64_t length = WalkBoxes(rec, firstBox, seen);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit(extension != kMdatExtension);
  return 0;
}

}  // namespace morvane
