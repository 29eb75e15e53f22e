#include "formats/pictures/png.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstring>

#include "filetypes/catalogue.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/geometry.h"

namespace morvane {
namespace {

// --- Decoder check ----------------------------------------------------------------------

struct MemoryInput {
  const uint8_t* data;
  size_t size;
  size_t position;
};

void ReadFromMemory(png_structp png, png_bytep out, size_t count) {
  auto* input = static_cast<MemoryInput*>(png_get_io_ptr(png));
  if (count > input->size - input->position) png_error(png, "picture cut short");
  std::memcpy(out, input->data + input->position, count);
  input->position += count;
}

[[noreturn]] void FailDecode(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void IgnoreWarning(png_structp, png_const_charp) {}

// Only plain C objects live in this frame, so leaving it by longjmp skips no destructor.
// The row buffer is libpng's own, freed on both ways out.
bool DecodeWithLibpng(const uint8_t* data, size_t size, PngPicture* picture, const std::atomic<bool>* cancel) {
  MemoryInput input = {data, size, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, FailDecode, IgnoreWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  png_bytep volatile row = nullptr;
  if (setjmp(png_jmpbuf(png))) {
    png_free(png, row);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &input, ReadFromMemory);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int64_t pixels = int64_t{width} * height;
  if (pixels <= 0 || pixels > kMaxPngPixels) png_error(png, "picture too large");
  picture->Width = static_cast<int>(width);
  picture->Height = static_cast<int>(height);

  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  row = static_cast<png_bytep>(png_malloc(png, png_get_rowbytes(png, info)));
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < height; ++y) {
      if (cancel && cancel->load(std::memory_order_relaxed)) png_error(png, "no longer wanted");
      png_read_row(png, row, nullptr);
    }
  png_read_end(png, nullptr);
  png_free(png, row);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

// --- Carving ----------------------------------------------------------------------------

constexpr std::string_view kSignatureStart = "\x89PNG";
constexpr int64_t kFirstChunk = 8;
constexpr int64_t kChunkHead = 8;
constexpr int64_t kCrcBytes = 4;

bool IsLetter(uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsLower(uint8_t c) { return c >= 'a' && c <= 'z'; }

// Before a long chunk is copied, the head behind it (its type and its length within the
// picture's limit) is read where it lies when no other file's sectors come in between: bytes
// that only look like a chunk with a large length then cost one read, not the copy of up to
// 100 MiB, however many such starts a medium holds.
constexpr int64_t kLookAheadFrom = 0x100000;

bool HeadBehindMayFollow(Recognition& rec, ScanContext& scan, int64_t next) {
  const int64_t ahead = next - rec.Length();
  if (ahead < kLookAheadFrom) return true;
  const int64_t source = rec.ReadPosition() + ahead;
  const int64_t sectorSize = scan.SectorSize();
  const int64_t first = rec.ReadPosition() / sectorSize, last = (source + kChunkHead - 1) / sectorSize;
  const int64_t span = last - first + 1;
  if (last > scan.LastSector || scan.SectorMap.CountUnclaimed(first, last, span).Count != span) return true;
  // Read from the source itself, so that the read-ahead window stays where the walk reads.
  std::array<uint8_t, 2 * kMaxSectorSize> sectors{};
  const int64_t from = source / sectorSize * sectorSize;
  const auto length = static_cast<size_t>((last + 1) * sectorSize - from);
  if (length > sectors.size() || !scan.SourceHandle().ReadAt(from, sectors.data(), length)) return true;
  const ByteView head = ByteView(sectors.data(), length).Sub(static_cast<size_t>(source - from), kChunkHead);
  return IsAcceptedPngChunk(head.Sub(4, 4)) && next + kChunkHead + int64_t{head.Be32(0)} + kCrcBytes <= kMaxPngBytes;
}

// Follows the chunks from byte 8 to the end of IEND; returns the picture's length, or -1
// when the chain is broken, too long, or cannot be read to its end.
int64_t WalkChunks(Recognition& rec, ScanContext& scan) {
  std::array<uint8_t, kChunkHead> head{};
  int64_t pos = kFirstChunk;
  for (;;) {
    if (rec.KnownDeadEnd("PNG", pos)) return -1;
    if (!rec.CopySectorRun(pos + kChunkHead) || !rec.ReadBack(pos, head.data(), head.size())) return -1;
    const ByteView h(head.data(), head.size());
    const ByteView type = h.Sub(4, 4);
    if (!IsAcceptedPngChunk(type)) return -1;
    // One chunk may be as long as the picture may be: some writers put all image data in one.
    const int64_t remaining = int64_t{h.Be32(0)} + kCrcBytes;
    pos += kChunkHead;
    if (pos + remaining > kMaxPngBytes) return -1;
    const bool end = type.Matches(0, "IEND");
    // An IEND whose CRC lies beyond the range still ends a whole chain; the decoder
    // decides about the picture.
    if (end && rec.Length() < pos + remaining && rec.NextUnclaimedSector() < 0) return rec.Length();
    if (!end && !HeadBehindMayFollow(rec, scan, pos + remaining)) return -1;
    // The data is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(pos + remaining)) return -1;
    pos += remaining;
    if (end) return pos;
  }
}

// The chunk chain at startOffset as it reads when it lies in one piece within extentBytes.
bool FindPngInOnePiece(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes) {
  const int64_t limit = std::min(extentBytes, kMaxPngBytes);
  if (!HoldFirstBytes(source, startOffset, limit, kFirstChunk, bytes) ||
      !ByteView(bytes.data(), bytes.size()).Matches(0, kSignatureStart))
    return false;
  for (int64_t pos = kFirstChunk;;) {
    if (!HoldFirstBytes(source, startOffset, limit, pos + kChunkHead, bytes)) return false;
    const ByteView head = ByteView(bytes.data(), bytes.size()).Sub(static_cast<size_t>(pos), kChunkHead);
    if (!IsAcceptedPngChunk(head.Sub(4, 4))) return false;
    pos += kChunkHead + int64_t{head.Be32(0)} + kCrcBytes;
    if (head.Sub(4, 4).Matches(0, "IEND")) {
      if (!HoldFirstBytes(source, startOffset, limit, pos, bytes)) return false;
      bytes.resize(static_cast<size_t>(pos));
      return true;
    }
  }
}

}  // namespace

bool IsAcceptedPngChunk(ByteView type) {
  if (type.size() < 4) return false;
  for (size_t i = 0; i < 4; ++i)
    if (!IsLetter(type.U8(i))) return false;
  if (IsLower(type.U8(2))) return false;  // reserved bit
  if (IsLower(type.U8(0))) return true;   // ancillary
  for (const char* critical : {"IHDR", "PLTE", "IDAT", "IEND"})
    if (type.Matches(0, critical)) return true;
  return false;
}

PngPicture CheckPngDecodes(ByteView picture, const std::atomic<bool>* cancel) {
  PngPicture result;
  if (picture.size() < kFirstChunk) return result;
  result.Ok = DecodeWithLibpng(picture.data(), picture.size(), &result, cancel);
  if (!result.Ok) result.Width = result.Height = 0;
  return result;
}

const AheadCheck& PngCheckAhead() {
  static const AheadCheck check{FindPngInOnePiece, CheckPngDecodes, int64_t{32} << 20};
  return check;
}

int RecoverPng(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool selected = (scan.Options.TypeMask & kTypePng) != 0 && !outputFolder.empty();
  Recognition rec(scan, startOffset, selected ? RecognitionOutput::Memory() : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kSignatureStart)) return 0;
  const int64_t length = WalkChunks(rec, scan);
  if (length < 0) return 0;
  rec.CutToLength(length);
  int written = 0;
  if (selected && !scan.CheckContent(startOffset, rec.Bytes(), CheckPngDecodes).Ok)
    rec.NoteFate(StartFate::ContentCheck);
  else if (selected && rec.Save(RecoveredFileName(outputFolder, startOffset, ".PNG")))
    written = static_cast<int>(length);
  // Whether written or not, a whole chain is no other file's.
  rec.Commit(false);
  return written;
}

}  // namespace morvane
