// Sigma / Foveon X3F files.
//
// An X3F file ends with the 32-bit offset of its section directory ("SECd", then at +8 the
// number of entries, then 12-byte entries: offset, length, four-letter type). The file is
// read on sector by sector; each new sector is searched, at every 4-byte-aligned place, for
// a value d that points back to "SECd" from a distance that a directory of 1 to 18 entries
// takes (a multiple of 12, more than 12 and less than 240 bytes). The first such value ends
// the file. The shooting time comes from the EXIF data of the largest JPEG preview (an
// "IMA2" section whose image format is 18).
#include <algorithm>
#include <array>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/camera_raw.h"
#include "formats/pictures/exif.h"
#include "formats/pictures/photo_output.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr int64_t kMinDirectoryBytes = 13;   // more than one entry's worth
constexpr int64_t kMaxDirectoryBytes = 239;
constexpr int64_t kDirectoryEntryBytes = 12;
constexpr int64_t kDirectoryEntriesAt = 12;
constexpr int64_t kImageDataAt = 28;          // image section header: "SECi", ..., format at +12
constexpr uint32_t kJpegImageFormat = 18;
constexpr int64_t kMaxPreviewExifBytes = 0x100000;  // the EXIF block lies in a JPEG's first segments

// Searches the sector that ends at `end` for the directory pointer; returns the file's
// length (just behind the pointer), or 0. *tagSeen is set when the sector (with the three
// bytes before it) holds "SECd" anywhere.
int64_t FindDirectoryPointer(Recognition& rec, int64_t end, uint32_t sectorSize, bool* tagSeen) {
  std::array<uint8_t, kMaxSectorSize + 3> bytes{};
  const int64_t from = end - sectorSize;
  if (!rec.ReadBack(from - 3, bytes.data(), sectorSize + 3)) return 0;
  const auto* tag = "SECd";
  *tagSeen = *tagSeen || std::search(bytes.begin(), bytes.begin() + sectorSize + 3, tag, tag + 4) != bytes.begin() + sectorSize + 3;
  const ByteView s(bytes.data() + 3, sectorSize);
  for (int64_t p = from; p + 4 <= end; p += 4) {
    const uint32_t d = s.Le32(static_cast<uint64_t>(p - from));
    const int64_t distance = p - int64_t{d};
    if (distance < kMinDirectoryBytes || distance > kMaxDirectoryBytes || distance % kDirectoryEntryBytes != 0) continue;
    std::array<uint8_t, 4> tag{};
    if (rec.ReadBack(d, tag.data(), tag.size()) && ByteView(tag.data(), tag.size()).Matches(0, "SECd")) return p + 4;
  }
  return 0;
}

// The EXIF shooting time of the largest JPEG preview listed in the directory that ends at
// `length - 4`.
TDateTime PreviewShootingTime(Recognition& rec, int64_t length) {
  const int64_t pointer = length - 4;
  std::array<uint8_t, 4> raw{};
  if (!rec.ReadBack(pointer, raw.data(), 4)) return kNoShootingTime;
  const int64_t directory = ByteView(raw.data(), 4).Le32(0);
  std::vector<uint8_t> dir(static_cast<size_t>(pointer - directory));
  if (!rec.ReadBack(directory, dir.data(), dir.size())) return kNoShootingTime;
  const ByteView d(dir.data(), dir.size());
  const uint32_t entries = d.Le32(8);

  int64_t previewAt = 0, previewLength = 0;
  for (uint64_t i = 0; i < entries; ++i) {
    const uint64_t at = kDirectoryEntriesAt + i * kDirectoryEntryBytes;
    if (!d.Has(at, kDirectoryEntryBytes)) break;  // only entries before the pointer
    if (!d.Matches(at + 8, "IMA2")) continue;
    const int64_t offset = d.Le32(at), size = d.Le32(at + 4);
    if (offset >= length || size >= length || offset + size >= length || size <= kImageDataAt) continue;
    std::array<uint8_t, kImageDataAt + 3> head{};
    if (!rec.ReadBack(offset, head.data(), head.size())) continue;
    const ByteView h(head.data(), head.size());
    if (!h.Matches(0, "SECi") || h.Le32(12) != kJpegImageFormat) continue;
    if (h.U8(kImageDataAt) != 0xFF || h.U8(kImageDataAt + 1) != 0xD8 || h.U8(kImageDataAt + 2) != 0xFF) continue;
    if (size - kImageDataAt > previewLength) {
      previewAt = offset + kImageDataAt;
      previewLength = size - kImageDataAt;
    }
  }
  if (previewLength == 0) return kNoShootingTime;
  std::vector<uint8_t> preview(static_cast<size_t>(std::min(previewLength, kMaxPreviewExifBytes)));
  if (!rec.ReadBack(previewAt, preview.data(), preview.size())) return kNoShootingTime;
  return ReadExifShootingTime(ByteView(preview.data(), preview.size())).Time;
}

}  // namespace

int RecoverX3f(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool mayWrite = !outputFolder.empty() && (scan.Options.TypeMask & kTypeRaw) != 0;
  // The preview that decides about writing can lie anywhere, so a file that may be written
  // is held until its end is found.
  Recognition rec(scan, startOffset, mayWrite ? RecognitionOutput::Undecided() : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "FOVb")) return 0;

  // A walk that failed without meeting "SECd" after its first sector leaves each sector it
  // read as a dead end: a pointer behind such a sector has no directory to point to, so a
  // lower candidate that reaches one looks at that sector only.
  const uint32_t sectorSize = scan.SectorSize();
  int64_t length = 0;
  bool tagSeen = false;
  while (length == 0 && rec.Length() < kMaxCameraRawBytes) {
    if (!rec.ReadNextSector()) return 0;
    const bool deadEnd = rec.KnownDeadEnd("X3F", rec.Length() - sectorSize);
    length = FindDirectoryPointer(rec, rec.Length(), sectorSize, &tagSeen);
    if (tagSeen) rec.NoDeadEnds();
    if (length == 0 && deadEnd) return 0;
  }
  if (rec.Length() >= kMaxCameraRawBytes) return 0;
  rec.NoDeadEnds();  // found: whatever follows is no structural failure
  rec.CutToLength(length);

  std::string fileName;
  if (mayWrite) {
    const TDateTime time = PreviewShootingTime(rec, length);
    if (PhotoWanted(rec, scan, outputFolder, kTypeRaw, time)) {
      fileName = RecoveredFileName(outputFolder, startOffset, ".X3F");
      if (!rec.ChooseOutput(RecognitionOutput::File(fileName))) return 0;
      rec.Commit();
      if (!rec.WroteFile()) return 0;
      SetShootingTimeOnFile(rec.WrittenName(), time);
      return static_cast<int>(length);
    }
    if (!rec.ChooseOutput(RecognitionOutput::ClaimOnly())) return 0;
  }
  rec.Commit();
  return 0;
}

}  // namespace morvane
