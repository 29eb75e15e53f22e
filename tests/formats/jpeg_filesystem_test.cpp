// Photos on a real FAT32 volume: made by mkfs.fat, written, deleted and fragmented by
// mtools, then brought back by whole scans with every recogniser.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "formats/fat_volume.h"
#include "formats/jpeg_encoder.h"
#include "formats/recognisers.h"
#include "scan/scan_driver.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FatVolume;

constexpr int64_t kClusterBytes = 1024;  // mkfs.fat -s 2 on 512-byte sectors

struct Recovered {
  ScanReport report;
  std::vector<Bytes> files;  // contents of the recovered files, sorted
};

Recovered ScanVolume(const std::string& image, bool freeSpaceOnly) {
  Recovered r;
  const test::VolumeScan scan = test::ScanVolume(image, freeSpaceOnly);
  r.report = scan.report;
  for (const auto& [name, bytes] : scan.files)
    if (name.ends_with(".JPG")) r.files.push_back(bytes);
  std::sort(r.files.begin(), r.files.end());
  return r;
}

// Names each expected picture that the scan did not bring back unchanged.
void ExpectRecovered(const Recovered& r, const std::map<std::string, Bytes>& expected) {
  for (const auto& [name, bytes] : expected)
    EXPECT_TRUE(std::binary_search(r.files.begin(), r.files.end(), bytes)) << name << " not recovered byte for byte";
  EXPECT_EQ(r.files.size(), expected.size());
  EXPECT_EQ(r.report.RecoveredCount, static_cast<int32_t>(expected.size()));
}

int64_t ClustersFor(const Bytes& b) { return (static_cast<int64_t>(b.size()) + kClusterBytes - 1) / kClusterBytes; }

TEST(JpegOnFat32, PresentDeletedAndFragmentedPhotosComeBackByteForByte) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy") || !test::HaveTool("mshowfat"))
    GTEST_SKIP() << "dosfstools/mtools missing";
  FatVolume volume;
  ASSERT_TRUE(volume.Made());

  // A photo that will be written into the holes between small pictures that stay.
  const Bytes photo = test::EncodeJpeg({.Width = 320, .Height = 240, .Quality = 92, .Seed = 99, .Noise = 24});
  std::vector<std::pair<std::string, Bytes>> spacers;
  std::vector<std::string> holes;  // every other spacer, deleted to make room for the photo
  for (int64_t room = 0; room < ClustersFor(photo); ) {
    for (int k = 0; k < 2; ++k) {
      const auto i = static_cast<uint32_t>(spacers.size());
      char name[16];
      std::snprintf(name, sizeof name, "SP%02u.JPG", i);
      spacers.emplace_back(name, test::EncodeJpeg({.Width = 48, .Height = 40, .Quality = 85, .Seed = i + 1, .Noise = 30}));
      if (k == 1) {
        holes.push_back(name);
        room += ClustersFor(spacers.back().second);
      }
    }
  }
  spacers.emplace_back("SPEND.JPG", test::EncodeJpeg({.Width = 40, .Height = 40, .Seed = 1000, .Noise = 30}));

  const std::vector<std::string> sampleNames = {"baseline", "progressive", "restart", "subsampling444",
                                                "exif_thumb", "exif_be", "exif_le", "exif_le_nodate"};
  std::vector<std::pair<std::string, Bytes>> samples;
  for (size_t i = 0; i < sampleNames.size(); ++i)
    samples.emplace_back("P" + std::to_string(i) + ".JPG", test::ReadFileBytes(test::DataPath("jpeg/" + sampleNames[i] + ".jpg")));

  ASSERT_TRUE(volume.Put(spacers));
  ASSERT_TRUE(volume.Put(samples));
  ASSERT_TRUE(volume.Fill("FILL.BIN"));
  ASSERT_TRUE(volume.Delete(holes));
  ASSERT_TRUE(volume.Delete({"P0.JPG", "P2.JPG", "P4.JPG", "P6.JPG"}));
  ASSERT_TRUE(volume.Put({{"PHOTO.JPG", photo}}));
  const auto runs = volume.Clusters("PHOTO.JPG");
  ASSERT_EQ(runs.size(), holes.size()) << "the photo did not land in the holes";
  ASSERT_TRUE(volume.Delete({"PHOTO.JPG"}));

  std::map<std::string, Bytes> present, deleted;
  for (const auto& [name, bytes] : samples)
    (name == "P0.JPG" || name == "P2.JPG" || name == "P4.JPG" || name == "P6.JPG" ? deleted : present)[name] = bytes;
  for (const auto& [name, bytes] : spacers)
    if (std::find(holes.begin(), holes.end(), name) == holes.end()) present[name] = bytes;
  deleted["PHOTO.JPG"] = photo;

  {  // Whole scan: the spacers, at higher sectors, are carved first; the photo is followed
     // around their claimed sectors.
    std::map<std::string, Bytes> all = present;
    all.insert(deleted.begin(), deleted.end());
    const Recovered r = ScanVolume(volume.Image(), false);
    ExpectRecovered(r, all);
  }
  {  // Free space only: the allocated clusters between the pieces are stepped over.
    const Recovered r = ScanVolume(volume.Image(), true);
    EXPECT_TRUE(r.report.FreeSpaceMapBuilt);
    ExpectRecovered(r, deleted);
  }
}

}  // namespace
}  // namespace morvane
