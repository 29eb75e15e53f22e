#include "scan/progress.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace morvane {
namespace {

// The real clock, with no bound that a busy machine could break: the tick moves in steps of
// 200 and never runs ahead of the milliseconds that have passed since the clock was made.
TEST(ProgressTick, MovesInStepsOfTwoHundredAndNeverAheadOfTime) {
  using namespace std::chrono;
  const auto before = steady_clock::now();
  ProgressClock clock;
  auto passed = [&] { return duration_cast<milliseconds>(steady_clock::now() - before).count(); };
  uint32_t tick = clock.ProgressTick();
  EXPECT_LE(tick, passed());
  while ((tick = clock.ProgressTick()) < 400) std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(tick % 200, 0u);
  EXPECT_LE(tick, passed());
}

TEST(ProgressTick, DisplaysAreDueOncePerTick) {
  ProgressClock clock{ProgressClock::Manual{}};
  ProgressPacer pacer(clock);
  EXPECT_FALSE(pacer.Due());  // nothing has moved yet
  clock.Advance();
  EXPECT_TRUE(pacer.Due());
  EXPECT_FALSE(pacer.Due());  // once per tick
  clock.Advance();
  clock.Advance();  // a late display catches up in one go
  EXPECT_TRUE(pacer.Due());
  EXPECT_EQ(pacer.ProgressShown, 600u);
  EXPECT_FALSE(pacer.Due());
}

}  // namespace
}  // namespace morvane
