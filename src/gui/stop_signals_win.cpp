#include "gui/stop_signals.h"

#include <windows.h>

#include <QMetaObject>

#include <atomic>

namespace morvane {
namespace {

StopSignals* receiver = nullptr;
std::atomic<int> events{0};

// Ctrl-C or Ctrl-Break in the console the program was started from, that console closed, a
// log-off or a shutdown. Windows runs the handler on a thread of its own: the event is handed
// to the window thread, and a second one gets the default action (the program ends at once).
BOOL WINAPI OnConsoleEvent(DWORD type) {
  if (++events > 1 || !receiver) return FALSE;
  StopSignals* to = receiver;
  QMetaObject::invokeMethod(to, [to, type] { emit to->Received(static_cast<int>(type)); }, Qt::QueuedConnection);
  return TRUE;
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent), notifier_(nullptr) {
  receiver = this;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  receiver = nullptr;
}

void StopSignals::Read() {}

}  // namespace morvane
