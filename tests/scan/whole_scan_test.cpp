// Whole scans over real file systems made by their own tools: the driver, the geometry the
// boot record gives, and the free-space map working together.
#include <gtest/gtest.h>

#include <random>

#include "filetypes/catalogue.h"
#include "scan/file_type_id.h"
#include "scan/scan_driver.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane {
namespace {

std::vector<uint8_t> PdfLike(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size);
  for (auto& b : v) b = static_cast<uint8_t>('a' + rng() % 26);
  const char head[] = "%PDF-1.4\n";
  std::copy(head, head + 9, v.begin());
  return v;
}

// Sectors of the image that begin with "%PDF-", found by reading the image itself.
std::vector<int64_t> PdfSectors(const std::vector<uint8_t>& image) {
  std::vector<int64_t> out;
  for (size_t s = 0; s + 5 <= image.size(); s += 512)
    if (std::equal(image.begin() + s, image.begin() + s + 5, "%PDF-")) out.push_back(static_cast<int64_t>(s / 512));
  return out;
}

struct Scanned {
  std::vector<int64_t> found;  // candidate sectors handed to the PDF recogniser, in call order
  ScanReport report;
};

Scanned ScanImage(const std::string& image, bool freeSpaceOnly) {
  PartitionModel model;
  EXPECT_TRUE(model.OpenImage(image).Ok());
  test::TempDir out;
  ScanSetup setup;
  setup.Geometry = model.ScanGeometry();
  setup.LastSector = setup.Geometry.PartitionLastSector;
  setup.Options.OutputFolder = out.path().string() + "/";
  setup.Options.TypeMask = kTypeAi;
  setup.Options.FreeSpaceOnly = freeSpaceOnly;
  ProgressClock clock;
  auto scan = ScanContext::Create(*model.SourceHandle(), setup, clock).Scan;
  Scanned r;
  RecogniserTable table;
  table.Recovery[ftPdf] = [&](ScanContext& s, int64_t offset) { r.found.push_back(offset / s.SectorSize()); };
  r.report = RunScan(*scan, model.DetectedGeometry(), table);
  std::sort(r.found.begin(), r.found.end());
  return r;
}

// Makes a volume holding two PDF-like files and deletes the second: a whole scan finds
// both where they lie, a free-space-only scan only the deleted one.
void CheckVolume(const std::string& make, const std::string& put, const std::string& remove) {
  test::TempDir dir;
  std::string image = dir / "vol.img";
  test::WriteFileBytes(dir / "kept.pdf", PdfLike(20000, 1));
  test::WriteFileBytes(dir / "gone.pdf", PdfLike(30000, 2));
  auto subst = [&](std::string cmd, const std::string& file) {
    for (size_t p; (p = cmd.find("IMG")) != std::string::npos;) cmd.replace(p, 3, image);
    for (size_t p; (p = cmd.find("FILE")) != std::string::npos;) cmd.replace(p, 4, file);
    return cmd;
  };
  ASSERT_EQ(test::Run(subst(make, "")), 0);
  ASSERT_EQ(test::Run(subst(put, dir / "kept.pdf") + " && " + subst(put, dir / "gone.pdf")), 0);
  auto bytes = test::ReadFileBytes(image);
  auto planted = PdfSectors(bytes);
  ASSERT_EQ(planted.size(), 2u);
  ASSERT_EQ(test::Run(subst(remove, "")), 0);

  Scanned all = ScanImage(image, false);
  EXPECT_EQ(all.found, planted);
  EXPECT_FALSE(all.report.ClusterPhaseVoted);  // the boot record gave the phase

  Scanned free = ScanImage(image, true);
  EXPECT_TRUE(free.report.FreeSpaceMapBuilt);
  ASSERT_EQ(free.found.size(), 1u);
  // The deleted file is the one written second: the higher of the two starts on a fresh volume.
  EXPECT_EQ(free.found[0], planted[1]);
}

TEST(WholeScan, Fat32Volume) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
  CheckVolume("truncate -s 300M IMG && mkfs.fat -F 32 -s 8 IMG >/dev/null 2>&1",
              "MTOOLS_SKIP_CHECK=1 mcopy -i IMG FILE ::", "MTOOLS_SKIP_CHECK=1 mdel -i IMG ::gone.pdf");
}

TEST(WholeScan, NtfsVolume) {
  if (!test::HaveTool("mkntfs") || !test::HaveTool("ntfscp")) GTEST_SKIP() << "ntfs-3g missing";
  // ntfs-3g's tools cannot delete a file without mounting the volume: here the one file is
  // allocated, found by the whole scan and left alone by the free-space-only scan.
  test::TempDir dir;
  std::string image = dir / "ntfs.img";
  ASSERT_EQ(test::Run("truncate -s 48M " + image + " && mkntfs -F -Q -q -c 4096 " + image + " >/dev/null 2>&1"), 0);
  test::WriteFileBytes(dir / "a.pdf", PdfLike(50000, 3));
  ASSERT_EQ(test::Run("ntfscp -q " + image + " " + dir / "a.pdf" + " a.pdf >/dev/null 2>&1"), 0);
  auto planted = PdfSectors(test::ReadFileBytes(image));
  ASSERT_EQ(planted.size(), 1u);
  Scanned all = ScanImage(image, false);
  EXPECT_EQ(all.found, planted);
  Scanned free = ScanImage(image, true);
  EXPECT_TRUE(free.report.FreeSpaceMapBuilt);
  EXPECT_TRUE(free.found.empty());  // the file is allocated
}

TEST(WholeScan, HfsVolume) {
  if (!test::HaveTool("hformat") || !test::HaveTool("hcopy")) GTEST_SKIP() << "hfsutils missing";
  test::TempDir home;
  std::string env = "HOME=" + home.path().string() + " ";
  CheckVolume("truncate -s 16M IMG && " + env + "hformat -l T IMG >/dev/null",
              env + "hmount IMG >/dev/null && " + env + "hcopy -r FILE : && " + env + "humount >/dev/null",
              env + "hmount IMG >/dev/null && " + env + "hdel gone.pdf && " + env + "humount >/dev/null");
}

}  // namespace
}  // namespace morvane
