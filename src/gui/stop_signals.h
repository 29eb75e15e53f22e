// SIGTERM, SIGHUP and SIGINT for the desktop program: the first one is handed to the window
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
  void Received(int signalNumber);

 private:
  void Read();
  QSocketNotifier* notifier_;
};

}  // namespace morvane
