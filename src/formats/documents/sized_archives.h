// The CAB and 7z recognisers.
//
// Cabinets and 7z archives give their total length in their first header, so they are
// not walked: that many bytes are copied from the start sector and the following unclaimed
// sectors (in claim-only mode, claimed without being read). An archive that runs into the
// end of the scan range is still written at its full length, up to the medium's end; the
// part that was never copied is zero bytes. One that declares more bytes than the whole
// medium holds is no archive: nothing is claimed. The contents (checksums, folder and file
// tables) are not checked.
//
//   CAB  "MSCF"; length: the 32-bit cabinet size at byte 8 (at least its 36-byte header).
//   7z   37 7A BC AF 27 1C, format version 0.2 to 0.4 (7-Zip writes 0.4); length: 32 +
//        the next header's offset (64-bit at 12) and size (64-bit at 20), at most 20 GiB.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr int64_t kMinCabinetBytes = 36;
inline constexpr int64_t kMax7zBytes = 0x500000000;  // 20 GiB

// The archive's total length from its first sector, or -1 when the sector does not start
// an archive of the kind or the length is out of bounds.
int64_t CabinetLength(ByteView first);
int64_t SevenZipLength(ByteView first);

// The same lengths read from the source for a copy made ahead, cut to limit bytes
// (scan/copies_ahead.h); 0 for none.
int64_t CabinetStatedLength(Source& source, int64_t startOffset, int64_t limit);
int64_t SevenZipStatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carve the archive starting at startOffset as .CAB / .7Z; an empty folder only claims
// it. Always 0.
int RecoverCab(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
int Recover7z(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
