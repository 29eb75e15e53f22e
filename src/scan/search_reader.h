// The search pass's reader.
//
// The search pass looks at the first bytes of every sector of the range, so it reads the
// range in large blocks straight from the source into a buffer, and the classifier looks at
// each sector where it lies in the block: no copy per sector. A block is read and classified
// by one thread, in that thread's own buffer (so the bytes are still in that processor's
// cache when they are looked at); the block yields its hits, the sectors that start
// something, in disk order. Blocks asked for ahead (Queue) are taken by a thread of the
// reader's own while the caller works on the current one, and a caller that would wait for
// that thread takes the next waiting block itself: on two processors two blocks are read and
// classified at once, and on a busy machine the caller never waits for a helper that does
// not run. The hits come back in the order the blocks were asked for, whoever did the work.
// The recognisers keep reading through the 64 KiB read-ahead window of the scan.
//
// A block that cannot be read is reported whole, with no hits: the search pass decides how
// to read it again (bad_areas.h).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/source.h"

namespace morvane {

inline constexpr int64_t kSearchBlockBytes = int64_t{1} << 20;
inline constexpr int kSearchBlocksAhead = 3;

struct SearchHit {
  int64_t sector;
  uint8_t type;
};

// What starts at `sector`, whose bytes are at `bytes` (0 for nothing). Called on the
// reader's thread as well as the caller's, so it may only read what does not change during
// the search.
using SectorClassifier = std::function<uint8_t(int64_t sector, const uint8_t* bytes)>;

class TSearchReader {
 public:
  // Every `step`-th sector of a block, from its first on, is classified. bytesRead is
  // increased by the number of bytes actually read from the source.
  TSearchReader(Source& source, uint32_t sectorSize, int64_t step, SectorClassifier classify,
                std::atomic<int64_t>& bytesRead);
  ~TSearchReader();
  TSearchReader(const TSearchReader&) = delete;
  TSearchReader& operator=(const TSearchReader&) = delete;

  // Whole sectors in one block (at least one).
  int64_t BlockSectors() const { return blockSectors_; }

  // Asks for count sectors (at most BlockSectors()) from sector first on to be read and
  // classified in the background, after the blocks asked for before. False (and nothing
  // asked for) while kSearchBlocksAhead blocks are waiting to be taken.
  bool Queue(int64_t first, int64_t count);
  // Makes count sectors from sector first on the current block: the oldest block queued when
  // it is that one, else read here and now (the blocks queued are then dropped).
  void Read(int64_t first, int64_t count);
  // The current block's hits, in disk order.
  const std::vector<SearchHit>& Hits() const { return Current().hits; }
  // Whether the current block could be read (else it has no hits).
  bool BlockRead() const { return Current().allRead; }
  // The reader's thread takes no block while `busy` says true (another thread, a copy made
  // during the search, wants the second processor): the caller then does all the work, and
  // the search gives up speed the copy gains. Set before the first Queue.
  void GiveWayWhile(std::function<bool()> busy) { giveWay_ = std::move(busy); }

 private:
  enum class State { Waiting, Working, Done };
  struct Block {
    int64_t first = -1, count = 0;
    State state = State::Done;
    bool allRead = true;
    std::vector<SearchHit> hits;
  };
  // A thread's read buffer.
  struct Buffer {
    std::unique_ptr<uint8_t[]> bytes;
  };
  static constexpr int kSlots = kSearchBlocksAhead + 1;  // the ones waiting and the current one
  Block& Slot(int64_t n) { return slots_[static_cast<size_t>(n % kSlots)]; }
  const Block& Current() const { return slots_[static_cast<size_t>((taken_ + kSlots - 1) % kSlots)]; }
  void Plan(Block& block, int64_t first, int64_t count) const;
  // Reads and classifies block n in buffer; the lock is given up meanwhile.
  void Work(std::unique_lock<std::mutex>& lock, int64_t n, Buffer& buffer);
  void ReadAndClassify(Block& block, Buffer& buffer);
  bool Fill(const Block& block, Buffer& buffer);
  // The first block asked for that no thread has begun, or -1.
  int64_t NextWaiting();
  void Run();

  Source& source_;
  const int64_t sectorSize_;
  const int64_t step_;
  const int64_t blockSectors_;
  const SectorClassifier classify_;
  std::atomic<int64_t>& bytesRead_;
  std::function<bool()> giveWay_;
  std::array<Block, kSlots> slots_;
  Buffer callerBuffer_, helperBuffer_;

  // Blocks are numbered in the order they are asked for; block n lives in slot n mod kSlots.
  // [taken_, queued_) are asked for (waiting, being worked on or done); block taken_ - 1 is
  // the current one.
  std::mutex mutex_;
  std::condition_variable wake_;
  int64_t taken_ = 0, queued_ = 0;
  bool stopping_ = false;
  bool helperIdle_ = false, callerWaiting_ = false;  // who waits on wake_
  std::thread thread_;  // started by the first Queue
};

}  // namespace morvane
