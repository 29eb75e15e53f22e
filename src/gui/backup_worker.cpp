#include "gui/backup_worker.h"

#include <QMetaObject>

#include "gui/thread_question.h"

namespace morvane {

class BackupWorker::Bridge : public BackupObserver {
 public:
  explicit Bridge(BackupWorker* owner) : owner_(owner) {}
  void OnFreeSpaceProgress(int64_t total, int64_t done) override {
    Post([=](BackupWorker* w) { emit w->FreeSpaceProgress(total, done); });
  }
  void OnCreatingImage() override {
    Post([](BackupWorker* w) { emit w->CreatingImage(); });
  }
  void OnBackupProgress(int64_t sector, int64_t range, int64_t done, int64_t bad) override {
    Post([=](BackupWorker* w) { emit w->BackupProgress(sector, range, done, bad); });
  }
  bool DeletePartialImage() override {
    BackupWorker* w = owner_;
    // Shutting down: the partial image is removed rather than left half-written.
    return AskOnWindowThread<bool>(w, w->stopping_, true,
                                   [w] { return w->AskDeletePartial ? w->AskDeletePartial() : false; });
  }

 private:
  template <typename F>
  void Post(F f) {
    PostTo(owner_, f);
  }
  BackupWorker* owner_;
};

BackupWorker::BackupWorker(QObject* parent) : QObject(parent) {}

BackupWorker::~BackupWorker() {
  stopping_ = true;
  searchStop_ = true;
  Join();
}

bool BackupWorker::Start(Source& source, const BackupRequest& request, const ProgressClock& clock) {
  if (running_) return false;
  Join();
  stopping_ = false;
  searchStop_ = false;
  running_ = true;
  thread_ = std::thread([this, &source, request, &clock] {
    Bridge bridge(this);
    BackupResult result = RunImageBackup(source, request, clock, searchStop_, bridge);
    QMetaObject::invokeMethod(
        this,
        [this, result] {
          Join();
          running_ = false;
          emit Finished(result);
        },
        Qt::QueuedConnection);
  });
  return true;
}

void BackupWorker::Cancel() { searchStop_ = true; }

void BackupWorker::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace morvane
