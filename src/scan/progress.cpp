#include "scan/progress.h"

#include <chrono>

namespace morvane {

ProgressClock::ProgressClock() : thread_([this] { Run(); }) {}

ProgressClock::~ProgressClock() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ProgressClock::Run() {
  using namespace std::chrono;
  auto start = steady_clock::now();
  std::unique_lock lock(mutex_);
  for (uint64_t step = 1;; ++step) {
    if (wake_.wait_until(lock, start + milliseconds(200 * step), [this] { return stopping_; })) return;
    // A late wake-up moves the tick to where the clock is, not one step at a time.
    auto elapsed = duration_cast<milliseconds>(steady_clock::now() - start).count();
    step = static_cast<uint64_t>(elapsed / 200);
    tick_.store(static_cast<uint32_t>(step * 200), std::memory_order_relaxed);
  }
}

}  // namespace morvane
