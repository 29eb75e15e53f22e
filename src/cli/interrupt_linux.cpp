#include "cli/interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "cli/cli.h"
#include "scan/recovered_file.h"

namespace morvane::cli {

namespace {
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR2);
  return set;
}
}  // namespace

void BlockInterrupts() {
  sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

// The signals are blocked in every thread and taken by sigwait on a watcher thread, so that
// the reaction runs as ordinary code, not in a signal handler. SIGUSR2 wakes the watcher to end.
InterruptWatch::InterruptWatch(std::function<void()> onFirst) {
  BlockInterrupts();
  sigset_t set = WatchedSignals();
  std::thread watcher([set, onFirst = std::move(onFirst)] {
    for (;;) {
      int sig = 0;
      if (sigwait(&set, &sig) != 0 || sig == SIGUSR2) return;
      if (++presses_ == 1) {
        if (onFirst) onFirst();
      } else {
        RemoveAllFilesInProgress();
        _exit(kExitStopped);
      }
    }
  });
  watcher_ = watcher.native_handle();
  watcher.detach();
}

InterruptWatch::~InterruptWatch() { pthread_kill(static_cast<pthread_t>(watcher_), SIGUSR2); }

}  // namespace morvane::cli
