#include "scan/free_space_map.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <algorithm>
#include <iterator>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "scan/sector_map.h"
#include "storage/bytes.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Sectors = std::vector<int64_t>;  // sorted sector numbers

using test::HaveTool;

using test::TempDir;

// The sectors The Sleuth Kit's blkls reports unallocated, converted from its units
// (sectors for FAT and exFAT, clusters for NTFS) into sectors.
Sectors OracleFreeSectors(const std::string& image, int64_t sectorsPerUnitIfCluster) {
  std::string listing = image + ".blkls";
  EXPECT_EQ(test::Run("blkls -A -l '" + image + "' > '" + listing + "'"), 0);
  std::ifstream in(listing);
  std::string line;
  Sectors free;
  int64_t perUnit = 1;
  while (std::getline(in, line)) {
    if (line.rfind("blkls|", 0) == 0) perUnit = line.find("Cluster") != std::string::npos ? sectorsPerUnitIfCluster : 1;
    if (line.empty() || !std::isdigit(static_cast<unsigned char>(line[0]))) continue;
    int64_t unit = std::stoll(line);
    for (int64_t s = 0; s < perUnit; ++s) free.push_back(unit * perUnit + s);
  }
  std::sort(free.begin(), free.end());
  free.erase(std::unique(free.begin(), free.end()), free.end());
  return free;
}

// Sectors in one set and not the other, so that a failure names only the differences.
Sectors Difference(const Sectors& a, const Sectors& b) {
  Sectors d;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(d));
  return d;
}

#define EXPECT_SAME_SECTORS(ours, oracle)                                   \
  do {                                                                      \
    EXPECT_EQ(Difference(ours, oracle), Sectors{}) << "free only for us";   \
    EXPECT_EQ(Difference(oracle, ours), Sectors{}) << "free only for the oracle"; \
  } while (0)

struct Mapped {
  FreeSpaceResult result;
  Sectors freeSectors;
  int64_t sectorCount = 0;
};

Mapped MapImage(const std::string& image, const TSourceGeometry& g) {
  auto opened = OpenSource(image);
  EXPECT_EQ(opened.error, OpenError::None);
  TSectorMap map(g.PartitionLastSector + 1);
  std::atomic<bool> stop{false};
  Mapped m;
  m.result = BuildFreeSpaceMap(*opened.source, g, map, stop);
  m.sectorCount = g.PartitionLastSector + 1;
  for (int64_t s = 0; s < m.sectorCount; ++s)
    if (!map.IsSectorClaimed(s)) m.freeSectors.push_back(s);
  return m;
}

TSourceGeometry Geometry(int64_t bytes, uint32_t spc, uint8_t fs, int32_t phase = 0, uint32_t bps = 512) {
  TSourceGeometry g;
  g.PartitionLastSector = bytes / bps - 1;
  g.SectorSize = bps;
  g.SectorsPerCluster = spc;
  g.FsType = fs;
  g.ClusterPhase = phase;
  return g;
}

// Fills a FAT image with files of assorted sizes and deletes some, as a user would.
void FillFat(const std::string& image, TempDir& dir) {
  for (int i = 0; i < 6; ++i)
    test::Run("head -c " + std::to_string(5000 + 37000 * i) + " /dev/urandom > " + dir / ("f" + std::to_string(i)));
  std::string files;
  for (int i = 0; i < 6; ++i) files += " " + dir / ("f" + std::to_string(i));
  ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mcopy -i '" + image + "'" + files + " ::"), 0);
  ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mdel -i '" + image + "' ::f1 ::f4"), 0);
}

TEST(FreeSpaceMap, FatVolumesAgreeWithSleuthKit) {
  if (!HaveTool("mkfs.fat") || !HaveTool("mcopy") || !HaveTool("blkls")) GTEST_SKIP() << "tools missing";
  struct Case {
    const char* fatBits;
    int sizeMiB;
    uint32_t spc;
    uint8_t fs;
  } cases[] = {{"16", 32, 4, fsFAT16}, {"32", 64, 1, fsFAT32}, {"32", 320, 8, fsFAT32}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("FAT") + c.fatBits + " spc " + std::to_string(c.spc));
    TempDir dir;
    std::string image = dir / "fat.img";
    ASSERT_EQ(test::Run("truncate -s " + std::to_string(c.sizeMiB) + "M " + image + " && mkfs.fat -F " + c.fatBits +
                  " -s " + std::to_string(c.spc) + " " + image + " >/dev/null 2>&1"),
              0);
    FillFat(image, dir);
    auto m = MapImage(image, Geometry(int64_t{c.sizeMiB} << 20, c.spc, c.fs));
    EXPECT_TRUE(m.result.built);
    // The formatter may leave the image's last sectors outside the file system, and a few
    // sectors behind the last whole cluster belong to no cluster: compare up to there.
    auto boot = test::ReadFileBytes(image);
    ByteView b(boot.data(), 512);
    int64_t fsSectors = b.Le16(19) ? b.Le16(19) : b.Le32(32);
    int64_t end = fsSectors - static_cast<int64_t>(c.spc);
    Sectors ours, oracle;
    for (int64_t s : m.freeSectors)
      if (s < end) ours.push_back(s);
    for (int64_t s : OracleFreeSectors(image, c.spc))
      if (s < end) oracle.push_back(s);
    EXPECT_SAME_SECTORS(ours, oracle);
    EXPECT_GT(m.freeSectors.size(), 1000u);
  }
}

TEST(FreeSpaceMap, NtfsBitmapAgreesWithSleuthKit) {
  if (!HaveTool("mkntfs") || !HaveTool("ntfscp") || !HaveTool("blkls")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  std::string image = dir / "ntfs.img";
  ASSERT_EQ(test::Run("truncate -s 48M " + image + " && mkntfs -F -Q -q -s 512 -c 4096 " + image + " >/dev/null 2>&1"), 0);
  for (int i = 0; i < 3; ++i) {
    std::string f = dir / ("n" + std::to_string(i));
    test::Run("head -c " + std::to_string(100000 * (i + 1)) + " /dev/urandom > " + f);
    ASSERT_EQ(test::Run("ntfscp -q " + image + " " + f + " n" + std::to_string(i) + " >/dev/null 2>&1"), 0);
  }
  auto m = MapImage(image, Geometry(48 << 20, 8, fsNTFS));
  EXPECT_TRUE(m.result.built);
  EXPECT_SAME_SECTORS(m.freeSectors, OracleFreeSectors(image, 8));
}

TEST(FreeSpaceMap, ExFatBitmapAgreesWithSleuthKit) {
  if (!HaveTool("mkfs.exfat") || !HaveTool("blkls")) GTEST_SKIP() << "tools missing";
  TempDir dir;
  std::string image = dir / "exfat.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + image + " && mkfs.exfat -c 32K " + image + " >/dev/null 2>&1"), 0);
  auto boot = test::ReadFileBytes(image);
  ByteView b(boot.data(), 512);
  auto m = MapImage(image, Geometry(64 << 20, 1u << b.U8(109), fsExFAT, static_cast<int32_t>(b.Le32(88) % 64)));
  EXPECT_TRUE(m.result.built);
  EXPECT_SAME_SECTORS(m.freeSectors, OracleFreeSectors(image, 64));
}

TEST(FreeSpaceMap, HfsBitmapMatchesTheVolumesFreeCount) {
  if (!HaveTool("hformat") || !HaveTool("hcopy")) GTEST_SKIP() << "hfsutils missing";
  TempDir dir;
  std::string image = dir / "hfs.img";
  std::string data = dir / "data.bin";
  test::Run("head -c 300000 /dev/urandom > " + data);
  std::string hfs = "HOME=" + dir.path().string() + " ";  // hfsutils keeps its state in $HOME
  ASSERT_EQ(test::Run("truncate -s 8M " + image + " && " + hfs + "hformat -l T " + image + " >/dev/null && " + hfs +
                "hmount " + image + " >/dev/null && " + hfs + "hcopy -r " + data + " :data && " + hfs + "hvol > " +
                dir / "hvol.txt" + " && " + hfs + "humount >/dev/null"),
            0);
  std::ifstream in(dir / "hvol.txt");
  std::string word, prev;
  int64_t freeBytes = -1;
  while (in >> word) {
    if (word == "bytes" && prev.size() && std::isdigit(static_cast<unsigned char>(prev[0]))) freeBytes = std::stoll(prev);
    prev = word;
  }
  ASSERT_GT(freeBytes, 0);
  auto boot = test::ReadFileBytes(image);
  ByteView h(boot.data(), 4096);
  uint32_t spc = h.Be32(1044) / 512;
  int32_t firstBlock = h.Be16(1052);
  int64_t blocks = h.Be16(1042);
  auto m = MapImage(image, Geometry(8 << 20, spc, fsHFS, firstBlock));
  EXPECT_TRUE(m.result.built);
  // Free sectors inside the allocation-block area; the area in front of it is not mapped.
  int64_t freeInBlocks = 0;
  for (int64_t s : m.freeSectors)
    if (s >= firstBlock && s < firstBlock + blocks * spc) ++freeInBlocks;
  EXPECT_EQ(freeInBlocks * 512, freeBytes);
}

// Hand-built volumes for the rules a real formatter does not exercise.
std::vector<uint8_t> Fat16Volume(uint8_t fourthFatByte) {
  std::vector<uint8_t> v(4096 * 512, 0);
  auto put16 = [&](size_t o, uint16_t x) { v[o] = x & 0xFF; v[o + 1] = x >> 8; };
  put16(11, 512);
  v[13] = 4;       // sectors per cluster
  put16(14, 1);    // reserved
  v[16] = 2;       // FATs
  put16(17, 512);  // root entries: 32 sectors
  put16(22, 4);    // FAT size
  v[510] = 0x55;
  v[511] = 0xAA;
  size_t fat = 512;
  v[fat] = 0xF8; v[fat + 1] = 0xFF; v[fat + 2] = 0xFF; v[fat + 3] = fourthFatByte;
  put16(fat + 4, 0xFFFF);   // cluster 2 in use
  put16(fat + 10, 0x0007);  // cluster 5 in use
  return v;
}

TEST(FreeSpaceMap, FatSignatureAndClusterPlacement) {
  std::atomic<bool> stop{false};
  {
    MemorySource src(Fat16Volume(0xFF));
    TSectorMap map(4096);
    auto r = BuildFreeSpaceMap(src, Geometry(4096 * 512, 4, fsFAT16), map, stop);
    EXPECT_TRUE(r.built);
    int64_t system = 4 * 2 + 1 + 32;  // 41 sectors in front of the data area
    EXPECT_EQ(map.CountClaimed(0, system), system);
    EXPECT_EQ(map.CountClaimed(system, 4), 4);       // cluster 2
    EXPECT_EQ(map.CountClaimed(system + 4, 8), 0);   // clusters 3, 4
    EXPECT_EQ(map.CountClaimed(system + 12, 4), 4);  // cluster 5
    EXPECT_EQ(map.CountClaimed(system + 16, 4096 - system - 16), 0);
  }
  {
    MemorySource src(Fat16Volume(0x7F));  // F8 FF FF 7F is no FAT16 signature
    TSectorMap map(4096);
    EXPECT_FALSE(BuildFreeSpaceMap(src, Geometry(4096 * 512, 4, fsFAT16), map, stop).built);
  }
}

TEST(FreeSpaceMap, BitmapBitOrderAndEndOfVolume) {
  // An HFS+ header whose allocation file lies at byte 4096, 8 sectors per block.
  std::vector<uint8_t> v(64 * 512, 0);
  auto put32be = [&](size_t o, uint32_t x) { for (int i = 0; i < 4; ++i) v[o + i] = uint8_t(x >> (24 - 8 * i)); };
  v[1024] = 'H'; v[1025] = '+'; v[1027] = 4;
  put32be(1064, 4096);  // block size
  put32be(1068, 8);     // total blocks: one bitmap byte
  v[4096] = 0x81;       // first and eighth block in use (most significant bit first)
  MemorySource src(v);
  std::atomic<bool> stop{false};
  TSectorMap map(64);
  auto r = BuildFreeSpaceMap(src, Geometry(64 * 512, 8, fsHFSPlus, 0), map, stop);
  EXPECT_TRUE(r.built);
  EXPECT_EQ(map.CountClaimed(0, 8), 8);
  EXPECT_EQ(map.CountClaimed(8, 48), 0);
  EXPECT_EQ(map.CountClaimed(56, 8), 8);

  // The same byte on a volume that ends inside the group: blocks beyond it are not claimed.
  v.resize(60 * 512);
  TSectorMap small(60);
  v[4096] = 0xFF;
  MemorySource full(v);
  EXPECT_TRUE(BuildFreeSpaceMap(full, Geometry(60 * 512, 8, fsHFSPlus, 0), small, stop).built);
  EXPECT_EQ(small.CountClaimed(0, 60), 60);
}

TEST(FreeSpaceMap, CancelAndUnknownFileSystems) {
  MemorySource src(Fat16Volume(0xFF));
  std::atomic<bool> stop{true};
  TSectorMap map(4096);
  auto other = BuildFreeSpaceMap(src, Geometry(4096 * 512, 1, fsOther), map, stop);
  EXPECT_FALSE(other.built);
  EXPECT_FALSE(other.cancelled);
  EXPECT_EQ(map.CountClaimed(0, 4096), 0);

  if (!HaveTool("mkfs.fat")) GTEST_SKIP() << "mkfs.fat missing";
  TempDir dir;
  std::string image = dir / "fat32.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + image + " && mkfs.fat -F 32 -s 1 " + image + " >/dev/null 2>&1"), 0);
  auto m = MapImage(image, Geometry(64 << 20, 1, fsFAT32));  // not cancelled: built
  EXPECT_TRUE(m.result.built);
  auto opened = OpenSource(image);
  TSectorMap fat32(64 << 11);
  auto r = BuildFreeSpaceMap(*opened.source, Geometry(64 << 20, 1, fsFAT32), fat32, stop);
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.built);
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

// Allocation structures that point where they must not: no map, no claim beyond the source.
TEST(FreeSpaceMap, HostileStructuresGiveNoMapAndNoClaimsBeyondTheSource) {
  std::atomic<bool> stop{false};
  auto put32 = [](std::vector<uint8_t>& v, size_t o, uint32_t x) { for (int i = 0; i < 4; ++i) v[o + i] = uint8_t(x >> (8 * i)); };
  {
    // NTFS: $Bitmap's data run starts far beyond the volume.
    std::vector<uint8_t> v(64 * 512, 0);
    v[48] = 1;     // MFT at cluster 1
    v[64] = 0xF6;  // records of 2^10 bytes
    size_t rec = 512 + 6 * 1024;
    std::copy_n("FILE", 4, v.begin() + rec);
    v[rec + 20] = 56;
    put32(v, rec + 56, 0x80);
    put32(v, rec + 60, 0x48);
    v[rec + 56 + 8] = 1;      // non-resident
    v[rec + 56 + 32] = 0x40;  // run list offset
    v[rec + 56 + 0x40] = 0x41;
    v[rec + 56 + 0x41] = 1;
    put32(v, rec + 56 + 0x42, 0x7FFFFFFF);
    put32(v, rec + 56 + 0x48, 0xFFFFFFFF);
    MemorySource src(v);
    TSectorMap map(64);
    EXPECT_FALSE(BuildFreeSpaceMap(src, Geometry(64 * 512, 1, fsNTFS), map, stop).built);
    EXPECT_EQ(map.CountClaimed(0, 64), 0);
  }
  if (test::HaveTool("mkfs.exfat")) {
    // exFAT: the root directory's second entry is not the allocation bitmap.
    test::TempDir dir;
    std::string image = dir / "x.img";
    ASSERT_EQ(test::Run("truncate -s 16M " + image + " && mkfs.exfat " + image + " >/dev/null 2>&1"), 0);
    auto v = test::ReadFileBytes(image);
    ByteView b(v.data(), 512);
    int64_t heap = b.Le32(88), root = b.Le32(96), spc = int64_t{1} << b.U8(109);
    v[static_cast<size_t>(((root - 2) * spc + heap) * 512 + 32)] = 0x85;
    MemorySource src(v);
    TSectorMap map(static_cast<int64_t>(v.size() / 512));
    EXPECT_FALSE(BuildFreeSpaceMap(src, Geometry(static_cast<int64_t>(v.size()), spc, fsExFAT), map, stop).built);
  }
  {
    // HFS: a bitmap that claims 65535 blocks on a volume of 64 sectors, all in use.
    std::vector<uint8_t> v(64 * 512, 0xFF);
    std::fill(v.begin(), v.begin() + 4096, 0);
    v[1024] = 'B'; v[1025] = 'D';
    v[1038] = 0; v[1039] = 3;        // bitmap at sector 3
    v[1042] = 0xFF; v[1043] = 0xFF;  // 65535 blocks
    std::fill(v.begin() + 3 * 512, v.begin() + 8 * 512, 0xFF);
    MemorySource src(v);
    TSectorMap map(64);
    auto r = BuildFreeSpaceMap(src, Geometry(64 * 512, 1, fsHFS, 8), map, stop);
    EXPECT_TRUE(r.built);  // walked up to the end of the volume, not beyond
    EXPECT_EQ(map.CountClaimed(8, 56), 56);
    EXPECT_EQ(map.CountClaimed(0, 8), 0);
  }
}

}  // namespace
}  // namespace morvane

namespace morvane {
namespace {

// An NTFS volume held in memory: MFT at cluster 1 with 1 KiB records, and record 6 ($Bitmap)
// holding `attributes` from byte 56.
std::vector<uint8_t> NtfsVolume(int64_t bytes, int64_t clusterBytes, const std::vector<uint8_t>& attributes) {
  std::vector<uint8_t> v(static_cast<size_t>(bytes), 0);
  v[48] = 1;
  v[64] = 0xF6;
  const size_t rec = static_cast<size_t>(clusterBytes) + 6 * 1024;
  std::copy_n("FILE", 4, v.begin() + rec);
  v[rec + 20] = 56;
  std::copy(attributes.begin(), attributes.end(), v.begin() + rec + 56);
  return v;
}

void Put32(std::vector<uint8_t>& v, size_t o, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[o + i] = static_cast<uint8_t>(x >> (8 * i));
}

// A non-resident data attribute with the given run list and data size.
std::vector<uint8_t> DataAttribute(const std::vector<uint8_t>& runs, uint8_t dataSize) {
  std::vector<uint8_t> a(0x40 + (runs.size() + 8) / 8 * 8, 0);
  Put32(a, 0, 0x80);
  Put32(a, 4, static_cast<uint32_t>(a.size()));
  a[8] = 1;
  a[32] = 0x40;
  a[48] = dataSize;
  std::copy(runs.begin(), runs.end(), a.begin() + 0x40);
  a.insert(a.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  return a;
}

// Builds the map on a thread of its own; nothing when it has not finished after a minute
// (the thread is left spinning on its own copy of everything).
std::optional<std::pair<FreeSpaceResult, int64_t>> MapOrHang(std::vector<uint8_t> volume, TSourceGeometry g) {
  struct Job {
    MemorySource source;
    TSectorMap map;
    std::atomic<bool> stop{false};
    std::promise<FreeSpaceResult> done;
  };
  auto job = std::make_shared<Job>(MemorySource(std::move(volume)), TSectorMap(4096));
  auto result = job->done.get_future();
  std::thread([job, g] { job->done.set_value(BuildFreeSpaceMap(job->source, g, job->map, job->stop)); }).detach();
  if (result.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
    job->stop = true;
    return std::nullopt;
  }
  return std::make_pair(result.get(), job->map.CountClaimed(0, 4096));
}

// Crafted $Bitmap records: every one ends at once, claims nothing, and overflows nothing
// (the sanitizer build checks the arithmetic).
TEST(FreeSpaceMap, CraftedNtfsRecordsEndWithoutAMap) {
  struct Case {
    const char* what;
    std::vector<uint8_t> attributes;
    TSourceGeometry geometry;
  };
  std::vector<uint8_t> cycle(32, 0);  // lengths 16 and 2^32 - 16 lead a 32-bit sum back to the start
  Put32(cycle, 0, 0x10);
  Put32(cycle, 4, 16);
  Put32(cycle, 16, 0x30);
  Put32(cycle, 20, 0xFFFFFFF0u);
  std::vector<uint8_t> beyond(16, 0);  // an attribute longer than the record
  Put32(beyond, 0, 0x10);
  Put32(beyond, 4, 0x2000);
  const TSourceGeometry small = Geometry(64 * 512, 1, fsNTFS);
  TSourceGeometry huge = Geometry(160 * 512, 128, fsNTFS);
  huge.PartitionLastSector = (int64_t{1} << 50) - 1;  // a volume of 2^43 clusters of 64 KiB
  std::vector<Case> cases = {
      {"attribute lengths that wrap", cycle, small},
      {"attribute running past the record", beyond, small},
      {"run start delta of 2^63 - 1", DataAttribute({0x11, 1, 40, 0x81, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, 8), small},
      {"run longer than the volume", DataAttribute({0x11, 60, 40}, 8), small},
      {"runs longer than the volume together", DataAttribute({0x11, 40, 10, 0x11, 40, 0}, 8), small},
      {"run of 2^49 clusters of 64 KiB", DataAttribute({0x18, 0, 0, 0, 0, 0, 0, 2, 0, 1}, 8), huge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto volume = NtfsVolume(c.geometry.SectorsPerCluster == 1 ? 64 * 512 : 160 * 512,
                             int64_t{c.geometry.SectorsPerCluster} * 512, c.attributes);
    auto mapped = MapOrHang(std::move(volume), c.geometry);
    if (!mapped) {
      ADD_FAILURE() << "the walk did not end";
      continue;
    }
    EXPECT_FALSE(mapped->first.built);
    EXPECT_EQ(mapped->second, 0);
  }
  // The bounds leave a sound bitmap alone: one byte 0x0F at cluster 40 claims clusters 0-3.
  auto volume = NtfsVolume(64 * 512, 512, DataAttribute({0x11, 1, 40}, 8));
  volume[40 * 512] = 0x0F;
  auto mapped = MapOrHang(std::move(volume), small);
  ASSERT_TRUE(mapped);
  EXPECT_TRUE(mapped->first.built);
  EXPECT_EQ(mapped->second, 4);
}

}  // namespace
}  // namespace morvane
