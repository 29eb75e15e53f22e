// The image backup on a thread of its own, reporting to the window thread by signals.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

#include "scan/image_backup.h"

namespace morvane {

class BackupWorker : public QObject {
  Q_OBJECT

 public:
  explicit BackupWorker(QObject* parent = nullptr);
  // Cancels a running backup and waits for its thread.
  ~BackupWorker() override;

  // Copies with RunImageBackup on the worker thread. `source` and `clock` must outlive the
  // run. False when a backup is still running.
  bool Start(Source& source, const BackupRequest& request, const ProgressClock& clock);
  bool Running() const { return running_; }

  // Asked on the window thread when the backup was cancelled after the image was created:
  // true deletes the partial image. Unset: keep it.
  std::function<bool()> AskDeletePartial;

 public slots:
  void Cancel();  // the cancel button of the backup window

 signals:
  void FreeSpaceProgress(qint64 total, qint64 done);
  void CreatingImage();
  void BackupProgress(qint64 sector, qint64 rangeSectors, qint64 doneSectors, qint64 badSectors);
  // The backup has ended; the worker thread is gone and Running() is false.
  void Finished(const morvane::BackupResult& result);

 private:
  class Bridge;
  void Join();

  std::thread thread_;
  std::atomic<bool> searchStop_{true};
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
};

}  // namespace morvane
