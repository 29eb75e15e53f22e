#include "scan/image_backup.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "scan/free_space_map.h"
#include "scan/sector_map.h"
#include "support/test_support.h"

namespace morvane {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

TSourceGeometry Geometry(int64_t sectors, uint32_t spc = 8) {
  TSourceGeometry g;
  g.PartitionLastSector = sectors - 1;
  g.SectorsPerCluster = spc;
  return g;
}

class Recorder : public BackupObserver {
 public:
  bool deleteAnswer = false;
  bool asked = false;
  std::atomic<bool>* cancelAfterCreate = nullptr;
  void OnCreatingImage() override {
    if (cancelAfterCreate) *cancelAfterCreate = true;
  }
  bool DeletePartialImage() override {
    asked = true;
    return deleteAnswer;
  }
};

TEST(ImageBackup, ImageIsTheRangeByteForByteWithUnreadableSectorsAsZeros) {
  const int64_t sectors = 5000;  // more than two 1 MiB chunks
  auto bytes = RandomBytes(sectors * 512, 1);
  MemorySource src(bytes);
  src.SetBadSectors({2100, 2101, 4999});
  test::TempDir dir;
  ProgressClock clock;
  std::atomic<bool> stop{false};
  Recorder obs;
  BackupRequest req{Geometry(sectors), Geometry(sectors), 7, 4999, false, dir / "disk.img"};
  auto r = RunImageBackup(src, req, clock, stop, obs);
  EXPECT_EQ(r.Outcome, BackupOutcome::FinishedBadSectors);
  EXPECT_EQ(r.BadSectors, 3);
  EXPECT_EQ(r.SectorsWritten, 4993);
  EXPECT_TRUE(stop);
  auto image = test::ReadFileBytes(dir / "disk.img");
  std::vector<uint8_t> expected(bytes.begin() + 7 * 512, bytes.end());
  for (int64_t bad : {2100, 2101, 4999}) std::fill_n(expected.begin() + (bad - 7) * 512, 512, 0);
  EXPECT_EQ(image, expected);

  // A range of one sector gives an image of one sector.
  BackupRequest one{Geometry(sectors), Geometry(sectors), 10, 10, false, dir / "one.img"};
  EXPECT_EQ(RunImageBackup(src, one, clock, stop, obs).Outcome, BackupOutcome::Finished);
  EXPECT_EQ(test::ReadFileBytes(dir / "one.img"),
            std::vector<uint8_t>(bytes.begin() + 10 * 512, bytes.begin() + 11 * 512));
}

TEST(ImageBackup, FreeSpaceImageHoldsExactlyTheFreeSectorsInOrder) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
  test::TempDir dir;
  std::string fat = dir / "fat.img";
  ASSERT_EQ(test::Run("truncate -s 40M " + fat + " && mkfs.fat -F 32 -s 1 " + fat + " >/dev/null 2>&1"), 0);
  test::WriteFileBytes(dir / "a.bin", RandomBytes(300000, 2));
  ASSERT_EQ(test::Run("MTOOLS_SKIP_CHECK=1 mcopy -i " + fat + " " + dir / "a.bin" + " ::"), 0);
  auto bytes = test::ReadFileBytes(fat);
  const int64_t sectors = static_cast<int64_t>(bytes.size() / 512);
  TSourceGeometry g = Geometry(sectors, 1);
  g.FsType = fsFAT32;
  g.ClusterPhase = 0;

  MemorySource src(bytes);
  TSectorMap map(sectors);
  std::atomic<bool> stop{false};
  ASSERT_TRUE(BuildFreeSpaceMap(src, g, map, stop).built);
  std::vector<uint8_t> expected;
  for (int64_t s = 0; s < sectors; ++s)
    if (!map.IsSectorClaimed(s)) expected.insert(expected.end(), bytes.begin() + s * 512, bytes.begin() + (s + 1) * 512);

  ProgressClock clock;
  Recorder obs;
  BackupRequest req{g, g, 0, sectors - 1, true, dir / "free.img"};
  auto r = RunImageBackup(src, req, clock, stop, obs);
  EXPECT_EQ(r.Outcome, BackupOutcome::Finished);
  EXPECT_TRUE(r.FreeSpaceMapBuilt);
  EXPECT_EQ(test::ReadFileBytes(dir / "free.img"), expected);
  EXPECT_LT(expected.size(), bytes.size());
}

TEST(ImageBackup, CancelAsksAboutThePartialImage) {
  MemorySource src(RandomBytes(4096 * 512, 3));
  test::TempDir dir;
  ProgressClock clock;
  std::atomic<bool> stop{false};
  for (bool answer : {false, true}) {
    Recorder obs;
    obs.deleteAnswer = answer;
    obs.cancelAfterCreate = &stop;
    BackupRequest req{Geometry(4096), Geometry(4096), 0, 4095, false, dir / "c.img"};
    auto r = RunImageBackup(src, req, clock, stop, obs);
    EXPECT_EQ(r.Outcome, BackupOutcome::Cancelled);
    EXPECT_TRUE(obs.asked);
    EXPECT_EQ(r.ImageDeleted, answer);
    EXPECT_EQ(std::filesystem::exists(dir / "c.img"), !answer);
  }
}

TEST(ImageBackup, RefusalsAndWriteFailures) {
  MemorySource src(RandomBytes(3000 * 512, 4));
  test::TempDir dir;
  ProgressClock clock;
  std::atomic<bool> stop{false};
  Recorder obs;
  BackupRequest backwards{Geometry(3000), Geometry(3000), 20, 10, false, dir / "x.img"};
  EXPECT_EQ(RunImageBackup(src, backwards, clock, stop, obs).Outcome, BackupOutcome::InvalidRange);
  BackupRequest beyond{Geometry(3000), Geometry(3000), 0, 3000, false, dir / "x.img"};
  EXPECT_EQ(RunImageBackup(src, beyond, clock, stop, obs).Outcome, BackupOutcome::InvalidRange);
  EXPECT_FALSE(std::filesystem::exists(dir / "x.img"));

  BackupRequest noFolder{Geometry(3000), Geometry(3000), 0, 2999, false, (dir.path() / "missing" / "x.img").string()};
  EXPECT_EQ(RunImageBackup(src, noFolder, clock, stop, obs).Outcome, BackupOutcome::WriteFailed);

  // A device is not an image file: refused before a byte is written, with the reason.
  BackupRequest device{Geometry(3000), Geometry(3000), 0, 2999, false, "/dev/full"};
  auto r = RunImageBackup(src, device, clock, stop, obs);
  EXPECT_EQ(r.Outcome, BackupOutcome::TargetNotFile);
  EXPECT_EQ(r.NextSector, 0);
  EXPECT_FALSE(r.Error.empty());
}

TEST(ImageBackup, TheSourceIsNeverCutEvenWhenNamedAsTheImage) {
  test::TempDir dir;
  const auto bytes = RandomBytes(64 * 512, 5);
  test::WriteFileBytes(dir / "v.img", bytes);
  std::filesystem::create_hard_link(dir / "v.img", dir / "same.img");
  auto opened = OpenSource(dir / "v.img");
  ASSERT_TRUE(opened.source);
  ProgressClock clock;
  std::atomic<bool> stop{false};
  Recorder obs;
  for (const std::string& target : {dir / "v.img", dir / "same.img"}) {
    BackupRequest req{Geometry(64), Geometry(64), 0, 63, false, target};
    EXPECT_EQ(RunImageBackup(*opened.source, req, clock, stop, obs).Outcome, BackupOutcome::TargetIsSource);
    stop = false;
    EXPECT_EQ(test::ReadFileBytes(dir / "v.img"), bytes);
  }
}

}  // namespace
}  // namespace morvane
