#include "scan/copies_ahead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <new>
#include <system_error>

#include "scan/checks_ahead.h"
#include "scan/recovered_file.h"
#include "storage/files.h"

namespace morvane {
namespace {

constexpr int64_t kPeekBytes = 4096;
constexpr int64_t kWalkReadAheadBytes = int64_t{64} << 10;  // the most a walk reads at once

// The source as a finder reads it, noting how far it looked.
class LookingSource : public Source {
 public:
  explicit LookingSource(Source& inner) : Source(inner.Path()), inner_(inner) {}
  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    furthest = std::max(furthest, offset + static_cast<int64_t>(length));
    return inner_.ReadAt(offset, buffer, length);
  }
  int64_t SizeBytes() const override { return inner_.SizeBytes(); }
  SourceKind Kind() const override { return inner_.Kind(); }
  int64_t furthest = 0;

 private:
  Source& inner_;
};

}  // namespace

CopiesAhead::CopiesAhead(Source& source, std::string folder, int64_t minBytes, int64_t walkReportBytes)
    : source_(source),
      folder_(std::move(folder)),
      minBytes_(WorkersFirst() ? 1 : minBytes),
      walkReportBytes_(std::max<int64_t>(walkReportBytes, 1)),
      waits_(WorkersFirst()) {
  worker_ = std::thread([this] { Work(); });
}

CopiesAhead::~CopiesAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  worker_.join();
  for (auto& [start, job] : jobs_) Delete(job);
}

void CopiesAhead::Offer(int64_t startOffset, int64_t limitBytes, StatedLength lengthOf) {
  if (lengthOf != nullptr) Add(startOffset, limitBytes, lengthOf, nullptr);
}

void CopiesAhead::Offer(int64_t startOffset, int64_t limitBytes, WalkedLength walk) {
  if (walk != nullptr) Add(startOffset, limitBytes, nullptr, walk);
}

void CopiesAhead::Add(int64_t startOffset, int64_t limitBytes, StatedLength lengthOf, WalkedLength walk) {
  if (limitBytes < minBytes_) return;
  {
    std::lock_guard lock(mutex_);
    if (off_ || stop_ || jobs_.size() >= kCopyAheadJobs || jobs_.count(startOffset) != 0) return;
    Job& job = jobs_[startOffset];
    job.limit = limitBytes;
    job.lengthOf = lengthOf;
    job.walk = walk;
  }
  changed_.notify_all();
}

void CopiesAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    auto next = jobs_.end();
    changed_.wait(lock, [&] {
      if (stop_) return true;
      if (off_) return false;
      next = std::find_if(jobs_.begin(), jobs_.end(), [](const auto& j) { return j.second.state == State::Offered; });
      return next != jobs_.end();
    });
    if (stop_) return;
    busy_ = next->first;
    copying_ = true;
    next->second.state = State::Copying;
    CopyJob(next->first, next->second, lock);
    next->second.state = State::Done;
    if (!next->second.file) jobs_.erase(next);  // nothing to take
    busy_ = -1;
    copying_ = false;
    changed_.notify_all();
  }
}

// The job stays in the map while busy_ names it: Take and DropAll wait for that.
void CopiesAhead::CopyJob(int64_t startOffset, Job& job, std::unique_lock<std::mutex>& lock) {
  // A file that starts where an earlier finder looked, or inside an earlier copy, is most
  // likely part of that file (a frame, an embedded picture, a member), or of a chain of
  // junk that was measured already: measuring it again would make the work grow with the
  // square of the medium. The pass copies it itself if it is a file of its own. The last
  // kPeekBytes a finder read may be the head of the next file, which it looked at to see
  // where its own ended: that file is measured.
  if (startOffset < lookedTo_) return;
  if (job.walk) return WalkAndCopy(startOffset, job, lock);
  lock.unlock();
  LookingSource looking(source_);
  const int64_t length = std::min(job.lengthOf(looking, startOffset, job.limit), job.limit);
  lock.lock();
  lookedTo_ = std::max({lookedTo_, looking.furthest - kPeekBytes, startOffset + std::max<int64_t>(length, 0)});
  if (length < std::max<int64_t>(minBytes_, 1) || heldBytes_ + length > kCopyAheadBytes || stop_ || off_ || job.taken)
    return;
  job.length = length;
  heldBytes_ += length;  // reserved; what is not copied is given back below
  lock.unlock();
  bool nameTaken = false;
  std::unique_ptr<TNewFileStream> file = CreateCopy(startOffset, job, nameTaken);
  int64_t copied = 0;
  bool failed = !file;
  while (!failed && copied < length) {
    const int64_t n = std::min(kCopyAheadPieceBytes, length - copied);
    {
      std::lock_guard hold(mutex_);
      if (stop_ || off_ || job.taken) break;
    }
    failed = !CopyPiece(*file, startOffset, copied, n);
    if (failed) break;
    copied += n;
    std::lock_guard hold(mutex_);
    job.copied = copied;
  }
  lock.lock();
  KeepCopy(job, std::move(file), length, copied, failed, nameTaken);
}

namespace {

// What a walk made ahead tells the worker, as it goes.
class WalkShared : public WalkProgress {
 public:
  WalkShared(int64_t reportBytes, std::mutex& mutex, std::condition_variable& changed, const bool& stop)
      : WalkProgress(reportBytes), mutex_(mutex), changed_(changed), stop_(stop) {}
  // Under the lock:
  int64_t standsAt = 0, state = 0;
  int64_t end = -1;  // the length the walk found, once it is done
  bool quit = false;  // the walk is to stop

 private:
  bool Reported(int64_t at, int64_t walkState) override {
    {
      std::lock_guard hold(mutex_);
      if (quit || stop_) return false;
      standsAt = at;
      state = walkState;
    }
    changed_.notify_all();
    return true;
  }
  std::mutex& mutex_;
  std::condition_variable& changed_;
  const bool& stop_;
};

}  // namespace

// A walk made ahead runs on a thread of its own, which reads the file while this one copies
// what the walk has passed, a piece at a time. The work file is made once the walk has
// passed the least length worth a copy.
void CopiesAhead::WalkAndCopy(int64_t startOffset, Job& job, std::unique_lock<std::mutex>& lock) {
  const int64_t limit = job.limit;
  const WalkedLength walk = job.walk;
  WalkShared shared(walkReportBytes_, mutex_, changed_, stop_);
  LookingSource looking(source_);
  lock.unlock();
  std::thread walker([&] {
    int64_t end = 0;
    try {
      end = walk(looking, startOffset, limit, shared);
    } catch (const std::bad_alloc&) {  // no walk: nothing is copied
    }
    {
      std::lock_guard hold(mutex_);
      shared.end = std::clamp<int64_t>(end, 0, limit);
    }
    changed_.notify_all();
  });
  std::unique_ptr<TNewFileStream> file;
  bool nameTaken = false, failed = false;
  int64_t copied = 0;
  lock.lock();
  for (;;) {
    const int64_t least = file ? copied + 1 : std::max<int64_t>(minBytes_, 1);
    changed_.wait(lock, [&] { return stop_ || off_ || job.taken || shared.end >= 0 || shared.standsAt >= least; });
    const int64_t target = shared.end >= 0 ? shared.end : shared.standsAt;
    if (stop_ || off_ || job.taken || target < least) break;
    const int64_t n = std::min(kCopyAheadPieceBytes, target - copied);
    if (heldBytes_ + n > kCopyAheadBytes) break;
    heldBytes_ += n;
    lock.unlock();
    if (!file) file = CreateCopy(startOffset, job, nameTaken);
    failed = !file || !CopyPiece(*file, startOffset, copied, n);
    lock.lock();
    if (failed) {
      heldBytes_ -= n;
      break;
    }
    copied += n;
    job.copied = copied;
    if (shared.standsAt <= copied) job.copiedTo = {shared.standsAt, shared.state};
  }
  shared.quit = true;
  lock.unlock();
  walker.join();
  lock.lock();
  // A walk that failed, or ended inside what was copied, keeps no more than it found.
  if (file && !failed && shared.end < copied) {
    try {
      file->SetSize(shared.end);
      heldBytes_ -= copied - shared.end;
      copied = shared.end;
    } catch (const std::system_error&) {
      failed = true;
    }
  }
  // A walk reads a piece ahead of what it looks at; one that failed looked as far as it read.
  lookedTo_ = std::max({lookedTo_, looking.furthest - kWalkReadAheadBytes, startOffset + shared.end});
  KeepCopy(job, std::move(file), copied, copied, failed, nameTaken);
}

// The work file of the job; nameTaken when its name is taken (by something of the user's).
std::unique_ptr<TNewFileStream> CopiesAhead::CreateCopy(int64_t startOffset, Job& job, bool& nameTaken) {
  const std::string path = folder_ + "COPY" + SectorName(startOffset) + ".TMP";
  {
    std::lock_guard hold(mutex_);
    job.path = path;
  }
  std::unique_ptr<TNewFileStream> file = CreateWorkFile(path);
  nameTaken = !file && (errno == EEXIST || errno == ELOOP);
  if (nameTaken) {
    std::lock_guard hold(mutex_);
    job.path.clear();
  }
  return file;
}

bool CopiesAhead::CopyPiece(TNewFileStream& file, int64_t startOffset, int64_t copied, int64_t n) {
  return RoomFor(n) && source_.CopyInto(startOffset + copied, n, file.FileHandle(), copied);
}

// Under the lock, after the copy: the file holds `copied` of the `reserved` bytes held for it
// (those of a piece that failed are cut off). A failure other than a name taken stops every
// copy: the source cannot be copied so (a device), or the disk refuses.
void CopiesAhead::KeepCopy(Job& job, std::unique_ptr<TNewFileStream> file, int64_t reserved, int64_t copied,
                           bool failed, bool nameTaken) {
  if (failed && file) {
    try {
      file->SetSize(copied);
    } catch (const std::system_error&) {
      copied = 0;
    }
  }
  if (failed && !nameTaken) off_ = true;
  heldBytes_ -= reserved - copied;
  job.file = std::move(file);
  job.copied = copied;
  job.length = copied;
}

// Whether the output's file system keeps kCopyReserveBytes and what the copies hold free
// after `bytes` more.
bool CopiesAhead::RoomFor(int64_t bytes) const {
  std::error_code error;
  const std::filesystem::space_info space = std::filesystem::space(Utf8Path(folder_), error);
  if (error) return false;
  int64_t held;
  {
    std::lock_guard hold(mutex_);
    held = heldBytes_;
  }
  return static_cast<int64_t>(std::min<uintmax_t>(space.available, INT64_MAX)) >= bytes + kCopyReserveBytes + held;
}

void CopiesAhead::Delete(Job& job) {
  job.file.reset();
  if (!job.path.empty()) RemoveFileInProgress(job.path);
  job.path.clear();
}

// Waits until the job at startOffset is done (or gone, or the copies stopped): always in the
// tests' mode, and for a walk being made, which the worker makes and copies faster than the
// pass could walk. A walk not begun yet is left to the pass.
void CopiesAhead::WaitForJob(std::unique_lock<std::mutex>& lock, int64_t startOffset) {
  auto it = jobs_.find(startOffset);
  if (it == jobs_.end() || !(waits_ || (it->second.walk && it->second.state == State::Copying))) return;
  auto done = [&] {
    auto job = jobs_.find(startOffset);
    return off_ || stop_ || job == jobs_.end() || job->second.state == State::Done;
  };
  while (!changed_.wait_for(lock, std::chrono::milliseconds(50), done)) {
    if (stopAsked_ && stopAsked_()) {
      jobs_.find(startOffset)->second.taken = true;  // the copy stops after its piece
      return;
    }
  }
}

bool CopiesAhead::Holds(int64_t startOffset) {
  std::unique_lock lock(mutex_);
  WaitForJob(lock, startOffset);
  auto it = jobs_.find(startOffset);
  return it != jobs_.end() && (it->second.state == State::Copying || it->second.file != nullptr);
}

CopiesAhead::Copy CopiesAhead::Take(int64_t startOffset) {
  std::unique_lock lock(mutex_);
  WaitForJob(lock, startOffset);
  auto it = jobs_.find(startOffset);
  if (it == jobs_.end()) return {};
  it->second.taken = true;  // a running copy stops after its piece
  changed_.wait(lock, [&] { return busy_ != startOffset; });
  it = jobs_.find(startOffset);
  if (it == jobs_.end()) return {};
  Job& job = it->second;
  Copy copy;
  if (job.file && job.copied > 0) {
    copy.File = std::move(job.file);
    copy.Path = job.path;
    copy.Bytes = job.copied;
    copy.Walk = job.walk;
    copy.WalkedTo = job.copiedTo.at;
    copy.WalkState = job.copiedTo.state;
    job.path.clear();
  }
  heldBytes_ -= job.copied;
  Delete(job);
  jobs_.erase(it);
  return copy;
}

bool CopiesAhead::DropAll() {
  std::unique_lock lock(mutex_);
  off_ = true;
  for (auto& [start, job] : jobs_) job.taken = true;
  changed_.wait(lock, [&] { return busy_ < 0; });
  bool any = false;
  for (auto& [start, job] : jobs_) {
    any = any || job.file != nullptr;
    Delete(job);
  }
  jobs_.clear();
  heldBytes_ = 0;
  return any;
}

void CopiesAhead::Settle() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] {
    return busy_ < 0 && (off_ || std::none_of(jobs_.begin(), jobs_.end(),
                                              [](const auto& j) { return j.second.state == State::Offered; }));
  });
}

void CopiesAhead::NoteAgainInJournal() {
  std::lock_guard lock(mutex_);
  for (const auto& [start, job] : jobs_)
    if (!job.path.empty()) NoteWorkFileInJournal(job.path);
}

}  // namespace morvane
