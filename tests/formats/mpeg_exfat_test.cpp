// Deleted videos on a real exFAT volume made by mkfs.exfat: the streams are written into
// free clusters, one of them in pieces between the clusters of a file that stays, with
// directory entries marked deleted, as a camera's card looks after the videos were erased.
// Whole scans bring them back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/exfat_volume.h"
#include "formats/recognisers.h"
#include "scan/scan_driver.h"
#include "storage/bytes.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> ScanVolume(const std::string& image, bool freeSpaceOnly, ScanReport& report) {
  PartitionModel model;
  EXPECT_TRUE(model.OpenImage(image).Ok());
  test::TempDir out;
  ScanSetup setup;
  setup.Geometry = model.ScanGeometry();
  setup.LastSector = setup.Geometry.PartitionLastSector;
  setup.Options.OutputFolder = out.path().string() + "/";
  setup.Options.FreeSpaceOnly = freeSpaceOnly;
  setup.Options.TypeMask = kAllTypesMask;
  ProgressClock clock;
  auto scan = ScanContext::Create(*model.SourceHandle(), setup, clock).Scan;
  report = RunScan(*scan, model.DetectedGeometry(), DefaultRecognisers());
  std::vector<Bytes> files;
  for (const auto& entry : std::filesystem::directory_iterator(out.path()))
    files.push_back(test::ReadFileBytes(entry.path().string()));
  std::sort(files.begin(), files.end());
  return files;
}

TEST(MpegOnExFat, DeletedVideosComeBackWholeAlsoWhenWrittenInPieces) {
  if (!test::HaveTool("mkfs.exfat")) GTEST_SKIP() << "mkfs.exfat (exfatprogs) missing";
  test::TempDir dir;
  test::ExFatVolume volume(dir / "card.img");
  ASSERT_TRUE(volume.Made());

  const std::map<std::string, Bytes> videos = {
      {"00001.MTS", test::ReadFileBytes(test::DataPath("mpeg/camcorder.mts"))},
      {"VTS_01_1.VOB", test::ReadFileBytes(test::DataPath("mpeg/mpeg2.vob"))},
      {"MOV001.MPG", test::ReadFileBytes(test::DataPath("mpeg/mpeg1.mpg"))},
      {"REC.TS", test::ReadFileBytes(test::DataPath("mpeg/plain.ts"))},
  };
  const Bytes dvd = test::ReadFileBytes(test::DataPath("mpeg/dvd.vob"));
  Bytes kept(static_cast<size_t>(volume.ClusterBytes()) * 40);
  for (size_t i = 0; i < kept.size(); ++i) kept[i] = static_cast<uint8_t>(i * 7919 >> 3);

  // The contiguous deleted videos, one after the other with a free cluster between them.
  int64_t next = volume.FirstFreeCluster();
  for (const auto& [name, bytes] : videos) {
    std::vector<int64_t> clusters;
    for (int64_t i = 0; i < volume.Clusters(bytes.size()); ++i) clusters.push_back(next++);
    volume.Write(bytes, clusters, false);
    volume.Entry(name, clusters, bytes.size(), true);
    ++next;
  }
  // The DVD video in pieces of three clusters between the clusters of a file that stays.
  std::vector<int64_t> dvdClusters, keptClusters;
  while (static_cast<int64_t>(dvdClusters.size()) < volume.Clusters(dvd.size())) {
    for (int k = 0; k < 3; ++k) dvdClusters.push_back(next++);
    keptClusters.push_back(next++);
  }
  while (static_cast<int64_t>(keptClusters.size()) < volume.Clusters(kept.size())) keptClusters.push_back(next++);
  volume.Write(dvd, dvdClusters, false);
  volume.Entry("VTS_02_1.VOB", dvdClusters, dvd.size(), true);
  volume.Write(kept, keptClusters, true);
  volume.Entry("KEEP.BIN", keptClusters, kept.size(), false);
  volume.Save();
  if (test::HaveTool("fsck.exfat"))  // the volume is sound: the kept file is there, the videos deleted
    ASSERT_EQ(test::Run("fsck.exfat -n " + dir / "card.img" + " >/dev/null 2>&1"), 0);

  {  // Free space only: the kept file's clusters are stepped over, every video is whole.
    ScanReport r;
    const std::vector<Bytes> files = ScanVolume(dir / "card.img", true, r);
    EXPECT_TRUE(r.FreeSpaceMapBuilt);
    std::vector<Bytes> expected = {dvd};
    for (const auto& [name, bytes] : videos) expected.push_back(bytes);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(files, expected);
    EXPECT_EQ(r.RecoveredCount, 5);
  }
  {  // The whole volume: the contiguous videos are whole; the DVD video's first piece ends
     // where the kept file's bytes are no start code.
    ScanReport r;
    const std::vector<Bytes> files = ScanVolume(dir / "card.img", false, r);
    for (const auto& [name, bytes] : videos)
      EXPECT_TRUE(std::binary_search(files.begin(), files.end(), bytes)) << name << " not recovered byte for byte";
    const Bytes firstPiece(dvd.begin(), dvd.begin() + 3 * volume.ClusterBytes());
    EXPECT_TRUE(std::binary_search(files.begin(), files.end(), firstPiece));
  }
}

}  // namespace
}  // namespace morvane
