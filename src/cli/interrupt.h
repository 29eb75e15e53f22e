// Ctrl-C on the command line: the first press asks the running job to stop (it finishes
// its report and removes its work files); the second ends the program at once, after
// removing the work files and partly written files of the output folder. One watch at a
// time per process.
#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace morvane::cli {

class InterruptWatch {
 public:
  // `onFirst` runs on a watcher thread at the first Ctrl-C; `cleanupFolder` is swept of
  // work files and ".part" files at the second.
  InterruptWatch(std::function<void()> onFirst, std::string cleanupFolder);
  ~InterruptWatch();
  static bool Interrupted() { return presses_ > 0; }

 private:
  static inline std::atomic<int> presses_{0};
  unsigned long watcher_ = 0;  // pthread_t of the watcher thread
};

// Blocks Ctrl-C in the calling thread and every thread started after it; main calls it
// first of all, so that only the watcher ever receives the signal.
void BlockInterrupts();

// Removes the scan's work files and every partly written file in `folder`.
void RemoveLeftovers(const std::string& folder);

}  // namespace morvane::cli
