#include "cli/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "scan/scan_driver.h"

namespace morvane::cli {

void RemoveLeftovers(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ec;
  std::filesystem::remove(std::filesystem::path(folder) / kStreamStartsFile, ec);
  std::filesystem::remove(std::filesystem::path(folder) / kStreamTypesFile, ec);
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    if (e.path().extension() == ".part") std::filesystem::remove(e.path(), ec);
}

namespace {
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR2);
  return set;
}
}  // namespace

void BlockInterrupts() {
  sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// SIGINT is blocked in every thread and taken by sigwait on a watcher thread, so that the
// reaction runs as ordinary code, not in a signal handler. SIGUSR2 wakes the watcher to end.
InterruptWatch::InterruptWatch(std::function<void()> onFirst, std::string cleanupFolder) {
  BlockInterrupts();
  sigset_t set = WatchedSignals();
  std::thread watcher([set, onFirst = std::move(onFirst), folder = std::move(cleanupFolder)] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0 || sig == SIGUSR2) return;
      if (++presses_ == 1) {
        if (onFirst) onFirst();
      } else {
        RemoveLeftovers(folder);
        _exit(130);
      }
    }
  });
  watcher_ = watcher.native_handle();
  watcher.detach();
}

InterruptWatch::~InterruptWatch() { pthread_kill(static_cast<pthread_t>(watcher_), SIGUSR2); }

}  // namespace morvane::cli
