#include "scan/progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace morvane {
namespace {

TEST(ProgressTick, AdvancesInStepsOfTwoHundredAndPacesDisplays) {
  ProgressClock clock;
  ProgressPacer pacer(clock);
  EXPECT_EQ(clock.ProgressTick(), 0u);
  EXPECT_FALSE(pacer.Due());  // nothing has moved yet
  std::this_thread::sleep_for(std::chrono::milliseconds(450));
  uint32_t tick = clock.ProgressTick();
  EXPECT_EQ(tick % 200, 0u);
  EXPECT_GE(tick, 200u);
  EXPECT_LE(tick, 1000u);
  EXPECT_TRUE(pacer.Due());
  EXPECT_FALSE(pacer.Due());  // once per tick
}

}  // namespace
}  // namespace morvane
