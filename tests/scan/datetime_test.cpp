#include "scan/datetime.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_support.h"

namespace morvane {
namespace {

TEST(DateTime, EncodesDayCounts) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1899, 12, 31), 1.0);
  EXPECT_EQ(EncodeDate(1900, 3, 1), 61.0);
  EXPECT_EQ(EncodeDate(2009, 5, 1), 39934.0);
  EXPECT_EQ(EncodeDate(2173, 10, 13), 99999.0);
  EXPECT_EQ(EncodeDateTime(1899, 12, 31, 6, 0, 0), 1.25);

  EXPECT_TRUE(EncodeDate(2000, 2, 29));
  EXPECT_FALSE(EncodeDate(1900, 2, 29));
  EXPECT_FALSE(EncodeDate(2009, 13, 1));
  EXPECT_FALSE(EncodeDate(0, 1, 1));
  EXPECT_FALSE(EncodeDateTime(2009, 5, 1, 24, 0, 0));
}

TEST(DateTime, DecodeIsTheInverse) {
  TDateTimeParts p{2000, 12, 31, 23, 59, 59, 999};
  EXPECT_EQ(DecodeDateTime(*EncodeDateTime(2000, 12, 31, 23, 59, 59, 999)), p);
  p = {1899, 12, 29, 18, 30, 15, 0};
  EXPECT_EQ(DecodeDateTime(*EncodeDateTime(1899, 12, 29, 18, 30, 15)), p);
  // Every day of a leap-year span round-trips.
  for (int day = 36000; day < 37500; ++day) {
    std::optional<TDateTimeParts> p = DecodeDateTime(day + 0.5);
    ASSERT_TRUE(p);
    EXPECT_EQ(EncodeDate(p->Year, p->Month, p->Day), day);
    EXPECT_EQ(p->Hour, 12);
  }
  EXPECT_FALSE(DecodeDateTime(NAN));
  EXPECT_FALSE(DecodeDateTime(*EncodeDate(9999, 12, 31) + 1.0));
  EXPECT_FALSE(DecodeDateTime(*EncodeDate(1, 1, 1) - 0.001));
}

TEST(DateTime, RoundsDownToTwoSeconds) {
  TDateTime t = *EncodeDateTime(2009, 5, 1, 10, 0, 3, 900);
  EXPECT_EQ(DecodeDateTime(RoundDownToTwoSeconds(t)), (TDateTimeParts{2009, 5, 1, 10, 0, 2, 0}));
  EXPECT_TRUE(std::isnan(RoundDownToTwoSeconds(NAN)));
}

TEST(DateTime, LocalTimeConversions) {
  if (!test::CanSetTimeZone()) GTEST_SKIP() << "no POSIX time zone rules on this system";
  // Central European time: summer time from the last Sunday of March.
  test::InTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", [] {
    EXPECT_EQ(LocalDateTimeToUnix(*EncodeDateTime(2009, 5, 1, 12, 0, 0)), 1241172000);  // UTC+2
    EXPECT_EQ(LocalDateTimeToUnix(*EncodeDateTime(2009, 1, 1, 12, 0, 0)), 1230807600);  // UTC+1
    std::optional<timespec> ts = LocalDateTimeToTimespec(*EncodeDateTime(2009, 1, 1, 12, 0, 0, 250));
    ASSERT_TRUE(ts);
    EXPECT_EQ(ts->tv_sec, 1230807600);
    EXPECT_EQ(ts->tv_nsec, 250000000);
    EXPECT_EQ(UnixToLocalDateTime(1241172000), EncodeDateTime(2009, 5, 1, 12, 0, 0));
    EXPECT_FALSE(LocalDateTimeToUnix(NAN));
  });
}

}  // namespace
}  // namespace morvane
