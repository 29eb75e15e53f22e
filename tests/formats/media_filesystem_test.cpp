// Videos and sound files on a real FAT32 volume: written, deleted and fragmented by
// mtools, then brought back by whole scans with every recogniser.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "formats/fat_volume.h"
#include "formats/recognisers.h"
#include "scan/scan_driver.h"
#include "storage/partition.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("riff/" + name)); }

// A small PCM WAV of distinct content: the spacers between which a video is fragmented.
Bytes SpacerWav(uint32_t seed) {
  const uint32_t dataBytes = 2500 + 97 * seed;
  Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
             1,   0,   1,   0,   0x40, 0x1F, 0, 0, 0x40, 0x1F, 0, 0, 1, 0, 8, 0, 'd', 'a', 't', 'a'};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(dataBytes >> (8 * i)));
  for (uint32_t i = 0; i < dataBytes; ++i) b.push_back(static_cast<uint8_t>(128 + ((i * (seed + 3)) % 61) - 30));
  const auto riffSize = static_cast<uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
  return b;
}

constexpr int64_t kClusterBytes = 1024;  // mkfs.fat -s 2 on 512-byte sectors

// The contents of every file a whole scan brings back, sorted.
std::vector<Bytes> Contents(const test::VolumeScan& scan) {
  std::vector<Bytes> files;
  for (const auto& [name, bytes] : scan.files) files.push_back(bytes);
  std::sort(files.begin(), files.end());
  return files;
}

TEST(MediaOnFat32, PresentDeletedAndFragmentedVideosAndSoundComeBackByteForByte) {
  if (!test::HaveFatTools()) GTEST_SKIP() << "dosfstools/mtools missing";
  test::FatVolume volume;
  ASSERT_TRUE(volume.Made());

  const Bytes video = Sample("mjpeg_pcm.avi");  // written into the holes between spacers
  std::vector<std::pair<std::string, Bytes>> spacers;
  std::vector<std::string> holes;
  for (int64_t room = 0; room * kClusterBytes < static_cast<int64_t>(video.size());) {
    for (int k = 0; k < 2; ++k) {
      const auto i = static_cast<uint32_t>(spacers.size());
      spacers.emplace_back("SP" + std::to_string(i) + ".WAV", SpacerWav(i));
      if (k == 1) {
        holes.push_back(spacers.back().first);
        room += (static_cast<int64_t>(spacers.back().second.size()) + kClusterBytes - 1) / kClusterBytes;
      }
    }
  }
  const Bytes wmv = Sample("reordered.wmv");
  const std::vector<std::pair<std::string, Bytes>> samples = {
      {"M4.AVI", Sample("mpeg4_pcm.avi")}, {"PCM.WAV", Sample("pcm.wav")}, {"ADPCM.WAV", Sample("adpcm.wav")},
      {"A.ASF", Sample("sample.asf")},     {"W.WMV", wmv}};
  ASSERT_TRUE(volume.Put(spacers));
  ASSERT_TRUE(volume.Put(samples));
  ASSERT_TRUE(volume.Fill("FILL.BIN"));
  ASSERT_TRUE(volume.Delete(holes));
  ASSERT_TRUE(volume.Delete({"M4.AVI", "A.ASF", "W.WMV"}));
  ASSERT_TRUE(volume.Put({{"VIDEO.AVI", video}}));
  ASSERT_GT(volume.Clusters("VIDEO.AVI").size(), 3u) << "the video did not land in the holes";
  ASSERT_TRUE(volume.Delete({"VIDEO.AVI", "FILL.BIN"}));

  // The WMV walk leaves its index object out: the file ends with the data object.
  const Bytes walkedWmv(wmv.begin(), wmv.begin() + (wmv.size() - 98));
  std::vector<Bytes> deleted = {video, Sample("mpeg4_pcm.avi"), Sample("sample.asf"), walkedWmv};
  std::vector<Bytes> all = deleted;
  all.push_back(Sample("pcm.wav"));
  all.push_back(Sample("adpcm.wav"));
  for (const auto& [name, bytes] : spacers)
    if (std::find(holes.begin(), holes.end(), name) == holes.end()) all.push_back(bytes);
  std::sort(all.begin(), all.end());
  std::sort(deleted.begin(), deleted.end());

  // Whole scan: the spacers at higher sectors are carved first; the video is followed
  // around their claimed sectors.
  test::VolumeScan r = test::ScanVolume(volume.Image(), false);
  EXPECT_TRUE(Contents(r) == all);
  EXPECT_EQ(r.report.RecoveredCount, static_cast<int32_t>(all.size()));
  // Free space only: the allocated clusters between the pieces are stepped over.
  r = test::ScanVolume(volume.Image(), true);
  EXPECT_TRUE(Contents(r) == deleted);
  EXPECT_EQ(r.report.RecoveredCount, static_cast<int32_t>(deleted.size()));
}

}  // namespace
}  // namespace morvane
