// Camera raw files on a real FAT32 volume (mkfs.fat, mtools): present, deleted, and one
// written into the holes that deleted pictures left, brought back by whole scans.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "formats/fat_volume.h"
#include "formats/jpeg_encoder.h"
#include "formats/raw_layouts.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using Named = std::vector<std::pair<std::string, Bytes>>;

// The recovered files that are not JPEGs, sorted by content.
std::vector<Bytes> RawFiles(const test::VolumeScan& scan) {
  std::vector<Bytes> v;
  for (const auto& [name, bytes] : scan.files)
    if (!name.ends_with(".JPG")) v.push_back(bytes);
  std::sort(v.begin(), v.end());
  return v;
}

std::vector<Bytes> Contents(const Named& files) {
  std::vector<Bytes> v;
  for (const auto& f : files) v.push_back(f.second);
  std::sort(v.begin(), v.end());
  return v;
}

TEST(CameraRawOnFat32, PresentDeletedAndFragmentedRawFilesComeBackByteForByte) {
  if (!test::HaveFatTools()) GTEST_SKIP() << "dosfstools/mtools missing";
  test::FatVolume volume;
  ASSERT_TRUE(volume.Made());

  Named raws;
  for (const auto& l : {test::Nef(), test::Sony(true), test::Orf(), test::Rw2(), test::Pef(), test::Dng(), test::X3f(), test::Raf(true)})
    raws.emplace_back("R_" + l.name + l.extension, l.bytes);
  for (const char* name : {"nikon", "pillow_lzw", "tiffcp_strips_be", "magick_tiles_be"})
    raws.emplace_back(std::string("T_") + name + ".TIF", test::ReadFileBytes(test::DataPath(std::string("raw/") + name + ".tif")));

  // Small JPEGs, every other one deleted to leave holes for the CR2.
  const Bytes cr2 = test::Cr2().bytes;
  Named spacers;
  std::vector<std::string> holes;
  for (size_t room = 0; room < cr2.size() + 4096;) {
    for (int k = 0; k < 2; ++k) {
      const auto i = static_cast<uint32_t>(spacers.size());
      spacers.emplace_back("S" + std::to_string(i) + ".JPG", test::EncodeJpeg({.Width = 64, .Height = 64, .Seed = i + 7, .Noise = 40}));
      if (k == 1) {
        holes.push_back(spacers.back().first);
        room += (spacers.back().second.size() + 1023) / 1024 * 1024;
      }
    }
  }
  ASSERT_TRUE(volume.Put(spacers));
  ASSERT_TRUE(volume.Put(raws));
  ASSERT_TRUE(volume.Fill("FILL.BIN"));
  ASSERT_TRUE(volume.Delete(holes));
  Named deleted, present;
  for (size_t i = 0; i < raws.size(); ++i) (i % 2 ? deleted : present).push_back(raws[i]);
  std::vector<std::string> deletedNames;
  for (const auto& f : deleted) deletedNames.push_back(f.first);
  ASSERT_TRUE(volume.Delete(deletedNames));
  ASSERT_TRUE(volume.Put({{"CANON001.CR2", cr2}}));
  ASSERT_GT(volume.Clusters("CANON001.CR2").size(), 3u) << "the CR2 did not land in the holes";
  ASSERT_TRUE(volume.Delete({"CANON001.CR2"}));
  deleted.emplace_back("CANON001.CR2", cr2);

  {  // Whole scan: the JPEGs between the CR2's pieces are carved first, the CR2 around them.
    Named all = present;
    all.insert(all.end(), deleted.begin(), deleted.end());
    EXPECT_EQ(RawFiles(test::ScanVolume(volume.Image(), false)), Contents(all));
  }
  {  // Free space only: the allocated clusters are stepped over.
    EXPECT_EQ(RawFiles(test::ScanVolume(volume.Image(), true)), Contents(deleted));
  }
}

}  // namespace
}  // namespace morvane
