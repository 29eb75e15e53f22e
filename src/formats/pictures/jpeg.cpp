#include "formats/pictures/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

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

void LimitScans(j_common_ptr cinfo) {
  if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans) FailDecode(cinfo);
}

// Only plain C objects live in this frame, so leaving it by longjmp skips no destructor.
bool DecodeWithLibjpeg(const uint8_t* data, size_t size, JpegPicture* picture) {
  jpeg_decompress_struct cinfo;
  DecodeErrors errors;
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

// Follows the marker segments from byte 2 to the first start of scan; returns the offset
// just behind the start-of-scan marker and its length field, or -1 when the structure is
// broken or cannot be read.
int64_t WalkMarkersToScan(Recognition& rec) {
  int64_t pos = 2;
  while (pos <= kMaxJpegBytes) {
    if (!rec.CopySectorRun(pos + 4)) return -1;
    const ByteView bytes = rec.Bytes();
    if (bytes.U8(pos) != kMarkerPrefix) return -1;
    const uint8_t marker = bytes.U8(pos + 1);
    const uint16_t length = bytes.Be16(pos + 2);
    pos += 4;
    if (marker == kStartOfScan) return pos;
    if (length <= 2) return -1;
    pos += length - 2;
  }
  return -1;
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

// From the first start of scan on, reads sectors until the first FF D9; returns the
// picture's length (ending with that D9), or -1.
int64_t FindPictureEnd(Recognition& rec, int64_t pos) {
  for (;;) {
    const int64_t end = FindEndOfImage(rec.Bytes(), pos);
    if (end >= 0) return end + 1;
    // Look again at the last two bytes: an FF at the end may pair with the next sector.
    pos = std::max(pos, rec.Length() - 2);
    if (pos >= kMaxJpegBytes) return -1;
    if (!rec.ReadNextSector()) return -1;
  }
}

}  // namespace

JpegPicture CheckJpegDecodes(ByteView picture) {
  JpegPicture result;
  if (picture.size() < 4) return result;
  result.Ok = DecodeWithLibjpeg(picture.data(), picture.size(), &result);
  if (!result.Ok) result.Width = result.Height = 0;
  return result;
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
  const JpegPicture picture = CheckJpegDecodes(bytes);
  if (!picture.Ok) return picture;
  if (PhotoWanted(scan, baseName, kTypeJpg, shootingTime)) {
    const std::string fileName = baseName + ".JPG";
    if (rec.Save(fileName)) SetShootingTimeOnFile(fileName, shootingTime);
  }
  return picture;
}

int RecoverJpeg(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Memory());
  if (!rec.Started()) return 0;
  const ByteView first = rec.FirstBytes();
  if (first.U8(0) != 0xFF || first.U8(1) != 0xD8 || first.U8(2) != 0xFF) return 0;

  const int64_t scanStart = WalkMarkersToScan(rec);
  if (scanStart < 0) return 0;
  const int64_t length = FindPictureEnd(rec, scanStart);
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
  if (!IsThumbnail(int64_t{picture.Width} * picture.Height, scan.Options)) rec.Commit(false);
  return static_cast<int>(length);
}

}  // namespace morvane
