#include "scan/checks_ahead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "scan/bad_areas.h"
#include "scan/sector_map.h"

namespace morvane {

bool HoldFirstBytes(Source& source, int64_t startOffset, int64_t limit, int64_t want, std::vector<uint8_t>& bytes) {
  constexpr int64_t kFirstPiece = 0x40000;
  const auto held = static_cast<int64_t>(bytes.size());
  if (want <= held) return true;
  if (want > limit) return false;
  const int64_t grown = std::min(limit, std::max({want, kFirstPiece, 2 * held}));
  bytes.resize(static_cast<size_t>(grown));
  return source.ReadAt(startOffset + held, bytes.data() + held, static_cast<size_t>(grown - held));
}

bool HoldStatedLength(Source& source, int64_t startOffset, int64_t limit, int64_t headBytes,
                      int64_t (*lengthOf)(ByteView head), std::vector<uint8_t>& bytes) {
  if (!HoldFirstBytes(source, startOffset, limit, headBytes, bytes)) return false;
  const int64_t length = lengthOf(ByteView(bytes.data(), static_cast<size_t>(headBytes)));
  if (length <= 0 || !HoldFirstBytes(source, startOffset, limit, length, bytes)) return false;
  bytes.resize(static_cast<size_t>(length));
  return true;
}

ChecksAhead::ChecksAhead(Source& source, int workers) : source_(source) {
  for (int i = 0; i < workers; ++i) workers_.emplace_back([this] { Work(); });
}

ChecksAhead::~ChecksAhead() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    for (auto& [order, job] : jobs_) job->cancel = true;
  }
  changed_.notify_all();
  for (std::thread& t : workers_) t.join();
}

bool ChecksAhead::HasRoom() const {
  std::lock_guard lock(mutex_);
  return jobs_.size() < kAheadJobs;
}

void ChecksAhead::Offer(const TSectorMap& map, const TSectorSpans& unreadable, int64_t lastSector,
                        uint32_t sectorSize, int64_t order, int64_t sector, int64_t nextSector, const AheadCheck& kind) {
  if (map.IsSectorClaimed(sector)) return;
  int64_t last = std::min({lastSector, nextSector - 1, sector + (kind.MaxBytes + sectorSize - 1) / sectorSize - 1});
  if (const int64_t claimed = map.NextClaimedSector(sector, last); claimed >= 0) last = claimed - 1;
  if (const int64_t bad = unreadable.FirstIn(sector, last - sector + 1); bad >= 0) last = bad - 1;
  if (last < sector) return;
  auto job = std::make_shared<Job>();
  job->startOffset = sector * sectorSize;
  job->extentBytes = (last - sector + 1) * sectorSize;
  job->kind = &kind;
  {
    std::lock_guard lock(mutex_);
    jobs_[order] = std::move(job);
  }
  changed_.notify_all();
}

void ChecksAhead::Drop(Jobs::iterator it) {
  Job& job = *it->second;
  if (job.state == State::Checking || job.state == State::Done) heldBytes_ -= static_cast<int64_t>(job.bytes.size());
  job.dropped = true;
  job.cancel = true;
  jobs_.erase(it);
}

void ChecksAhead::Passed(int64_t order) {
  std::unique_lock lock(mutex_);
  auto it = jobs_.upper_bound(order);
  if (it == jobs_.end()) return;
  while (it != jobs_.end()) Drop(it++);
  lock.unlock();
  changed_.notify_all();
}

bool WorkersFirst() {
  const char* text = std::getenv("MORVANE_TEST_WORKERS_FIRST");
  return text && text[0] == '1';
}

ContentVerdict ChecksAhead::Verdict(int64_t startOffset, ByteView bytes, ContentCheck check) {
  std::shared_ptr<Job> job;
  {
    std::unique_lock lock(mutex_);
    auto it = std::find_if(jobs_.begin(), jobs_.end(), [&](const auto& entry) {
      return entry.second->startOffset == startOffset && entry.second->kind->Check == check;
    });
    if (it != jobs_.end()) {
      job = it->second;
      const bool workersFirst = WorkersFirst();
      changed_.wait(lock, [&] {
        return job->state != State::Reading &&
               (job->state != State::Offered || !workersFirst || heldBytes_ >= kAheadBytes);
      });
      if (job->state == State::Offered || job->state == State::NoBytes) {
        Drop(it);
        job.reset();
      }
    }
  }
  // From Checking on, the worker's bytes no longer change: they are compared unlocked.
  const bool same = job && job->bytes.size() == bytes.size() &&
                    (bytes.size() == 0 || std::memcmp(job->bytes.data(), bytes.data(), bytes.size()) == 0);
  if (job) {
    std::unique_lock lock(mutex_);
    if (same) changed_.wait(lock, [&] { return job->state == State::Done; });
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
      if (it->second == job) {
        Drop(it);
        break;
      }
  }
  changed_.notify_all();
  return same ? job->verdict : check(bytes, nullptr);
}

// The offered job farthest ahead of the pass: the pass checks the nearest ones itself when
// it reaches them before a worker has begun.
std::shared_ptr<ChecksAhead::Job> ChecksAhead::NextOffered() {
  for (auto& [order, job] : jobs_)
    if (job->state == State::Offered) return job;
  return nullptr;
}

void ChecksAhead::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    std::shared_ptr<Job> job;
    changed_.wait(lock, [&] { return stop_ || (heldBytes_ < kAheadBytes && (job = NextOffered())); });
    if (stop_) return;
    job->state = State::Reading;
    lock.unlock();
    std::vector<uint8_t> bytes;
    bool found = false;
    try {
      found = job->kind->Find(source_, job->startOffset, job->extentBytes, bytes);
    } catch (const std::bad_alloc&) {
    }
    lock.lock();
    if (!found || job->dropped) {
      job->state = State::NoBytes;
      changed_.notify_all();
      continue;
    }
    job->bytes = std::move(bytes);
    heldBytes_ += static_cast<int64_t>(job->bytes.size());
    job->state = State::Checking;
    changed_.notify_all();
    lock.unlock();
    const ContentVerdict verdict = job->kind->Check(ByteView(job->bytes.data(), job->bytes.size()), &job->cancel);
    lock.lock();
    job->verdict = verdict;
    job->state = State::Done;
    changed_.notify_all();
  }
}

}  // namespace morvane
