#include "app/branding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/version.h"
#include "support/test_support.h"

namespace morvane {
namespace {

// Raw bytes deflated into one zlib stream, for files the packer would refuse to make.
std::vector<uint8_t> Deflate(const std::string& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, reinterpret_cast<const Bytef*>(raw.data()),
                      static_cast<uLong>(raw.size()), Z_DEFAULT_COMPRESSION),
            Z_OK);
  out.resize(size);
  return out;
}

// 75 skipped strings, then `text` (NUL-terminated when `terminated`).
std::vector<uint8_t> WithText(const std::string& text, bool terminated = true) {
  std::string raw(kBrandingSkippedStrings, '\0');
  raw += text;
  if (terminated) raw += '\0';
  return Deflate(raw);
}

TEST(Branding, RoundTripThroughThePacker) {
  Branding b{"Title", "unused", "Status", "https://morvane.example/"};
  EXPECT_EQ(ParseBranding(MakeBrandingFile(b)), b);
  EXPECT_EQ(ParseBranding(MakeBrandingFile(DefaultBranding())), DefaultBranding());
  Branding blank{"", "", "", ""};  // four empty lines are still four lines
  EXPECT_EQ(ParseBranding(MakeBrandingFile(blank)), blank);
  EXPECT_TRUE(MakeBrandingFile({"two\nlines", "", "", ""}).empty());
  EXPECT_TRUE(PackBrandingStrings({std::string("a\0b", 3)}).empty());
}

TEST(Branding, LinesAreTrimmedAndAnyLineBreakCounts) {
  auto b = ParseBranding(WithText("  Prefix \t\rsecond\nStatus text \r\n https://x.example/ \r\nextra"));
  ASSERT_TRUE(b);
  EXPECT_EQ(*b, (Branding{"Prefix", "second", "Status text", "https://x.example/"}));
  // Strings after the 76th and bytes after the stream are ignored.
  std::string raw(kBrandingSkippedStrings, '\0');
  raw += std::string("a\nb\nc\nd\0more\0", 14);
  std::vector<uint8_t> bytes = Deflate(raw);
  bytes.push_back(0xEE);
  EXPECT_EQ(ParseBranding(bytes), (Branding{"a", "b", "c", "d"}));
}

TEST(Branding, DamagedOrShortFilesAreRefused) {
  std::vector<uint8_t> good = MakeBrandingFile(DefaultBranding());
  EXPECT_FALSE(ParseBranding({}));
  EXPECT_FALSE(ParseBranding(std::vector<uint8_t>(good.begin(), good.end() - 4)));  // no checksum
  EXPECT_FALSE(ParseBranding(std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)));
  std::vector<uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x55;
  EXPECT_FALSE(ParseBranding(flipped));
  std::vector<uint8_t> plain(good.size(), 'A');  // not zlib at all
  EXPECT_FALSE(ParseBranding(plain));

  EXPECT_FALSE(ParseBranding(PackBrandingStrings(std::vector<std::string>(75, "x"))));
  EXPECT_FALSE(ParseBranding(WithText("a\nb\nc\nd", /*terminated=*/false)));
  EXPECT_FALSE(ParseBranding(WithText("a\r\nb\r\nc")));
  EXPECT_FALSE(ParseBranding(WithText("a\r\nb\r\nc\r\n")));  // a final break starts no line
}

TEST(Branding, InflatedSizeIsCapped) {
  // Just under the cap is read; one byte over is refused, however small the stream.
  std::string text = "a\nb\nc\nd";
  size_t filler = kMaxBrandingInflatedSize - kBrandingSkippedStrings - text.size() - 1;
  std::string raw(filler, 'f');
  raw += std::string(kBrandingSkippedStrings, '\0') + text + '\0';
  ASSERT_EQ(raw.size(), kMaxBrandingInflatedSize);
  EXPECT_EQ(ParseBranding(Deflate(raw)), (Branding{"a", "b", "c", "d"}));
  EXPECT_FALSE(ParseBranding(Deflate("f" + raw)));
  std::vector<uint8_t> bomb = Deflate(std::string(8u << 20, '\0'));
  EXPECT_LT(bomb.size(), 16u << 10);
  EXPECT_FALSE(ParseBranding(bomb));
}

TEST(Branding, TitleAndStatusPanel) {
  const TFaceTexts& en = FaceTextsFor(Language::English);
  EXPECT_EQ(WindowTitle({"Acme Recovery", "", "", ""}, en), "Acme Recovery " + std::string(kMorvaneVersion));
  EXPECT_EQ(WindowTitle({}, en), en.Text(1));
  EXPECT_EQ(StatusPanel2({"", "", "Call us", ""}, en), "Call us");
  EXPECT_EQ(StatusPanel2({}, en), en.Text(76));
  // The program's own tagline comes in the reader's language.
  EXPECT_EQ(StatusPanel2(DefaultBranding(), en), DefaultBranding().StatusText);
  EXPECT_EQ(StatusPanel2(DefaultBranding(), FaceTextsFor(Language::TraditionalChinese)), "依內容救援相片、影片和文件");
}

TEST(Branding, FileWrittenByTheBuildParses) {
  std::string folder = std::string(MORVANE_BINARY_DIR) + "/";
  if (!std::filesystem::exists(folder + kBrandingFileName)) GTEST_SKIP() << "branding file not built";
  EXPECT_EQ(LoadBrandingFile(folder), DefaultBranding());
}

TEST(Startup, NeedsTheBrandingFileThenReadsTheSettings) {
  test::TempDir dir;
  std::string folder = dir.path().string() + "/";
  EXPECT_FALSE(RunStartup(folder).ok);
  std::filesystem::create_directory(dir / kBrandingFileName);  // a folder of that name
  EXPECT_FALSE(RunStartup(folder).ok);
  std::filesystem::remove(dir / kBrandingFileName);

  test::WriteFileBytes(dir / kBrandingFileName, MakeBrandingFile({"P", "", "S", "W"}));
  test::WriteFileBytes(dir / kThumbSpcFileName, {'6', '4', '0', '\n'});
  StartupResult r = RunStartup(folder);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.branding, (Branding{"P", "", "S", "W"}));
  EXPECT_EQ(r.thumbnails.ThumbnailPixelLimit, -1);
  EXPECT_EQ(r.thumbnails.ThumbnailSpecialSizes, std::vector<int32_t>{640});

  test::WriteFileBytes(dir / kBrandingFileName, std::vector<uint8_t>(kMaxBrandingFileSize + 1, 0));
  EXPECT_FALSE(RunStartup(folder).ok);
}

TEST(Startup, ProgramFolderHoldsThisProgram) {
  std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "app_tests"));
}

}  // namespace
}  // namespace morvane
