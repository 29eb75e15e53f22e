// Fujifilm RAF files.
//
// The header (big-endian) gives the JPEG preview's offset and length at 84 and 88 and the
// raw data's offset and length at 100 and 104; files whose preview starts at 148 carry a
// second raw block, given at 128 and 132. The file ends where the last of them ends. A file
// that runs past the end of the range is kept as far as it goes. The shooting time comes
// from the preview's EXIF data.
#include <algorithm>
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

constexpr std::string_view kRafMagic = "FUJIFILMCCD-RAW ";
constexpr uint32_t kPreviewWithSecondBlock = 148;
constexpr int64_t kHeaderFieldsEnd = 108;     // a file shorter than the fields it is measured by is none
constexpr int64_t kMaxPreviewExifBytes = 0x100000;  // the EXIF block lies in a JPEG's first segments

struct RafLayout {
  int64_t previewOffset = 0, previewLength = 0;
  int64_t end = 0;
};

// All sums in 64 bits: lengths of 0xFFFFFFFF do not wrap round to a small end.
RafLayout ReadLayout(ByteView header) {
  RafLayout r;
  r.previewOffset = header.Be32(84);
  r.previewLength = header.Be32(88);
  r.end = int64_t{header.Be32(100)} + header.Be32(104);
  if (r.previewOffset == kPreviewWithSecondBlock) r.end = std::max<int64_t>(r.end, int64_t{header.Be32(128)} + header.Be32(132));
  return r;
}

// The preview's EXIF shooting time, when the whole preview lies inside the file.
TDateTime PreviewShootingTime(Recognition& rec, const RafLayout& raf, int64_t length) {
  if (raf.previewOffset >= length || raf.previewLength >= length || raf.previewOffset + raf.previewLength >= length)
    return kNoShootingTime;
  std::vector<uint8_t> preview(static_cast<size_t>(std::min(raf.previewLength, kMaxPreviewExifBytes)));
  if (preview.size() < 3 || !rec.ReadBack(raf.previewOffset, preview.data(), preview.size())) return kNoShootingTime;
  if (preview[0] != 0xFF || preview[1] != 0xD8 || preview[2] != 0xFF) return kNoShootingTime;
  return ReadExifShootingTime(ByteView(preview.data(), preview.size())).Time;
}

}  // namespace

int RecoverRaf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool mayWrite = !outputFolder.empty() && (scan.Options.TypeMask & kTypeRaw) != 0;
  Recognition rec(scan, startOffset, mayWrite ? RecognitionOutput::Undecided() : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kRafMagic)) return 0;
  const RafLayout raf = ReadLayout(rec.FirstBytes());
  if (raf.end > kMaxCameraRawBytes || raf.end < kHeaderFieldsEnd) return 0;

  // Stopping at the end of the range keeps the file as far as it goes; any other stop
  // rejects it.
  const auto kept = [](CopyStop stop) { return stop == CopyStop::Reached || stop == CopyStop::RangeEnd; };
  if (!mayWrite) {
    if (!kept(rec.StepOverAsFarAs(raf.end))) return 0;
    rec.CutKeepingClaims(raf.end);
    rec.Commit();
    return 0;
  }
  // The preview comes first in the file: it is read (and held) to decide about writing
  // before the raw data is copied. One byte beyond it tells whether it lies wholly inside
  // the file.
  const int64_t previewNeed = std::min(raf.end, raf.previewOffset + raf.previewLength + 1);
  CopyStop stop = rec.CopyAsFarAs(previewNeed);
  if (!kept(stop)) return 0;
  const TDateTime time = PreviewShootingTime(rec, raf, std::min(rec.Length(), raf.end));

  std::string fileName;
  if (PhotoWanted(rec, scan, outputFolder, kTypeRaw, time)) {
    fileName = RecoveredFileName(outputFolder, startOffset, ".RAF");
    if (!rec.ChooseOutput(RecognitionOutput::File(fileName))) return 0;
  } else if (!rec.ChooseOutput(RecognitionOutput::ClaimOnly())) {
    return 0;
  }
  if (stop == CopyStop::Reached && !kept(rec.StepOverAsFarAs(raf.end))) return 0;
  rec.CutKeepingClaims(raf.end);
  const int64_t length = rec.Length();
  rec.Commit();
  if (!rec.WroteFile()) return 0;
  SetShootingTimeOnFile(rec.WrittenName(), time);
  return static_cast<int>(length);
}

}  // namespace morvane
