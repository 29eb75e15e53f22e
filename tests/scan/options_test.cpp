#include "scan/scan_options.h"

#include <gtest/gtest.h>

#include <thread>

#include "scan/datetime.h"

namespace morvane {
namespace {

TEST(ScanOptions, DateEntries) {
  EXPECT_EQ(ParseDateEntry("2009-05-01", false), 39934.0);
  EXPECT_EQ(ParseDateEntry("  2009/5/1 ", true), 39934.0);
  EXPECT_EQ(ParseDateEntry("", false), kNoDateFrom);
  EXPECT_EQ(ParseDateEntry(" \t", true), kNoDateTo);

  for (std::string_view bad : {"1900-02-29", "2009-13-01", "2009-00-10", "2009-05-32", "09-05-01",
                               "2009-05/01", "2009-5-1x", "2009-05-01 12:00", "yesterday", "-2009-05-01"}) {
    EXPECT_EQ(ParseDateEntry(bad, false), kInvalidDateEntry) << bad;
    EXPECT_EQ(ParseDateEntry(bad, true), kInvalidDateEntry) << bad;
  }
}

TEST(ScanOptions, TakePhotoDateRangeStopsAtFirstBadEntry) {
  ScanOptions o;
  EXPECT_EQ(TakePhotoDateRange(o, "2009-05-01", "2009-13-01", false), DateRangeCheck::InvalidTo);
  EXPECT_EQ(o.DateFrom, 39934.0);
  EXPECT_TRUE(o.KeepUndatedPhotos);  // not taken yet

  EXPECT_EQ(TakePhotoDateRange(o, "x", "", false), DateRangeCheck::InvalidFrom);
  // Each refusal has its own text in each language (Traditional Chinese is not Simplified).
  for (DateRangeCheck c : {DateRangeCheck::InvalidFrom, DateRangeCheck::InvalidTo, DateRangeCheck::FromAfterTo}) {
    const std::string_view en = DateRangeCheckText(c, Language::English), cn = DateRangeCheckText(c, Language::SimplifiedChinese),
                           tw = DateRangeCheckText(c, Language::TraditionalChinese);
    EXPECT_TRUE(!en.empty() && !cn.empty() && !tw.empty() && en != cn && cn != tw) << int(c);
  }
  EXPECT_EQ(TakePhotoDateRange(o, "", "", false), DateRangeCheck::Ok);
  EXPECT_EQ(o.DateFrom, kNoDateFrom);
  EXPECT_EQ(o.DateTo, kNoDateTo);
  EXPECT_FALSE(o.KeepUndatedPhotos);
}

TEST(ScanOptions, PhotoFilterTakesTheWholeLastDay) {
  ScanOptions o;
  ASSERT_EQ(TakePhotoDateRange(o, "2009-05-01", "2009-05-01", true), DateRangeCheck::Ok);
  EXPECT_TRUE(PhotoPasses(*EncodeDateTime(2009, 5, 1, 0, 0, 0), o));
  EXPECT_TRUE(PhotoPasses(*EncodeDateTime(2009, 5, 1, 23, 59, 59), o));
  EXPECT_FALSE(PhotoPasses(*EncodeDateTime(2009, 5, 2, 0, 0, 0), o));
  EXPECT_FALSE(PhotoPasses(*EncodeDateTime(2009, 4, 30, 23, 59, 59), o));
  EXPECT_TRUE(PhotoPasses(-1.0, o));

  // Both entries empty: every dated photo passes, undated ones only when kept.
  ASSERT_EQ(TakePhotoDateRange(o, "", "", false), DateRangeCheck::Ok);
  EXPECT_TRUE(PhotoPasses(0.0, o) && PhotoPasses(*EncodeDate(2150, 1, 1), o));
  EXPECT_FALSE(PhotoPasses(-1.0, o));
}

TEST(ScanOptions, ClusterSizes) {
  EXPECT_EQ(SectorsPerClusterForItem(ClusterItemForText("4K"), 512), 8u);
  EXPECT_EQ(SectorsPerClusterForItem(ClusterItemForText("0.5K"), 4096), 1u);
  EXPECT_EQ(SectorsPerClusterForItem(ClusterItemForText(" 32K "), 4096), 8u);
  EXPECT_EQ(ClusterItemForText("4096"), 3);
  EXPECT_EQ(ClusterItemForText("512"), 0);
  EXPECT_EQ(ClusterItemForText("3K"), -1);
  EXPECT_EQ(SectorsPerClusterForItem(9, 512), 0u);
}

TEST(ScanOptions, CameraModes) {
  EXPECT_EQ(CameraModeForItem(0), TCameraMode{});
  EXPECT_TRUE(CameraModeForItem(CameraModeItemForName("Canon")).CanonPanasonic);
  TCameraMode ordro = CameraModeForItem(CameraModeItemForName("ordro"));
  EXPECT_TRUE(ordro.Ordro && !ordro.Sony && !ordro.Samsung && !ordro.CanonPanasonic);
  EXPECT_EQ(CameraModeItemForName("nikon"), -1);
  EXPECT_EQ(CameraModeForItem(7), TCameraMode{});
}

TEST(ScanOptions, RunStateStopWinsOverPause) {
  std::atomic<RunState> state{rsRunning};
  PauseButtonClick(state, true);
  EXPECT_EQ(state, rsPaused);

  // A stop from another thread ends the pause at once. The stop comes once the paused run
  // has idled, so a slow machine cannot let it land before the wait begins.
  std::atomic<int> idles{0};
  std::thread stopper([&] {
    while (idles == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    StopButtonClick(state);
  });
  EXPECT_FALSE(ContinueRun(state, [&] { ++idles; }));
  stopper.join();
  EXPECT_GT(idles, 0);

  // Releasing the pause button afterwards does not restart a stopped run.
  PauseButtonClick(state, false);
  EXPECT_EQ(state, rsStopped);
  state = rsRunning;
  EXPECT_TRUE(ContinueRun(state));
}

}  // namespace
}  // namespace morvane
