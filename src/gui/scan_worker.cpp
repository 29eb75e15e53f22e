#include "gui/scan_worker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <chrono>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <sstream>

#include "gui/thread_question.h"

namespace morvane {

// The scan's observer, called on the worker thread: every report is posted to the worker
// object, whose signals then fire on the window thread in the order the engine reported.
class ScanWorker::Bridge : public ScanObserver {
 public:
  explicit Bridge(ScanWorker* owner) : owner_(owner) {}

  void OnCopyProgress(int64_t start, int64_t current) override {
    Post([start, current](ScanWorker* w) { emit w->CopyProgress(start, current); });
  }
  // The question shows the file and the system's reason ("No space left on device").
  SaveFailureChoice OnSaveFailedBecause(const std::string& fileName, int error) override {
    QString name = QString::fromStdString(fileName) + QStringLiteral("\n\n") + QString::fromLocal8Bit(std::strerror(error));
    ScanWorker* w = owner_;
    SaveFailureChoice choice = AskOnWindowThread<SaveFailureChoice>(
        w, w->stopping_, SaveFailureChoice::Abort,
        [w, name] { return w->AskSaveFailed ? w->AskSaveFailed(name) : SaveFailureChoice::Ignore; });
    if (choice != SaveFailureChoice::Retry) ++WriteFailures;
    return choice;
  }
  void OnFileRecovered(const RecoveredFileInfo& file) override {
    Tally.Add(file.Extension, file.Length);
    QString name = QString::fromStdString(file.Name), kind = QString::fromStdString(file.Extension);
    if (kind.startsWith(QLatin1Char('.'))) kind.remove(0, 1);
    Post([name, kind](ScanWorker* w) { emit w->FileRecovered(name, kind); });
  }
  // A frame taken back by its movie leaves the tally and the window's kinds line.
  void OnFileWithdrawn(const RecoveredFileInfo& file) override {
    if (file.Name.empty()) return;
    Tally.Remove(file.Extension, file.Length);
    QString kind = QString::fromStdString(file.Extension);
    if (kind.startsWith(QLatin1Char('.'))) kind.remove(0, 1);
    Post([kind](ScanWorker* w) { emit w->FileWithdrawn(kind); });
  }
  // Kept on the worker thread, read once it has ended.
  RecoveredTally Tally;
  int WriteFailures = 0;
  double SecondsBefore = 0;  // the time a continued scan ran before

  // The totals for a saved scan (at `seconds` into it): the seconds and the write failures,
  // then a line per kind with its files and bytes; and the same taken back.
  std::string Record(double seconds) const {
    std::ostringstream out;
    out << seconds << ' ' << WriteFailures << '\n';
    for (const auto& [kind, n] : Tally.ByKind()) out << kind << ' ' << n << ' ' << Tally.BytesByKind().at(kind) << '\n';
    return out.str();
  }
  void Restore(const std::string& text) {
    std::istringstream in(text);
    in >> SecondsBefore >> WriteFailures;
    std::string kind;
    int files = 0;
    int64_t bytes = 0;
    while (in >> kind >> files >> bytes) Tally.AddKind(kind, files, bytes);
  }

  void OnPhase(ScanPass pass) override {
    Post([pass](ScanWorker* w) { emit w->PhaseChanged(static_cast<int>(pass)); });
  }
  void OnFreeSpaceProgress(int64_t total, int64_t done) override {
    Post([total, done](ScanWorker* w) { emit w->FreeSpaceProgress(total, done); });
  }
  void OnSearchProgress(int64_t sector, int64_t range, int64_t done, uint32_t found) override {
    Post([=](ScanWorker* w) { emit w->SearchProgress(sector, range, done, found); });
  }
  void OnVoteProgress(int64_t sector, int64_t count, int64_t done) override {
    Post([=](ScanWorker* w) { emit w->VoteProgress(sector, count, done); });
  }
  void OnRecoveryProgress(ScanPass pass, int64_t done, int64_t count, int64_t sector, int32_t recovered) override {
    Post([=](ScanWorker* w) { emit w->RecoveryProgress(static_cast<int>(pass), done, count, sector, recovered); });
  }
  // The message is shown before the scan goes on, and the scan waits until it is read, so
  // that it never lands on top of (or behind) the windows of the later passes.
  void OnWorkFilesFailed() override {
    ScanWorker* w = owner_;
    AskOnWindowThread<bool>(w, w->stopping_, false, [w] {
      emit w->WorkFilesFailed();
      return true;
    });
  }

 private:
  template <typename F>
  void Post(F f) {
    PostTo(owner_, f);
  }
  ScanWorker* owner_;
};

ScanWorker::ScanWorker(QObject* parent) : QObject(parent), observer_(std::make_unique<Bridge>(this)) {}

ScanObserver* ScanWorker::Observer() { return observer_.get(); }

ScanWorker::~ScanWorker() {
  stopping_ = true;
  StopScan();
  Join();
}

bool ScanWorker::Start(std::unique_ptr<ScanContext> scan, const TSourceGeometry& detected,
                       const RecogniserTable& recognisers, std::unique_ptr<ScanStateKeeper> keeper) {
  if (running_ || !scan) return false;
  Join();
  stopping_ = false;
  scan_ = std::move(scan);
  observer_->Tally = {};
  observer_->WriteFailures = 0;
  observer_->SecondsBefore = 0;
  const auto started = std::chrono::steady_clock::now();
  keeper_ = std::move(keeper);
  if (keeper_ && keeper_->Loaded()) observer_->Restore(keeper_->LoadedFrontEnd());
  if (keeper_) {
    Bridge* bridge = observer_.get();
    keeper_->SetFrontEnd([bridge, started] {
      return bridge->Record(bridge->SecondsBefore +
                            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    });
    if (!keeper_->Begin()) keeper_.reset();  // the scan runs, but cannot be continued later
  }
  running_ = true;
  ScanContext* context = scan_.get();
  const RecogniserTable* table = &recognisers;
  thread_ = std::thread([this, context, detected, table, started] {
    ScanReport report = RunScan(*context, detected, *table, keeper_.get());
    // A scan that lost its work files cannot be continued: nothing of it stays behind.
    if (keeper_ && (!report.Stopped || report.WorkFilesFailed)) keeper_->Finish();
    // Posted after every report of the scan, so it arrives last.
    QMetaObject::invokeMethod(
        this,
        [this, report, started] {
          Join();
          outcome_ = {};
          outcome_.Report = report;
          outcome_.Tally = observer_->Tally;
          outcome_.WriteFailures = observer_->WriteFailures;
          outcome_.BytesRead = scan_->BytesRead;
          outcome_.Seconds = observer_->SecondsBefore +
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
          scan_.reset();
          keeper_.reset();
          running_ = false;
          emit Finished(report);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void ScanWorker::Pause(bool down) {
  if (scan_) PauseButtonClick(scan_->RunState, down);
}

void ScanWorker::StopScan() {
  if (!scan_) return;
  scan_->SearchStop = true;
  StopButtonClick(scan_->RunState);
}

void ScanWorker::CancelSearch() {
  if (scan_) scan_->SearchStop = true;
}

void ScanWorker::StopUnattended() {
  if (!running_) return;
  stopping_ = true;
  StopScan();
}

void ScanWorker::StopAndWait() {
  if (!running_) return;
  StopUnattended();
  QEventLoop loop;
  connect(this, &ScanWorker::Finished, &loop, &QEventLoop::quit);
  if (running_) loop.exec();
}

void ScanWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace morvane
