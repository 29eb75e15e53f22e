#include "formats/pictures/png.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/raw_card.h"
#include "support/test_support.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("png/" + name)); }

const std::vector<std::string> kSamples = {"pillow_rgb.png",  "pillow_palette.png", "pillow_rgba.png",
                                           "pillow_text.png", "magick_rgb.png",     "magick_palette.png",
                                           "magick_interlaced.png"};

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// One chunk: length, type, data, CRC over type and data.
Bytes Chunk(const std::string& type, const Bytes& data) {
  Bytes c(8);
  PutBe32(c, 0, static_cast<uint32_t>(data.size()));
  std::copy(type.begin(), type.end(), c.begin() + 4);
  c.insert(c.end(), data.begin(), data.end());
  c.resize(c.size() + 4);
  const uLong crc = crc32(crc32(0, nullptr, 0), c.data() + 4, static_cast<uInt>(4 + data.size()));
  PutBe32(c, c.size() - 4, static_cast<uint32_t>(crc));
  return c;
}

// A small grey picture with an extra chunk of `extraLength` bytes before its image data.
Bytes GreyPng(uint32_t width, uint32_t height, const std::string& extraType = "", size_t extraLength = 0) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr(13);
  PutBe32(ihdr, 0, width);
  PutBe32(ihdr, 4, height);
  ihdr[8] = 8;  // bit depth; colour type 0, grey
  auto add = [&](const Bytes& c) { png.insert(png.end(), c.begin(), c.end()); };
  add(Chunk("IHDR", ihdr));
  if (!extraType.empty()) add(Chunk(extraType, Bytes(extraLength, 0x5A)));
  Bytes raw;
  for (uint32_t y = 0; y < std::min<uint32_t>(height, 64); ++y) {
    raw.push_back(0);
    for (uint32_t x = 0; x < std::min<uint32_t>(width, 64); ++x) raw.push_back(static_cast<uint8_t>(x * y));
  }
  Bytes packed(compressBound(static_cast<uLong>(raw.size())));
  uLongf size = packed.size();
  compress(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()));
  packed.resize(size);
  add(Chunk("IDAT", packed));
  add(Chunk("IEND", {}));
  return png;
}

struct PngCard : test::RawCard {
  using RawCard::RawCard;
  // Set before Context() is first used.
  void Deselect() { setup.Options.TypeMask = kAllTypesMask & ~kTypePng; }
  int Recover(int64_t sector) {
    return RecoverPng(Context(), setup.Options.OutputFolder, sector * 512);
  }
  Bytes Written(int64_t sector) const { return test::ReadFileBytes(File(sector, ".PNG")); }
};

TEST(RecoverPng, ScanRecoversPicturesOfPillowAndImageMagickByteForByte) {
  PngCard t(900, 1, true);
  std::vector<Bytes> files;
  for (const auto& name : kSamples) files.push_back(Sample(name));
  const std::vector<int64_t> starts = t.PlaceInRow(files, 5, 3);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(kSamples.size()));
  for (size_t i = 0; i < kSamples.size(); ++i) {
    EXPECT_EQ(t.Written(starts[i]), Sample(kSamples[i])) << kSamples[i];
    EXPECT_TRUE(CheckPngDecodes(ByteView(Sample(kSamples[i]).data(), Sample(kSamples[i]).size())).Ok);
  }
}

TEST(RecoverPng, FollowedAroundClaimedSectorsAndStoppedByTheEndOfTheRange) {
  const Bytes png = Sample("magick_interlaced.png");
  const int64_t n = Sectors(png.size());
  {  // Sectors 8..11 belong to a file carved before: the picture is read around them.
    PngCard t(n + 20);
    std::vector<int64_t> sectors = test::SectorRunOf(2, 6);
    for (int64_t s = 12; s < 12 + n - 6; ++s) sectors.push_back(s);
    t.Place(png, sectors);
    for (int64_t s = 8; s < 12; ++s) t.Context().SectorMap.ClaimSector(s);
    EXPECT_EQ(t.Recover(2), static_cast<int>(png.size()));
    EXPECT_EQ(t.Written(2), png);
    EXPECT_EQ(t.ClaimedCount(), n + 4);
  }
  {  // The range ends inside the image data: nothing is claimed or written.
    PngCard t(n + 20);
    t.Place(png, 0);
    t.setup.LastSector = n - 3;
    EXPECT_EQ(t.Recover(0), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_TRUE(t.Files().empty());
  }
  {  // The range ends inside the CRC of IEND: the chain is whole and stays claimed, but
     // the picture is not.
    // The text chunk pads the picture so that the CRC of IEND straddles sectors 1 and 2.
    const Bytes padded = GreyPng(16, 16, "tEXt", 1026 - 12 - GreyPng(16, 16).size());
    PngCard t(8);
    ASSERT_EQ(padded.size(), 1024u + 2);
    t.Place(padded, 0);
    t.setup.LastSector = 1;
    EXPECT_EQ(t.Recover(0), 0);
    EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{0, 1}));
    EXPECT_TRUE(t.Files().empty());
  }
}

// A picture of noise as stb_image_write writes it: all image data in one IDAT chunk, here
// of about 1.2 MB.
Bytes OneIdatPng(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  uint32_t x = 12345;
  for (auto& p : pixels) p = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 16);
  int length = 0;
  unsigned char* png = stbi_write_png_to_mem(pixels.data(), width * 3, width, height, 3, &length);
  Bytes out(png, png + length);
  STBIW_FREE(png);
  return out;
}

TEST(RecoverPng, OneLongImageChunkAndThe100MiBLimitWithClaimOnlySkipping) {
  const Bytes oneIdat = OneIdatPng(640, 640);
  ASSERT_GT(ByteView(oneIdat.data(), oneIdat.size()).Be32(33), 1000000u);  // the IDAT length
  const int64_t n = Sectors(oneIdat.size());
  {
    PngCard t(n + 4);
    t.Place(oneIdat, 1);
    EXPECT_EQ(t.Recover(1), static_cast<int>(oneIdat.size()));
    EXPECT_EQ(t.Written(1), oneIdat);
  }
  {  // Not selected: the long chunk is claimed without being read.
    PngCard t(n + 4);
    t.Place(oneIdat, 1);
    t.Deselect();
    t.Context();
    const uint64_t readsBefore = t.source->ReadCalls();
    EXPECT_EQ(t.Recover(1), 0);
    EXPECT_EQ(t.ClaimedCount(), n);
    EXPECT_LE(t.source->ReadCalls() - readsBefore, 4u);  // 64 KiB windows: the start, the look ahead, the end
    EXPECT_TRUE(t.Files().empty());
  }
  {  // A long length in front of bytes that are no chunk is refused after one look ahead.
    Bytes bogus = oneIdat;
    bogus[oneIdat.size() - 8] = '1';  // IEND's type
    PngCard t(n + 4);
    t.Place(bogus, 1);
    t.Context();
    const uint64_t readsBefore = t.source->ReadCalls();
    EXPECT_EQ(t.Recover(1), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_LE(t.source->ReadCalls() - readsBefore, 3u);
  }
  // The picture may reach 100 MiB and not a byte further: a sparse card with a private chunk
  // that brings IEND's end to the limit or one byte beyond it, claimed without being read.
  for (const int64_t total : {kMaxPngBytes, kMaxPngBytes + 1}) {
    Bytes head = GreyPng(8, 8);
    head.resize(8 + 25);
    const Bytes chunkHead = {0, 0, 0, 0, 'p', 'r', 'V', 't'};
    head.insert(head.end(), chunkHead.begin(), chunkHead.end());
    PutBe32(head, 33, static_cast<uint32_t>(total - 8 - 25 - 8 - 4 - 12));
    Bytes tail = {0, 0, 0, 0, 0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
    test::SparseCard card(kMaxPngBytes + 0x100000, {{0, head}, {total - 16, tail}});
    card.setup.Options.TypeMask = kAllTypesMask & ~kTypePng;
    ScanContext* scan = card.Context();
    ASSERT_TRUE(scan);
    RecoverPng(*scan, card.setup.Options.OutputFolder, 0);
    EXPECT_EQ(card.Claimed(), total == kMaxPngBytes ? Sectors(static_cast<size_t>(total)) : 0) << total;
    EXPECT_LE(card.counting->bytes, 4 * 0x10000);
  }
}

TEST(RecoverPng, HostileChunksAndHeaders) {
  {  // A chunk length of 2^31 and above, chunk types that are not followed: nothing stays claimed.
    Bytes huge = GreyPng(8, 8);
    PutBe32(huge, 8 + 25 + 0, 0x80000000u);  // the IDAT length
    Bytes unknownCritical = GreyPng(8, 8, "ABCD", 10);
    Bytes notLetters = GreyPng(8, 8, "te1t", 10);
    Bytes reservedBit = GreyPng(8, 8, "text", 10);
    for (const Bytes* png : {&huge, &unknownCritical, &notLetters, &reservedBit}) {
      PngCard t(16);
      t.Place(*png, 2);
      EXPECT_EQ(t.Recover(2), 0);
      EXPECT_EQ(t.ClaimedCount(), 0);
    }
  }
  {  // Whole chains that do not decode (width 0 or 2^31, damaged image data) keep their
     // sectors claimed but are not written.
    Bytes damaged = GreyPng(8, 8);
    damaged[8 + 25 + 8 + 3] ^= 0x55;  // inside the compressed data; the CRC no longer fits
    for (const Bytes& png : {GreyPng(0, 8), GreyPng(0x80000000u, 1), damaged}) {
      EXPECT_FALSE(CheckPngDecodes(ByteView(png.data(), png.size())).Ok);
      PngCard t(16);
      t.Place(png, 2);
      EXPECT_EQ(t.Recover(2), 0);
      EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{2}));
      EXPECT_TRUE(t.Files().empty());
    }
  }
  const Bytes good = GreyPng(8, 8);
  const PngPicture p = CheckPngDecodes(ByteView(good.data(), good.size()));
  EXPECT_TRUE(p.Ok);
  EXPECT_EQ(p.Width, 8);
  // Cut anywhere before its end, the picture no longer decodes.
  for (size_t cut : {good.size() - 1, good.size() - 12, size_t{40}})
    EXPECT_FALSE(CheckPngDecodes(ByteView(good.data(), cut)).Ok) << cut;
}

}  // namespace
}  // namespace morvane
