#include "scan/search_reader.h"

#include <algorithm>

#include "scan/read_cache.h"

namespace morvane {

TSearchReader::TSearchReader(Source& source, uint32_t sectorSize, std::atomic<int64_t>& bytesRead)
    : source_(source),
      sectorSize_(sectorSize),
      blockSectors_(std::max<int64_t>(1, kSearchBlockBytes / sectorSize)),
      bytesRead_(bytesRead) {
  Slot(0).bytes.reset(new uint8_t[static_cast<size_t>(blockSectors_ * sectorSize_)]);
}

TSearchReader::~TSearchReader() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool TSearchReader::ReadPiece(Block& block, int64_t sector, int64_t count) {
  const int64_t bytes = count * sectorSize_;
  uint8_t* at = block.bytes.get() + (sector - block.first) * sectorSize_;
  if (!source_.ReadAt(sector * sectorSize_, at, static_cast<size_t>(bytes))) return false;
  bytesRead_ += bytes;
  return true;
}

// Reads the block's sectors (block.first and block.count are set).
void TSearchReader::Fill(Block& block) {
  if (!block.bytes) block.bytes.reset(new uint8_t[static_cast<size_t>(blockSectors_ * sectorSize_)]);
  const int64_t first = block.first;
  block.allRead = ReadPiece(block, first, block.count);
  if (block.allRead) return;
  // In 64 KiB pieces, then sector by sector where a piece fails.
  block.readable.assign(static_cast<size_t>(blockSectors_), 0);
  const int64_t pieceSectors = std::max<int64_t>(1, kReadCacheWindow / sectorSize_);
  for (int64_t piece = first; piece < first + block.count; piece += pieceSectors) {
    const int64_t n = std::min(pieceSectors, first + block.count - piece);
    if (n > 1 && ReadPiece(block, piece, n)) {
      std::fill_n(block.readable.begin() + (piece - first), n, 1);
      continue;
    }
    for (int64_t s = piece; s < piece + n; ++s) block.readable[static_cast<size_t>(s - first)] = ReadPiece(block, s, 1);
  }
}

void TSearchReader::Plan(Block& block, int64_t first, int64_t count) const {
  block.first = first;
  block.count = std::clamp<int64_t>(count, 0, blockSectors_);
}

bool TSearchReader::Queue(int64_t first, int64_t count) {
  std::unique_lock lock(mutex_);
  if (queued_ - taken_ >= kSearchBlocksAhead) return false;
  Plan(Slot(queued_), first, count);
  ++queued_;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  lock.unlock();
  wake_.notify_all();
  return true;
}

void TSearchReader::Read(int64_t first, int64_t count) {
  std::unique_lock lock(mutex_);
  if (taken_ < queued_) {
    const Block& next = Slot(taken_);
    if (next.first == first && next.count == std::clamp<int64_t>(count, 0, blockSectors_)) {
      wake_.wait(lock, [this] { return filled_ > taken_; });
      ++taken_;
      lock.unlock();
      wake_.notify_all();
      return;
    }
    // Not the block asked for: the queued ones are dropped once read.
    wake_.wait(lock, [this] { return filled_ == queued_; });
    taken_ = queued_;
  }
  // Nothing is being read in the background now: the next slot is this thread's.
  Block& block = Slot(taken_);
  Plan(block, first, count);
  ++taken_, ++filled_, ++queued_;
  lock.unlock();
  Fill(block);
}

void TSearchReader::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return filled_ < queued_ || stopping_; });
    if (stopping_) return;
    Block& block = Slot(filled_);
    lock.unlock();
    Fill(block);
    lock.lock();
    ++filled_;
    wake_.notify_all();
  }
}

}  // namespace morvane
