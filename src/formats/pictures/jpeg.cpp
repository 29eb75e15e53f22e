#include "formats/pictures/jpeg.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include <jpeglib.h>
#include <jerror.h>

#include "filetypes/catalogue.h"
#include "formats/pictures/exif.h"
#include "formats/pictures/photo_output.h"
#include "scan/recovered_file.h"
#include "scan/scan_options.h"

namespace morvane {
namespace {

// --- Decoder check ----------------------------------------------------------------------

constexpr long kMaxDecoderMemory = 512L << 20;  // progressive pictures keep all coefficients
constexpr int kMaxScans = 1000;                  // far more than any real progressive picture

struct DecodeErrors {
  jpeg_error_mgr mgr;
  jpeg_progress_mgr progress;
  const std::atomic<bool>* cancel;
  jmp_buf escape;
};

[[noreturn]] void FailDecode(j_common_ptr cinfo) {
  longjmp(reinterpret_cast<DecodeErrors*>(cinfo->err)->escape, 1);
}

// Warnings that mean the entropy data is damaged or cut short: the carved bytes are not
// the whole picture. Other warnings (unknown JFIF revision, junk before a marker) pass.
bool IsCorruptDataWarning(int code) {
  switch (code) {
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_ARITH_BAD_CODE:
    case JWRN_JPEG_EOF:
    case JWRN_MUST_RESYNC:
      return true;
    default:
      return false;
  }
}

void OnDecoderMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && IsCorruptDataWarning(cinfo->err->msg_code)) FailDecode(cinfo);
}

void IgnoreOutput(j_common_ptr) {}

// Called for every row: ends a decode with too many scans, or one no longer wanted.
void LimitScans(j_common_ptr cinfo) {
  const std::atomic<bool>* cancel = reinterpret_cast<DecodeErrors*>(cinfo->err)->cancel;
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans ||
      (cancel && cancel->load(std::memory_order_relaxed)))
    FailDecode(cinfo);
}

// Only plain C objects live in this frame, so leaving it by longjmp skips no destructor.
bool DecodeWithLibjpeg(const uint8_t* data, size_t size, JpegPicture* picture, const std::atomic<bool>* cancel) {
  jpeg_decompress_struct cinfo;
  DecodeErrors errors;
  errors.cancel = cancel;
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = FailDecode;
  errors.mgr.emit_message = OnDecoderMessage;
  errors.mgr.output_message = IgnoreOutput;
  if (setjmp(errors.escape)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
  errors.progress.progress_monitor = LimitScans;
  cinfo.progress = &errors.progress;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) FailDecode(reinterpret_cast<j_common_ptr>(&cinfo));
  const int64_t pixels = int64_t{cinfo.image_width} * cinfo.image_height;
  if (pixels <= 0 || pixels > kMaxJpegPixels) FailDecode(reinterpret_cast<j_common_ptr>(&cinfo));
  picture->Width = static_cast<int>(cinfo.image_width);
  picture->Height = static_cast<int>(cinfo.image_height);

  cinfo.scale_num = 1;
  cinfo.scale_denom = 8;
  cinfo.dct_method = JDCT_IFAST;
  cinfo.do_fancy_upsampling = FALSE;
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  const JDIMENSION rowBytes = cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, rowBytes, 1);
  while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// --- Carving ----------------------------------------------------------------------------

constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kEndOfImage = 0xD9;

constexpr int64_t kMarkersBroken = -1;
constexpr int64_t kNeedsMoreBytes = -2;

// Follows the marker segments held in bytes from pos (2 at first) to the first start of
// scan; returns the offset just behind the start-of-scan marker and its length field,
// kMarkersBroken, or kNeedsMoreBytes with pos on the marker whose four bytes are not held.
int64_t FollowMarkers(ByteView bytes, int64_t& pos) {
  while (pos <= kMaxJpegBytes) {
    if (pos + 4 > static_cast<int64_t>(bytes.size())) return kNeedsMoreBytes;
    if (bytes.U8(pos) != kMarkerPrefix) return kMarkersBroken;
    const uint8_t marker = bytes.U8(pos + 1);
    const uint16_t length = bytes.Be16(pos + 2);
    pos += 4;
    if (marker == kStartOfScan) return pos;
    // FF FF and FF 00 are fill and stuffing, never a segment: taken as one, a run of FF
    // bytes would read as a chain of 64 KiB segments up to the length limit, from every
    // start inside it.
    if (marker == kMarkerPrefix || marker == 0x00 || length <= 2) return kMarkersBroken;
    pos += length - 2;
  }
  return kMarkersBroken;
}

// The marker walk over the picture's sectors; -1 when the structure is broken or cannot be
// read.
int64_t WalkMarkersToScan(Recognition& rec) {
  int64_t pos = 2;
  for (;;) {
    const int64_t scan = FollowMarkers(rec.Bytes(), pos);
    if (scan != kNeedsMoreBytes) return scan;
    if (!rec.CopySectorRun(pos + 4)) return -1;
  }
}

// Offset of the first D9 preceded by FF at or after `from` (the FF counting from `from`),
// or -1.
int64_t FindEndOfImage(ByteView bytes, int64_t from) {
  const uint8_t* data = bytes.data();
  const auto size = static_cast<int64_t>(bytes.size());
  int64_t i = from + 1;
  while (i < size) {
    const void* hit = std::memchr(data + i, kEndOfImage, static_cast<size_t>(size - i));
    if (!hit) return -1;
    i = static_cast<const uint8_t*>(hit) - data;
    if (data[i - 1] == kMarkerPrefix) return i;
    ++i;
  }
  return -1;
}

// What the end searches of a scan have learned about the source: the sectors whose bytes
// hold no FF D9 pair, and among them those that begin with D9 or end with FF — the only ones
// through which a pair can form across the boundary between two sectors of a picture. These
// are facts about the bytes alone, so they stay true whatever is claimed later.
//
// Without them every failed candidate searches up to 32 MiB for its end and gives it all
// back, and the next candidate a sector lower searches the same bytes again: on data with a
// JPEG start in every sector the scan time grows with the square of the source's size.
class EndFreeSectors {
 public:
  // Records sector s when its bytes hold no FF D9 pair.
  void Learn(int64_t s, ByteView sector) {
    if (sector.size() == 0 || FindEndOfImage(sector, 0) >= 0 || Known(s)) return;
    if (sector.U8(0) == kEndOfImage) startsWithD9_.insert(s);
    if (sector.U8(sector.size() - 1) == kMarkerPrefix) endsWithFF_.insert(s);
    auto next = runs_.upper_bound(s);
    const bool joinsNext = next != runs_.end() && next->first == s + 1;
    if (next != runs_.begin()) {
      auto prev = std::prev(next);
      if (prev->second == s - 1) {
        prev->second = joinsNext ? next->second : s;
        if (joinsNext) runs_.erase(next);
        return;
      }
    }
    const int64_t last = joinsNext ? next->second : s;
    if (joinsNext) runs_.erase(next);
    runs_.emplace(s, last);
  }

  // The end search of a picture that holds `length` bytes ending in `lastByte`, and whose
  // next sector would be x, fails when every sector it would still load before the range or
  // the length limit ends is known and no pair forms between them. Returns true for a
  // certain failure; otherwise false and, in stoppedAt, the sector where the knowledge ends
  // (the search must read up to there itself before it asks again).
  bool SearchMustFail(const ScanContext& scan, int64_t x, int64_t length, uint8_t lastByte, int64_t& stoppedAt) const {
    const int64_t bps = scan.SectorSize();
    // The search fails once it has looked at length kMaxJpegBytes + 2 without a pair.
    int64_t remaining = (kMaxJpegBytes + 2 - length + bps - 1) / bps;
    bool previousEndsWithFF = lastByte == kMarkerPrefix;
    const TSectorMap& map = scan.SectorMap;
    for (int64_t cur = x;;) {
      stoppedAt = cur;
      if (cur < 0) return true;  // the range ends: so does the search
      auto run = runs_.upper_bound(cur);
      if (run == runs_.begin() || std::prev(run)->second < cur) return false;
      const int64_t runLast = std::min(std::prev(run)->second, scan.LastSector);
      const TSectorMap::UnclaimedCount taken = map.CountUnclaimed(cur, runLast, remaining);
      // The sectors loaded from this run: the unclaimed ones of [cur, taken.LastSector].
      if (const int64_t pair = PairAcrossSectors(map, cur, taken.LastSector, previousEndsWithFF); pair >= 0) {
        stoppedAt = pair;
        return false;
      }
      remaining -= taken.Count;
      if (remaining <= 0) return true;
      previousEndsWithFF = endsWithFF_.contains(taken.LastSector);
      cur = runLast < scan.LastSector ? map.NextUnclaimedSector(runLast + 1, scan.LastSector) : -1;
    }
  }

 private:
  bool Known(int64_t s) const {
    auto run = runs_.upper_bound(s);
    return run != runs_.begin() && std::prev(run)->second >= s;
  }

  // Where the unclaimed sectors of [first, last] (first unclaimed), read one after the
  // other behind a byte that is FF or not, form an FF D9 pair across a boundary: the sector
  // that begins with the D9, or -1.
  int64_t PairAcrossSectors(const TSectorMap& map, int64_t first, int64_t last, bool previousEndsWithFF) const {
    if (previousEndsWithFF && startsWithD9_.contains(first)) return first;
    auto d9 = startsWithD9_.upper_bound(first);
    if (d9 == startsWithD9_.end() || *d9 > last) return -1;  // no D9 start: no pair
    for (auto ff = endsWithFF_.lower_bound(first); ff != endsWithFF_.end() && *ff < last; ++ff) {
      if (map.IsSectorClaimed(*ff)) continue;
      const int64_t next = map.NextUnclaimedSector(*ff + 1, last);
      if (next >= 0 && startsWithD9_.contains(next)) return next;
    }
    return -1;
  }

  std::map<int64_t, int64_t> runs_;  // first -> last sector of runs of known sectors
  std::set<int64_t> startsWithD9_, endsWithFF_;
};

// From the first start of scan on, reads sectors until the first FF D9; returns the
// picture's length (ending with that D9), or -1.
int64_t FindPictureEnd(ScanContext& scan, Recognition& rec, int64_t pos) {
  EndFreeSectors& known = scan.RecogniserMemo<EndFreeSectors>();
  const int64_t bps = scan.SectorSize();
  // The sectors already held, in the order they were claimed (that of the bytes).
  int64_t at = 0;
  for (const SectorRun& run : rec.Claims().Runs())
    for (int64_t s = run.First; s < run.First + run.Count; ++s, at += bps)
      known.Learn(s, rec.Bytes().Sub(static_cast<uint64_t>(at), static_cast<uint64_t>(bps)));
  int64_t readWithoutAskingUpTo = -1;
  for (;;) {
    const ByteView bytes = rec.Bytes();
    const int64_t end = FindEndOfImage(bytes, pos);
    if (end >= 0) return end + 1;
    // Look again at the last two bytes: an FF at the end may pair with the next sector.
    pos = std::max(pos, rec.Length() - 2);
    if (pos >= kMaxJpegBytes) return -1;
    const int64_t next = rec.NextUnclaimedSector();
    if (next < 0) return -1;  // the range ends before the picture
    if (next > readWithoutAskingUpTo &&
        known.SearchMustFail(scan, next, rec.Length(), bytes.U8(bytes.size() - 1), readWithoutAskingUpTo))
      return -1;
    if (!rec.ReadNextSector()) return -1;
    known.Learn(rec.ReadPosition() / bps - 1, rec.Bytes().Sub(rec.Bytes().size() - static_cast<uint64_t>(bps)));
  }
}

// The picture at startOffset as it reads when it lies in one piece within extentBytes: the
// same walk over bytes read in growing pieces.
bool FindPictureInOnePiece(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes) {
  constexpr int64_t kFirstPiece = 0x40000;
  const int64_t limit = std::min(extentBytes, kMaxJpegBytes);
  int64_t held = 0, pos = 2, scanStart = kNeedsMoreBytes;
  while (held < limit) {
    const int64_t want = std::min(limit, std::max(kFirstPiece, 2 * held));
    bytes.resize(static_cast<size_t>(want));
    if (!source.ReadAt(startOffset + held, bytes.data() + held, static_cast<size_t>(want - held))) return false;
    held = want;
    const ByteView view(bytes.data(), bytes.size());
    if (scanStart == kNeedsMoreBytes) scanStart = FollowMarkers(view, pos);
    if (scanStart == kMarkersBroken) return false;
    if (scanStart == kNeedsMoreBytes) continue;
    pos = std::max(pos, scanStart);
    if (const int64_t end = FindEndOfImage(view, pos); end >= 0) {
      bytes.resize(static_cast<size_t>(end + 1));
      return true;
    }
    pos = std::max(pos, held - 2);
  }
  return false;
}

ContentVerdict CheckJpegContent(ByteView picture, const std::atomic<bool>* cancel) {
  return CheckJpegDecodes(picture, cancel);
}

}  // namespace

JpegPicture CheckJpegDecodes(ByteView picture, const std::atomic<bool>* cancel) {
  JpegPicture result;
  if (picture.size() < 4) return result;
  result.Ok = DecodeWithLibjpeg(picture.data(), picture.size(), &result, cancel);
  if (!result.Ok) result.Width = result.Height = 0;
  return result;
}

const AheadCheck& JpegCheckAhead() {
  static const AheadCheck check{FindPictureInOnePiece, CheckJpegContent, kMaxJpegBytes};
  return check;
}

bool IsThumbnail(int64_t pixels, const ScanOptions& options) {
  if (pixels <= options.ThumbnailPixelLimit) return true;
  const auto& special = options.ThumbnailSpecialSizes;
  return special && std::find(special->begin(), special->end(), pixels) != special->end();
}

JpegPicture SaveRecoveredJpeg(ScanContext& scan, Recognition& rec, const std::string& baseName,
                              TDateTime shootingTime) {
  const ByteView bytes = rec.Bytes();
  if (shootingTime < 0) shootingTime = ReadExifShootingTime(bytes).Time;
  const JpegPicture picture = scan.CheckContent(rec.StartOffset(), bytes, CheckJpegContent);
  if (!picture.Ok) {
    rec.NoteFate(StartFate::ContentCheck);
    return picture;
  }
  if (PhotoWanted(rec, scan, baseName, kTypeJpg, shootingTime)) {
    const std::string fileName = baseName + ".JPG";
    if (rec.Save(fileName)) SetShootingTimeOnFile(rec.WrittenName(), shootingTime);
  }
  return picture;
}

int RecoverJpeg(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Memory());
  if (!rec.Started()) return 0;
  const ByteView first = rec.FirstBytes();
  if (first.U8(0) != 0xFF || first.U8(1) != 0xD8 || first.U8(2) != 0xFF) return 0;
  rec.MayLieInside(kInnerPicture);  // a Motion-JPEG frame, a picture embedded in a video

  const int64_t scanStart = WalkMarkersToScan(rec);
  if (scanStart < 0) return 0;
  const int64_t length = FindPictureEnd(scan, rec, scanStart);
  if (length < 0) return 0;
  rec.CutToLength(length);

  // Without an output folder the picture is only followed and claimed.
  const std::string baseName = outputFolder.empty() ? std::string() : RecoveredFileName(outputFolder, startOffset, "");
  const JpegPicture picture = SaveRecoveredJpeg(scan, rec, baseName, kNoShootingTime);
  if (!picture.Ok) {
    rec.Commit(false);  // not a picture, but its sectors are no other file's either
    return 0;
  }
  // A thumbnail's sectors are given back (by not committing): the picture it belongs to
  // may still need them.
  if (!IsThumbnail(int64_t{picture.Width} * picture.Height, scan.Options))
    rec.Commit(false);
  else
    rec.NoteFate(StartFate::Thumbnail);
  return static_cast<int>(length);
}

}  // namespace morvane
