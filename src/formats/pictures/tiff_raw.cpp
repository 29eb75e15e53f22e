// TIFF-based camera raw files and TIFF pictures.
//
// The walk starts at IFD0, follows each chain of IFDs and every sub-IFD pointer, and keeps
// two marks: the extent (the farthest byte of any IFD, tag data, strip, tile, free block,
// JPEG interchange block or image plane met — the file's length) and the load target (the
// farthest byte the file must be read to; the Panasonic raw-data offset can lie beyond the
// extent). Only the IFDs and the tag data the walk parses are read during the walk; the
// pixel data is copied (or, when nothing is written, claimed unread) at the end, when the
// kind, and so the file name, is known.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/camera_raw.h"
#include "formats/pictures/exif.h"
#include "formats/pictures/photo_output.h"
#include "formats/stated_length.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr uint64_t kMaxEnd = kMaxCameraRawBytes;
constexpr int kMaxSubIfdDepth = 8;            // sub-IFDs inside sub-IFDs: real files nest 2 deep
constexpr size_t kMaxIfds = 1024;             // IFDs in one file
constexpr uint64_t kMaxArrayElements = 1 << 24;  // strip, tile and free entries checked in one file
constexpr size_t kMaxTextBytes = 256;         // of a maker name, description or date
constexpr size_t kArrayChunk = 2048;          // array elements read at a time
constexpr uint64_t kEntryBytes = 12;
constexpr uint32_t kAbsentOffsets = 0xFFFFFFFF;

enum : uint16_t {
  // Panasonic's own tags in IFD0 of its raw files.
  kTagPanasonicSensorWidth = 2,
  kTagPanasonicSensorHeight = 3,
  kTagPanasonicBitsPerSample = 10,
  kTagPanasonicCompression = 11,
  kTagPanasonicJpeg = 46,
  kTagImageDescription = 270,
  kTagMake = 271,
  kTagStripOffsets = 273,
  kTagStripByteCounts = 279,
  kTagPanasonicRawOffset = 280,
  kTagFreeOffsets = 288,
  kTagFreeByteCounts = 289,
  kTagDateTime = 306,
  kTagTileOffsets = 324,
  kTagTileByteCounts = 325,
  kTagSubIfds = 330,
  kTagGlobalParametersIfd = 400,
  kTagJpegOffset = 513,
  kTagJpegLength = 514,
  kTagExifIfd = 34665,
  kTagGpsIfd = 34853,
  kTagDateTimeOriginal = 36867,
  kTagDateTimeDigitized = 36868,
  kTagInteroperabilityIfd = 40965,
  kTagHdImageOffset = 48320,
  kTagHdImageByteCount = 48321,
  kTagHdAlphaOffset = 48322,
  kTagHdAlphaByteCount = 48323,
  kTagDngBaselineExposure = 50730,
  kTagDngExtraCameraProfiles = 50933,
};

constexpr uint16_t kTypeUndefined = 7;
constexpr uint32_t kPanasonicRaw1 = 34316;  // 14 pixels of 12 bits packed into each 16 bytes

// The bytes a Panasonic camera's raw data takes in a packing whose size follows from the
// pixel count alone; 0 for the other packings.
uint64_t PanasonicRawBytes(uint32_t compression, uint32_t bits, uint32_t width, uint32_t height) {
  if (compression != kPanasonicRaw1 || (bits != 12 && bits != 0)) return 0;
  return (uint64_t{width} * height + 13) / 14 * 16;
}

// Bytes per element of a field type; 0 for the types whose entries are passed over, -1 for
// a type no TIFF writer uses (the file is rejected). Type 13 (IFD) is a 32-bit offset.
int ElementSize(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return type >= 14 && type <= 20 ? 0 : -1;
  }
}

bool IsSubIfdPointer(uint16_t tag) {
  switch (tag) {
    case kTagSubIfds: case kTagGlobalParametersIfd: case kTagExifIfd: case kTagGpsIfd:
    case kTagInteroperabilityIfd: case kTagDngExtraCameraProfiles:
      return true;
    default:
      return false;
  }
}

// The first blank-delimited word of a text, upper-cased.
std::string FirstWord(std::string_view text) {
  const size_t from = text.find_first_not_of(' ');
  if (from == std::string_view::npos) return {};
  std::string word(text.substr(from, text.find(' ', from) - from));
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

struct TiffHeader {
  bool ok = false;
  bool bigEndian = false;
  bool classic = false;     // the TIFF magic 42 (not Olympus or Panasonic)
  bool panasonic = false;
  std::string extension;    // set by the header alone (Canon, Olympus)
  uint32_t ifd0 = 0;        // where the first IFD lies
};

TiffHeader ReadHeader(ByteView first) {
  TiffHeader h;
  h.ok = true;
  if (first.Matches(0, std::string_view("II*\0", 4))) {
    h.classic = true;
    if (first.Matches(8, "CR")) h.extension = ".CR2";
  } else if (first.Matches(0, std::string_view("MM\0*", 4))) {
    h.bigEndian = h.classic = true;
    if (first.Matches(8, "RC")) h.extension = ".CR2";
  } else if (first.Matches(0, "IIRO")) {
    h.extension = ".ORF";
  } else if (first.Matches(0, "MMOR")) {
    h.bigEndian = true;
    h.extension = ".ORF";
  } else if (first.Matches(0, std::string_view("IIU\0", 4))) {
    h.panasonic = true;
  } else if (first.Matches(0, std::string_view("MM\0U", 4))) {
    h.bigEndian = h.panasonic = true;
  } else {
    h.ok = false;
  }
  h.ifd0 = h.bigEndian ? first.Be32(4) : first.Le32(4);
  return h;
}

// An offsets tag remembered along an IFD chain until its byte-count partner comes.
struct OffsetsTag {
  bool given = false;    // met in this chain
  bool absent = false;   // met with the marker value 0xFFFFFFFF
  uint32_t count = 0;
  int elementSize = 0;
  uint64_t position = 0;  // file offset of the offsets array
};

// What one chain of IFDs remembers (the values carry over from IFD to IFD of a chain; a
// sub-IFD starts a chain of its own).
struct ChainState {
  OffsetsTag strips, frees, tiles;
  bool jpegGiven = false;
  uint32_t jpegOffset = 0;
  bool hdImageGiven = false, hdAlphaGiven = false;
  uint32_t hdImageOffset = 0, hdAlphaOffset = 0;
};

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t field = 0;       // the value field as one 32-bit number
  uint32_t value = 0;       // the value field read as the entry's single value
  int elementSize = 0;
  uint64_t size = 0;        // count × element size
  uint64_t dataPosition = 0;  // where the data lies: in the entry, or at the value field
};

// How the walk reads: copying (holding every byte), stepping over the gaps between the
// structures (claimed unread), ahead of any copy, where the bytes lie (PeekAhead), or
// straight from the source, for a copy made ahead of the recovery pass.
enum class Reading { Hold, StepOver, Peek, Source };

class TiffWalk {
 public:
  TiffWalk(Recognition& rec, bool bigEndian, Reading reading) : rec_(&rec), bigEndian_(bigEndian), reading_(reading) {}
  TiffWalk(const HeadReader& source, bool bigEndian) : source_(&source), bigEndian_(bigEndian), reading_(Reading::Source) {}

  // Walks the IFD at offset, its chain and every sub-IFD they point to. False rejects the
  // file (or, with NotHeld(), asks for a walk that keeps every byte it reads).
  bool WalkIfd(uint64_t offset, int depth);
  // Some Panasonic cameras write a strip byte count of 0: the raw data then runs from the
  // raw-data offset (tag 280) for as many bytes as the sensor's pixels take in the camera's
  // packing. False when the file has such a count and that length cannot be told: it would
  // otherwise end at its preview.
  bool AddPanasonicRawData();

  uint64_t Extent() const { return extent_; }
  uint64_t LoadTarget() const { return std::max(loadTarget_, extent_); }
  bool NotHeld() const { return notHeld_; }
  // A peeking walk met bytes it could not read ahead: only a walk that copies can tell.
  bool Unknown() const { return unknown_; }
  TDateTime ShootingTime() const { return shootingTime_; }
  bool SawMake() const { return sawMake_; }
  std::string extension;
  bool panasonic = false;

 private:
  uint16_t U16(ByteView v, uint64_t at) const { return bigEndian_ ? v.Be16(at) : v.Le16(at); }
  uint32_t U32(ByteView v, uint64_t at) const { return bigEndian_ ? v.Be32(at) : v.Le32(at); }
  uint32_t Element(ByteView v, uint64_t at, int size) const {
    return size == 2 ? U16(v, at) : size == 4 ? U32(v, at) : v.U8(at);
  }

  void Extend(uint64_t end) { extent_ = std::max(extent_, end); }
  // The file must be loaded up to end: checked against the limit now, read at the end.
  bool LoadUpTo(uint64_t end) {
    if (end > kMaxEnd) return false;
    loadTarget_ = std::max(loadTarget_, end);
    return true;
  }
  bool Read(uint64_t offset, void* out, uint64_t length);
  bool ReadText(const Entry& e, std::string& text);

  enum class Visit { First, Again, TooMany };
  Visit VisitIfd(uint64_t offset);
  bool OnEntry(const Entry& e, ChainState& chain, int depth);
  bool OnSubIfds(const Entry& e, int depth);
  bool CheckDataArrays(const OffsetsTag& offsets, const Entry& counts);

  Recognition* rec_ = nullptr;
  const HeadReader* source_ = nullptr;
  const bool bigEndian_;
  const Reading reading_;
  uint64_t extent_ = 0;
  uint64_t loadTarget_ = 0;
  bool notHeld_ = false;
  bool unknown_ = false;
  TDateTime shootingTime_ = kNoShootingTime;
  std::string descriptionWord_, makerWord_;
  bool sawMake_ = false;
  std::set<uint64_t> walked_;
  std::set<std::tuple<uint64_t, uint64_t, uint32_t, int, int>> checkedArrays_;
  uint64_t arrayElements_ = 0;
  bool zeroStripCount_ = false;
  uint32_t rawOffset_ = 0;
  uint32_t sensorWidth_ = 0, sensorHeight_ = 0, rawBits_ = 0, rawCompression_ = 0;
};

bool TiffWalk::AddPanasonicRawData() {
  if (!panasonic || !zeroStripCount_) return true;
  const uint64_t bytes = PanasonicRawBytes(rawCompression_, rawBits_, sensorWidth_, sensorHeight_);
  if (rawOffset_ == 0 || bytes == 0 || !LoadUpTo(rawOffset_ + bytes)) return false;
  Extend(rawOffset_ + bytes);
  return true;
}

// Reads output bytes [offset, offset + length), loading the file that far first. A walk
// that may step over unread bytes claims the whole sectors before offset without reading
// them; bytes that are then no longer held make the walk ask for one that holds them.
bool TiffWalk::Read(uint64_t offset, void* out, uint64_t length) {
  const uint64_t end = offset + length;  // both below 2^33: no overflow
  if (end > kMaxEnd) return false;
  if (reading_ == Reading::Source) return source_->Read(static_cast<int64_t>(offset), out, static_cast<size_t>(length));
  if (reading_ == Reading::Peek) {
    const auto peek = rec_->PeekAhead(static_cast<int64_t>(offset), out, static_cast<int64_t>(length));
    unknown_ |= peek == Recognition::Peek::Unknown;
    return peek == Recognition::Peek::Read;
  }
  const auto target = static_cast<int64_t>(end);
  if (target > rec_->Length()) {
    if (reading_ == Reading::StepOver && static_cast<int64_t>(offset) > rec_->Length() && !rec_->StepOver(static_cast<int64_t>(offset)))
      return false;
    if (!rec_->CopySectorRun(target)) return false;
  }
  if (rec_->ReadBack(static_cast<int64_t>(offset), out, static_cast<size_t>(length))) return true;
  notHeld_ = true;
  return false;
}

// The entry's text: its data up to the first NUL (at most kMaxTextBytes of it).
bool TiffWalk::ReadText(const Entry& e, std::string& text) {
  std::array<char, kMaxTextBytes> buffer{};
  const uint64_t n = std::min<uint64_t>(e.size, buffer.size());
  if (!Read(e.dataPosition, buffer.data(), n)) return false;
  text.assign(buffer.data(), strnlen(buffer.data(), static_cast<size_t>(n)));
  return true;
}

// Each IFD is walked once: one met again (two IFDs sharing their EXIF IFD, a chain that
// loops) adds nothing. A file with more IFDs than any camera writes is not followed.
TiffWalk::Visit TiffWalk::VisitIfd(uint64_t offset) {
  if (walked_.count(offset)) return Visit::Again;
  if (walked_.size() >= kMaxIfds) return Visit::TooMany;
  walked_.insert(offset);
  return Visit::First;
}

bool TiffWalk::WalkIfd(uint64_t offset, int depth) {
  if (depth > kMaxSubIfdDepth) return false;
  ChainState chain;
  std::vector<uint8_t> block;
  for (;;) {
    const Visit visit = VisitIfd(offset);
    if (visit != Visit::First) return visit == Visit::Again;
    std::array<uint8_t, 2> countBytes{};
    if (!Read(offset, countBytes.data(), 2)) return false;
    Extend(offset + 2);
    const auto entries = static_cast<int16_t>(U16(ByteView(countBytes.data(), 2), 0));
    if (entries <= 0) return false;
    const uint64_t entriesEnd = offset + 2 + kEntryBytes * static_cast<uint64_t>(entries);
    block.resize(static_cast<size_t>(entriesEnd + 4 - offset));
    if (!Read(offset, block.data(), block.size())) return false;
    Extend(entriesEnd + 4);
    const ByteView ifd(block.data(), block.size());

    for (int i = 0; i < entries; ++i) {
      const uint64_t at = 2 + kEntryBytes * static_cast<uint64_t>(i);
      Entry e;
      e.tag = U16(ifd, at);
      e.type = U16(ifd, at + 2);
      e.count = U32(ifd, at + 4);
      e.field = U32(ifd, at + 8);
      e.elementSize = ElementSize(e.type);
      if (e.elementSize < 0) return false;
      e.size = uint64_t{e.count} * static_cast<uint64_t>(e.elementSize);
      if (e.size == 0) continue;
      e.value = e.elementSize <= 2 ? Element(ifd, at + 8, e.elementSize) : e.field;
      if (e.size <= 4) {
        e.dataPosition = offset + at + 8;
      } else {
        e.dataPosition = e.field;
        if (!LoadUpTo(e.dataPosition + e.size)) return false;
        Extend(e.dataPosition + e.size);
      }
      if (!OnEntry(e, chain, depth)) return false;
    }
    const uint32_t next = U32(ByteView(block.data(), block.size()), entriesEnd - offset);
    if (next == 0) return true;
    offset = next;
  }
}

bool TiffWalk::OnEntry(const Entry& e, ChainState& chain, int depth) {
  // A byte-count tag is checked against the offsets met earlier in the chain; without
  // them it counts as absent.
  const auto pairEnd = [&](bool given, uint32_t offset) {
    if (!given) return true;
    const uint64_t end = uint64_t{offset} + e.value;
    if (!LoadUpTo(end)) return false;
    Extend(end);
    return true;
  };
  const auto remember = [&](OffsetsTag& o) {
    o = OffsetsTag{true, e.field == kAbsentOffsets, e.count, e.elementSize, e.dataPosition};
  };
  const auto check = [&](const OffsetsTag& o) { return !o.given || o.absent || CheckDataArrays(o, e); };

  std::string text;
  switch (e.tag) {
    case kTagImageDescription:
      if (!extension.empty() || !descriptionWord_.empty()) return true;
      if (!ReadText(e, text)) return false;
      descriptionWord_ = FirstWord(text);
      return true;
    case kTagMake:
      sawMake_ = true;
      if (!extension.empty() || !makerWord_.empty()) return true;
      if (!ReadText(e, text)) return false;
      makerWord_ = FirstWord(text);
      if (makerWord_ == "SONY") {
        if (descriptionWord_ == "SONY") extension = ".ARW";
        else if (descriptionWord_.empty()) extension = ".SR2";
      } else if (makerWord_ == "PENTAX") {
        extension = ".PEF";
      } else if (makerWord_ == "NIKON") {
        extension = ".NEF";
      }
      return true;
    case kTagDngBaselineExposure:
      extension = ".DNG";
      return true;
    case kTagStripOffsets: remember(chain.strips); return true;
    case kTagFreeOffsets: remember(chain.frees); return true;
    case kTagTileOffsets: remember(chain.tiles); return true;
    case kTagStripByteCounts:
      if (chain.strips.given && !chain.strips.absent && e.count == 1 && e.value == 0) zeroStripCount_ = true;
      return check(chain.strips);
    case kTagFreeByteCounts: return check(chain.frees);
    case kTagTileByteCounts: return check(chain.tiles);
    case kTagPanasonicSensorWidth: if (panasonic) sensorWidth_ = e.value; return true;
    case kTagPanasonicSensorHeight: if (panasonic) sensorHeight_ = e.value; return true;
    case kTagPanasonicBitsPerSample: if (panasonic) rawBits_ = e.value; return true;
    case kTagPanasonicCompression: if (panasonic) rawCompression_ = e.value; return true;
    case kTagPanasonicRawOffset:
      rawOffset_ = e.value;
      if (!chain.strips.absent) return true;
      extension = ".RW2";
      return LoadUpTo(e.value);
    case kTagPanasonicJpeg:
      if (e.type == kTypeUndefined) extension = ".RW2";
      return true;
    case kTagJpegOffset:
      chain.jpegGiven = true;
      chain.jpegOffset = e.value;
      return true;
    case kTagJpegLength: return pairEnd(chain.jpegGiven, chain.jpegOffset);
    case kTagHdImageOffset:
      chain.hdImageGiven = true;
      chain.hdImageOffset = e.value;
      return true;
    case kTagHdImageByteCount: return pairEnd(chain.hdImageGiven, chain.hdImageOffset);
    case kTagHdAlphaOffset:
      chain.hdAlphaGiven = true;
      chain.hdAlphaOffset = e.value;
      return true;
    case kTagHdAlphaByteCount: return pairEnd(chain.hdAlphaGiven, chain.hdAlphaOffset);
    case kTagDateTime:
    case kTagDateTimeOriginal:
    case kTagDateTimeDigitized:
      if (shootingTime_ >= 0) return true;
      if (!ReadText(e, text)) return false;
      ParseExifDateTime(text, shootingTime_);
      return true;
    default:
      return IsSubIfdPointer(e.tag) ? OnSubIfds(e, depth) : true;
  }
}

// One sub-IFD (count 1: the value is its offset) or an array of count offsets. An offset
// of 0 names no IFD.
bool TiffWalk::OnSubIfds(const Entry& e, int depth) {
  if (e.count == 1) return e.value == 0 || WalkIfd(e.value, depth + 1);
  if (e.elementSize != 2 && e.elementSize != 4) return true;
  if (e.count > kMaxIfds) return false;
  std::vector<uint8_t> offsets(static_cast<size_t>(e.size));
  if (!Read(e.dataPosition, offsets.data(), offsets.size())) return false;
  const ByteView v(offsets.data(), offsets.size());
  for (uint32_t i = 0; i < e.count; ++i) {
    const uint32_t ifd = Element(v, uint64_t{i} * e.elementSize, e.elementSize);
    if (ifd != 0 && !WalkIfd(ifd, depth + 1)) return false;
  }
  return true;
}

// The parallel arrays of offsets and byte counts: every block they list must lie within
// the limit, and the file reaches at least to each block's end. Only as many blocks as
// both arrays hold are looked at; the same pair of arrays is looked at once.
bool TiffWalk::CheckDataArrays(const OffsetsTag& offsets, const Entry& counts) {
  const int os = offsets.elementSize, cs = counts.elementSize;
  if ((os != 2 && os != 4) || (cs != 2 && cs != 4)) return false;
  const uint32_t n = std::min(offsets.count, counts.count);
  if (!checkedArrays_.emplace(offsets.position, counts.dataPosition, n, os, cs).second) return true;
  arrayElements_ += n;
  if (arrayElements_ > kMaxArrayElements) return false;
  std::vector<uint8_t> o(kArrayChunk * 4), c(kArrayChunk * 4);
  for (uint32_t i = 0; i < n;) {
    const uint32_t k = std::min<uint32_t>(n - i, kArrayChunk);
    if (!Read(offsets.position + uint64_t{i} * os, o.data(), uint64_t{k} * os)) return false;
    if (!Read(counts.dataPosition + uint64_t{i} * cs, c.data(), uint64_t{k} * cs)) return false;
    const ByteView ov(o.data(), o.size()), cv(c.data(), c.size());
    for (uint32_t j = 0; j < k; ++j) {
      const uint64_t end = uint64_t{Element(ov, uint64_t{j} * os, os)} + Element(cv, uint64_t{j} * cs, cs);
      if (!LoadUpTo(end)) return false;
      Extend(end);
    }
    i += k;
  }
  return true;
}

// Walks the whole directory tree of the file whose header this is; false rejects it.
bool WalkFile(TiffWalk& walk, const TiffHeader& header) {
  walk.extension = header.extension;
  walk.panasonic = header.panasonic;
  return walk.WalkIfd(header.ifd0, 0) && walk.AddPanasonicRawData();
}

enum class Outcome { Done, Rejected, NotHeld };

// One recognition of the file. `hold` keeps every byte read until the kind is known (the
// output is then chosen); without it nothing is written and the gaps between the
// structures are claimed unread.
Outcome CarveTiff(ScanContext& scan, const std::string& outputFolder, int64_t startOffset, bool hold, int* written) {
  Recognition rec(scan, startOffset, hold ? RecognitionOutput::Undecided() : RecognitionOutput::ClaimOnly());
  if (!rec.Started()) return Outcome::Rejected;
  const ByteView first = rec.FirstBytes();
  const TiffHeader header = ReadHeader(first);
  if (!header.ok) return Outcome::Rejected;

  // The IFDs and their data first, read where they lie: a header whose IFDs lie far away
  // and do not hold up costs those IFDs, not the bytes up to them.
  TiffWalk ahead(rec, header.bigEndian, Reading::Peek);
  uint8_t last = 0;
  if (WalkFile(ahead, header) ? rec.PeekAhead(static_cast<int64_t>(ahead.LoadTarget()) - 1, &last, 1) == Recognition::Peek::Beyond
                      : !ahead.Unknown())
    return Outcome::Rejected;

  TiffWalk walk(rec, header.bigEndian, hold ? Reading::Hold : Reading::StepOver);
  if (!WalkFile(walk, header)) return walk.NotHeld() ? Outcome::NotHeld : Outcome::Rejected;
  // Without any maker evidence: a TIFF picture when no camera named itself, else the raw
  // file of a camera this walk does not know by name.
  std::string extension = walk.extension;
  if (extension.empty()) extension = header.classic && !walk.SawMake() ? ".TIF" : ".RAW";

  std::string fileName;
  if (hold) {
    const TDateTime time = walk.ShootingTime();
    if (PhotoWanted(rec, scan, outputFolder, kTypeRaw, time)) {
      fileName = RecoveredFileName(outputFolder, startOffset, extension);
      if (!rec.ChooseOutput(RecognitionOutput::File(fileName))) return Outcome::Rejected;
    } else if (!rec.ChooseOutput(RecognitionOutput::ClaimOnly())) {
      return Outcome::Rejected;
    }
  }
  // The rest of the file: copied into the file, or claimed unread.
  if (!rec.StepOver(static_cast<int64_t>(walk.LoadTarget()))) return Outcome::Rejected;
  // Sectors read beyond the file's end (up to the Panasonic raw offset) stay claimed.
  rec.CutKeepingClaims(static_cast<int64_t>(walk.Extent()));
  rec.Commit();
  if (rec.WroteFile()) {
    SetShootingTimeOnFile(rec.WrittenName(), walk.ShootingTime());
    *written = static_cast<int>(walk.Extent());
  }
  return Outcome::Done;
}

}  // namespace

int64_t TiffRawStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  const HeadReader read{source, startOffset, limit};
  std::array<uint8_t, 16> first{};
  if (!read.Read(0, first.data(), first.size())) return 0;
  const TiffHeader header = ReadHeader(ByteView(first.data(), first.size()));
  if (!header.ok) return 0;
  TiffWalk walk(read, header.bigEndian);
  // The file is read as far as its load target, which must lie within the range.
  if (!WalkFile(walk, header) || walk.LoadTarget() > static_cast<uint64_t>(limit)) return 0;
  return static_cast<int64_t>(walk.Extent());
}

int RecoverTiffRaw(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool mayWrite = !outputFolder.empty() && (scan.Options.TypeMask & kTypeRaw) != 0;
  int written = 0;
  // A claim-only walk steps over the gaps between the structures; when a structure it
  // needs lies in a gap already passed, the file is walked again holding every byte.
  if (CarveTiff(scan, outputFolder, startOffset, mayWrite, &written) == Outcome::NotHeld)
    CarveTiff(scan, outputFolder, startOffset, true, &written);
  return written;
}

}  // namespace morvane
