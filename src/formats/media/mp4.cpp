#include "formats/media/mp4.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/picture_checks.h"
#include "formats/stated_length.h"
#include "scan/classifier.h"
#include "scan/inner_files.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"
#include "storage/geometry.h"

namespace morvane {
namespace {

constexpr std::string_view kMdatExtension = ".MDAT";

// --- The kinds of the family, told apart by the brands of the "ftyp" box ---------------------

enum class IsoKind { Video, Mdat, Heif, Avif, Cr3 };

bool IsPicture(IsoKind kind) { return kind == IsoKind::Heif || kind == IsoKind::Avif; }

IsoKind KindOf(ByteView first) {
  if (first.Matches(4, "mdat")) return IsoKind::Mdat;
  switch (ClassifyFtypBrands(first)) {
    case ftCr3: return IsoKind::Cr3;
    case ftAvif: return IsoKind::Avif;
    case ftHeic: return IsoKind::Heif;
    default: return IsoKind::Video;
  }
}

// The extension of the file that starts with this sector, or empty when its kind is not
// selected (the file is then only claimed). A HEIF picture whose only picture brands are
// the general ones (mif1, msf1) is .HEIF; with a codec brand it is .HEIC.
std::string ExtensionFor(IsoKind kind, ByteView first, uint32_t typeMask) {
  const auto selected = [typeMask](uint32_t mask, const char* extension) {
    return (typeMask & mask) ? std::string(extension) : std::string();
  };
  switch (kind) {
    case IsoKind::Mdat: return selected(kTypeMov, kMdatExtension.data());
    case IsoKind::Cr3: return selected(kTypeRaw, ".CR3");
    case IsoKind::Avif: return selected(kTypeAvif, ".AVIF");
    case IsoKind::Heif:
      return selected(kTypeHeic, HasFtypBrand(first, {"heic", "heix", "hevc", "heim", "heis"}) ? ".HEIC" : ".HEIF");
    case IsoKind::Video: break;
  }
  if (first.Matches(8, "3gp")) return selected(kType3gp, ".3GP");
  if (first.Matches(8, "mp4")) return selected(kTypeMp4, ".MP4");
  return selected(kTypeMov, ".MOV");
}

bool IsStartSector(ByteView first) {
  return first.Matches(4, "mdat") || (first.U8(0) == 0 && first.U8(1) == 0 && first.Matches(4, "ftyp"));
}

// A classic QuickTime file, written before "ftyp" existed, begins with one of these boxes.
// Only in the normal camera mode: the others give "mdat" and "moov" starts their own
// meanings.
bool IsClassicStart(ByteView first, const TCameraMode& mode) {
  if (!(mode == TCameraMode{})) return false;
  for (const char* t : {"moov", "mdat", "wide", "free", "skip"})
    if (first.Matches(4, t)) return true;
  return false;
}

// The box types a file of this family is followed across; pictures have their "meta" box
// (the item list, locations and properties) at the top level too.
bool IsAcceptedTopLevelBox(ByteView type, IsoKind kind = IsoKind::Video) {
  for (const char* t : {"isom", "free", "uuid", "mdat", "moov", "wide", "skip"})
    if (type.Matches(0, t)) return true;
  return IsPicture(kind) && type.Matches(0, "meta");
}

// --- Picture item locations -------------------------------------------------------------------

constexpr int64_t kMaxMetaBytes = 0x100000;       // a "meta" box is read for its item locations up to 1 MiB
constexpr int64_t kMaxPictureBytes = 0x10000000;  // 256 MiB: a larger "picture" is none  // a "meta" box is read for its item locations up to 1 MiB

// Reads a field of 0, 2, 4 or 8 bytes (the widths "iloc" uses) and moves on; false past the end.
bool TakeField(ByteView box, uint64_t& at, unsigned width, uint64_t& value) {
  if (width != 0 && width != 2 && width != 4 && width != 8) return false;
  if (!box.Has(at, width)) return false;
  value = width == 0 ? 0 : box.Be(at, width);
  at += width;
  return true;
}

// The end of the furthest item extent that the "iloc" box inside this "meta" box places in
// the file itself (construction method 0, this file): the picture's data must reach it. 0
// when there is none or the box cannot be read. Linear in the box: every extent read takes
// bytes of it.
int64_t ItemDataEnd(ByteView meta) {
  ByteView iloc;
  for (uint64_t at = 12; at + 8 <= meta.size();) {  // "meta" is a full box: its children start at 12
    const uint64_t size = meta.Be32(at);
    if (size < 8) return 0;
    if (meta.Matches(at + 4, "iloc")) iloc = meta.Sub(at, size);
    at += size;
  }
  const uint8_t version = iloc.U8(8);
  if (iloc.size() < 16 || version > 2) return 0;
  const unsigned offsetSize = iloc.U8(12) >> 4, lengthSize = iloc.U8(12) & 15, baseSize = iloc.U8(13) >> 4;
  const unsigned indexSize = version == 0 ? 0 : iloc.U8(13) & 15;
  const unsigned idSize = version == 2 ? 4 : 2;
  const unsigned extentBytes = indexSize + offsetSize + lengthSize;
  uint64_t at = 14, items = 0, end = 0;
  if (!TakeField(iloc, at, idSize, items)) return 0;
  for (uint64_t i = 0; i < items; ++i) {
    uint64_t id = 0, method = 0, reference = 0, base = 0, extents = 0;
    if (!TakeField(iloc, at, idSize, id)) return 0;
    if (version != 0 && !iloc.Has(at, 2)) return 0;
    if (version != 0) method = iloc.Be16(at) & 15, at += 2;
    if (!iloc.Has(at, 2)) return 0;
    reference = iloc.Be16(at), at += 2;
    if (!TakeField(iloc, at, baseSize, base) || !iloc.Has(at, 2)) return 0;
    extents = iloc.Be16(at), at += 2;
    if (extentBytes == 0) continue;  // extents without offsets or lengths place nothing
    if (!iloc.Has(at, extents * extentBytes)) return 0;
    for (uint64_t e = 0; e < extents; ++e) {
      uint64_t index = 0, offset = 0, length = 0;
      TakeField(iloc, at, indexSize, index);
      TakeField(iloc, at, offsetSize, offset);
      TakeField(iloc, at, lengthSize, length);
      constexpr uint64_t kFar = uint64_t{1} << 60;
      if (method == 0 && reference == 0 && base < kFar && offset < kFar && length < kFar)
        end = std::max(end, base + offset + length);
    }
  }
  return static_cast<int64_t>(end);
}

// --- The walk ---------------------------------------------------------------------------------

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

// What the walk has met so far.
struct Seen {
  bool moov = false;
  bool mdat = false;
  bool meta = false;
  int64_t itemDataEnd = 0;  // pictures: the end of the furthest item extent
  void Note(ByteView type) {
    moov = moov || type.Matches(0, "moov");
    mdat = mdat || type.Matches(0, "mdat");
    meta = meta || type.Matches(0, "meta");
  }
  // A file whose next box header lies beyond the range is whole only when it already holds
  // what its kind needs: a video (and a CR3) its movie header and its media data, a picture
  // its item list and every byte its items occupy.
  bool Whole(IsoKind kind, int64_t length) const {
    if (IsPicture(kind)) return meta && itemDataEnd <= length;
    return moov && mdat;
  }
  // A file that ends before a box it does not have is kept when it is more than a header:
  // a video with its movie header or media data, the others whole.
  bool Kept(IsoKind kind, int64_t length) const {
    if (kind == IsoKind::Video || kind == IsoKind::Mdat) return moov || mdat;
    return Whole(kind, length);
  }
  const char* Family() const { return moov ? (mdat ? "MP4 moov mdat" : "MP4 moov") : (mdat ? "MP4 mdat" : "MP4"); }
};

// The boxes read where they lie. The walk below copies a file through unclaimed sectors
// only; its box headers can also be read straight from the source, whoever claimed the
// sectors. A header found in its place shows that the sectors in front of it are this
// file's. Only the first kMaxBoxesInPlace boxes are read, so this costs a few reads.
constexpr int kMaxBoxesInPlace = 64;

struct BoxesInPlace {
  bool movieHeader = false;  // a "moov" box whose first child is "mvhd"
  int64_t lastHeader = -1;   // file offset of the last accepted box header found in place
  int64_t end = 0;           // file offset of the end of that box
};

BoxesInPlace ReadBoxesInPlace(ScanContext& scan, int64_t startOffset, int64_t offset) {
  BoxesInPlace found;
  std::array<uint8_t, 24> bytes{};
  for (int n = 0; n < kMaxBoxesInPlace; ++n) {
    const int64_t at = startOffset + offset;
    const int64_t wanted = std::min<int64_t>(bytes.size(), scan.RangeEndOffset() - at);
    if (wanted < 8) break;
    bytes.fill(0);
    const int64_t held = wanted - scan.ReadSectors(bytes.data(), wanted, at);
    const ByteView h(bytes.data(), static_cast<size_t>(std::max<int64_t>(held, 0)));
    if (held < 8 || !IsAcceptedTopLevelBox(h.Sub(4, 4))) break;
    const int64_t length = BoxLength(h);
    if (length <= 0 || length > scan.RangeEndOffset() - at) break;  // a box must end inside the range
    found.lastHeader = offset;
    found.end = offset + length;
    const uint64_t headerBytes = h.Be32(0) == 1 ? 16 : 8;
    found.movieHeader = found.movieHeader || (h.Matches(4, "moov") && h.Matches(headerBytes + 4, "mvhd"));
    offset += length;
  }
  return found;
}

// Takes back the files recorded as possibly inner (of `kinds`) that lie inside the boxes
// found in place, behind the start sector: a picture only when a box header found in place
// lies behind it (the structure goes on past it), a movie found at one of these boxes
// anywhere in them. False, and nothing taken, when a sector there belongs to anything
// else; the walk then steps over it as over any other file's.
bool TakeBackInnerFiles(ScanContext& scan, int64_t startOffset, const BoxesInPlace& found, uint8_t kinds) {
  if (found.lastHeader < 0) return true;
  const int64_t sectorSize = scan.SectorSize();
  const int64_t start = startOffset / sectorSize;
  const int64_t headerEnd = (startOffset + found.lastHeader + 7) / sectorSize + 1;  // the header's own sectors too
  const int64_t boxEnd = (startOffset + found.end - 1) / sectorSize + 1;
  const auto inner = InnerFilesWithin(scan, start + 1, boxEnd, kinds);
  if (!inner) return false;
  for (int64_t first : *inner) {
    const InnerFile* file = scan.InnerFiles.Owner(first);
    if (file == nullptr || file->Kind != kInnerPicture) continue;
    for (const SectorRun& r : file->Runs)
      if (r.First + r.Count > headerEnd) return false;
  }
  for (int64_t first : *inner) WithdrawInnerFile(scan, first);
  return true;
}

enum class Have { Yes, RangeEnd, Failed };

// The walk below runs over a Recognition, or over a OnePiece when a worker finds the bytes of
// a picture ahead of the pass: the same calls, over the bytes from the file's start as they
// lie in one piece, up to a limit that stands for the end of the range.
class OnePiece {
 public:
  OnePiece(Source& source, int64_t startOffset, int64_t limit, std::vector<uint8_t>& bytes)
      : source_(source), startOffset_(startOffset), limit_(limit), bytes_(bytes) {}
  bool KnownDeadEnd(std::string_view, int64_t) const { return false; }
  bool CopySectorRun(int64_t target) { return HoldFirstBytes(source_, startOffset_, limit_, target, bytes_); }
  bool StepOver(int64_t target) { return CopySectorRun(target); }
  CopyStop CopyAsFarAs(int64_t target) {
    return target > limit_ ? CopyStop::RangeEnd : CopySectorRun(target) ? CopyStop::Reached : CopyStop::ReadError;
  }
  bool ReadBack(int64_t offset, void* buffer, size_t count) const {
    if (offset < 0 || static_cast<uint64_t>(offset) + count > bytes_.size()) return false;
    std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
  }

 private:
  Source& source_;
  const int64_t startOffset_, limit_;
  std::vector<uint8_t>& bytes_;
};

// The walk over the file as it lies in one piece, reading only the box headers it looks at
// (a bounded number of them): how long a video says it is, for the copy made ahead of the
// pass.
class HeadersInPlace {
 public:
  HeadersInPlace(Source& source, int64_t startOffset, int64_t limit) : head_{source, startOffset, limit} {}
  bool KnownDeadEnd(std::string_view, int64_t) const { return false; }
  bool CopySectorRun(int64_t target) const { return target <= head_.limit; }
  bool StepOver(int64_t target) const { return target <= head_.limit; }
  CopyStop CopyAsFarAs(int64_t target) const { return target > head_.limit ? CopyStop::RangeEnd : CopyStop::Reached; }
  bool ReadBack(int64_t offset, void* buffer, size_t count) { return ++reads_ <= kMaxReads && head_.Read(offset, buffer, count); }

 private:
  static constexpr int kMaxReads = 1 << 16;
  const HeadReader head_;
  int reads_ = 0;
};

// Makes sure the output holds bytes up to `end` (a box header just after the data read so
// far); RangeEnd when the range ends before that.
template <class Rec>
Have EnsureHeader(Rec& rec, int64_t end) {
  switch (rec.CopyAsFarAs(end)) {
    case CopyStop::Reached: return Have::Yes;
    case CopyStop::RangeEnd: return Have::RangeEnd;
    default: return Have::Failed;
  }
}

// A picture's "meta" box is copied (even in claim-only mode) and its item locations read.
template <class Rec>
bool ReadItemLocations(Rec& rec, int64_t offset, int64_t length, Seen& seen) {
  if (length > kMaxMetaBytes) return rec.StepOver(offset + length);
  std::vector<uint8_t> meta(static_cast<size_t>(length));
  if (!rec.CopySectorRun(offset + length) || !rec.ReadBack(offset, meta.data(), meta.size())) return false;
  seen.itemDataEnd = std::max(seen.itemDataEnd, ItemDataEnd(ByteView(meta.data(), meta.size())));
  return true;
}

// Follows the boxes from `offset` on. Returns the file's length, or -1 when it cannot be
// followed to its end. A header cut off by the end of the range ends the file there only
// when it is whole; otherwise the rest of the file lies beyond the range, as for a box that
// runs past it, and the file is given up. A picture's media data of size 0 (it runs to the
// end of the file) ends where its items' data ends.
template <class Rec>
int64_t WalkBoxes(Rec& rec, IsoKind kind, int64_t offset, Seen& seen) {
  std::array<uint8_t, 16> header{};
  for (;;) {
    // From a box header on, the walk depends on the place and on what it has met.
    if (rec.KnownDeadEnd(seen.Family(), offset)) return -1;
    Have have = EnsureHeader(rec, offset + 8);
    if (have == Have::RangeEnd) return seen.Whole(kind, offset) ? offset : -1;
    if (have == Have::Failed || !rec.ReadBack(offset, header.data(), 8)) return -1;
    const ByteView h(header.data(), header.size());
    const ByteView type = h.Sub(4, 4);
    if (!IsAcceptedTopLevelBox(type, kind)) return offset;
    if (h.Be32(0) == 1) {
      have = EnsureHeader(rec, offset + 16);
      if (have == Have::RangeEnd) return seen.Whole(kind, offset) ? offset : -1;
      if (have == Have::Failed || !rec.ReadBack(offset + 8, header.data() + 8, 8)) return -1;
    }
    int64_t length = BoxLength(h);
    if (length == kNoBox && IsPicture(kind) && h.Be32(0) == 0 && type.Matches(0, "mdat") &&
        seen.itemDataEnd > offset + 8)
      length = seen.itemDataEnd - offset;
    if (length == kNoBox) return offset;
    if (length == kBeyondReach || length > std::numeric_limits<int64_t>::max() - offset) return -1;
    if (IsPicture(kind) && offset + length > kMaxPictureBytes) return -1;
    // The whole box is copied, or in claim-only mode claimed without being read.
    const bool read = IsPicture(kind) && type.Matches(0, "meta") ? ReadItemLocations(rec, offset, length, seen)
                                                                  : rec.StepOver(offset + length);
    if (!read) return -1;
    seen.Note(type);
    offset += length;
  }
}

// The HEIF/AVIF picture at startOffset as the walk assembles it when it lies in one piece
// within extentBytes (the first box read from the first sector's bytes, as the pass does).
bool FindPictureInOnePiece(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes) {
  constexpr int64_t kFirstSector = 512;
  OnePiece piece(source, startOffset, std::min(extentBytes, kMaxPictureBytes), bytes);
  if (!piece.CopySectorRun(kFirstSector)) return false;
  const ByteView first(bytes.data(), kFirstSector);
  const IsoKind kind = KindOf(first);
  const int64_t firstBox = BoxLength(first);
  if (!IsStartSector(first) || !IsPicture(kind) || firstBox <= 0 || firstBox >= kMp4LongFirstBox ||
      !piece.StepOver(firstBox))
    return false;
  Seen seen;
  seen.Note(first.Sub(4, 4));
  const int64_t length = WalkBoxes(piece, kind, firstBox, seen);
  if (length < 0 || !seen.Kept(kind, length) || length > static_cast<int64_t>(bytes.size())) return false;
  bytes.resize(static_cast<size_t>(length));
  return true;
}

ContentVerdict CheckPictureContent(ByteView file, const std::atomic<bool>*) { return {HeifPictureDecodes(file)}; }

}  // namespace

int64_t Mp4StatedLength(Source& source, int64_t startOffset, int64_t limit) {
  std::array<uint8_t, 512> sector{};
  if (limit < static_cast<int64_t>(sector.size()) || !source.ReadAt(startOffset, sector.data(), sector.size())) return 0;
  const ByteView first(sector.data(), sector.size());
  const IsoKind kind = KindOf(first);
  const int64_t firstBox = BoxLength(first);
  if (!IsStartSector(first) || IsPicture(kind) || firstBox <= 0 || firstBox >= kMp4LongFirstBox) return 0;
  HeadersInPlace walk(source, startOffset, limit);
  Seen seen;
  seen.Note(first.Sub(4, 4));
  const int64_t length = WalkBoxes(walk, kind, firstBox, seen);
  return length > 0 && seen.Kept(kind, length) ? length : 0;
}

const AheadCheck& HeifCheckAhead() {
  static const AheadCheck check{FindPictureInOnePiece, CheckPictureContent, kMaxPictureBytes, true};
  return check;
}

int RecoverMp4(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  // The kind of output follows from the start sector: nothing is created for a refused one.
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  const uint32_t sectorSize = scan.SectorSize();
  const ByteView first = rec.FirstBytes();
  const bool classic = IsClassicStart(first, scan.Options.CameraMode);
  if (!classic && !IsStartSector(first)) return 0;

  const IsoKind kind = classic ? IsoKind::Video : KindOf(first);
  const std::string extension = classic ? ((scan.Options.TypeMask & kTypeMov) ? ".MOV" : "")
                                        : ExtensionFor(kind, first, scan.Options.TypeMask);
  const bool writes = !extension.empty() && !outputFolder.empty();
  // A first box of 256 bytes or more is no file header; only a bare media-data run that is
  // to be written, and a classic file, go on with it.
  const int64_t firstBox = BoxLength(first);
  if (firstBox <= 0) return 0;
  if (firstBox >= kMp4LongFirstBox && !classic && !(writes && extension == kMdatExtension)) return 0;

  // Pictures recovered from inside this file (Motion-JPEG frames) are taken back when its
  // boxes, read in place, go on behind them; a file with "ftyp" also takes back a classic
  // movie found at one of its own boxes. A classic start is a file only when its boxes,
  // read in place, reach a movie header without running into another file's sectors.
  const BoxesInPlace inPlace = ReadBoxesInPlace(scan, startOffset, classic ? 0 : firstBox);
  const bool clear = TakeBackInnerFiles(scan, startOffset, inPlace,
                                        classic ? kInnerPicture : kInnerPicture | kInnerClassicMovie);
  if (classic && !(inPlace.movieHeader && clear)) return 0;
  if (classic) rec.MayLieInside(kInnerClassicMovie);

  // A picture is assembled in memory for its decode check, written or not, so that claim-only
  // takes the same sectors. A video is written once its boxes have shown a whole file (a
  // candidate that fails writes nothing), unless the Samsung splice below must read back a
  // first cluster larger than the walk's window.
  const bool checked = IsPicture(kind);
  const bool splice = writes && kind == IsoKind::Video && scan.LeadClusterPending;
  const int64_t cluster = int64_t{scan.SectorsPerCluster()} * sectorSize;
  const std::string fileName = writes ? RecoveredFileName(outputFolder, startOffset, extension) : "";
  if (!rec.ChooseOutput(checked                                   ? RecognitionOutput::Memory()
                        : !writes                                 ? RecognitionOutput::ClaimOnly()
                        : splice && cluster > kClaimWindowBytes   ? RecognitionOutput::File(fileName)
                                                                  : RecognitionOutput::FileOnCommit(fileName)))
    return 0;
  if (scan.Options.CameraMode.Sony) rec.SetClaimedSectorStride(kSonyClaimedStepBytes / sectorSize);

  // Samsung: the file's own first cluster, then the kept cluster that ends with the header
  // of its media data; the walk goes on over both. A kept cluster that does not continue
  // this file's boxes stays pending for the file it belongs to.
  if (splice) {
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
  const int64_t length = WalkBoxes(rec, kind, firstBox, seen);
  // A classic file is a movie only with both its movie box and its media data.
  if (length < 0 || !seen.Kept(kind, length) || (classic && !(seen.moov && seen.mdat))) return 0;
  rec.CutToLength(length);
  if (checked && !scan.CheckContent(startOffset, rec.Bytes(), CheckPictureContent).Ok) {
    rec.NoteFate(StartFate::ContentCheck);
    return 0;
  }
  if (checked && writes) rec.Save(RecoveredFileName(outputFolder, startOffset, extension));
  rec.Commit(extension != kMdatExtension);
  return 0;
}

}  // namespace morvane
