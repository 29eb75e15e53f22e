#include "formats/pictures/exif.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {
namespace {

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t x, bool be) {
  v[at] = be ? x >> 8 : x & 0xFF;
  v[at + 1] = be ? x & 0xFF : x >> 8;
}
void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x, bool be) {
  for (int i = 0; i < 4; ++i) v[at + i] = (x >> (be ? 24 - 8 * i : 8 * i)) & 0xFF;
}

// FF D8, an APP1 "Exif" segment: TIFF header, IFD0 with the EXIF pointer, the sub-IFD with
// DateTimeOriginal, the text; then FF DA. Offsets are relative to the TIFF header (at 12).
std::vector<uint8_t> ExifJpeg(const std::string& date, bool be, uint32_t subIfd = 26, uint32_t dateAt = 44) {
  std::vector<uint8_t> v(12 + 44 + date.size() + 1 + 4, 0);
  v[0] = 0xFF; v[1] = 0xD8; v[2] = 0xFF; v[3] = 0xE1;
  Put16(v, 4, static_cast<uint16_t>(v.size() - 4 - 4 + 2), true);
  std::copy_n("Exif\0\0", 6, v.begin() + 6);
  const size_t b = 12;
  v[b] = v[b + 1] = be ? 'M' : 'I';
  Put16(v, b + 2, 42, be);
  Put32(v, b + 4, 8, be);
  Put16(v, b + 8, 1, be);           // IFD0: one entry
  Put16(v, b + 10, 0x8769, be);
  Put16(v, b + 12, 4, be);
  Put32(v, b + 14, 1, be);
  Put32(v, b + 18, subIfd, be);
  Put16(v, b + 26, 1, be);          // sub-IFD at 26: one entry
  Put16(v, b + 28, 0x9003, be);
  Put16(v, b + 30, 2, be);
  Put32(v, b + 32, 20, be);
  Put32(v, b + 36, dateAt, be);
  std::copy(date.begin(), date.end(), v.begin() + b + 44);
  v[v.size() - 4] = 0xFF; v[v.size() - 3] = 0xDA;
  return v;
}

TEST(ParseExifDateTime, AcceptsOnlyCalendarDatesInTheExifForm) {
  TDateTime t = 0;
  ASSERT_TRUE(ParseExifDateTime("2009:05:01 23:59:58", t));
  EXPECT_EQ(t, *EncodeDateTime(2009, 5, 1, 23, 59, 58));
  EXPECT_TRUE(ParseExifDateTime("1900-01-01T00:00:00", t));  // separators are not looked at
  for (const char* bad : {"2009:13:01 00:00:00", "2009:02:30 00:00:00", "2009:05:01 24:00:00",
                          "1899:12:31 00:00:00", "3000:01:01 00:00:00", "2009:05:01 00:00:0",
                          "2009:05:01 00:00:000", "2009:05:0x 00:00:00", "    :  :     :  :  "}) {
    EXPECT_FALSE(ParseExifDateTime(bad, t)) << bad;
    EXPECT_EQ(t, -1.0) << bad;
  }
}

TEST(ReadExifShootingTime, ReadsDateTimeOriginalInBothByteOrders) {
  for (bool be : {false, true}) {
    const auto jpeg = ExifJpeg("2011:02:03 04:05:06  ", be);
    const auto r = ReadExifShootingTime(ByteView(jpeg.data(), jpeg.size()));
    EXPECT_TRUE(r.Found);
    EXPECT_EQ(r.Text, "2011:02:03 04:05:06");
    EXPECT_EQ(r.Time, *EncodeDateTime(2011, 2, 3, 4, 5, 6));
  }
}

TEST(ReadExifShootingTime, HostileStructuresGiveNoDate) {
  // Offsets outside the picture, an IFD pointing at itself, a text without NUL at the end.
  for (auto [sub, at] : {std::pair<uint32_t, uint32_t>{0xFFFFFFF0, 44}, {26, 0xFFFFFFFF}, {8, 8}, {26, 26}}) {
    const auto jpeg = ExifJpeg("2011:02:03 04:05:06", false, sub, at);
    EXPECT_EQ(ReadExifShootingTime(ByteView(jpeg.data(), jpeg.size())).Time, -1.0);
  }
  auto jpeg = ExifJpeg("2011:02:03 04:05:06", true);
  jpeg.resize(12 + 44 + 19);  // the text runs to the end of the data
  const auto r = ReadExifShootingTime(ByteView(jpeg.data(), jpeg.size()));
  EXPECT_EQ(r.Text, "2011:02:03 04:05:06");
  for (size_t n = 0; n < jpeg.size(); ++n) ReadExifShootingTime(ByteView(jpeg.data(), n));  // every cut
  // Segment lengths 0 and 1 before the APP1 end the walk instead of looping.
  const std::vector<uint8_t> zero = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x00, 0xFF, 0xE1};
  EXPECT_FALSE(ReadExifShootingTime(ByteView(zero.data(), zero.size())).Found);
}

}  // namespace
}  // namespace morvane
