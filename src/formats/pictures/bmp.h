// The BMP recogniser.
//
// A Windows bitmap has no structure to follow beyond its header: the file length at bytes
// 2..5 (when it lies in 58..100 MiB) says how many bytes to collect from the start sector
// and the following unclaimed sectors. The collected bytes must decode as a bitmap (with
// stb_image) before they are written, and a bitmap cut short by the end of the range is
// never written. A bitmap whose kind is not selected is only claimed, without being read.
// The sectors stay claimed whether or not the picture decodes, also when the scan range
// ends before the declared length; a header that makes no bitmap (an unknown header size
// or compression, a bit depth plain pixels do not have, no width or height) or that
// declares more bytes than the whole medium holds claims nothing.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr int64_t kMinBmpBytes = 58;
inline constexpr int64_t kMaxBmpBytes = 0x6400000;          // 100 MiB
inline constexpr int64_t kMaxBmpPixels = int64_t{1} << 26;  // larger pictures are not decoded

struct BmpPicture {
  bool Ok = false;
  int Width = 0;
  int Height = 0;  // rows, also of a top-down bitmap
};

// Decodes the bitmap. Fails on a header that makes no bitmap, on pixel data (compressed
// or not) that does not lie wholly inside the bytes (a bitmap cut short), on a size of 0
// or above kMaxBmpPixels, and on any decoder error; the decoder runs only on pixel data
// that is there, so its work follows the bytes.
BmpPicture CheckBmpDecodes(ByteView bitmap);

// The decode check, run ahead of the recovery pass.
const AheadCheck& BmpCheckAhead();

// Carves the bitmap starting at startOffset; writes it (as .BMP, counted) when BMP is
// selected and it decodes. Returns the written file's length, else 0.
int RecoverBmp(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
