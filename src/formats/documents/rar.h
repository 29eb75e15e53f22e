// The RAR recogniser (archives of the block format that begins with "Rar!" 1A 07 00, the
// format of RAR 1.5 to 4.x).
//
// The archive is followed block by block from byte 7 to the end of its end-of-archive
// block. Each block starts with a 7-byte header: checksum (2), type (1), flags (2), header
// size (2); with flag 0x8000 a 32-bit data size follows, and the block is its header plus
// that much data. File and service blocks of members beyond 4 GiB (flag 0x100) carry the
// high 32 bits of the data size at header byte 32. Nothing inside the blocks is checked.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

// Carves the archive starting at startOffset as .RAR; an empty folder only claims it.
// Always 0.
int RecoverRar(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

// Carves the RAR 5 archive ("Rar!" 1A 07 01 00) starting at startOffset as .RAR; an empty
// folder only claims it. Always 0.
int RecoverRar5(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
