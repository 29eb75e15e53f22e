// The JPEG recogniser.
//
// A JPEG is followed by its marker segments from the start sector through the following
// unclaimed sectors up to its first start of scan; from there the first FF D9 ends it. The
// carved bytes are decoded to prove that they are a whole picture and to learn its size,
// then written unchanged (when JPG is selected and the shooting time passes the photo
// filter), with the shooting time as the file's modification time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "scan/checks_ahead.h"
#include "scan/datetime.h"
#include "scan/recognition.h"
#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr int64_t kMaxJpegBytes = 0x2000000;           // 32 MiB: no longer JPEG is carved
inline constexpr int64_t kMaxJpegPixels = int64_t{1} << 28;   // larger pictures are not decoded

// Ok: the bytes decode as a picture of Width x Height pixels.
using JpegPicture = ContentVerdict;

// Decodes the bytes (at 1/8 scale, which still reads every coefficient) and reports the
// full picture's size. Fails on any decoder error, on entropy data that the decoder finds
// corrupt or cut short, on a declared size of 0 or above kMaxJpegPixels, and once *cancel
// is set.
JpegPicture CheckJpegDecodes(ByteView picture, const std::atomic<bool>* cancel = nullptr);

// The decode check as workers run it ahead of the recovery pass, on the picture as it reads
// when it lies in one piece.
const AheadCheck& JpegCheckAhead();

// A picture of this many pixels is a thumbnail by the scan's thumbnail settings.
bool IsThumbnail(int64_t pixels, const ScanOptions& options);

// Decodes the picture held by a Memory recognition and, when JPG is selected and its
// shooting time passes the photo filter, writes it as baseName + ".JPG" and counts it (an
// empty baseName writes nothing).
// A negative shootingTime is read from the picture's EXIF data; a positive one becomes the
// written file's modification time (local time, two-second steps). Ok is the decode's
// result; nothing is written when it fails.
JpegPicture SaveRecoveredJpeg(ScanContext& scan, Recognition& rec, const std::string& baseName,
                              TDateTime shootingTime);

// Carves the JPEG starting at startOffset. Always follows and claims the picture; writes
// it only as SaveRecoveredJpeg decides. Returns the picture's length when it decoded, else
// 0. A structurally complete picture that does not decode keeps its sectors claimed all
// the same; a thumbnail is written but gives its sectors back.
int RecoverJpeg(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
