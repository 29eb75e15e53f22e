// Content checks run ahead of the recovery pass, on worker threads.
//
// A content check (a picture decode) is a pure function of the bytes it is given, and the
// slowest step of recovering photos. While the recovery pass works through its candidates
// one after the other, workers take the candidates it will reach next: each reads the
// candidate's file from its start as though it were whole and in one piece (up to the next
// candidate, the first claimed sector or the format's size limit), and checks those bytes.
// When the pass reaches the candidate and has assembled the file itself, it takes the
// worker's verdict only for byte-for-byte the same bytes; otherwise (the file was split
// around claimed sectors, the worker found no end or has not begun) it checks them itself.
// Which file gets which sector, what is written and in which order are therefore decided by
// the pass alone, as in a scan without workers: the workers only make verdicts come sooner.
//
// The pass thread alone offers, drops and asks; the workers only read the source and check.
// At most kAheadJobs candidates are offered at a time and workers begin no new one while
// the bytes they hold reach kAheadBytes.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "storage/bytes.h"
#include "storage/source.h"

namespace morvane {

class TSectorMap;
class TSectorSpans;

// What a check learned: whether the bytes are a whole file of the kind, and a picture's size.
struct ContentVerdict {
  bool Ok = false;
  int Width = 0;
  int Height = 0;
  bool operator==(const ContentVerdict&) const = default;
};

// A check: a pure function of the bytes. When *cancel becomes true the verdict is no longer
// wanted and the check may end early with any verdict.
using ContentCheck = ContentVerdict (*)(ByteView bytes, const std::atomic<bool>* cancel);

// How a worker finds the bytes the pass would check for the file at startOffset when the
// file lies in one piece: reads from source within extentBytes (whole unclaimed sectors) and
// puts the file's bytes into `bytes`; false when no file ends within them.
using ContentFinder = bool (*)(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes);

struct AheadCheck {
  ContentFinder Find = nullptr;
  ContentCheck Check = nullptr;
  int64_t MaxBytes = 0;  // no file of the kind is longer
  bool EvenUnselected = false;  // the recogniser checks files of the kind also when it only claims them
};

// For finders: makes `bytes` hold the first `want` bytes of the file at startOffset (none
// beyond limit), reading in growing pieces; false when want lies beyond limit or a read fails.
bool HoldFirstBytes(Source& source, int64_t startOffset, int64_t limit, int64_t want, std::vector<uint8_t>& bytes);

// For files whose head states their length: their first lengthOf(head) bytes, where head
// is the first headBytes (0 from lengthOf: no file of the kind).
bool HoldStatedLength(Source& source, int64_t startOffset, int64_t limit, int64_t headBytes,
                      int64_t (*lengthOf)(ByteView head), std::vector<uint8_t>& bytes);

// For tests: MORVANE_TEST_WORKERS_FIRST=1 makes the pass wait for a worker to take up the
// candidate it reaches rather than check the bytes itself, so that every verdict a worker
// reaches is offered to the pass, whatever the thread timing; and copies ahead (see
// scan/copies_ahead.h) are made of files of every size and waited for.
bool WorkersFirst();

inline constexpr size_t kAheadJobs = 6;                  // candidates offered at a time
inline constexpr int64_t kAheadBytes = int64_t{64} << 20;  // bytes workers hold before pausing

class ChecksAhead {
 public:
  // Starts `workers` threads that read from source.
  ChecksAhead(Source& source, int workers);
  // Asks running checks to end, and joins the workers.
  ~ChecksAhead();
  ChecksAhead(const ChecksAhead&) = delete;
  ChecksAhead& operator=(const ChecksAhead&) = delete;

  // True while fewer than kAheadJobs candidates are offered.
  bool HasRoom() const;
  // Offers the candidate the pass will reach at `order` (the pass goes down from the highest
  // order), starting at `sector` and followed by the next candidate at nextSector: unless
  // its start is claimed, the workers check its bytes as far as they lie unclaimed before
  // nextSector, up to the kind's size limit and short of the first sector known to be
  // unreadable (a failing disk's bad sector is not read again for a guess).
  void Offer(const TSectorMap& map, const TSectorSpans& unreadable, int64_t lastSector, uint32_t sectorSize,
             int64_t order, int64_t sector, int64_t nextSector, const AheadCheck& kind);
  // The pass has come down to `order`: the candidates above it are dropped.
  void Passed(int64_t order);
  // The verdict of check on bytes, the file starting at startOffset: a worker's when it
  // checked the same bytes (waited for when it is still at it), else the check run here.
  ContentVerdict Verdict(int64_t startOffset, ByteView bytes, ContentCheck check);

 private:
  enum class State { Offered, Reading, Checking, Done, NoBytes };
  struct Job {
    int64_t startOffset = 0, extentBytes = 0;
    const AheadCheck* kind = nullptr;
    State state = State::Offered;
    bool dropped = false;         // the pass no longer wants it
    std::vector<uint8_t> bytes;   // fixed from Checking on
    ContentVerdict verdict;       // set at Done
    std::atomic<bool> cancel{false};
  };
  using Jobs = std::map<int64_t, std::shared_ptr<Job>>;  // by order

  void Work();
  std::shared_ptr<Job> NextOffered();
  void Drop(Jobs::iterator it);

  Source& source_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Jobs jobs_;
  int64_t heldBytes_ = 0;
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace morvane
