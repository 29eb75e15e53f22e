#include "gui/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace morvane {
namespace {

int pipeEnds[2] = {-1, -1};
constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};

// Only async-signal-safe calls: the number goes through the pipe, and the next signal of
// these kinds takes its default action (the program ends at once).
void OnSignal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] ssize_t n = ::write(pipeEnds[1], &byte, 1);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s : kSignals) ::sigaction(s, &dfl, nullptr);
}

}  // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
  if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) pipeEnds[0] = pipeEnds[1] = -1;
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::Read);
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int s : kSignals) ::sigaction(s, &sa, nullptr);
}

StopSignals::~StopSignals() {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int s : kSignals) ::sigaction(s, &dfl, nullptr);
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  pipeEnds[0] = pipeEnds[1] = -1;
}

void StopSignals::Read() {
  unsigned char byte = 0;
  while (::read(pipeEnds[0], &byte, 1) == 1) emit Received(byte);
}

}  // namespace morvane
