// The PNG recogniser.
//
// A PNG is followed chunk by chunk from byte 8 (the 32-bit big-endian data length, the
// four-letter type, the data, the 4-byte CRC) through the following unclaimed sectors up
// to its IEND chunk. The carved bytes must then decode with libpng before they are
// written. A picture whose kind is not selected is still followed and claimed, and the
// data of its long chunks is claimed without being read.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "scan/checks_ahead.h"
#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr int64_t kMaxPngBytes = 0x6400000;      // 100 MiB: no chunk ends further out
inline constexpr int64_t kMaxPngPixels = int64_t{1} << 28;  // larger pictures are not decoded

// Ok: the bytes decode as a whole picture of Width x Height pixels.
using PngPicture = ContentVerdict;

// True for the chunk types a carved PNG is followed across: the four critical chunks of
// the format, and every ancillary chunk named by the format's rules (four ASCII letters,
// the first lower-case, the third upper-case). An unknown critical chunk ends the walk, as
// it would stop any decoder.
bool IsAcceptedPngChunk(ByteView type);

// Decodes every row of the picture (all passes of an interlaced one) and reads up to its
// IEND chunk. Fails on any decoder error (bad CRC of a critical chunk, damaged or missing
// image data, bytes cut short), on a declared size of 0 or above kMaxPngPixels, and once
// *cancel is set.
PngPicture CheckPngDecodes(ByteView picture, const std::atomic<bool>* cancel = nullptr);

// The decode check as workers run it ahead of the recovery pass, on the chunk chain as it
// reads when it lies in one piece (pictures up to 32 MiB; the pass checks longer ones).
const AheadCheck& PngCheckAhead();

// Carves the PNG starting at startOffset. Always follows and claims the chunk chain; writes
// it (as .PNG, counted) when PNG is selected and it decodes. A complete chain that does not
// decode keeps its sectors claimed. Returns the written file's length, else 0.
int RecoverPng(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
