// PNG, BMP, PDF, RAR, CAB and 7z files on a real FAT32 volume: written, deleted and
// fragmented by mtools, then brought back by a whole scan with every recogniser.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "formats/fat_volume.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::FatVolume;

// A 16 x 16 bitmap of one colour: 822 bytes, one cluster each.
Bytes SmallBitmap(uint8_t shade) {
  Bytes b(54 + 16 * 16 * 3, shade);
  auto le32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  std::fill(b.begin(), b.begin() + 54, 0);
  b[0] = 'B';
  b[1] = 'M';
  le32(2, static_cast<uint32_t>(b.size()));
  le32(10, 54);
  le32(14, 40);
  le32(18, 16);
  le32(22, 16);
  b[26] = 1;
  b[28] = 24;
  return b;
}

// Every expected file came back byte for byte, and nothing else did.
void ExpectExactly(const test::VolumeScan& r, const std::map<std::string, Bytes>& expected) {
  std::vector<Bytes> found;
  for (const auto& [name, bytes] : r.files) found.push_back(bytes);
  for (const auto& [name, bytes] : expected)
    EXPECT_NE(std::find(found.begin(), found.end(), bytes), found.end()) << name << " not recovered byte for byte";
  EXPECT_EQ(found.size(), expected.size());
  for (const auto& [name, bytes] : r.files) {
    bool known = false;
    for (const auto& [n, b] : expected) known = known || b == bytes;
    EXPECT_TRUE(known) << name << " (" << bytes.size() << " bytes) is no file of the volume";
  }
}

TEST(KindsOnFat32, PresentDeletedAndFragmentedFilesComeBackByteForByte) {
  if (!test::HaveFatTools()) GTEST_SKIP() << "dosfstools/mtools missing";
  FatVolume volume;
  ASSERT_TRUE(volume.Made());

  const std::vector<std::string> names = {
      "png/pillow_rgb.png",          "png/magick_interlaced.png", "png/pillow_text.png",
      "bmp/pillow_8bit_palette.bmp", "bmp/top_down_24bit.bmp",    "pdf/libreoffice.pdf",
      "pdf/incremental.pdf",         "pdf/binary_eof.pdf",        "archives/rar_compress_normal.rar",
      "archives/rar_unicode.rar",    "archives/solid_hc.7z",      "archives/mszip.cab"};
  std::vector<std::pair<std::string, Bytes>> files;
  for (size_t i = 0; i < names.size(); ++i)
    files.emplace_back("F" + std::to_string(i) + names[i].substr(names[i].rfind('.')),
                       test::ReadFileBytes(test::DataPath(names[i])));
  // Small bitmaps of one cluster each with holes between them, as many as a 7z archive
  // written later fills.
  const Bytes fragmented = test::ReadFileBytes(test::DataPath("archives/nonsolid_nohc.7z"));
  const int holeCount = static_cast<int>((fragmented.size() + 1023) / 1024);
  std::vector<std::pair<std::string, Bytes>> spacers;
  std::vector<std::string> holes;
  for (int i = 0; i < 2 * holeCount; ++i) {
    spacers.emplace_back("SP" + std::to_string(i) + ".BMP", SmallBitmap(static_cast<uint8_t>(i * 7)));
    if (i % 2 == 1) holes.push_back(spacers.back().first);
  }
  ASSERT_TRUE(volume.Put(spacers));
  ASSERT_TRUE(volume.Put(files));
  ASSERT_TRUE(volume.Fill("FILL.BIN"));
  ASSERT_TRUE(volume.Delete(holes));
  std::vector<std::string> deletedNames;
  for (size_t i = 0; i < files.size(); i += 2) deletedNames.push_back(files[i].first);
  ASSERT_TRUE(volume.Delete(deletedNames));
  ASSERT_TRUE(volume.Put({{"FRAG.7Z", fragmented}}));
  ASSERT_EQ(volume.Clusters("FRAG.7Z").size(), static_cast<size_t>(holeCount)) << "the archive did not land in the holes";
  ASSERT_TRUE(volume.Delete({"FRAG.7Z"}));

  std::map<std::string, Bytes> all, deleted;
  for (const auto& [name, bytes] : files) {
    all[name] = bytes;
    if (std::find(deletedNames.begin(), deletedNames.end(), name) != deletedNames.end()) deleted[name] = bytes;
  }
  for (const auto& [name, bytes] : spacers)
    if (std::find(holes.begin(), holes.end(), name) == holes.end()) all[name] = bytes;
  all["FRAG.7Z"] = deleted["FRAG.7Z"] = fragmented;

  ExpectExactly(test::ScanVolume(volume.Image(), false), all);
  ExpectExactly(test::ScanVolume(volume.Image(), true), deleted);
}

}  // namespace
}  // namespace morvane
