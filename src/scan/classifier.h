// The start-sector classifier: one cheap look at every sector of a scan.
//
// It says whether a sector can be the first sector of a file of a known format, or a sector
// of file-system metadata (NTFS file record or index block, FAT directory), and which. The
// deep validation is left to the recognisers; this only compares bytes at fixed offsets
// and, for the FAT directory test, walks the 32-byte entries of the sector.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "scan/camera_mode.h"
#include "scan/file_type_id.h"
#include "storage/bytes.h"

namespace morvane {

// Shorter sectors are no candidates and are not read.
inline constexpr uint32_t kMinClassifiedSectorSize = 512;

// The FileTypeId of a sector (ftNone when it is no candidate). The sector is normally 512 to
// 4096 bytes; the fixed-offset tests read below byte 392 and the directory test reads every
// complete 32-byte entry. Pure: the result depends only on the bytes and the camera mode.
uint8_t ClassifySector(ByteView sector, const TCameraMode& mode);
uint8_t ClassifySector(const uint8_t* sector, uint32_t sectorSize, const TCameraMode& mode);

// The kind an ISO media start ("ftyp" box at 0) has by its brands: a picture brand among
// the major and compatible ones makes ftHeic or ftAvif, a major "crx " ftCr3, otherwise the
// major brand says ftMp4, ft3gp or ftMov.
uint8_t ClassifyFtypBrands(ByteView sector);
// True when one of the brands of the "ftyp" box at 0 (as far as the sector holds it) is one
// of these.
bool HasFtypBrand(ByteView sector, std::initializer_list<std::string_view> brands);

}  // namespace morvane
