// The ASF and WMV recognisers (Advanced Systems Format, Windows Media).
//
// An ASF file is a header object (whose sub-objects describe the file), a data object
// (the packets) and optional index objects. Objects are a 16-byte GUID in its stored byte
// order and a 64-bit little-endian size that counts the 24 header bytes.
//
//   RecoverAsf  for files whose header object holds the file properties object first: the
//               file length is that object's File Size (at most 20 GiB); the file takes that
//               many bytes from the start sector and the following unclaimed sectors. Where
//               the scan range ends first, the shorter file is kept.
//   RecoverWmv  for the others: the top-level objects are walked from the header object to
//               the end of the data object; the index objects behind it are left out. Every
//               object after the header must be of the header/data GUID family or of the
//               extended content description family, and sized above 24 bytes and at most
//               20 GiB, or the file is rejected.
//
// Both name the file by its streams: one with a Windows Media video stream is a WMV, and so
// is every file whose header does not begin with the file properties object; the others
// are ASF. The file is written when its kind is selected in TypeMask (and a folder is
// given), else only claimed.
//
// In claim-only mode both claim the sectors of the file without reading them, apart from
// the sectors that hold object headers.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr int64_t kAsfObjectHeader = 24;
inline constexpr int64_t kAsfMaxLength = int64_t{5} << 32;  // 20 GiB, for a file and for one object

// The File Size of an ASF start sector whose first header sub-object is the file properties
// object, or -1 when it has none or a length that cannot be a file's.
int64_t AsfFileSize(ByteView first);

// How long the file at startOffset is when it lies in one piece, as its head states it
// (RecoverAsf) or its top-level objects chain to the end of the data object (RecoverWmv),
// within limit bytes (scan/copies_ahead.h).
int64_t AsfStatedLength(Source& source, int64_t startOffset, int64_t limit);
int64_t WmvStatedLength(Source& source, int64_t startOffset, int64_t limit);

// Carves the file starting at startOffset. An empty folder is claim-only mode. Both always
// return 0.
int RecoverAsf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
int RecoverWmv(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
