#include <windows.h>

#include "cli/cli.h"
#include "cli/interrupt.h"
#include "scan/recovered_file.h"

namespace morvane::cli {

namespace {

std::function<void()> firstReaction;
PHANDLER_ROUTINE installedHandler = nullptr;

}  // namespace

// Nothing to block: console events do not interrupt threads on this system.
void BlockInterrupts() {}

// Ctrl-C, Ctrl-Break, a closed console window, a log-off or a shutdown. Windows runs the
// handler on a thread of its own, so the reaction runs there as ordinary code.
InterruptWatch::InterruptWatch(std::function<void()> onFirst) {
  firstReaction = std::move(onFirst);
  installedHandler = [](DWORD) -> BOOL {
    if (++presses_ == 1) {
      if (firstReaction) firstReaction();
    } else {
      RemoveAllFilesInProgress();
      ExitProcess(kExitStopped);
    }
    return TRUE;
  };
  SetConsoleCtrlHandler(installedHandler, TRUE);
}

InterruptWatch::~InterruptWatch() { SetConsoleCtrlHandler(installedHandler, FALSE); }

}  // namespace morvane::cli
