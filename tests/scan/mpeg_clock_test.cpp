#include "scan/mpeg_clock.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string_view>

namespace morvane {
namespace {

using namespace std::string_view_literals;

ByteView View(std::string_view bytes) { return ByteView(bytes.data(), bytes.size()); }
template <size_t N>
ByteView View(const std::array<uint8_t, N>& bytes) { return ByteView(bytes.data(), N); }

constexpr uint64_t kLargestClock = (uint64_t{1} << 33) - 1;

// Pack headers written field by field after the layouts of ISO/IEC 13818-1 and 11172-1
// (MPEG-2 with all clock-extension bits set).
std::array<uint8_t, 10> Mpeg2Header(uint64_t scr) {
  return {0x00, 0x00, 0x01, 0xBA, static_cast<uint8_t>(0x44 | ((scr >> 30) & 7) << 3 | ((scr >> 28) & 3)),
          static_cast<uint8_t>(scr >> 20), static_cast<uint8_t>(0x04 | ((scr >> 15) & 0x1F) << 3 | ((scr >> 13) & 3)),
          static_cast<uint8_t>(scr >> 5), static_cast<uint8_t>(0x07 | (scr & 0x1F) << 3), 0xFF};
}
std::array<uint8_t, 9> Mpeg1Header(uint64_t scr) {
  return {0x00, 0x00, 0x01, 0xBA, static_cast<uint8_t>(0x21 | ((scr >> 30) & 7) << 1),
          static_cast<uint8_t>(scr >> 22), static_cast<uint8_t>(0x01 | ((scr >> 15) & 0x7F) << 1),
          static_cast<uint8_t>(scr >> 7), static_cast<uint8_t>(0x01 | (scr & 0x7F) << 1)};
}

TEST(MpegPackClock, HeadersWorkedOutByHand) {
  EXPECT_EQ(Mpeg2PackScr(View("\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01\x01\x89\xC3\xF8"sv)), 0u);
  EXPECT_EQ(Mpeg2PackScr(View("\x00\x00\x01\xBA\x44\x00\x4F\x0F\xFC\x01\x01\x89\xC3\xF8"sv)), 319999u);
  EXPECT_EQ(Mpeg2PackScr(View("\x00\x00\x01\xBA\x44\x00\x4F\x10\x04\x01\x01\x89\xC3\xF8"sv)), 320000u);
  EXPECT_EQ(Mpeg2PackScr(View("\x00\x00\x01\xBA\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"sv)), kLargestClock);
  EXPECT_EQ(Mpeg1PackScr(View("\x00\x00\x01\xBA\x21\x00\x05\xBF\x21\x80\x1B\x91"sv)), 90000u);  // 1 s
  EXPECT_EQ(Mpeg1PackScr(View("\x00\x00\x01\xBA\x29\x00\x01\x00\x01\x80\x1B\x91"sv)), uint64_t{1} << 32);
  EXPECT_EQ(Mpeg1PackScr(View("\x00\x00\x01\xBA\x2F\xFF\xFF\xFF\xFF\x80\x1B\x91"sv)), kLargestClock);
}

TEST(MpegPackClock, EveryClockBitLandsInItsPlace) {
  for (int bit = 0; bit < 33; ++bit) {
    EXPECT_EQ(Mpeg2PackScr(View(Mpeg2Header(uint64_t{1} << bit))), uint64_t{1} << bit) << bit;
    EXPECT_EQ(Mpeg1PackScr(View(Mpeg1Header(uint64_t{1} << bit))), uint64_t{1} << bit) << bit;
  }
}

TEST(MpegPackClock, ClearedMarkerOrMissingBytesGiveZero) {
  for (size_t markerByte : {4, 6, 8}) {
    auto mpeg2 = Mpeg2Header(kLargestClock);
    mpeg2[markerByte] &= ~0x04;
    EXPECT_EQ(Mpeg2PackScr(View(mpeg2)), 0u) << markerByte;
    auto mpeg1 = Mpeg1Header(kLargestClock);
    mpeg1[markerByte] &= ~0x01;
    EXPECT_EQ(Mpeg1PackScr(View(mpeg1)), 0u) << markerByte;
  }
  auto mpeg2 = Mpeg2Header(12345);
  mpeg2[9] = 0;  // the marker after the extension is no clock marker
  EXPECT_EQ(Mpeg2PackScr(View(mpeg2)), 12345u);
  EXPECT_EQ(Mpeg2PackScr(ByteView(mpeg2.data(), 8)), 0u);
  EXPECT_EQ(Mpeg1PackScr(ByteView()), 0u);
}

}  // namespace
}  // namespace morvane
