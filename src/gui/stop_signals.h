// SIGTERM, SIGHUP and SIGINT for the desktop program (on Windows, the console's Ctrl-C,
// Ctrl-Break, close, log-off and shutdown events): the first one is handed to the window
// thread as the Received signal (the program then stops as Stop does and cleans up); a
// second one ends the program at once.
#pragma once

#include <QObject>

class QSocketNotifier;

namespace morvane {

class StopSignals : public QObject {
  Q_OBJECT

 public:
  // Installs the handlers; one object per process.
  explicit StopSignals(QObject* parent = nullptr);
  ~StopSignals() override;

 signals:
  void Received(int signalNumber);  // on Windows, the console event's type

 private:
  void Read();
  QSocketNotifier* notifier_;
};

}  // namespace morvane
