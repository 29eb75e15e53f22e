// Media formatted again with other clusters: a default scan finds the grid the files lie on
// and brings back every file that lies whole on the medium.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "support/test_support.h"

namespace morvane {
namespace {
namespace fs = std::filesystem;

// Real files of many kinds and sizes, so that their starts scatter over the old grid.
const char* const kFiles[] = {
    "jpeg/baseline.jpg", "jpeg/exif_be.jpg",     "jpeg/exif_le.jpg",      "jpeg/exif_thumb.jpg",
    "jpeg/progressive.jpg", "jpeg/restart.jpg",  "jpeg/subsampling444.jpg", "bmp/magick_24bit.bmp",
    "bmp/pillow_32bit.bmp", "bmp/pillow_8bit_palette.bmp", "mp4/faststart.mp4", "mp4/mp41.mp4",
    "mp4/mobile.3gp",     "mp4/quicktime.mov",   "png/pillow_rgb.png",    "png/pillow_rgba.png",
    "png/magick_interlaced.png", "archives/nonsolid_hc.7z", "archives/solid_hc.7z", "archives/stored.cab",
    "archives/mszip.cab"};

struct Outcome {
  int whole = 0;      // files that lie whole (one run of sectors) on the medium
  int recovered = 0;  // of those, files recovered byte for byte
  std::string output; // what the program said
  std::string missed;
};

// Builds the medium with make_reformatted.sh, scans it with `options` and compares.
Outcome ScanReformatted(const std::string& size, const std::string& oldFs, const std::string& newFs,
                        const std::string& options = "") {
  test::TempDir dir;
  const std::string image = dir / "card.img";
  std::string files;
  for (const char* f : kFiles) files += " " + test::DataPath(f);
  Outcome o;
  if (test::Run(test::DataPath("reformat/make_reformatted.sh") + " " + image + " " + size + " " + oldFs + " " +
                newFs + files) != 0) {
    ADD_FAILURE() << "could not make " << oldFs << " -> " << newFs;
    return o;
  }
  test::RunCapturing(std::string(MORVANE_BINARY_DIR) + "/morvane scan " + image + " -o " + dir / "out" + " " +
                         options + " 2>&1",
                     o.output);
  std::set<std::vector<uint8_t>> recovered;
  for (const auto& e : fs::directory_iterator(dir / "out")) recovered.insert(test::ReadFileBytes(e.path()));
  const std::vector<uint8_t> medium = test::ReadFileBytes(image);
  for (const char* f : kFiles) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(f));
    auto at = std::search(medium.begin(), medium.end(),
                          std::boyer_moore_horspool_searcher(bytes.begin(), bytes.end()));
    if (at == medium.end() || (at - medium.begin()) % 512 != 0) continue;
    ++o.whole;
    if (recovered.count(bytes)) ++o.recovered;
    else o.missed += std::string(" ") + f;
  }
  return o;
}

bool HaveTools(std::initializer_list<const char*> tools) {
  return std::all_of(tools.begin(), tools.end(), [](const char* t) { return test::HaveTool(t); });
}

TEST(Reformatted, DefaultScanTakesTheGridFromTheFiles) {
  if (!HaveTools({"mkfs.fat", "mcopy", "mkfs.exfat", "mkntfs", "ntfscp"}))
    GTEST_SKIP() << "dosfstools, mtools, exfatprogs or ntfs-3g missing";
  struct Case {
    const char *size, *oldFs, *newFs, *line;
  } cases[] = {
      {"160M", "fat32-2048", "fat32-4096", "The files lie on a 2K grid; the FAT32 volume uses 4K clusters"},
      {"160M", "fat32-2048", "exfat-32768", "The files lie on a 2K grid; the exFAT volume uses 32K clusters"},
      {"96M", "ntfs-4096", "ntfs-65536", "The files lie on a 4K grid; the NTFS volume uses 64K clusters"},
      {"96M", "ntfs-65536", "ntfs-4096", nullptr},  // the old files lie on the new grid too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.oldFs) + " -> " + c.newFs);
    const Outcome o = ScanReformatted(c.size, c.oldFs, c.newFs);
    EXPECT_GE(o.whole, 12);
    EXPECT_EQ(o.recovered, o.whole) << o.missed << "\n" << o.output;
    if (c.line) {
      EXPECT_NE(o.output.find(c.line), std::string::npos) << o.output;
    }
  }
}

TEST(Reformatted, FormattedReasonTakesTheBootSectorsClusterSize) {
  if (!HaveTools({"mkfs.fat", "mcopy"})) GTEST_SKIP() << "dosfstools or mtools missing";
  // Formatted again with the same 1K clusters; a fixed grid of the usual 2K for a FAT32
  // volume of this size would miss half of the files.
  const Outcome o = ScanReformatted("160M", "fat32-1024", "fat32-1024", "--reason formatted --fs fat32 --geometry fixed");
  EXPECT_EQ(o.recovered, o.whole) << o.missed << "\n" << o.output;
}

// A raw image whose files lie on a 4 KiB grid, with a Motion-JPEG video written around a
// picture whose last cluster is not full: with the grid from the data the picture's cluster
// tail is its own, so the video's walk resumes behind it and the video comes back whole.
TEST(Reformatted, RawImageGridKeepsAVideoWrittenAroundAPicture) {
  constexpr size_t kCluster = 4096;
  std::vector<uint8_t> image(kCluster);
  auto put = [&](const std::vector<uint8_t>& bytes) {
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.resize((image.size() + kCluster - 1) / kCluster * kCluster);
  };
  const std::vector<uint8_t> video = test::ReadFileBytes(test::DataPath("riff/mjpeg_pcm.avi"));
  const std::vector<uint8_t> picture = test::ReadFileBytes(test::DataPath("png/pillow_rgb.png"));
  ASSERT_NE(picture.size() % kCluster, 0u);
  const auto split = video.begin() + 10 * kCluster;
  put(test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg")));
  put(test::ReadFileBytes(test::DataPath("jpeg/exif_be.jpg")));
  put({video.begin(), split});
  put(picture);
  put({split, video.end()});
  put(test::ReadFileBytes(test::DataPath("jpeg/exif_le.jpg")));
  image.resize(image.size() + 4 * kCluster);
  test::TempDir dir;
  test::WriteFileBytes(dir / "raw.img", image);
  std::string out;
  test::RunCapturing(std::string(MORVANE_BINARY_DIR) + "/morvane scan " + dir / "raw.img" + " -o " + dir / "out 2>&1",
                     out);
  std::set<std::vector<uint8_t>> recovered;
  for (const auto& e : fs::directory_iterator(dir / "out")) recovered.insert(test::ReadFileBytes(e.path()));
  EXPECT_EQ(recovered.size(), 5u) << out;
  EXPECT_TRUE(recovered.count(video)) << out;
  EXPECT_TRUE(recovered.count(picture)) << out;
}

}  // namespace
}  // namespace morvane
