// Ctrl-C, SIGTERM and SIGHUP on the command line (a closed terminal, a shutdown, `timeout`):
// the first asks the running job to stop (it finishes the file at hand, writes its report
// and removes its work files); the second ends the program at once, after deleting the
// files this process was still writing (temporary files, work files, a partial image).
// Nothing else is ever removed. One watch at a time per process.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace morvane::cli {

class InterruptWatch {
 public:
  // `onFirst` runs on a watcher thread at the first signal.
  explicit InterruptWatch(std::function<void()> onFirst);
  ~InterruptWatch();
  static bool Interrupted() { return presses_ > 0; }

 private:
  static inline std::atomic<int> presses_{0};
  unsigned long watcher_ = 0;  // pthread_t of the watcher thread
};

// Blocks the stop signals in the calling thread and every thread started after it; main
// calls it first of all, so that only the watcher ever receives them.
void BlockInterrupts();

}  // namespace morvane::cli
