// The RAR recogniser, for both block formats: RAR 1.5 to 4.x (marker "Rar!" 1A 07 00) and
// RAR 5 (marker "Rar!" 1A 07 01 00).
//
// The archive is followed block by block from behind the marker to the end of its
// end-of-archive block; each block is a header followed by a data area.
//
// RAR 4: each block starts with a 7-byte header: checksum (2), type (1), flags (2), header
// size (2); with flag 0x8000 a 32-bit data size follows, and the block is its header plus
// that much data. File and service blocks of members beyond 4 GiB (flag 0x100) carry the
// high 32 bits of the data size at header byte 32. Nothing inside the blocks is checked.
//
// RAR 5: each header is its CRC-32 (4 bytes), its size (a variable-length integer of at most
// 3 bytes), then within that size its type, flags and, as the flags say, the extra-area size
// (flag 1) and data size (flag 2), all variable-length integers of at most 10 bytes. Types:
// 1 main (always first), 2 file, 3 service, 4 encryption, 5 end of archive. The CRC must
// match. An archive whose headers are encrypted (an encryption header) cannot be followed,
// and is left alone as its RAR 4 counterpart is.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

// How long the archive at startOffset is when it lies in one piece, as far as its block
// headers chain within limit bytes (scan/copies_ahead.h); 0 when it has no marker.
int64_t RarStatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carves the archive (of either format) starting at startOffset as .RAR; an empty folder
// only claims it. Always 0.
int RecoverRar(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
