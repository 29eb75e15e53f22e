#include "storage/partition.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "support/test_support.h"

namespace morvane {
namespace {

// A partition or disk with a sector size of its own, as large as it says; only its first
// 4096 bytes can be read.
class FakeDevice : public MemorySource {
 public:
  FakeDevice(SourceKind kind, uint32_t sectorSize, std::vector<uint8_t> head, int64_t size, bool* destroyed)
      : MemorySource(Padded(std::move(head))), kind_(kind), sectorSize_(sectorSize), size_(size), destroyed_(destroyed) {}
  ~FakeDevice() override {
    if (destroyed_) *destroyed_ = true;
  }
  int64_t SizeBytes() const override { return size_; }
  uint32_t DeviceSectorSize() const override { return sectorSize_; }
  SourceKind Kind() const override { return kind_; }

 private:
  static std::vector<uint8_t> Padded(std::vector<uint8_t> b) {
    b.resize(4096);
    return b;
  }
  SourceKind kind_;
  uint32_t sectorSize_;
  int64_t size_;
  bool* destroyed_;
};

std::unique_ptr<Source> Device(SourceKind kind, uint32_t sectorSize, std::vector<uint8_t> head, int64_t size,
                               bool* destroyed = nullptr) {
  return std::make_unique<FakeDevice>(kind, sectorSize, std::move(head), size, destroyed);
}

// NTFS with 8 sectors of 512 bytes per cluster.
std::vector<uint8_t> NtfsBootSector() {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(&b[3], "NTFS    ", 8);
  b[12] = 0x02;
  b[13] = 8;
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

std::vector<uint8_t> RandomBytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::mt19937 rng(3);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

constexpr int64_t MiB = 1 << 20;

TEST(PartitionModel, OpensARealImageAndClosesIt) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "dosfstools missing";
  test::TempDir dir;
  std::string img = dir / "card.img";
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin; truncate -s 64M " + img + " && mkfs.fat -F 32 -s 8 " + img +
                      " >/dev/null 2>&1"), 0);
  PartitionModel m;
  uint64_t generation = m.SourceGeneration();
  ASSERT_TRUE(m.OpenImage(img).Ok());
  EXPECT_NE(m.SourceGeneration(), generation);
  EXPECT_EQ(m.SourceDriveLetter(), '#');
  EXPECT_EQ(m.DetectedGeometry().PartitionLastSector, 64 * 2048 - 1);
  EXPECT_EQ(m.ScanGeometry(), m.DetectedGeometry());
  const TGroupBox1State& box = m.GroupBox1();
  EXPECT_EQ(box.ComboBox3.ItemIndex, kReasonDeleted);
  EXPECT_FALSE(box.ComboBox2.Enabled || box.ComboBox1.Enabled);
  EXPECT_EQ(box.ComboBox2.ItemIndex, 1);  // FAT32
  EXPECT_EQ(box.ComboBox1.ItemIndex, 3);  // 4K
  EXPECT_TRUE(box.CheckBox8Enabled);
  EXPECT_EQ(box.Edit4, "131071");
  EXPECT_EQ(m.StatusPanel0().TextId, 0);  // an image leaves the sector-size panel alone
  EXPECT_EQ(m.StatusPanel1().Value, "131072");
  EXPECT_EQ(m.Label16().Value, "card.img");
  EXPECT_EQ(m.BytesRead(), 512);  // sector 0 is on show
  EXPECT_NE(m.Viewer().Memo1().find("FAT32   "), std::string::npos);
  SourceSummary s = m.Summary();
  EXPECT_EQ(s.FileSystem, "FAT32");
  EXPECT_EQ(s.SectorsPerCluster, 8u);
  EXPECT_EQ(s.TotalSectors, 131072);

  m.SetCheckBox8Checked(true);
  m.CloseSource();
  EXPECT_FALSE(m.IsOpen());
  EXPECT_EQ(m.SourceDriveLetter(), 0);
  EXPECT_FALSE(m.GroupBox1().Visible || m.GroupBox1().CheckBox8Checked || m.GroupBox1().CheckBox8Enabled);
  EXPECT_TRUE(m.Button1Enabled());
  EXPECT_TRUE(m.Viewer().Memo1().empty());
  EXPECT_FALSE(m.Viewer().Controls().Edit1);
}

TEST(PartitionModel, LossReasonOnUnrecognisedAndRecognisedSources) {
  PartitionModel m;
  ASSERT_TRUE(m.OpenSourceObject(std::make_unique<MemorySource>(RandomBytes(MiB)), "random.img").Ok());
  EXPECT_EQ(m.DetectedGeometry(), (TSourceGeometry{2047, 512, 1, -1, fsOther}));
  EXPECT_EQ(m.GroupBox1().ComboBox3.ItemIndex, kReasonRepartitioned);
  EXPECT_TRUE(m.GroupBox1().ComboBox2.Enabled);
  EXPECT_FALSE(m.GroupBox1().CheckBox8Enabled);
  m.ComboBox2Click(2);  // NTFS
  EXPECT_EQ(m.ScanGeometry().SectorsPerCluster, 8u);
  PartitionResult r = m.ComboBox3Click(kReasonDeleted);
  EXPECT_EQ(r.TextId, kTextUnknownFileSystem);
  EXPECT_EQ(m.GroupBox1().ComboBox3.ItemIndex, kReasonFormatted);
  EXPECT_EQ(m.GroupBox1().ComboBox2.ItemIndex, kFileSystemOtherItem);  // back to the detected type
  EXPECT_EQ(m.ScanGeometry().SectorsPerCluster, 1u);

  ASSERT_TRUE(m.OpenSourceObject(Device(SourceKind::Partition, 512, NtfsBootSector(), 64 * MiB), "sda1:").Ok());
  TSourceGeometry detected = m.DetectedGeometry();
  EXPECT_EQ(detected.FsType, fsNTFS);
  EXPECT_EQ(m.StatusPanel0().Value, "512");
  m.ComboBox1Click(m.GroupBox1().ComboBox1.ItemIndex, false);  // a scan start keeps the phase
  EXPECT_EQ(m.ScanGeometry().ClusterPhase, 0);
  EXPECT_TRUE(m.ComboBox3Click(kReasonRepartitioned).Ok());
  EXPECT_TRUE(m.GroupBox1().ComboBox1.Enabled);
  EXPECT_EQ(m.ScanGeometry().ClusterPhase, -1);
  m.ComboBox1Click(5, true);
  EXPECT_EQ(m.ScanGeometry().ClusterPhase, -1);
  EXPECT_EQ(m.ScanGeometry().SectorsPerCluster, 32u);
  m.ComboBox3Click(kReasonDeleted);
  EXPECT_EQ(m.ScanGeometry(), detected);
  EXPECT_FALSE(m.GroupBox1().ComboBox1.Enabled);
}

TEST(PartitionModel, DefaultClusterSizes) {
  PartitionModel m;
  auto open = [&](uint32_t sectorSize, int64_t bytes) {
    ASSERT_TRUE(m.OpenSourceObject(Device(SourceKind::Disk, sectorSize, {}, bytes), "HD0").Ok());
  };
  auto spcFor = [&](int item) {
    m.ComboBox2Click(item);
    EXPECT_EQ(m.ScanGeometry().ClusterPhase, -1);
    return m.ScanGeometry().SectorsPerCluster;
  };
  open(512, 600 * MiB);  // the usual formatter defaults
  EXPECT_EQ(spcFor(0), 32u);  // FAT 16K
  EXPECT_EQ(spcFor(1), 8u);   // FAT32 4K
  EXPECT_EQ(spcFor(2), 8u);   // NTFS 4K
  EXPECT_EQ(spcFor(3), 64u);  // exFAT 32K
  EXPECT_EQ(spcFor(5), 8u);
  EXPECT_EQ(spcFor(6), 1u);
  open(512, 100 * MiB);
  EXPECT_EQ(spcFor(4), 4u);  // HFS: what hformat picks for 100 MiB

  open(512, 5 * 1024 * MiB);  // beyond the FAT rows: the cluster size stays
  m.ComboBox1Click(2, true);
  EXPECT_EQ(spcFor(0), 4u);
  EXPECT_EQ(m.GroupBox1().ComboBox1.ItemIndex, 2);

  open(4096, 16 * MiB);  // clusters below the sector size are one sector
  EXPECT_EQ(spcFor(0), 1u);
  EXPECT_EQ(m.GroupBox1().ComboBox1.ItemIndex, 3);
  EXPECT_EQ(spcFor(5), 1u);
  m.ComboBox1Click(0, true);
  EXPECT_EQ(m.ScanGeometry().SectorsPerCluster, 1u);
  open(512, 512);
  EXPECT_EQ(spcFor(4), 1u);

  EXPECT_EQ(ClusterSizeItem(1, 512), 0);
  EXPECT_EQ(ClusterSizeItem(3, 512), 0);
  EXPECT_EQ(ClusterSizeItem(256, 512), 8);
  EXPECT_EQ(ClusterSizeItem(512, 512), 0);
  EXPECT_EQ(ClusterSizeItem(0xFFFFFFFF, 4096), 0);
}

TEST(PartitionModel, DevicesAndRefusedSources) {
  PartitionModel m;
  // A whole disk is never examined: its boot sector is ignored.
  ASSERT_TRUE(m.OpenSourceObject(Device(SourceKind::Disk, 4096, NtfsBootSector(), 16 * MiB), "HD1").Ok());
  EXPECT_EQ(m.DetectedGeometry(), (TSourceGeometry{4095, 4096, 1, -1, fsOther}));
  EXPECT_EQ(m.StatusPanel0().Value, "4096");
  ASSERT_TRUE(m.OpenSourceObject(Device(SourceKind::Partition, 4096, {}, 16 * MiB), "sdb1:").Ok());
  EXPECT_EQ(m.DetectedGeometry().SectorSize, 4096u);

  bool destroyed = false;
  ASSERT_TRUE(m.OpenSourceObject(Device(SourceKind::Partition, 512, {}, MiB, &destroyed), "sdc1:").Ok());
  uint64_t generation = m.SourceGeneration();
  PartitionResult r = m.OpenSourceObject(Device(SourceKind::Partition, 8192, {}, MiB), "sdd1:");
  EXPECT_TRUE(destroyed);  // the open one was closed first
  EXPECT_EQ(r.TextId, kTextFailedToOpenDrive);
  EXPECT_EQ(r.Error, OpenError::SectorTooLarge);
  EXPECT_FALSE(m.IsOpen());
  EXPECT_NE(m.SourceGeneration(), generation);

  test::TempDir dir;
  for (size_t size : {0, 1, 511}) {
    test::WriteFileBytes(dir / "tiny.img", std::vector<uint8_t>(size, 0));
    EXPECT_EQ(m.OpenImage(dir / "tiny.img").TextId, kTextFailedToOpenFile) << size;
    EXPECT_FALSE(m.IsOpen());
  }
  test::WriteFileBytes(dir / "small.img", RandomBytes(1000));
  ASSERT_TRUE(m.OpenDrive(dir / "small.img").Ok());  // a file named as a drive is an image
  EXPECT_EQ(m.SourceDriveLetter(), '#');
  EXPECT_EQ(m.DetectedGeometry().PartitionLastSector, 0);
  PartitionResult missing = m.OpenImage(dir / "none.img");
  EXPECT_EQ(missing.TextId, kTextFailedToOpenFile);
  EXPECT_EQ(missing.Error, OpenError::NotFound);
  EXPECT_EQ(m.OpenDrive(dir / "none").TextId, kTextFailedToOpenDrive);
}

TEST(PartitionModel, HfsPhaseIsReducedForTheScanOnly) {
  std::vector<uint8_t> hfs(4096, 0);
  hfs[1024] = 'B';
  hfs[1025] = 'D';
  hfs[1046] = 0x08;  // 2048-byte blocks
  hfs[1053] = 7;     // first allocation block at sector 7
  PartitionModel m;
  ASSERT_TRUE(m.OpenSourceObject(std::make_unique<MemorySource>(hfs), "mac.img").Ok());
  EXPECT_EQ(m.DetectedGeometry().ClusterPhase, 7);
  EXPECT_EQ(m.ScanGeometry().ClusterPhase, 3);
  m.ComboBox3Click(kReasonFormatted);
  m.ComboBox3Click(kReasonDeleted);
  EXPECT_EQ(m.Summary().ClusterPhase, 3);
  EXPECT_EQ(m.Summary().FileSystem, "HFS");
}

// A free-space-only run that got no map: a cancel only unchecks the box; a file system
// without a map also disables it until another source is opened.
TEST(PartitionModel, FreeSpaceMapNotBuiltUnchecksAndDisables) {
  if (!test::HaveTool("mkfs.fat")) GTEST_SKIP() << "dosfstools missing";
  test::TempDir dir;
  std::string img = dir / "card.img";
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin; truncate -s 64M " + img + " && mkfs.fat -F 32 " + img +
                      " >/dev/null 2>&1"), 0);
  PartitionModel m;
  ASSERT_TRUE(m.OpenImage(img).Ok());
  m.SetCheckBox8Checked(true);
  m.FreeSpaceMapNotBuilt(true);
  EXPECT_FALSE(m.GroupBox1().CheckBox8Checked);
  EXPECT_TRUE(m.GroupBox1().CheckBox8Enabled);
  m.SetCheckBox8Checked(true);
  m.FreeSpaceMapNotBuilt(false);
  EXPECT_FALSE(m.GroupBox1().CheckBox8Checked);
  EXPECT_FALSE(m.GroupBox1().CheckBox8Enabled);
  m.SetCheckBox8Checked(true);  // ignored while disabled
  EXPECT_FALSE(m.GroupBox1().CheckBox8Checked);
  ASSERT_TRUE(m.OpenImage(img).Ok());
  EXPECT_TRUE(m.GroupBox1().CheckBox8Enabled);
}

}  // namespace
}  // namespace morvane
