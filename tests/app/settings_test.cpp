#include "app/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane {
namespace {

using Lines = std::vector<std::string>;
using Sizes = std::vector<int32_t>;

void WriteText(const std::string& path, const std::string& text) {
  test::WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

TEST(ThumbSpc, SizesProductsAndTheBlankLineThatEndsTheList) {
  EXPECT_EQ(ParseThumbSpc(Lines{"160x120", "640", "", "320x240"}), (Sizes{19200, 640}));
  EXPECT_EQ(ParseThumbSpc(Lines{"  160x120\t", " 640 ; small ones", "  ", "100"}), (Sizes{19200, 640}));
  EXPECT_EQ(ParseThumbSpc(Lines{"160 x 120", "80*60"}), (Sizes{19200, 4800}));
  EXPECT_EQ(ParseThumbSpc(Lines{}), Sizes{});
}

TEST(ThumbSpc, LinesThatAreNotSizesAreSkipped) {
  // Upper-case X is no star; a comment alone, zero and negative values give nothing.
  EXPECT_EQ(ParseThumbSpc(Lines{"160X120", ";comment", "0", "-5", "7"}), Sizes{7});
  // A star with a non-number beside it, or only the first x replaced: skipped, reading goes on.
  EXPECT_EQ(ParseThumbSpc(Lines{"12a*5", "10x10x2", "x5", "5x", "*", "9"}), Sizes{9});
  // Trailing junk, a second sign, numbers and products beyond 32 bits.
  EXPECT_EQ(ParseThumbSpc(Lines{"64k", "+-3", "2147483648", "65536x65536", "+2147483647"}),
            Sizes{2147483647});
  EXPECT_EQ(ParseThumbSpc(Lines{"-160x-120"}), Sizes{19200});
}

TEST(ThumbSiz, FirstLineOnly) {
  EXPECT_EQ(ParseThumbSiz(Lines{" 4096 ", "12"}), 4096);
  EXPECT_EQ(ParseThumbSiz(Lines{"big", "12"}), -1);
  EXPECT_EQ(ParseThumbSiz(Lines{"", "12"}), -1);
  EXPECT_EQ(ParseThumbSiz(Lines{}), -1);
  EXPECT_EQ(ParseThumbSiz(Lines{"-2147483648"}), INT32_MIN);
}

TEST(ThumbnailSettings, LoadedFromTheFolderWhenPresent) {
  test::TempDir dir;
  std::string folder = dir.path().string() + "/";
  ThumbnailSettings none = LoadThumbnailSettings(folder);
  EXPECT_EQ(none.ThumbnailPixelLimit, -1);
  EXPECT_FALSE(none.ThumbnailSpecialSizes.has_value());

  WriteText(dir / kThumbSizFileName, "20000\r\n");
  WriteText(dir / kThumbSpcFileName, "160x120\r\n640\n\r320x240\r\n");
  ThumbnailSettings s = LoadThumbnailSettings(folder);
  EXPECT_EQ(s.ThumbnailPixelLimit, 20000);
  EXPECT_EQ(s.ThumbnailSpecialSizes, (Sizes{19200, 640}));

  WriteText(dir / kThumbSpcFileName, "");  // present but empty: an empty list, not none
  EXPECT_EQ(LoadThumbnailSettings(folder).ThumbnailSpecialSizes, Sizes{});
}

}  // namespace
}  // namespace morvane
