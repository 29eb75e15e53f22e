#include "scan/search_reader.h"

#include <algorithm>
#include <utility>

#include "scan/read_cache.h"

namespace morvane {

TSearchReader::TSearchReader(Source& source, uint32_t sectorSize, std::atomic<int64_t>& bytesRead)
    : source_(source),
      sectorSize_(sectorSize),
      blockSectors_(std::max<int64_t>(1, kSearchBlockBytes / sectorSize)),
      bytesRead_(bytesRead) {
  current_.bytes.reset(new uint8_t[static_cast<size_t>(blockSectors_ * sectorSize_)]);
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

void TSearchReader::Fill(Block& block, int64_t first, int64_t count) {
  block.first = first;
  block.count = std::clamp<int64_t>(count, 0, blockSectors_);
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

void TSearchReader::WaitForReadAhead(std::unique_lock<std::mutex>& lock) {
  wake_.wait(lock, [this] { return !aheadPending_; });
}

void TSearchReader::Read(int64_t first, int64_t count) {
  {
    std::unique_lock lock(mutex_);
    WaitForReadAhead(lock);
    if (ahead_.first == first && ahead_.count == std::clamp<int64_t>(count, 0, blockSectors_)) {
      std::swap(current_, ahead_);
      ahead_.first = -1;
      return;
    }
  }
  Fill(current_, first, count);  // nothing is read ahead now: the source is this thread's
}

void TSearchReader::ReadAhead(int64_t first, int64_t count) {
  std::unique_lock lock(mutex_);
  WaitForReadAhead(lock);
  if (!ahead_.bytes) ahead_.bytes.reset(new uint8_t[static_cast<size_t>(blockSectors_ * sectorSize_)]);
  ahead_.first = first;
  ahead_.count = std::clamp<int64_t>(count, 0, blockSectors_);
  aheadPending_ = true;
  if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
  lock.unlock();
  wake_.notify_all();
}

void TSearchReader::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return aheadPending_ || stopping_; });
    if (stopping_) return;
    const int64_t first = ahead_.first, count = ahead_.count;
    lock.unlock();
    Fill(ahead_, first, count);
    lock.lock();
    aheadPending_ = false;
    wake_.notify_all();
  }
}

}  // namespace morvane
