// Boot-record recognition: which file system starts at byte 0 of a source, and what its
// first sectors say about sectors and clusters.
//
// Recognised: FAT12, FAT16, FAT32, NTFS and exFAT boot sectors (with the 0xAA55 signature of
// a 512-byte or a 4096-byte sector), and the Apple HFS master directory block and HFS+/HFSX
// volume header at byte 1024.
#pragma once

#include <cstddef>

#include "storage/bytes.h"
#include "storage/geometry.h"
#include "storage/source.h"

namespace morvane {

// Bytes at the start of a source that the recognition looks at.
inline constexpr size_t kBootRecordBytes = 4096;

// Recognises the boot record in `bytes` (the first bytes of a source; anything beyond the
// view counts as zeros). On success fills FsType, SectorSize, SectorsPerCluster and
// ClusterPhase of `g` and returns true; otherwise returns false and leaves `g` untouched.
// PartitionLastSector is never written.
//
// SectorsPerCluster is at least 1. For HFS, ClusterPhase holds the sector of the first
// allocation block as the volume states it, which may exceed SectorsPerCluster (the
// free-space map needs it so); ScanClusterPhase gives the phase proper.
bool ParseBootRecord(ByteView bytes, TSourceGeometry& g);

// Reads the first 4096 bytes of `source` (a shorter source: what there is, the rest taken
// as zeros) and recognises them with ParseBootRecord. A failed read: false.
bool ParseBootSector(Source& source, TSourceGeometry& g);

// The cluster phase proper of a geometry: ClusterPhase reduced modulo SectorsPerCluster
// (-1 stays -1).
int32_t ScanClusterPhase(const TSourceGeometry& g);

}  // namespace morvane
