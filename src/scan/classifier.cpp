#include "scan/classifier.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "scan/mpeg_clock.h"

namespace morvane {

namespace {

using namespace std::string_view_literals;

// A group of tests that did not match: the sequence goes on with the next group.
constexpr int kGoOn = -1;

constexpr bool InRange(uint32_t v, uint32_t low, uint32_t high) { return v >= low && v <= high; }

// ASCII letters only: 'C' and 'c' both give 'c'.
constexpr uint8_t FoldCase(uint8_t c) { return c | 0x20; }

// --- Signatures at the start of the sector --------------------------------------------------

// JPEG, GIF, BMP, OLE. A "BM" sector with a non-zero word at 6 is no candidate at all.
int ClassifyPictureOrOle(ByteView s) {
  switch (s.U8(0)) {
    case 0xFF:
      if (s.U8(1) == 0xD8 && s.U8(2) == 0xFF) {
        const uint8_t marker = s.U8(3);
        return marker == 0xE0 || marker == 0xE1 ? ftJpegApp : ftJpegOther;
      }
      break;
    case 'G':
      if (s.Matches(0, "GIF89a")) return ftGif;
      break;
    case 'B':
      if (s.U8(1) == 'M') return s.Le32(6) == 0 ? ftBmp : ftNone;
      break;
    case 0xD0:
      if (s.Matches(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"sv)) return ftOle;
      break;
  }
  return kGoOn;
}

// The form type of a RIFF file; an unknown form is no candidate at all.
uint8_t ClassifyRiffForm(ByteView s) {
  if (s.Matches(8, "AVI ")) return ftRiffAvi;
  if (s.Matches(8, "CDXA")) return ftRiffCdxa;
  if (s.Matches(8, "WAVE")) return ftRiffWave;
  if (s.Matches(8, "ACON")) return ftRiffAcon;
  if (s.Matches(8, "WEBPVP8")) return s.U8(15) == ' ' || s.U8(15) == 'L' || s.U8(15) == 'X' ? ftRiffWebp : ftNone;
  if (FoldCase(s.U8(8)) == 'c' && FoldCase(s.U8(9)) == 'd' && FoldCase(s.U8(10)) == 'r') return ftRiffCdr;
  return ftNone;
}

// ASF header object 75B22630-668E-11CF-A6D9-00AA0062CE6C and file properties object
// 8CABDCA1-A947-11CF-8EE4-00C00C205365, as stored on disk.
constexpr std::string_view kAsfHeaderGuid = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
constexpr std::string_view kAsfFilePropertiesGuid =
    "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;

}  // namespace

bool HasFtypBrand(ByteView s, std::initializer_list<std::string_view> brands) {
  const auto listed = [&](uint64_t at) {
    for (std::string_view b : brands)
      if (s.Matches(at, b)) return true;
    return false;
  };
  // The major brand at 8, the compatible ones from 16 to the end of the box.
  const uint64_t end = std::min<uint64_t>(s.Be32(0), s.size());
  if (end >= 12 && listed(8)) return true;
  for (uint64_t at = 16; at + 4 <= end; at += 4)
    if (listed(at)) return true;
  return false;
}

uint8_t ClassifyFtypBrands(ByteView s) {
  if (s.Matches(8, "crx ")) return ftCr3;
  if (HasFtypBrand(s, {"avif", "avis"})) return ftAvif;
  if (HasFtypBrand(s, {"heic", "heix", "hevc", "heim", "heis", "mif1", "msf1"})) return ftHeic;
  if (s.Matches(8, "3gp")) return ft3gp;
  if (s.Matches(8, "mp4")) return ftMp4;
  return ftMov;
}

namespace {

// An EBML header whose DocType, among its first bytes, is "matroska" or "webm"; an EBML
// header of any other document is no candidate.
uint8_t ClassifyEbmlDocType(ByteView s) {
  constexpr size_t kDocTypeWithin = 64;
  for (size_t at = 4; at < kDocTypeWithin; ++at) {
    if (s.U8(at) != 0x42 || s.U8(at + 1) != 0x82) continue;
    const uint8_t size = s.U8(at + 2);  // a one-byte size: 0x80 | length
    if (size == 0x88 && s.Matches(at + 3, "matroska")) return ftMatroska;
    if (size == 0x84 && s.Matches(at + 3, "webm")) return ftWebm;
  }
  return ftNone;
}

// Jet database, RIFF, ASF, EBML and ISO media "ftyp" starts.
int ClassifyDatabaseOrContainer(ByteView s) {
  if (s.Matches(4, "Standard Jet DB")) return ftJetDb;
  switch (s.U8(0)) {
    case 'R':
      if (s.Matches(0, "RIFF")) return ClassifyRiffForm(s);
      break;
    case 0x30:
      if (s.Matches(0, kAsfHeaderGuid)) return s.Matches(30, kAsfFilePropertiesGuid) ? ftAsfFileProperties : ftAsfOther;
      break;
    case 0x00:
      if (s.U8(1) == 0 && s.Matches(4, "ftyp")) return ClassifyFtypBrands(s);
      break;
    case 0x1A:
      if (s.Matches(0, "\x1A\x45\xDF\xA3"sv)) return ClassifyEbmlDocType(s);
      break;
  }
  return kGoOn;
}

// An MPEG program-stream pack header. The result is provisional: later tests go on and
// replace it when they match. An MPEG-2 pack with a clock of 3.6 s or more is no stream start.
uint8_t ClassifyMpegPack(ByteView s) {
  if (IsMpeg2PackHeader(s)) {
    const uint64_t clock = Mpeg2PackScr(s);
    if (clock >= kMpeg2LargestClockStep) return ftNone;
    return clock == 0 ? ftMpeg2PackClockZero : ftMpeg2PackEarly;
  }
  if (IsMpeg1PackHeader(s)) return Mpeg1PackScr(s) == 0 ? ftMpeg1PackClockZero : ftMpeg1Pack;
  return ftNone;
}

// Transport streams: three 192-byte packets (4-byte time stamp, then the 47 sync byte) whose
// time stamps rise by small steps, or three 188-byte packets starting with single sync bytes.
// Streams remuxed without a steady clock (time stamps that jump) are entered where three
// well-formed 192-byte packets hold a unit start (PAT, PMT or PES).
int ClassifyTransportStream(ByteView s) {
  constexpr uint32_t kLargestStampStep = 3200000;
  if (s.U8(4) == 'G' && s.U8(196) == 'G' && s.U8(388) == 'G') {
    const uint32_t a = s.Be32(0), b = s.Be32(192), c = s.Be32(384);
    const uint32_t d1 = (b - a) & 0x3FFFFFFF, d2 = (c - b) & 0x3FFFFFFF;
    if (InRange(d1, 1, kLargestStampStep) && InRange(d2, 1, kLargestStampStep)) return a == 0 ? ftTs192First : ftTs192;
    const ByteView p0 = s.Sub(4, 188), p1 = s.Sub(196, 188), p2 = s.Sub(388, 188);
    if (IsWellFormedTransportHeader(p0) && IsWellFormedTransportHeader(p1) && IsWellFormedTransportHeader(p2) &&
        (StartsTransportUnit(p0) || StartsTransportUnit(p1) || StartsTransportUnit(p2)))
      return ftTs192Headers;
  }
  if (s.U8(0) == 'G' && s.U8(188) == 'G' && s.U8(376) == 'G' && s.U8(1) != 'G' && s.U8(189) != 'G' &&
      s.U8(377) != 'G') {
    return ftTs188;
  }
  return kGoOn;
}

uint8_t ClassifyZipFirstEntry(ByteView s) {
  if (s.Matches(30, "[Content_Types].xml")) return ftOfficeZip;
  if (s.Matches(30, "content/riffData.cdr")) return ftZipCdr;
  if (s.Le16(26) == 8 && s.Matches(30, "mimetype") && s.Le16(8) == 0) return ftOpenDocument;  // stored
  return ftZip;
}

// PNG, ID3, TIFF-based raw, X3F, RAF, RAR, ZIP, CAB, 7Z and PDF starts.
int ClassifyImageArchiveOrDocument(ByteView s) {
  switch (s.U8(0)) {
    case 0x89:
      if (s.Matches(0, "\x89PNG")) return ftPng;
      break;
    case 'I':
      if (s.Matches(0, "ID3")) return ftId3Audio;
      if (s.Matches(0, "II*\0"sv) || s.Matches(0, "IIRO") || s.Matches(0, "IIU\0"sv)) return ftTiffRaw;
      break;
    case 'M':
      if (s.Matches(0, "MM\0*"sv) || s.Matches(0, "MMOR") || s.Matches(0, "MM\0U"sv)) return ftTiffRaw;
      if (s.Matches(0, "MSCF") && s.Le16(24) == 0x0103) return ftCab;
      break;
    case 'F':
      if (s.Matches(0, "FOVb")) return ftX3f;
      if (s.Matches(0, "FUJIFILMCCD-RAW ")) return ftRaf;
      break;
    case 'R':
      if (s.Matches(0, "Rar!\x1A\x07\0"sv)) return ftRar;
      if (s.Matches(0, "Rar!\x1A\x07\x01\0"sv)) return ftRar5;
      break;
    case 'P':
      if (s.Matches(0, "PK\x03\x04")) return ClassifyZipFirstEntry(s);
      break;
    case '7':
      // Format version 0.2 to 0.4: 7-Zip has written 0.4 since its 9.x releases.
      if (s.Matches(0, "7z\xBC\xAF\x27\x1C\0"sv) && s.U8(7) >= 2 && s.U8(7) <= 4) return ft7z;
      break;
    case '%':
      if (s.Matches(0, "%PDF-")) return ftPdf;
      break;
  }
  return kGoOn;
}

// Video starts that only the camera modes look for.
int ClassifyCameraStart(ByteView s, const TCameraMode& mode) {
  if (mode.CanonPanasonic && s.Matches(4, "mdat")) return ftBareMdat;
  if (mode.Samsung && s.Matches(4, "moov")) return ftMoovBox;
  if (mode.Ordro && s.Matches(0, "00dc") && s.Le32(8) == 0x01000000) return ftAvi00dc;
  return kGoOn;
}

// A classic QuickTime file, written before "ftyp" existed, begins with one of the boxes
// "moov" (holding its movie header first), "wide" (8 bytes, then "mdat"), "mdat", "free" or
// "skip". Only in the normal camera mode: the others give "mdat" and "moov" their meanings.
int ClassifyClassicQuickTime(ByteView s, const TCameraMode& mode) {
  if (!(mode == TCameraMode{})) return kGoOn;
  const uint32_t size = s.Be32(0);
  if (size < 8 && size != 1) return kGoOn;
  const uint64_t headerBytes = size == 1 ? 16 : 8;
  if (s.Matches(4, "moov")) return s.Matches(headerBytes + 4, "mvhd") ? ftClassicMov : kGoOn;
  if (s.Matches(4, "wide")) return size == 8 && s.Matches(12, "mdat") ? ftClassicMov : kGoOn;
  if (s.Matches(4, "mdat") || s.Matches(4, "free") || s.Matches(4, "skip")) return ftClassicMov;
  return kGoOn;
}

// --- File-system metadata ----------------------------------------------------------------------

// The update-sequence fields that NTFS file records and index blocks share.
bool HasPlausibleUpdateSequence(ByteView s) { return InRange(s.Le16(4), 40, 96) && InRange(s.Le16(6), 1, 96); }

// An NTFS file record. kGoOn when the header does not fit one; otherwise the final result,
// which depends on the first attribute.
int ClassifyNtfsFileRecord(ByteView s, uint8_t soFar) {
  if (!s.Matches(0, "FILE") || !HasPlausibleUpdateSequence(s)) return kGoOn;
  const uint32_t firstAttribute = s.Le16(20);
  const uint32_t bytesInUse = s.Le32(24), allocated = s.Le32(28);
  if (!InRange(firstAttribute, 48, 96) || bytesInUse > allocated || allocated == 0 || allocated % 512 != 0) {
    return kGoOn;
  }
  if (uint32_t{s.Le16(4)} + s.Le16(6) > firstAttribute) return soFar;
  const uint32_t type = s.Le32(firstAttribute), length = s.Le32(firstAttribute + 4);
  if (type == 0xFFFFFFFF || (InRange(type, 16, 512) && InRange(length, 8, 4096))) return ftFsMetadata;
  return soFar;
}

bool IsNtfsIndexBlock(ByteView s) {
  if (!s.Matches(0, "INDX") || !HasPlausibleUpdateSequence(s)) return false;
  const uint64_t entriesInUse = s.Le32(28), entriesAllocated = s.Le32(32);
  return entriesInUse <= entriesAllocated && entriesAllocated != 0 && (entriesAllocated + 24) % 512 == 0;
}

constexpr std::array<bool, 256> MakeFatNameCharTable() {
  std::array<bool, 256> valid{};
  for (int c = 0x20; c < 0xFF; ++c) valid[c] = true;
  for (char c : "\"*/:<>?\\|"sv) valid[static_cast<uint8_t>(c)] = false;
  return valid;
}
constexpr std::array<bool, 256> kFatNameChar = MakeFatNameCharTable();

bool HasValidNameChars(ByteView entry) {
  for (unsigned i = 1; i <= 10; ++i) {
    if (!kFatNameChar[entry.U8(i)]) return false;
  }
  return true;
}

// Year 1985 or later, a real month and a day.
bool IsPlausibleFatDate(uint16_t date) {
  return (date >> 9) >= 5 && InRange((date >> 5) & 0x0F, 1, 12) && (date & 0x1F) >= 1;
}

constexpr size_t kDirEntrySize = 32;

// True when every complete entry from offset on begins with 0. Runs on every empty sector of
// a medium, so it ORs the first bytes without a branch per entry; the entry count keeps every
// read inside the sector.
bool AreLaterEntriesFree(ByteView s, size_t offset) {
  if (offset >= s.size()) return true;
  const size_t entries = (s.size() - offset) / kDirEntrySize;
  const uint8_t* first = s.data() + offset;
  uint8_t used = 0;
  for (size_t i = 0; i < entries; ++i) used |= first[i * kDirEntrySize];
  return used == 0;
}

// A FAT directory sector: every entry must look like a directory entry; used entries score 2
// points and deleted ones 1. Gives up at the first entry that cannot be one.
uint8_t ClassifyFatDirectory(ByteView s, uint8_t soFar) {
  unsigned points = 0;
  for (size_t offset = 0; offset + kDirEntrySize <= s.size(); offset += kDirEntrySize) {
    const ByteView entry = s.Sub(offset, kDirEntrySize);
    const uint8_t first = entry.U8(0);
    if (first == 0x00) {
      if (!AreLaterEntriesFree(s, offset + kDirEntrySize)) return soFar;
      break;
    }
    if (first == 0xE5) {
      points += 1;
      continue;
    }
    const uint8_t attributes = entry.U8(11);
    if ((attributes & 0xF0) > 0x30) return soFar;
    if ((attributes & 0x10) && entry.Le32(28) != 0) return soFar;
    if (attributes == 0x0F) continue;  // long-name part
    if (first <= 0x20) return soFar;
    if (!IsPlausibleFatDate(entry.Le16(24))) return soFar;
    points += 2;
    if (!HasValidNameChars(entry)) return soFar;
  }
  return points >= 2 ? uint8_t{ftFsMetadata} : soFar;
}

}  // namespace

uint8_t ClassifySector(ByteView s, const TCameraMode& mode) {
  if (s.size() < kMinClassifiedSectorSize) return ftNone;
  if (int id = ClassifyPictureOrOle(s); id != kGoOn) return static_cast<uint8_t>(id);
  if (int id = ClassifyDatabaseOrContainer(s); id != kGoOn) return static_cast<uint8_t>(id);
  const uint8_t soFar = ClassifyMpegPack(s);
  if (int id = ClassifyTransportStream(s); id != kGoOn) return static_cast<uint8_t>(id);
  if (int id = ClassifyImageArchiveOrDocument(s); id != kGoOn) return static_cast<uint8_t>(id);
  if (int id = ClassifyCameraStart(s, mode); id != kGoOn) return static_cast<uint8_t>(id);
  if (int id = ClassifyClassicQuickTime(s, mode); id != kGoOn) return static_cast<uint8_t>(id);
  if (int id = ClassifyNtfsFileRecord(s, soFar); id != kGoOn) return static_cast<uint8_t>(id);
  if (IsNtfsIndexBlock(s)) return ftFsMetadata;
  return ClassifyFatDirectory(s, soFar);
}

uint8_t ClassifySector(const uint8_t* sector, uint32_t sectorSize, const TCameraMode& mode) {
  if (sector == nullptr || sectorSize < kMinClassifiedSectorSize) return ftNone;
  return ClassifySector(ByteView(sector, sectorSize), mode);
}

}  // namespace morvane
