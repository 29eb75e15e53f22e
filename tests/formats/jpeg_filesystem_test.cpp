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

#include "formats/jpeg_encoder.h"
#include "formats/recognisers.h"
#include "scan/scan_driver.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kClusterBytes = 1024;  // mkfs.fat -s 2 on 512-byte sectors

class FatVolume {
 public:
  FatVolume() : image_(dir_ / "vol.img") {
    made_ = Run("truncate -s 72M IMG && mkfs.fat -F 32 -s 2 IMG >/dev/null 2>&1") == 0;
  }
  bool Made() const { return made_; }
  const std::string& Image() const { return image_; }

  // Copies the files in this order: mtools gives each the first free clusters after the
  // previous one, or, when the end of the volume is reached, the first free ones from the
  // start (which is how a file comes to fill the holes that deletions left).
  bool Put(const std::vector<std::pair<std::string, Bytes>>& files) {
    std::string names;
    for (const auto& [name, bytes] : files) {
      test::WriteFileBytes(dir_ / name, bytes);
      names += " " + dir_ / name;
    }
    return Run("mcopy -i IMG" + names + " ::") == 0;
  }
  bool Delete(const std::vector<std::string>& names) {
    std::string list;
    for (const auto& n : names) list += " ::" + n;
    return Run("mdel -i IMG" + list) == 0;
  }
  // Fills the rest of the volume with one file of zeros.
  bool Fill(const std::string& name) {
    if (Run("mdir -i IMG :: > " + dir_ / "mdir.txt") != 0) return false;
    const Bytes listing = test::ReadFileBytes(dir_ / "mdir.txt");
    std::smatch m;
    std::string text(listing.begin(), listing.end());
    if (!std::regex_search(text, m, std::regex("([0-9 ]+) bytes free"))) return false;
    std::string digits = m[1];
    digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
    return Put({{name, Bytes(std::stoull(digits), 0)}});
  }
  // The runs of clusters a file occupies, as mshowfat lists them.
  std::vector<std::pair<int64_t, int64_t>> Clusters(const std::string& name) {
    std::vector<std::pair<int64_t, int64_t>> runs;
    if (Run("mshowfat -i IMG ::" + name + " > " + dir_ / "fat.txt") != 0) return runs;
    const Bytes out = test::ReadFileBytes(dir_ / "fat.txt");
    const std::string text(out.begin(), out.end());
    const std::regex run("<([0-9]+)(-([0-9]+))?>");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), run); it != std::sregex_iterator(); ++it) {
      const int64_t first = std::stoll((*it)[1]);
      runs.emplace_back(first, (*it)[3].matched ? std::stoll((*it)[3]) : first);
    }
    return runs;
  }

 private:
  int Run(std::string command) {
    for (size_t p; (p = command.find("IMG")) != std::string::npos;) command.replace(p, 3, image_);
    return test::Run("MTOOLS_SKIP_CHECK=1 " + command);
  }

  test::TempDir dir_;
  std::string image_;
  bool made_ = false;
};

struct Recovered {
  ScanReport report;
  std::vector<Bytes> files;  // contents of the recovered files, sorted
};

Recovered ScanVolume(const std::string& image, bool freeSpaceOnly) {
  PartitionModel model;
  EXPECT_TRUE(model.OpenImage(image).Ok());
  test::TempDir out;
  ScanSetup setup;
  setup.Geometry = model.ScanGeometry();
  setup.LastSector = setup.Geometry.PartitionLastSector;
  setup.Options.OutputFolder = out.path().string() + "/";
  setup.Options.FreeSpaceOnly = freeSpaceOnly;
  ProgressClock clock;
  auto scan = ScanContext::Create(*model.SourceHandle(), setup, clock).Scan;
  Recovered r;
  r.report = RunScan(*scan, model.DetectedGeometry(), DefaultRecognisers());
  for (const auto& entry : std::filesystem::directory_iterator(out.path()))
    if (entry.path().extension() == ".JPG") r.files.push_back(test::ReadFileBytes(entry.path().string()));
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
