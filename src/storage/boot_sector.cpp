#include "storage/boot_sector.h"

#include <algorithm>
#include <array>

namespace morvane {
namespace {

constexpr uint16_t kBootSignature = 0xAA55;
constexpr uint64_t kAppleHeader = 1024;  // HFS master directory block / HFS+ volume header

bool ValidSectorSize(uint32_t size) { return size != 0 && size <= kMaxSectorSize && size % 512 == 0; }

// Sectors in one data block of `blockBytes` (a multiple of 512); a zero block size counts as
// one sector so that a cluster is never empty.
uint32_t SectorsPerBlock(uint32_t blockBytes) { return std::max<uint32_t>(1, blockBytes / 512); }

bool HasFat1xLabel(ByteView b) { return b.Matches(54, "FAT12   ") || b.Matches(54, "FAT16   "); }
bool HasFat32Label(ByteView b) { return b.Matches(82, "FAT32   "); }
bool HasNtfsLabel(ByteView b) { return b.Matches(3, "NTFS    "); }
bool HasExFatLabel(ByteView b) { return b.Matches(3, "EXFAT   "); }

// FAT12/16 (type label at 54) or FAT32 (label at 82). The first data sector follows the
// reserved sectors, the FATs and (FAT12/16) the root directory, whose last sector may be
// partly used.
bool ParseFat(ByteView b, TSourceGeometry& g) {
  bool fat1x = HasFat1xLabel(b);
  uint32_t spc = b.U8(13);
  if (spc == 0 || spc > (fat1x ? 128u : 64u)) return false;
  uint32_t sectorSize = b.Le16(11);
  if (!ValidSectorSize(sectorSize)) return false;

  uint32_t fatSize = fat1x ? b.Le16(22) : b.Le32(36);
  uint32_t reserved = b.Le16(14);
  uint32_t fats = b.U8(16);
  uint32_t rootEntries = b.Le16(17);
  uint32_t rootSectors = (rootEntries * 32 + sectorSize - 1) / sectorSize;
  uint32_t firstDataSector = reserved + fats * fatSize + rootSectors;  // 32-bit; hostile sizes wrap harmlessly

  g.FsType = fat1x ? (b.Matches(54, "FAT12   ") ? fsFAT12 : fsFAT16) : fsFAT32;
  g.SectorSize = sectorSize;
  g.SectorsPerCluster = spc;
  g.ClusterPhase = static_cast<int32_t>(firstDataSector % spc);
  return true;
}

bool ParseNtfs(ByteView b, TSourceGeometry& g) {
  uint32_t spc = b.U8(13);
  if (spc == 0 || spc > 128) return false;
  g.FsType = fsNTFS;
  g.SectorSize = b.Le16(11);
  g.SectorsPerCluster = spc;
  g.ClusterPhase = 0;
  return true;
}

bool ParseExFat(ByteView b, TSourceGeometry& g) {
  uint32_t sectorShift = b.U8(108);
  uint32_t clusterShift = b.U8(109);
  // Above 2^12-byte sectors or 256-sector clusters the volume is outside what we handle.
  if (sectorShift > 12 || clusterShift > 8) return false;
  uint32_t spc = 1u << clusterShift;
  g.FsType = fsExFAT;
  g.SectorSize = 1u << sectorShift;
  g.SectorsPerCluster = spc;
  g.ClusterPhase = static_cast<int32_t>(b.Le32(88) % spc);
  return true;
}

// The PC boot records, told apart by their labels in this order; a record whose label
// matches but whose fields do not is not tried as another kind. The signature must close
// the sector the record itself declares, or failing that the first 512 bytes.
bool ParsePcBootRecord(ByteView b, TSourceGeometry& g) {
  TSourceGeometry r = g;
  bool parsed = false;
  if (HasFat1xLabel(b) || HasFat32Label(b))
    parsed = ParseFat(b, r);
  else if (HasNtfsLabel(b))
    parsed = ParseNtfs(b, r);
  else if (HasExFatLabel(b))
    parsed = ParseExFat(b, r);
  if (!parsed) return false;
  if (!ValidSectorSize(r.SectorSize)) return false;
  if (b.Le16(r.SectorSize - 2) != kBootSignature && b.Le16(510) != kBootSignature) return false;
  g = r;
  return true;
}

bool ParseAppleHeader(ByteView b, TSourceGeometry& g) {
  if (b.Matches(kAppleHeader, "BD")) {
    uint32_t blockBytes = b.Be32(kAppleHeader + 20);
    if (blockBytes % 512 != 0) return false;
    g.FsType = fsHFS;
    g.SectorSize = 512;
    g.SectorsPerCluster = SectorsPerBlock(blockBytes);
    g.ClusterPhase = b.Be16(kAppleHeader + 28);  // first allocation block, in sectors
    return true;
  }
  uint32_t signature = b.Le32(kAppleHeader);
  if (signature == 0x04002B48 || signature == 0x05005848) {  // "H+" v4, "HX" v5
    uint32_t blockBytes = b.Be32(kAppleHeader + 40);
    if (blockBytes % 512 != 0) return false;
    uint32_t spc = blockBytes / 512;
    if (spc < 1 || spc > 128) return false;
    g.FsType = fsHFSPlus;
    g.SectorSize = 512;
    g.SectorsPerCluster = spc;
    g.ClusterPhase = 0;
    return true;
  }
  return false;
}

}  // namespace

bool ParseBootRecord(ByteView b, TSourceGeometry& g) {
  if (b.Le16(510) == kBootSignature || b.Le16(4094) == kBootSignature) return ParsePcBootRecord(b, g);
  return ParseAppleHeader(b, g);
}

bool ParseBootSector(Source& source, TSourceGeometry& g) {
  std::array<uint8_t, kBootRecordBytes> buffer{};
  int64_t size = source.SizeBytes();
  if (size <= 0) return false;
  size_t length = static_cast<size_t>(std::min<int64_t>(size, kBootRecordBytes));
  if (!source.ReadAt(0, buffer.data(), length)) return false;
  return ParseBootRecord(ByteView(buffer.data(), buffer.size()), g);
}

int32_t ScanClusterPhase(const TSourceGeometry& g) {
  if (g.ClusterPhase < 0 || g.SectorsPerCluster == 0) return g.ClusterPhase;
  return static_cast<int32_t>(static_cast<uint32_t>(g.ClusterPhase) % g.SectorsPerCluster);
}

}  // namespace morvane
