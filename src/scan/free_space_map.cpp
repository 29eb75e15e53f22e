#include "scan/free_space_map.h"

#include <algorithm>
#include <array>
#include <vector>

#include "scan/progress.h"
#include "scan/sector_map.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

struct Extent {
  int64_t bytePos;
  int64_t length;
};

// One walk over one file system's allocation structure.
class FreeSpaceWalk {
 public:
  FreeSpaceWalk(Source& source, const TSourceGeometry& g, TSectorMap& map, const std::atomic<bool>& stop,
                ProgressPacer* pacer, const FreeSpaceProgress& progress)
      : source_(source), map_(map), stop_(stop), pacer_(pacer), progress_(progress),
        last_(g.PartitionLastSector), bps_(g.SectorSize ? g.SectorSize : 512),
        spc_(g.SectorsPerCluster ? g.SectorsPerCluster : 1), phase_(g.ClusterPhase) {}

  FreeSpaceResult Run(uint8_t fsType) {
    switch (fsType) {
      case fsFAT12: return FatSmall(true);
      case fsFAT16: return FatSmall(false);
      case fsFAT32: return Fat32();
      case fsNTFS: return Ntfs();
      case fsExFAT: return ExFat();
      case fsHFS: return Hfs();
      case fsHFSPlus: return HfsPlus();
      default: return {};
    }
  }

 private:
  bool Read(int64_t offset, void* buffer, size_t length) {
    return offset >= 0 && source_.ReadAt(offset, buffer, length);
  }

  // Reads `length` bytes at `offset` into a buffer of at most `cap` bytes.
  bool ReadBlock(int64_t offset, int64_t length, std::vector<uint8_t>& out) {
    if (length <= 0) return false;
    out.assign(static_cast<size_t>(length), 0);
    return Read(offset, out.data(), out.size());
  }

  void ClaimRange(int64_t first, int64_t count) {
    if (first > last_ || count <= 0) return;
    if (first < 0) {
      count += first;
      first = 0;
    }
    count = std::min(count, last_ - first + 1);
    if (count > 0) map_.ClaimSectorRun(first, count);
  }

  void ClaimCluster(int64_t c) { ClaimRange(c, spc_); }

  bool Cancelled() const { return stop_.load(std::memory_order_relaxed); }

  void ShowProgress(int64_t total, int64_t done) {
    if (pacer_ && pacer_->Due() && progress_) progress_(total, done);
  }

  // Walks allocation bitmaps: one bit per cluster, c advancing by spc per bit. Reads the
  // bitmap in blocks of whole sectors. Stops early once c has passed the end of the source:
  // nothing beyond it can be claimed.
  FreeSpaceResult BitmapWalk(const std::vector<Extent>& extents, int64_t c, bool msbFirst) {
    FreeSpaceResult r;
    int64_t total = 0;
    for (const auto& e : extents) total += e.length;
    int64_t done = 0;
    const int64_t block = std::max<int64_t>(bps_, (0x10000 / bps_) * bps_);
    std::vector<uint8_t> buf(static_cast<size_t>(block));
    const int64_t group = 8 * static_cast<int64_t>(spc_);
    for (const auto& e : extents) {
      for (int64_t pos = 0; pos < e.length;) {
        if (c > last_) {
          r.built = true;
          return r;
        }
        int64_t n = std::min(block, e.length - pos);
        int64_t readLen = (n + bps_ - 1) / bps_ * bps_;
        if (!Read(e.bytePos + pos, buf.data(), static_cast<size_t>(readLen))) return r;
        for (int64_t i = 0; i < n; ++i) {
          uint8_t b = buf[static_cast<size_t>(i)];
          if (b == 0x00) {
            c += group;
          } else if (b == 0xFF && c + group - 1 <= last_) {
            map_.ClaimSectorRun(c, group);
            c += group;
          } else {
            for (int bit = 0; bit < 8; ++bit) {
              int mask = msbFirst ? (0x80 >> bit) : (1 << bit);
              if (b & mask) ClaimCluster(c);
              c += spc_;
            }
          }
        }
        pos += n;
        done += n;
        if (Cancelled()) {
          r.cancelled = true;
          return r;
        }
        ShowProgress(total, done);
      }
    }
    r.built = true;
    return r;
  }

  // FAT12 and FAT16: the first FAT is read whole (at most what 4096 or 65536 entries need).
  FreeSpaceResult FatSmall(bool fat12) {
    std::vector<uint8_t> boot;
    if (!ReadBlock(0, bps_, boot)) return {};
    ByteView b(boot);
    int64_t fatSize = b.Le16(22), fats = b.U8(16), reserved = b.Le16(14), rootEntries = b.Le16(17);
    // Root directory sectors: 32-byte entries in sectors of bps bytes.
    int64_t rootSectors = (rootEntries * 32 + bps_ - 1) / bps_;
    int64_t system = fatSize * fats + reserved + rootSectors;
    ClaimRange(0, system);
    int64_t fatBytes = std::min<int64_t>(fatSize * bps_, fat12 ? 4096 * 3 / 2 : 65536 * 2);
    std::vector<uint8_t> fat;
    if (!ReadBlock(reserved * bps_, fatBytes, fat)) return {};
    ByteView f(fat);
    int64_t c = system;
    if (fat12) {
      if (!(f.U8(0) == 0xF0 && f.U8(1) == 0xFF && f.U8(2) == 0xFF)) return {};
      for (int64_t i = 3; i + 3 <= fatBytes; i += 3) {
        uint32_t pair = static_cast<uint32_t>(f.Le(i, 3));
        if (pair & 0xFFF) ClaimCluster(c);
        c += spc_;
        if (pair >> 12) ClaimCluster(c);
        c += spc_;
      }
    } else {
      if (f.Le32(0) != 0xFFFFFFF8u) return {};
      for (int64_t i = 4; i + 2 <= fatBytes; i += 2) {
        if (f.Le16(i) != 0) ClaimCluster(c);
        c += spc_;
      }
    }
    return {true, false};
  }

  // FAT32: the first FAT, sector block by block, with progress and cancel.
  FreeSpaceResult Fat32() {
    std::vector<uint8_t> boot;
    if (!ReadBlock(0, bps_, boot)) return {};
    ByteView b(boot);
    int64_t fatSize = b.Le32(36), fats = b.U8(16), reserved = b.Le16(14);
    int64_t system = fatSize * fats + reserved;
    ClaimRange(0, system);
    int64_t fatBytes = fatSize * bps_;
    int64_t fatPos = reserved * bps_;
    FreeSpaceResult r;
    const int64_t block = std::max<int64_t>(bps_, (0x10000 / bps_) * bps_);
    std::vector<uint8_t> buf(static_cast<size_t>(block));
    int64_t c = system;
    for (int64_t pos = 0; pos < fatBytes;) {
      if (c > last_) break;
      int64_t n = std::min(block, fatBytes - pos);
      if (!Read(fatPos + pos, buf.data(), static_cast<size_t>(n))) return r;
      ByteView f(buf.data(), static_cast<size_t>(n));
      int64_t i = 0;
      if (pos == 0) {
        // Entry 0 holds the media byte, entry 1 the end-of-chain mark. Only the low 28 bits
        // of a FAT32 entry count: formatters write 0x0FFFFFFF as well as 0xFFFFFFFF.
        if (f.Le32(0) != 0x0FFFFFF8u || (f.Le32(4) & 0x0FFFFFFFu) != 0x0FFFFFFFu) return r;
        i = 8;
      }
      for (; i + 4 <= n; i += 4) {
        if (f.Le32(i) != 0) ClaimCluster(c);
        c += spc_;
      }
      pos += n;
      if (Cancelled()) {
        r.cancelled = true;
        return r;
      }
      ShowProgress(fatBytes, pos);
    }
    r.built = true;
    return r;
  }

  // NTFS: the $Bitmap file, MFT record 6, with every data run followed.
  FreeSpaceResult Ntfs() {
    std::vector<uint8_t> boot;
    if (!ReadBlock(0, bps_, boot)) return {};
    ByteView b(boot);
    const int64_t clusterBytes = int64_t{spc_} * bps_;
    const int64_t clusters = VolumeClusters();
    uint64_t mftCluster = b.Le64(48);
    if (mftCluster >= static_cast<uint64_t>(clusters)) return {};
    int8_t perRecord = static_cast<int8_t>(b.U8(64));
    int64_t recordSize = perRecord > 0 ? perRecord * clusterBytes
                         : (perRecord < 0 && perRecord >= -16) ? (int64_t{1} << -perRecord) : 1024;
    if (recordSize < 512 || recordSize > 65536) recordSize = 1024;
    std::vector<uint8_t> rec;
    if (!ReadBlock(static_cast<int64_t>(mftCluster) * clusterBytes + 6 * recordSize, recordSize, rec)) return {};
    ApplyUpdateSequence(rec);
    std::vector<Extent> runs;
    if (!BitmapRuns(ByteView(rec), clusterBytes, runs)) return {};
    if (Cancelled()) return {false, true};
    return BitmapWalk(runs, 0, false);
  }

  // Whole clusters of the volume: every cluster number a run names must lie below this.
  int64_t VolumeClusters() const { return (last_ + 1) / spc_; }

  // Puts back the last two bytes of every 512-byte stride that the update sequence saved.
  static void ApplyUpdateSequence(std::vector<uint8_t>& rec) {
    ByteView r(rec);
    if (!r.Matches(0, "FILE")) return;
    uint32_t off = r.Le16(4), count = r.Le16(6);
    if (count < 2 || !r.Has(off, count * 2ull) || (count - 1) * 512ull > rec.size()) return;
    uint16_t usn = r.Le16(off);
    for (uint32_t i = 1; i < count; ++i) {
      size_t end = i * 512 - 2;
      if (r.Le16(end) != usn) return;  // torn record: leave it as read
    }
    for (uint32_t i = 1; i < count; ++i) {
      size_t end = i * 512 - 2;
      rec[end] = rec[off + 2 * i];
      rec[end + 1] = rec[off + 2 * i + 1];
    }
  }

  // The data runs of $Bitmap. The record is hostile: every attribute must lie inside it and
  // move the walk on, and every run must lie inside the volume, so that no offset or sum can
  // overflow and the walk ends within the record.
  bool BitmapRuns(ByteView rec, int64_t clusterBytes, std::vector<Extent>& runs) {
    uint64_t a = rec.Le16(20);
    if (a < 24 || a >= rec.size()) a = 56;
    while (rec.Has(a, 8)) {
      uint32_t type = rec.Le32(a), len = rec.Le32(a + 4);
      if (type == 0xFFFFFFFFu || len < 8 || !rec.Has(a, len)) return false;
      if (type == 0x80) break;
      a += len;
    }
    if (!rec.Has(a, 0x40) || rec.U8(a + 8) != 1) return false;  // $Bitmap data is non-resident
    ByteView attr = rec.Sub(a, rec.Le32(a + 4));
    int64_t dataSize = static_cast<int64_t>(attr.Le64(48));
    const int64_t clusters = VolumeClusters();
    int64_t p = attr.Le16(32), lcn = 0, totalClusters = 0;
    while (attr.Has(p, 1) && attr.U8(p) != 0) {
      unsigned h = attr.U8(p), lenBytes = h & 0xF, offBytes = h >> 4;
      if (lenBytes == 0 || lenBytes > 8 || offBytes > 8 || !attr.Has(p + 1, lenBytes + offBytes)) return false;
      uint64_t length = attr.Le(p + 1, lenBytes);
      uint64_t rawDelta = attr.Le(p + 1 + lenBytes, offBytes);
      if (offBytes == 0) return false;  // a sparse run cannot hold the bitmap
      // Sign-extend the delta from its stored width.
      if (offBytes < 8 && ((rawDelta >> (8 * offBytes - 1)) & 1)) rawDelta |= ~uint64_t{0} << (8 * offBytes);
      if (__builtin_add_overflow(lcn, static_cast<int64_t>(rawDelta), &lcn)) return false;
      // The run lies inside the volume, and all runs together are no longer than it.
      if (lcn < 0 || lcn >= clusters || length == 0 || length > static_cast<uint64_t>(clusters - lcn) ||
          length > static_cast<uint64_t>(clusters - totalClusters))
        return false;
      runs.push_back({lcn * clusterBytes, static_cast<int64_t>(length) * clusterBytes});
      totalClusters += static_cast<int64_t>(length);
      p += 1 + lenBytes + offBytes;
    }
    const int64_t total = totalClusters * clusterBytes;
    if (runs.empty()) return false;
    // The bitmap's own size: the last run's slack past it holds no clusters.
    if (dataSize > 0 && dataSize < total) {
      int64_t excess = total - dataSize;
      while (excess > 0 && !runs.empty()) {
        int64_t cut = std::min(excess, runs.back().length);
        runs.back().length -= cut;
        excess -= cut;
        if (runs.back().length == 0) runs.pop_back();
      }
    }
    return !runs.empty();
  }

  // exFAT: the allocation bitmap named by the second entry of the root directory.
  FreeSpaceResult ExFat() {
    std::vector<uint8_t> boot;
    if (!ReadBlock(0, bps_, boot)) return {};
    ByteView b(boot);
    int64_t heap = b.Le32(88);
    unsigned shift = b.U8(109);
    int64_t root = b.Le32(96);
    if (shift > 25 || root < 2) return {};
    int64_t spc = int64_t{1} << shift;
    std::vector<uint8_t> dir;
    // Sector numbers are checked against the volume before they become byte offsets.
    const int64_t rootSector = (root - 2) * spc + heap;
    if (rootSector > last_ || !ReadBlock(rootSector * bps_, bps_, dir)) return {};
    ByteView d(dir);
    if (d.U8(32) != 0x81) return {};
    ClaimRange(0, heap);
    int64_t first = d.Le32(52);
    auto length = static_cast<int64_t>(std::min<uint64_t>(d.Le64(56), uint64_t{1} << 40));
    if (first < 2) return {};
    const int64_t bitmapSector = (first - 2) * spc + heap;
    if (bitmapSector > last_) return {};
    spc_ = static_cast<uint32_t>(spc);
    return BitmapWalk({{bitmapSector * bps_, length}}, heap, false);
  }

  // HFS: the volume bitmap right after the master directory block.
  FreeSpaceResult Hfs() {
    std::array<uint8_t, 4096> head{};
    if (!Read(0, head.data(), head.size())) return {};
    ByteView h(head.data(), head.size());
    int64_t blocks = h.Be16(1042);
    int64_t bitmapSector = h.Be16(1038);
    return BitmapWalk({{bitmapSector * bps_, (blocks + 7) / 8}}, phase_ < 0 ? 0 : phase_, true);
  }

  // HFS+ and HFSX: the allocation file, found through its extents in the volume header
  // (byte 4096 when the header gives none).
  FreeSpaceResult HfsPlus() {
    std::array<uint8_t, 4096> head{};
    if (!Read(0, head.data(), head.size())) return {};
    ByteView h(head.data(), head.size());
    int64_t total = h.Be32(1068);
    int64_t blockSize = h.Be32(1064);
    int64_t length = (total + 7) / 8;
    std::vector<Extent> extents;
    int64_t left = length;
    // Extents outside the volume are not followed (nor multiplied out).
    const int64_t volumeBlocks = blockSize > 0 ? (last_ + 1) * bps_ / blockSize : 0;
    for (int i = 0; i < 8 && left > 0 && blockSize > 0; ++i) {
      int64_t start = h.Be32(1152 + 8 * i), count = h.Be32(1156 + 8 * i);
      if (count == 0) break;
      if (start >= volumeBlocks || count > volumeBlocks - start) return {};
      int64_t n = std::min(left, count * blockSize);
      extents.push_back({start * blockSize, n});
      left -= n;
    }
    if (extents.empty()) extents = {{4096, length}};
    return BitmapWalk(extents, phase_ < 0 ? 0 : phase_, true);
  }

  Source& source_;
  TSectorMap& map_;
  const std::atomic<bool>& stop_;
  ProgressPacer* pacer_;
  const FreeSpaceProgress& progress_;
  int64_t last_;
  uint32_t bps_;
  uint32_t spc_;
  int32_t phase_;
};

}  // namespace

FreeSpaceResult BuildFreeSpaceMap(Source& source, const TSourceGeometry& detected, TSectorMap& map,
                                  const std::atomic<bool>& SearchStop, ProgressPacer* pacer,
                                  const FreeSpaceProgress& progress) {
  if (detected.PartitionLastSector < 0) return {};
  FreeSpaceWalk walk(source, detected, map, SearchStop, pacer, progress);
  return walk.Run(detected.FsType);
}

}  // namespace morvane
