// The progress tick: a counter that advances by 200 every 200 ms of a monotonic clock.
// A small timer thread moves it, so hot loops read one atomic instead of the clock.
// Displays refresh only when the tick has moved since they last showed (ProgressShown).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace morvane {

class ProgressClock {
 public:
  ProgressClock();
  // A clock that moves only when told to (Advance), with no thread: for tests that must not
  // depend on how fast the machine runs.
  struct Manual {};
  explicit ProgressClock(Manual) {}
  ~ProgressClock();
  ProgressClock(const ProgressClock&) = delete;
  ProgressClock& operator=(const ProgressClock&) = delete;

  uint32_t ProgressTick() const { return tick_.load(std::memory_order_relaxed); }
  // Moves a manual clock on by one step.
  void Advance() { tick_.fetch_add(200, std::memory_order_relaxed); }

 private:
  void Run();
  std::atomic<uint32_t> tick_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

// The pacing rule: Due() is true once per tick; the caller then updates its display.
class ProgressPacer {
 public:
  explicit ProgressPacer(const ProgressClock& clock) : clock_(&clock) {}
  bool Due() {
    uint32_t tick = clock_->ProgressTick();
    if (tick == ProgressShown) return false;
    ProgressShown = tick;
    return true;
  }
  uint32_t ProgressShown = 0;

 private:
  const ProgressClock* clock_;
};

}  // namespace morvane
