#include "formats/pictures/bmp.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "filetypes/catalogue.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace morvane {
namespace {

constexpr int64_t kFileHeader = 14;
constexpr int64_t kCoreHeader = 12;  // OS/2 1.x: 16-bit width and height

// The compression values a bitmap can carry: none, RLE8, RLE4, bit fields, an embedded
// JPEG or PNG, alpha bit fields. 0, 3 and 6 store the pixels uncompressed.
constexpr uint32_t kLastCompression = 6;
bool StoresPlainPixels(uint32_t compression) { return compression == 0 || compression == 3 || compression == 6; }

struct PixelLayout {
  int64_t width = 0;
  int64_t height = 0;  // negative for a top-down bitmap
  int64_t rowBytes = 0;
  int64_t dataOffset = 0;
  int64_t dataBytes = 0;  // declared size of compressed pixel data
  bool compressed = false;
};

// Reads the size and layout of the pixel data from the headers; false when they make no
// bitmap: an unknown header size or compression, a bit depth that uncompressed pixels do
// not have, an empty or absurd size.
bool ReadLayout(ByteView b, PixelLayout* layout) {
  const int64_t infoSize = b.Le32(kFileHeader);
  if (infoSize != kCoreHeader && infoSize != 40 && infoSize != 52 && infoSize != 56 && infoSize != 64 &&
      infoSize != 108 && infoSize != 124)
    return false;
  const int64_t bitsAt = infoSize == kCoreHeader ? kFileHeader + 10 : kFileHeader + 14;
  if (!b.Has(0, static_cast<uint64_t>(kFileHeader + std::min<int64_t>(infoSize, 40)))) return false;
  if (infoSize == kCoreHeader) {
    layout->width = b.Le16(kFileHeader + 4);
    layout->height = b.Le16(kFileHeader + 6);
  } else {
    layout->width = static_cast<int32_t>(b.Le32(kFileHeader + 4));
    layout->height = static_cast<int32_t>(b.Le32(kFileHeader + 8));
    const uint32_t compression = b.Le32(kFileHeader + 16);
    if (compression > kLastCompression) return false;
    layout->compressed = !StoresPlainPixels(compression);
    layout->dataBytes = b.Le32(kFileHeader + 20);
  }
  const int64_t bits = b.Le16(bitsAt);
  if (!layout->compressed && bits != 1 && bits != 2 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
    return false;
  layout->rowBytes = (layout->width * bits + 31) / 32 * 4;
  layout->dataOffset = b.Le32(10);
  return layout->width > 0 && layout->height != 0 && layout->height != std::numeric_limits<int32_t>::min();
}

// The pixel data must lie wholly inside the bytes, whatever the compression: the decoder
// reads zeros past their end and would take a bitmap cut short for a whole one. Compressed
// data is as long as the header says (it must say).
bool PixelsInside(const PixelLayout& layout, int64_t size) {
  if (layout.dataOffset >= size) return false;
  const int64_t rest = size - layout.dataOffset;
  if (layout.compressed) return layout.dataBytes > 0 && layout.dataBytes <= rest;
  return layout.rowBytes <= rest / std::llabs(layout.height);
}

// A file header and an info header that make a bitmap.
bool IsBitmapHead(ByteView head, PixelLayout* layout) {
  return head.Matches(0, "BM") && head.Le32(6) == 0 && ReadLayout(head, layout);
}

// The length a bitmap's head states, when it is one the recogniser collects; else 0.
int64_t StatedBmpLength(ByteView head) {
  PixelLayout layout;
  const int64_t length = head.Le32(2);
  return IsBitmapHead(head, &layout) && length >= kMinBmpBytes && length <= kMaxBmpBytes ? length : 0;
}

bool FindBmpInOnePiece(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes) {
  return HoldStatedLength(source, startOffset, std::min(extentBytes, kMaxBmpBytes), kFileHeader + 40, StatedBmpLength,
                          bytes);
}

ContentVerdict CheckBmpContent(ByteView bitmap, const std::atomic<bool>*) {
  const BmpPicture picture = CheckBmpDecodes(bitmap);
  return {picture.Ok, picture.Width, picture.Height};
}

}  // namespace

const AheadCheck& BmpCheckAhead() {
  static const AheadCheck check{FindBmpInOnePiece, CheckBmpContent, kMaxBmpBytes};
  return check;
}

BmpPicture CheckBmpDecodes(ByteView bitmap) {
  BmpPicture result;
  PixelLayout layout;
  if (bitmap.size() > static_cast<size_t>(std::numeric_limits<int>::max()) || !ReadLayout(bitmap, &layout)) return result;
  const int64_t rows = std::llabs(layout.height);
  if (layout.width > kMaxBmpPixels / rows || !PixelsInside(layout, static_cast<int64_t>(bitmap.size()))) return result;
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(bitmap.data(), static_cast<int>(bitmap.size()), &width, &height, &channels, 0);
  if (!pixels) return result;
  stbi_image_free(pixels);
  result.Ok = true;
  result.Width = width;
  result.Height = height;
  return result;
}

int RecoverBmp(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  const bool selected = (scan.Options.TypeMask & kTypeBmp) != 0 && !outputFolder.empty();
  Recognition rec(scan, startOffset, selected ? RecognitionOutput::Memory() : RecognitionOutput::ClaimOnly());
  if (!rec.Started()) return 0;
  const ByteView first = rec.FirstBytes();
  PixelLayout layout;
  if (!IsBitmapHead(first, &layout)) return 0;
  const int64_t length = first.Le32(2);
  if (length > scan.MediumEndOffset()) return 0;  // longer than the medium: never on it
  bool whole = false;
  if (length < kMinBmpBytes || length > kMaxBmpBytes) {
    rec.NoteFate(length < kMinBmpBytes ? StartFate::TooShort : StartFate::TooLarge);
  } else {
    // Collected as far as the range allows: a bitmap cut short still holds its sectors,
    // but it is never saved.
    const CopyStop stop = rec.StepOverAsFarAs(length);
    if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return 0;
    whole = stop == CopyStop::Reached;
    if (!whole) rec.NoteFate(StartFate::CutByRangeEnd);
  }
  rec.CutKeepingClaims(length);
  int written = 0;
  if (selected && whole && !scan.CheckContent(startOffset, rec.Bytes(), CheckBmpContent).Ok)
    rec.NoteFate(StartFate::ContentCheck);
  else if (selected && whole && rec.Save(RecoveredFileName(outputFolder, startOffset, ".BMP")))
    written = static_cast<int>(rec.Length());
  rec.Commit(false);
  return written;
}

}  // namespace morvane
