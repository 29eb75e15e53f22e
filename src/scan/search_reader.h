// The search pass's reader.
//
// The search pass looks at the first bytes of every sector of the range, so it reads the
// range in large blocks straight from the source into a buffer, and the classifier looks at
// each sector where it lies in the block: no copy per sector. On request the next block is
// read on a thread of the reader's own while the current one is classified.
// The recognisers keep reading through the 64 KiB read-ahead window of the scan.
//
// A block that cannot be read is read again in 64 KiB pieces, and a piece that cannot be read
// sector by sector, so that one bad sector costs only itself; the sectors that still cannot
// be read are reported and skipped.
#pragma once

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

class TSearchReader {
 public:
  // bytesRead is increased by the number of bytes actually read from the source.
  TSearchReader(Source& source, uint32_t sectorSize, std::atomic<int64_t>& bytesRead);
  ~TSearchReader();
  TSearchReader(const TSearchReader&) = delete;
  TSearchReader& operator=(const TSearchReader&) = delete;

  // Whole sectors in one block (at least one).
  int64_t BlockSectors() const { return blockSectors_; }

  // Reads count sectors (at most BlockSectors()) from sector first on, or takes them from the
  // block read ahead when that is the one. Sector first + i is then at Sector(i), when
  // Readable(i).
  void Read(int64_t first, int64_t count);
  // Starts reading the block that the next Read will ask for, while the caller works on the
  // current one (whose bytes stay where they are).
  void ReadAhead(int64_t first, int64_t count);

  const uint8_t* Sector(int64_t i) const { return current_.bytes.get() + i * sectorSize_; }
  bool Readable(int64_t i) const { return current_.allRead || current_.readable[static_cast<size_t>(i)] != 0; }

 private:
  struct Block {
    std::unique_ptr<uint8_t[]> bytes;
    int64_t first = -1, count = 0;
    bool allRead = true;
    std::vector<uint8_t> readable;  // per sector, only after a failed block read
  };
  void Fill(Block& block, int64_t first, int64_t count);
  bool ReadPiece(Block& block, int64_t sector, int64_t count);
  void WaitForReadAhead(std::unique_lock<std::mutex>& lock);
  void Run();

  Source& source_;
  const int64_t sectorSize_;
  const int64_t blockSectors_;
  std::atomic<int64_t>& bytesRead_;
  Block current_, ahead_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool aheadPending_ = false;  // ahead_ is being (or about to be) filled
  bool stopping_ = false;
  std::thread thread_;  // started by the first ReadAhead
};

}  // namespace morvane
