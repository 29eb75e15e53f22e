// Large files copied ahead of the recovery pass, on a worker thread.
//
// The recovery pass can only begin once the search pass has read the whole range, and then
// copies every large file (a video, an archive) in a second sweep. While the search pass
// reads on, a worker copies the files whose heads state how long they are, each from its
// start sector on as though it lay in one piece, into a work file in the output folder.
// When the pass writes such a file, it takes the copy over as its own partial file and does
// not write again the bytes the copy already holds: those of the output that come, in
// order, from the sectors following the start sector (the file was found in one piece so
// far). Everything else — a file split around another file's sectors, cut shorter, or
// longer than its head said — the pass writes itself, as it would without the copy. Which
// sectors a file gets and what it holds are therefore decided by the pass alone.
//
// Some files state no length: a stream of packets ends where its packets do, a PDF after its
// last trailer. For them the worker makes the recogniser's own walk over the file ahead of the
// pass (on a thread of its own, while it copies what the walk has passed), and the pass takes
// the walk up from the last place the copy holds instead of walking those bytes again
// (Recognition::TakeWalkedAhead). The walk is a function of the bytes alone, so over the same bytes, in
// the same order, it comes to the same end.
//
// A copy costs disk space until the pass reaches it. The worker keeps at least
// kCopyReserveBytes plus what its copies hold free on the output's file system, holds at
// most kCopyAheadBytes at a time, and deletes every copy the pass did not take when the
// scan ends (or frees them all at once when a write fails, see DropAll).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "storage/source.h"
#include "storage/streams.h"

namespace morvane {

// How long the file at startOffset says it is, as far as its head (and, where the format
// chains its parts, the headers along the chain) tells: the bytes that belong to it if it
// lies in one piece, read from source and none beyond `limit` bytes from the start. 0 when
// the head states nothing usable. An estimate on the short side is enough (the pass writes
// the rest); one on the long side costs writing bytes that are cut off again. A finder reads
// a bounded number of headers, whatever the bytes.
using StatedLength = int64_t (*)(Source& source, int64_t startOffset, int64_t limit);

// A walk made ahead: the recogniser's own walk over the bytes of the file at startOffset,
// read from source as though the file lay in one piece, none beyond `limit` bytes from the
// start. It tells `progress` at each record it reaches where it stands (StandsAt): a record
// begins there, every test the pass's walk makes on the bytes in front of it has passed,
// and `state` is what that walk carries to there (the clock of the record before, say), so
// that the pass can go on from there as though it had walked so far itself. Where a test of
// the pass depends on more than the bytes (the scan's cluster grid), the walk made ahead
// makes it on every record: it may stop sooner than the pass, never later. It returns the
// length it found (or -1 where the pass finds no file), and stops when StandsAt says false.
// It reads the source at most 64 KiB at a time, in order.
class WalkProgress {
 public:
  // The place is passed on every `reportBytes` or so, not at every record.
  explicit WalkProgress(int64_t reportBytes) : reportBytes_(reportBytes) {}
  bool StandsAt(int64_t at, int64_t state) { return at < next_ || Report(at, state); }

 protected:
  ~WalkProgress() = default;
  virtual bool Reported(int64_t at, int64_t state) = 0;

 private:
  bool Report(int64_t at, int64_t state) {
    next_ = at + reportBytes_;
    return Reported(at, state);
  }
  const int64_t reportBytes_;
  int64_t next_ = 0;
};
using WalkedLength = int64_t (*)(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);

inline constexpr int64_t kCopyAheadMinBytes = int64_t{4} << 20;    // smaller files are not copied ahead
inline constexpr int64_t kCopyAheadBytes = int64_t{4} << 30;       // most the copies hold at a time
inline constexpr int64_t kCopyReserveBytes = int64_t{1} << 30;     // free space always left
inline constexpr int64_t kCopyAheadPieceBytes = int64_t{32} << 20;  // copied at once
inline constexpr size_t kCopyAheadJobs = 1024;                     // files offered and not taken
inline constexpr int64_t kWalkReportBytes = int64_t{1} << 20;      // a walk's place is passed on so often

class CopiesAhead {
 public:
  // Copies from source into work files of `folder` (ending in '/'), on one thread, the
  // files of at least minBytes; walks made ahead pass their place on every walkReportBytes.
  CopiesAhead(Source& source, std::string folder, int64_t minBytes = kCopyAheadMinBytes,
              int64_t walkReportBytes = kWalkReportBytes);
  // Stops the worker and deletes every copy not taken.
  ~CopiesAhead();
  CopiesAhead(const CopiesAhead&) = delete;
  CopiesAhead& operator=(const CopiesAhead&) = delete;

  // The search thread: the file at startOffset, of the kind whose finder is given, may be
  // copied, as far as its head states and no further than limitBytes from its start.
  void Offer(int64_t startOffset, int64_t limitBytes, StatedLength lengthOf);
  // The same for a file whose end only a walk over it tells.
  void Offer(int64_t startOffset, int64_t limitBytes, WalkedLength walk);

  // What the pass takes over: a work file whose first Bytes bytes are those of the source
  // from the start offset on. Empty (no File) when there is none.
  struct Copy {
    std::unique_ptr<TNewFileStream> File;
    std::string Path;
    int64_t Bytes = 0;
    // For a walk made ahead: the walk, the last place it stood within those bytes, and the
    // state it carried there (WalkProgress); WalkedTo 0 when there is none.
    WalkedLength Walk = nullptr;
    int64_t WalkedTo = 0, WalkState = 0;
  };
  // Whether a copy of the file at startOffset is made, or being made (a file offered and not
  // yet reached is not); one made along a walk is waited for.
  bool Holds(int64_t startOffset);
  // The copy of the file at startOffset: a copy still running is stopped where it stands, one
  // made along a walk is waited for (it ends where the file does).
  // Copies of files in front of it are left to be taken later.
  Copy Take(int64_t startOffset);
  // Deletes every copy not taken (and copies no more): true when there was one, so that a
  // write that failed for want of space may be tried again.
  bool DropAll();
  // The pass waits for a walk being made (Holds, Take) only until `asked` says the scan is to
  // stop; the copy is then taken as far as it came.
  void StopWaitingWhen(std::function<bool()> asked) { stopAsked_ = std::move(asked); }
  // Whether the worker is making a copy now (it then wants a processor of its own).
  bool Copying() const { return copying_.load(std::memory_order_relaxed); }
  // Waits until every file offered is copied or passed over.
  void Settle();
  // Notes the work files that exist in the scan's file journal again, so that a scan
  // continued from a point saved now deletes them (it knows nothing of them).
  void NoteAgainInJournal();

 private:
  enum class State { Offered, Copying, Done };
  struct Place {
    int64_t at = 0, state = 0;
  };
  struct Job {
    int64_t limit = 0;
    StatedLength lengthOf = nullptr;
    WalkedLength walk = nullptr;
    Place standsAt, copiedTo;  // where the walk stood last, and the last such place copied
    State state = State::Offered;
    std::unique_ptr<TNewFileStream> file;
    std::string path;
    int64_t length = 0, copied = 0;
    bool taken = false;  // by the pass, or dropped: a running copy stops
  };
  using Jobs = std::map<int64_t, Job>;  // by start offset

  void Work();
  void Add(int64_t startOffset, int64_t limitBytes, StatedLength lengthOf, WalkedLength walk);
  void WaitForJob(std::unique_lock<std::mutex>& lock, int64_t startOffset);
  void CopyJob(int64_t startOffset, Job& job, std::unique_lock<std::mutex>& lock);
  void WalkAndCopy(int64_t startOffset, Job& job, std::unique_lock<std::mutex>& lock);
  std::unique_ptr<TNewFileStream> CreateCopy(int64_t startOffset, Job& job, bool& nameTaken);
  bool CopyPiece(TNewFileStream& file, int64_t startOffset, int64_t copied, int64_t n);
  void KeepCopy(Job& job, std::unique_ptr<TNewFileStream> file, int64_t reserved, int64_t copied, bool failed,
                bool nameTaken);
  bool RoomFor(int64_t bytes) const;
  void Delete(Job& job);

  Source& source_;
  const std::string folder_;
  const int64_t minBytes_;
  const int64_t walkReportBytes_;
  const bool waits_;  // Take waits for the copy to be made (for tests)
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Jobs jobs_;
  int64_t heldBytes_ = 0;  // bytes in copies not taken
  int64_t lookedTo_ = 0;   // the furthest byte a finder read or a copy reaches (jobs go in disk order)
  int64_t busy_ = -1;      // the start offset of the job the worker copies, outside the lock
  std::atomic<bool> copying_{false};  // busy_ >= 0, read without the lock
  bool stop_ = false, off_ = false;
  std::function<bool()> stopAsked_;
  std::thread worker_;
};

}  // namespace morvane
