#include "storage/boot_sector.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <random>

#include "support/test_support.h"

namespace morvane {
namespace {

const std::string kTools = "PATH=$PATH:/sbin:/usr/sbin ";

bool Make(const std::string& command) { return test::Run(kTools + command + " >/dev/null 2>&1") == 0; }

// A tool's report, with a time limit: some tools hang on volumes they half understand.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* p = ::popen((kTools + "timeout 30 " + command + " 2>/dev/null").c_str(), "r");
  if (!p) return out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  ::pclose(p);
  return out;
}

// The number after `key` in a report; -1 when absent.
int64_t Field(const std::string& text, const std::string& key) {
  size_t at = text.find(key);
  if (at == std::string::npos) return -1;
  at = text.find_first_not_of(" \t", at + key.size());
  if (at == std::string::npos || !std::isdigit(static_cast<unsigned char>(text[at]))) return -1;
  return std::stoll(text.substr(at));
}

TSourceGeometry ParseImage(const std::string& path) {
  TSourceGeometry g;
  g.FsType = 0xFF;  // stays when not recognised
  auto r = OpenSource(path);
  if (r.source) ParseBootSector(*r.source, g);
  return g;
}

// Volumes made by the real tools; the expected geometry comes from another tool.
TEST(BootSector, FatVolumesAgreeWithTheSleuthKit) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("fsstat")) GTEST_SKIP() << "dosfstools or sleuthkit missing";
  // -a keeps mkfs.fat from aligning the data area to clusters; 100 root entries fill six
  // and a quarter sectors.
  const struct { int bits; const char* size; int spc, sectorSize; const char* extra; uint8_t fs; } cases[] = {
      {12, "8M", 4, 512, "-R 3", fsFAT12},       {16, "32M", 4, 512, "-R 3 -r 100", fsFAT16},
      {32, "40M", 1, 512, "-R 7", fsFAT32},      {32, "300M", 8, 512, "-R 7", fsFAT32},
      {32, "2200M", 64, 512, "-R 7", fsFAT32},   {32, "600M", 2, 4096, "-R 7", fsFAT32},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "FAT" << c.bits << " -s " << c.spc << " -S " << c.sectorSize);
    std::string img = dir / (std::to_string(c.bits) + c.size + ".img");
    ASSERT_TRUE(Make("truncate -s " + std::string(c.size) + " " + img + " && mkfs.fat -a -F " + std::to_string(c.bits) +
                     " -s " + std::to_string(c.spc) + " -S " + std::to_string(c.sectorSize) + " " + c.extra + " " + img));
    std::string stat = Capture("fsstat -f fat " + img);
    int64_t sectorSize = Field(stat, "Sector Size:");
    ASSERT_GT(sectorSize, 0) << stat;
    int64_t spc = Field(stat, "Cluster Size:") / sectorSize;
    TSourceGeometry g = ParseImage(img);
    EXPECT_EQ(g.FsType, c.fs);
    EXPECT_EQ(g.SectorSize, sectorSize);
    EXPECT_EQ(g.SectorsPerCluster, spc);
    EXPECT_EQ(g.ClusterPhase, Field(stat, "Cluster Area:") % spc);
    std::remove(img.c_str());
  }
}

TEST(BootSector, NtfsAndExFatVolumesAgreeWithTheirTools) {
  test::TempDir dir;
  if (test::HaveTool("mkntfs") && test::HaveTool("fsstat")) {
    for (auto [sectorSize, clusterSize] : {std::pair{512, 4096}, {512, 65536}, {4096, 8192}}) {
      std::string img = dir / ("ntfs" + std::to_string(clusterSize) + ".img");
      ASSERT_TRUE(Make("truncate -s 64M " + img + " && mkntfs -F -Q -s " + std::to_string(sectorSize) + " -c " +
                       std::to_string(clusterSize) + " " + img));
      std::string stat = Capture("fsstat -f ntfs " + img);
      int64_t statSector = Field(stat, "Sector Size:");
      ASSERT_GT(statSector, 0) << stat;
      TSourceGeometry g = ParseImage(img);
      EXPECT_EQ(g.FsType, fsNTFS);
      EXPECT_EQ(g.SectorSize, statSector);
      EXPECT_EQ(g.SectorsPerCluster, Field(stat, "Cluster Size:") / statSector);
      EXPECT_EQ(g.ClusterPhase, 0);
    }
  }
  if (!test::HaveTool("mkfs.exfat") || !test::HaveTool("dump.exfat")) GTEST_SKIP() << "exfatprogs missing";
  // A 4 KiB boundary puts the cluster heap off the 32 KiB cluster grid.
  std::string img = dir / "exfat.img";
  ASSERT_TRUE(Make("truncate -s 16M " + img + " && mkfs.exfat -c 32K -b 4K " + img));
  std::string dump = Capture("dump.exfat " + img);
  int64_t heap = Field(dump, "Cluster Heap Offset (sector offset):");
  int64_t clusterBits = Field(dump, "Sector per Cluster bits:");
  ASSERT_GT(heap, 0) << dump;
  TSourceGeometry g = ParseImage(img);
  EXPECT_EQ(g.FsType, fsExFAT);
  EXPECT_EQ(g.SectorSize, 1u << Field(dump, "Sector Size Bits:"));
  EXPECT_EQ(g.SectorsPerCluster, 1u << clusterBits);
  EXPECT_EQ(g.ClusterPhase, heap % (1 << clusterBits));
  EXPECT_NE(g.ClusterPhase, 0);
}

TEST(BootSector, HfsVolumeFromHformat) {
  if (!test::HaveTool("hformat")) GTEST_SKIP() << "hfsutils missing";
  test::TempDir dir;
  std::string img = dir / "hfs.img";
  ASSERT_TRUE(Make("truncate -s 100M " + img + " && hformat -l TEST " + img));
  TSourceGeometry g = ParseImage(img);
  EXPECT_EQ(g.FsType, fsHFS);
  EXPECT_EQ(g.SectorSize, 512u);
  EXPECT_EQ(g.SectorsPerCluster, 4u);  // at most 65535 blocks: 2048 bytes each for 100 MiB
}

// --- Hand-made records ---

void Put(std::vector<uint8_t>& b, size_t at, std::string_view text) { std::copy(text.begin(), text.end(), b.begin() + at); }
void Le16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Be32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// FAT16: 1 reserved sector, 2 FATs of 20 sectors, 512 root entries.
std::vector<uint8_t> Fat16(uint16_t sectorSize, uint8_t spc) {
  std::vector<uint8_t> b(kBootRecordBytes, 0);
  Le16(b, 11, sectorSize);
  b[13] = spc;
  Le16(b, 14, 1);
  b[16] = 2;
  Le16(b, 17, 512);
  Le16(b, 22, 20);
  Put(b, 54, "FAT16   ");
  Le16(b, 510, 0xAA55);
  return b;
}

bool Recognises(const std::vector<uint8_t>& b, TSourceGeometry* out = nullptr) {
  TSourceGeometry g;
  bool ok = ParseBootRecord(ByteView(b.data(), b.size()), g);
  if (out) *out = g;
  return ok;
}

TEST(BootSector, FieldLimitsOfPcRecords) {
  TSourceGeometry g;
  ASSERT_TRUE(Recognises(Fat16(512, 128), &g));
  EXPECT_EQ(g.ClusterPhase, 1 + 40 + 32);
  for (uint8_t spc : {0, 129, 255}) EXPECT_FALSE(Recognises(Fat16(512, spc))) << int(spc);
  for (uint16_t size : {0, 256, 520, 8192, 0xFFFF}) EXPECT_FALSE(Recognises(Fat16(size, 4))) << size;
  auto label = Fat16(512, 4);
  Put(label, 54, "FAT     ");
  EXPECT_FALSE(Recognises(label));

  auto fat32 = std::vector<uint8_t>(kBootRecordBytes, 0);
  Le16(fat32, 11, 512);
  fat32[16] = 0xFF;  // FAT sums that wrap do no harm
  std::fill(fat32.begin() + 36, fat32.begin() + 40, 0xFF);
  Put(fat32, 82, "FAT32   ");
  Le16(fat32, 510, 0xAA55);
  fat32[13] = 64;
  EXPECT_TRUE(Recognises(fat32));
  fat32[13] = 128;
  EXPECT_FALSE(Recognises(fat32));

  auto exfat = std::vector<uint8_t>(kBootRecordBytes, 0);
  Put(exfat, 3, "EXFAT   ");
  Le16(exfat, 510, 0xAA55);
  const struct { uint8_t sectorBits, clusterBits; bool ok; } exfatCases[] = {
      {9, 8, true}, {12, 0, true}, {9, 9, false}, {8, 3, false}, {13, 3, false}, {255, 3, false}, {9, 255, false}};
  for (auto c : exfatCases) {
    exfat[108] = c.sectorBits;
    exfat[109] = c.clusterBits;
    EXPECT_EQ(Recognises(exfat), c.ok) << int(c.sectorBits) << " " << int(c.clusterBits);
  }
}

TEST(BootSector, SignatureClosesTheDeclaredSector) {
  auto big = Fat16(4096, 1);
  Le16(big, 510, 0);
  Le16(big, 4094, 0xAA55);
  EXPECT_TRUE(Recognises(big));
  auto small = Fat16(512, 1);  // 512-byte sectors signed only at 4094
  Le16(small, 510, 0);
  Le16(small, 4094, 0xAA55);
  EXPECT_FALSE(Recognises(small));
  EXPECT_TRUE(Recognises(Fat16(1024, 1)));  // the signature at 510 stands in for 1022
}

TEST(BootSector, AppleHeaders) {
  std::vector<uint8_t> hfs(kBootRecordBytes, 0);
  Put(hfs, 1024, "BD");
  Be32(hfs, 1044, 2048);
  hfs[1053] = 5;
  TSourceGeometry g;
  ASSERT_TRUE(Recognises(hfs, &g));
  EXPECT_EQ(g.SectorsPerCluster, 4u);
  EXPECT_EQ(g.ClusterPhase, 5);  // the first allocation block as the volume states it
  EXPECT_EQ(ScanClusterPhase(g), 1);
  Be32(hfs, 1044, 0);
  ASSERT_TRUE(Recognises(hfs, &g));
  EXPECT_EQ(g.SectorsPerCluster, 1u);
  Be32(hfs, 1044, 1000);
  EXPECT_FALSE(Recognises(hfs));

  std::vector<uint8_t> plus(kBootRecordBytes, 0);
  Put(plus, 1024, std::string_view("H+\0\4", 4));
  for (auto [blockSize, ok] : {std::pair{4096u, true}, {65536u, true}, {0u, false}, {131072u, false}, {1000u, false}}) {
    Be32(plus, 1064, blockSize);
    EXPECT_EQ(Recognises(plus, &g), ok) << blockSize;
  }
  Put(plus, 1024, std::string_view("HX\0\5", 4));
  Be32(plus, 1064, 4096);
  ASSERT_TRUE(Recognises(plus, &g));
  EXPECT_EQ(g.FsType, fsHFSPlus);
  EXPECT_EQ(g.SectorsPerCluster, 8u);
  Put(plus, 1024, std::string_view("H+\0\4", 4));
  Le16(plus, 510, 0xAA55);  // a signed sector without a PC label hides the header
  EXPECT_FALSE(Recognises(plus));
}

TEST(BootSector, ShortFailedAndHostileSources) {
  TSourceGeometry g;
  MemorySource empty({});
  EXPECT_FALSE(ParseBootSector(empty, g));
  auto bytes = Fat16(512, 4);
  bytes.resize(600);  // the rest reads as zeros
  MemorySource shortSource(bytes);
  EXPECT_TRUE(ParseBootSector(shortSource, g));
  MemorySource bad(Fat16(512, 4));
  bad.SetBadSectors({3});
  TSourceGeometry untouched;
  EXPECT_FALSE(ParseBootSector(bad, untouched));
  EXPECT_EQ(untouched, TSourceGeometry{});

  // Random records with a label and signature planted: whatever is recognised has a
  // geometry the scan can work with.
  std::mt19937 rng(1);
  const std::pair<size_t, std::string_view> labels[] = {
      {54, "FAT12   "}, {82, "FAT32   "}, {3, "NTFS    "}, {3, "EXFAT   "}, {1024, "BD"}, {1024, {"H+\0\4", 4}}};
  int recognised = 0;
  for (int i = 0; i < 20000; ++i) {
    std::vector<uint8_t> r(kBootRecordBytes);
    for (auto& b : r) b = static_cast<uint8_t>(rng());
    auto [at, label] = labels[i % 6];
    Put(r, at, label);
    Le16(r, 510, at == 1024 ? 0 : 0xAA55);
    Le16(r, 4094, 0);
    Le16(r, 11, static_cast<uint16_t>(256u << (rng() % 5)));
    r[108] = static_cast<uint8_t>(rng() % 14);
    if (!Recognises(r, &g)) continue;
    ++recognised;
    ASSERT_TRUE(g.SectorSize >= 512 && g.SectorSize <= 4096 && g.SectorSize % 512 == 0);
    ASSERT_GE(g.SectorsPerCluster, 1u);
    ASSERT_GE(g.ClusterPhase, 0);
    if (g.FsType != fsHFS) {
      ASSERT_LT(static_cast<uint32_t>(g.ClusterPhase), g.SectorsPerCluster);
    }
  }
  EXPECT_GT(recognised, 1000);
}

}  // namespace
}  // namespace morvane
