// The deep scan on a thread of its own.
//
// The window thread prepares the scan (checks, ScanContext) and hands it over; RunScan then
// runs on a worker thread while the windows stay responsive. What the engine reports there
// comes back to the window thread as signals of this object; the one question of a scan
// (a recovered file could not be written) is asked on the window thread while the worker
// waits for the answer. Pause, stop and cancel only set the scan's run flags.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "scan/scan_driver.h"
#include "scan/scan_state.h"
#include "scan/scan_summary.h"

namespace morvane {

class ScanWorker : public QObject {
  Q_OBJECT

 public:
  explicit ScanWorker(QObject* parent = nullptr);
  // Stops a running scan and waits for its thread.
  ~ScanWorker() override;

  // Runs `scan` with `recognisers` on the worker thread. The scan's source and clock must
  // outlive the run; `scan` must have been created with Observer() as its observer.
  // False when a scan is still running.
  // With a keeper the scan saves where it stands as it goes and, when the keeper loaded a
  // state (put back into `scan` with RestoreScan), continues it; the keeper is begun here,
  // and a scan that runs to its end removes the state.
  bool Start(std::unique_ptr<ScanContext> scan, const TSourceGeometry& detected, const RecogniserTable& recognisers,
             std::unique_ptr<ScanStateKeeper> keeper = nullptr);
  bool Running() const { return running_; }

  // The observer to create the ScanContext with.
  ScanObserver* Observer();
  // The scan being run (null when idle): its counters may be read on any thread.
  const ScanContext* Scan() const { return scan_.get(); }
  // The last scan's closing facts (report, files by kind, bytes read, time, files that
  // could not be written), complete when Finished is emitted; the folder is left to the
  // caller.
  const ScanOutcome& Outcome() const { return outcome_; }

  // Answers the save-failure question on the window thread; unset: Ignore.
  std::function<SaveFailureChoice(const QString& fileName)> AskSaveFailed;

 public slots:
  void Pause(bool down);   // the pause toggle of the recovery window
  void StopScan();         // Stop: ends the recovery passes (and a search still running)
  void CancelSearch();     // Cancel of the search window
  // Stops the scan as Stop does, nobody being there to answer: a question it waits on, or
  // asks later, is answered Abort.
  void StopUnattended();
  // Stops the scan and returns once its thread has ended, serving the window thread's
  // events meanwhile; a question asked while stopping is answered Abort.
  void StopAndWait();

 signals:
  void PhaseChanged(int pass);  // a ScanPass
  void FreeSpaceProgress(qint64 total, qint64 done);
  void SearchProgress(qint64 sector, qint64 rangeSectors, qint64 done, quint32 found);
  void VoteProgress(qint64 sector, qint64 count, qint64 done);
  void RecoveryProgress(int pass, qint64 done, qint64 count, qint64 sector, int recovered);
  void CopyProgress(qint64 fileStartSector, qint64 currentSector);
  void FileRecovered(const QString& path, const QString& kind);  // kind: the extension, "JPG"
  void FileWithdrawn(const QString& kind);  // a file reported recovered was part of another
  // The work files of the stream search could not be created; the scan waits until every
  // receiver has returned (connect it directly, on the window thread).
  void WorkFilesFailed();
  // The scan has ended; the worker thread is gone and Running() is false.
  void Finished(const morvane::ScanReport& report);

 private:
  class Bridge;
  void Join();

  std::unique_ptr<Bridge> observer_;
  std::unique_ptr<ScanContext> scan_;
  std::unique_ptr<ScanStateKeeper> keeper_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopping_{false};
  ScanOutcome outcome_;
};

}  // namespace morvane
