#include "formats/pictures/bmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/raw_card.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("bmp/" + name)); }

void PutLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct BmpCard : test::RawCard {
  using RawCard::RawCard;
  // Set before Context() is first used.
  void Deselect() { setup.Options.TypeMask = kAllTypesMask & ~kTypeBmp; }
  int Recover(int64_t sector) {
    return RecoverBmp(Context(), setup.Options.OutputFolder, sector * 512);
  }
  Bytes Written(int64_t sector) const { return test::ReadFileBytes(File(sector, ".BMP")); }
};

TEST(RecoverBmp, BitmapsOfPillowAndImageMagickComeBackByteForByte) {
  const std::vector<std::string> names = {"pillow_24bit.bmp", "pillow_8bit_palette.bmp", "pillow_32bit.bmp",
                                          "top_down_24bit.bmp", "magick_24bit.bmp"};
  BmpCard t(300, 1, true);
  std::vector<Bytes> files;
  for (const auto& n : names) files.push_back(Sample(n));
  const std::vector<int64_t> starts = t.PlaceInRow(files, 1, 4);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(t.Written(starts[i]), Sample(names[i])) << names[i];
    const BmpPicture p = CheckBmpDecodes(ByteView(Sample(names[i]).data(), Sample(names[i]).size()));
    EXPECT_EQ(p.Width, 96);
    EXPECT_EQ(p.Height, 72);
  }
}

TEST(RecoverBmp, SplitCutAndClaimOnly) {
  const Bytes bmp = Sample("pillow_24bit.bmp");
  const int64_t n = Sectors(bmp.size());
  {  // Around sectors of a file carved before.
    BmpCard t(n + 10);
    std::vector<int64_t> sectors = test::SectorRunOf(0, 3);
    for (int64_t s = 8; s < 8 + n - 3; ++s) sectors.push_back(s);
    t.Place(bmp, sectors);
    for (int64_t s = 3; s < 8; ++s) t.Context().SectorMap.ClaimSector(s);
    EXPECT_EQ(t.Recover(0), static_cast<int>(bmp.size()));
    EXPECT_EQ(t.Written(0), bmp);
  }
  {  // Cut by the end of the range: the sectors stay claimed, the picture is not written.
    BmpCard t(n + 10);
    t.Place(bmp, 2);
    t.setup.LastSector = n - 5;
    EXPECT_EQ(t.Recover(2), 0);
    EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(2, n - 6));
    EXPECT_TRUE(t.Files().empty());
  }
  {  // Not selected: claimed without being read.
    BmpCard t(n + 200);
    t.Place(bmp, 150);
    t.Deselect();
    t.Context();
    const uint64_t before = t.source->ReadCalls();
    t.Recover(150);
    EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(150, n));
    EXPECT_LE(t.source->ReadCalls() - before, 2u);
    EXPECT_TRUE(t.Files().empty());
  }
}

TEST(RecoverBmp, DeclaredLengthsAndHostileHeaders) {
  const Bytes bmp = Sample("pillow_8bit_palette.bmp");
  for (uint32_t length : {57u, 58u}) {  // 57 is not followed: only the start sector is kept
    Bytes b = bmp;
    PutLe32(b, 2, length);
    BmpCard t(40);
    t.Place(b, 1);
    t.Recover(1);
    EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{1})) << length;
    EXPECT_TRUE(t.Files().empty());
  }
  {  // A length beyond 100 MiB is not followed either; one beyond the medium is no bitmap.
    Bytes b = bmp;
    PutLe32(b, 2, 0x6400001);
    BmpCard t(0x6400001 / 512 + 2);
    t.Place(b, 1);
    t.Recover(1);
    EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{1}));
    BmpCard small(40);
    small.Place(b, 1);
    small.Recover(1);
    EXPECT_EQ(small.ClaimedCount(), 0);
  }
  // Pixel data beyond the end of the bytes, absurd sizes and the most negative height do
  // not decode.
  const Bytes good = Sample("pillow_24bit.bmp");
  EXPECT_TRUE(CheckBmpDecodes(ByteView(good.data(), good.size())).Ok);
  EXPECT_FALSE(CheckBmpDecodes(ByteView(good.data(), good.size() - 1)).Ok);
  auto with = [&](size_t at, uint32_t v) {
    Bytes b = good;
    PutLe32(b, at, v);
    return b;
  };
  for (const Bytes& b : {with(10, static_cast<uint32_t>(good.size())), with(10, 0xFFFFFFF0u), with(22, 0x80000000u),
                         with(18, 0), with(18, 0x7FFFFFFF), with(14, 99), with(30, 7), with(30, 0x80000000u),
                         with(30, 1)})
    EXPECT_FALSE(CheckBmpDecodes(ByteView(b.data(), b.size())).Ok);
  // A reserved field that is not zero is no bitmap: nothing is claimed.
  Bytes reserved = good;
  reserved[7] = 1;
  BmpCard t(80);
  t.Place(reserved, 1);
  t.Recover(1);
  EXPECT_EQ(t.ClaimedCount(), 0);
}

// Compression values that do not exist once passed as "compressed" while the decoder took
// the pixels as plain and read zeros far past the bytes: a 54-byte header of 8192 x 8192
// pixels cost a quarter of a second and saved a bitmap of one sector. Neither they nor a
// fuzzer's 46-byte find (compression EB010000, cut at the range end) make a bitmap now.
TEST(RecoverBmp, UnknownCompressionIsNoBitmap) {
  const Bytes found = {0x42, 0x4d, 0x36, 0x1f, 0, 0, 0, 0, 0, 0, 0x36, 0x04, 0, 0, 0x28, 0, 0, 0, 0x60, 0, 0, 0, 0x48,
                       0, 0, 0, 0x01, 0, 0x08, 0, 0, 0, 0x01, 0xeb, 0, 0x1b, 0x62, 0xc0, 0x55, 0, 0x35, 0xe7, 0x85,
                       0x14, 0x3c, 0};
  Bytes bomb(54, 0);
  bomb[0] = 'B', bomb[1] = 'M';
  PutLe32(bomb, 2, 0x6400000);
  PutLe32(bomb, 10, 54);
  PutLe32(bomb, 14, 40);
  PutLe32(bomb, 18, 8192);
  PutLe32(bomb, 22, 8192);
  bomb[26] = 1, bomb[28] = 24;
  PutLe32(bomb, 30, 0x80000000u);
  BmpCard t(9, 1, true);
  t.Place(found, 0);
  for (int64_t s = 1; s < 9; ++s) t.Place(bomb, s);
  for (int64_t s = 8; s >= 0; --s) t.Recover(s);
  EXPECT_EQ(t.ClaimedCount(), 0);
  EXPECT_TRUE(t.Files().empty());
}

}  // namespace
}  // namespace morvane
