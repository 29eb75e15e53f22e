// The search pass's reader.
//
// The search pass looks at the first bytes of every sector of the range, so it reads the
// range in large blocks straight from the source into a buffer, and the classifier looks at
// each sector where it lies in the block: no copy per sector. Blocks asked for ahead (Queue)
// are read in order on a thread of the reader's own, up to kSearchBlocksAhead of them, while
// the caller classifies the current one: reading and classifying overlap.
// The recognisers keep reading through the 64 KiB read-ahead window of the scan.
//
// A block that cannot be read is read again in 64 KiB pieces, and a piece that cannot be read
// sector by sector, so that one bad sector costs only itself; the sectors that still cannot
// be read are reported and skipped.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/source.h"

namespace morvane {

inline constexpr int64_t kSearchBlockBytes = int64_t{1} << 20;
inline constexpr int kSearchBlocksAhead = 2;

class TSearchReader {
 public:
  // bytesRead is increased by the number of bytes actually read from the source.
  TSearchReader(Source& source, uint32_t sectorSize, std::atomic<int64_t>& bytesRead);
  ~TSearchReader();
  TSearchReader(const TSearchReader&) = delete;
  TSearchReader& operator=(const TSearchReader&) = delete;

  // Whole sectors in one block (at least one).
  int64_t BlockSectors() const { return blockSectors_; }

  // Asks for count sectors (at most BlockSectors()) from sector first on to be read in the
  // background, after the blocks asked for before. False (and nothing asked for) while
  // kSearchBlocksAhead blocks are waiting to be taken.
  bool Queue(int64_t first, int64_t count);
  // Makes count sectors from sector first on the current block: the oldest block queued when
  // it is that one (waiting for it to be read), else read here and now (the blocks queued
  // are then dropped). Sector first + i is then at Sector(i), when Readable(i).
  void Read(int64_t first, int64_t count);

  const uint8_t* Sector(int64_t i) const { return Current().bytes.get() + i * sectorSize_; }
  bool Readable(int64_t i) const {
    const Block& b = Current();
    return b.allRead || b.readable[static_cast<size_t>(i)] != 0;
  }

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    int64_t first = -1, count = 0;
    bool allRead = true;
    std::vector<uint8_t> readable;  // per sector, only after a failed block read
  };
  static constexpr int kSlots = kSearchBlocksAhead + 1;  // the ones waiting and the current one
  Block& Slot(int64_t n) { return slots_[static_cast<size_t>(n % kSlots)]; }
  const Block& Current() const { return slots_[static_cast<size_t>((taken_ + kSlots - 1) % kSlots)]; }
  void Plan(Block& block, int64_t first, int64_t count) const;
  void Fill(Block& block);
  bool ReadPiece(Block& block, int64_t sector, int64_t count);
  void Run();

  Source& source_;
  const int64_t sectorSize_;
  const int64_t blockSectors_;
  std::atomic<int64_t>& bytesRead_;
  std::array<Block, kSlots> slots_;

  // Blocks are numbered in the order they are asked for; block n lives in slot n mod kSlots.
  // [taken_, filled_) are read and waiting, [filled_, queued_) asked for; block taken_ - 1 is
  // the current one.
  std::mutex mutex_;
  std::condition_variable wake_;
  int64_t taken_ = 0, filled_ = 0, queued_ = 0;
  bool stopping_ = false;
  std::thread thread_;  // started by the first Queue
};

}  // namespace morvane
