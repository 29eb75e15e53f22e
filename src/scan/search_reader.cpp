#include "scan/search_reader.h"

#include <algorithm>
#include <chrono>

namespace morvane {

constexpr auto kGiveWayPoll = std::chrono::milliseconds(5);

TSearchReader::TSearchReader(Source& source, uint32_t sectorSize, int64_t step, SectorClassifier classify,
                             std::atomic<int64_t>& bytesRead)
    : source_(source),
      sectorSize_(sectorSize),
      step_(std::max<int64_t>(1, step)),
      blockSectors_(std::max<int64_t>(1, kSearchBlockBytes / sectorSize)),
      classify_(std::move(classify)),
      bytesRead_(bytesRead) {}

TSearchReader::~TSearchReader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

// Reads the block's sectors into the buffer; false when they cannot all be read.
bool TSearchReader::Fill(const Block& block, Buffer& buffer) {
  if (!buffer.bytes) buffer.bytes.reset(new uint8_t[static_cast<size_t>(blockSectors_ * sectorSize_)]);
  const int64_t bytes = block.count * sectorSize_;
  if (!source_.ReadAt(block.first * sectorSize_, buffer.bytes.get(), static_cast<size_t>(bytes))) return false;
  bytesRead_ += bytes;
  return true;
}

void TSearchReader::ReadAndClassify(Block& block, Buffer& buffer) {
  block.hits.clear();
  block.allRead = true;
  if (block.count <= 0) return;
  block.allRead = Fill(block, buffer);
  for (int64_t i = 0; block.allRead && i < block.count; i += step_) {
    const uint8_t type = classify_(block.first + i, buffer.bytes.get() + i * sectorSize_);
    if (type != 0) block.hits.push_back({block.first + i, type});
  }
}

void TSearchReader::Plan(Block& block, int64_t first, int64_t count) const {
  block.first = first;
  block.count = std::clamp<int64_t>(count, 0, blockSectors_);
}

void TSearchReader::Work(std::unique_lock<std::mutex>& lock, int64_t n, Buffer& buffer) {
  Block& block = Slot(n);
  block.state = State::Working;
  lock.unlock();
  ReadAndClassify(block, buffer);
  lock.lock();
  block.state = State::Done;
}

int64_t TSearchReader::NextWaiting() {
  for (int64_t n = taken_; n < queued_; ++n)
    if (Slot(n).state == State::Waiting) return n;
  return -1;
}

bool TSearchReader::Queue(int64_t first, int64_t count) {
  std::unique_lock lock(mutex_);
  if (queued_ - taken_ >= kSearchBlocksAhead) return false;
  Block& block = Slot(queued_);
  Plan(block, first, count);
  block.state = State::Waiting;
  ++queued_;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  const bool wake = helperIdle_;
  lock.unlock();
  if (wake) wake_.notify_all();
  return true;
}

void TSearchReader::Read(int64_t first, int64_t count) {
  std::unique_lock lock(mutex_);
  auto wait = [&](auto ready) {
    callerWaiting_ = true;
    wake_.wait(lock, ready);
    callerWaiting_ = false;
  };
  if (taken_ < queued_) {
    const Block& next = Slot(taken_);
    if (next.first == first && next.count == std::clamp<int64_t>(count, 0, blockSectors_)) {
      // While the helper works on it, the caller works on the next block waiting, if any.
      while (next.state != State::Done) {
        if (next.state == State::Waiting) {
          Work(lock, taken_, callerBuffer_);
        } else if (const int64_t n = NextWaiting(); n >= 0) {
          Work(lock, n, callerBuffer_);
        } else {
          wait([&] { return next.state == State::Done; });
        }
      }
      ++taken_;
      return;
    }
    // Not the block asked for: the queued ones are dropped once no thread works on them.
    wait([this] {
      for (int64_t n = taken_; n < queued_; ++n)
        if (Slot(n).state == State::Working) return false;
      return true;
    });
    taken_ = queued_;
  }
  // No block is asked for now: the next slot is this thread's.
  Plan(Slot(queued_), first, count);
  ++queued_;
  Work(lock, taken_++, callerBuffer_);
}

void TSearchReader::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    int64_t n = -1;
    helperIdle_ = true;
    for (;;) {
      if (stopping_) return;
      // While giving way, it looks again now and then (what it gives way to tells nobody).
      if (giveWay_ && giveWay_()) {
        wake_.wait_for(lock, kGiveWayPoll);
      } else if ((n = NextWaiting()) >= 0) {
        break;
      } else {
        wake_.wait(lock);
      }
    }
    helperIdle_ = false;
    Work(lock, n, helperBuffer_);
    if (callerWaiting_) {
      lock.unlock();  // so that the caller, once woken, finds the lock free
      wake_.notify_all();
      lock.lock();
    }
  }
}

}  // namespace morvane
