// Reading a failing medium: the good areas first.
//
// On a failing disk a read of a bad area can take seconds before it fails, and reading such
// an area sector by sector where it lies can eat the night before the good areas behind it
// are reached. So a reader that meets a failed read skips ahead instead, twice as far after
// each failure in a row, and notes what it skipped. When the whole range has been read that
// way it comes back to the skipped ranges and reads them again in shrinking pieces (64 KiB,
// then single sectors); a piece that reads is delivered, one that fails is tried again
// smaller. A single sector that still fails is unreadable. The return pass can
// be limited in time, and stopped at any moment: what it has not read yet then counts as
// unreadable too.
//
// TRescuePlan holds only the policy (what to read next); the search pass and the image
// backup do the reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "scan/sector_map.h"

namespace morvane {

using SectorSpan = SectorRun;

// Sector ranges in disk order, adjacent and overlapping ones merged.
class TSectorSpans {
 public:
  // Spans as Spans() gives them: in order, apart and within [0, end); false (and nothing
  // taken) for any other list.
  bool Assign(const std::vector<SectorSpan>& spans, int64_t end);
  void Add(int64_t first, int64_t count);
  void Add(const TSectorSpans& other);
  // The first sector of [first, first + count) in the list, or -1.
  int64_t FirstIn(int64_t first, int64_t count) const;
  int64_t Sectors() const;
  bool Empty() const { return spans_.empty(); }
  void Clear() { spans_.clear(); }
  const std::vector<SectorSpan>& Spans() const { return spans_; }

 private:
  std::vector<SectorSpan> spans_;
};

// "2048+16, 9000+1 and 3 more": the first `shown` spans as first sector + count.
std::string SpansText(const std::vector<SectorSpan>& spans, size_t shown, const std::string& andMore = " and %n more");

// The most passes over the single sectors that still fail, after the first.
inline constexpr int32_t kMaxExtraPasses = 100;

// How long the return pass may go on.
struct RetryLimits {
  // Passes over the single sectors that still fail, after the first.
  int32_t ExtraPasses = 0;
  // The most seconds the return pass may take; negative: no limit, 0: no return pass (every
  // skipped range is listed unreadable unread).
  double Seconds = -1;
};

// Where a plan stands between two reads: what a continued scan takes up.
struct RescueProgress {
  int32_t FailuresInRow = 0;
  int64_t Piece = 0;  // the return pass's piece size; 0: it has not begun
  int32_t PassesAtOne = 0;
  int64_t Milliseconds = 0;  // spent in the return pass
  // What this round has still to read, what it failed, and what is unreadable.
  std::vector<SectorSpan> Pending, Failed, Unreadable;
};

class TRescuePlan {
 public:
  // firstPiece: the sectors of the return pass's first pieces (64 KiB worth).
  TRescuePlan(int64_t firstPiece, RetryLimits limits);

  // --- The forward pass.
  // After a read of [first, first + count) failed: the end (exclusive) of the range to skip
  // from first on, at least first + count, twice as far each failure in a row (up to a cap).
  // The caller notes what it actually skipped with Skipped.
  int64_t SkipEnd(int64_t first, int64_t count);
  void Skipped(int64_t first, int64_t count) { pending_.Add(first, count); }
  // A read went through: the next failure skips only what it failed again.
  void ReadWell() { failuresInRow_ = 0; }

  // --- The return pass.
  // The next piece to read; false when nothing is left, or the time is up (everything not
  // read then counts unreadable).
  bool NextRetry(SectorSpan& piece);
  // What the read of the piece NextRetry gave did.
  void Retried(bool ok);
  // The piece is not wanted (nothing in it is looked at): it drops out unread and unlisted.
  void Passed() { outstanding_ = false; }
  // Stop: everything not read yet counts unreadable.
  void GiveUp();

  RescueProgress Progress() const;
  // Takes up a progress saved on a disk of `sectors` sectors; false when no plan could be
  // there (the plan is then as it was).
  bool Resume(const RescueProgress& saved, int64_t sectors);

  bool HasSkipped() const { return !pending_.Empty() || !failed_.Empty(); }
  const TSectorSpans& Unreadable() const { return unreadable_; }

 private:
  bool StartRound();
  // What this round has not handed out yet.
  std::vector<SectorSpan> NotHandedOut() const;
  bool TimeIsUp() const;

  const int64_t firstPiece_;
  const RetryLimits limits_;
  int32_t failuresInRow_ = 0;
  TSectorSpans pending_;     // still to read in this round
  TSectorSpans failed_;      // failed in this round: the next reads them in smaller pieces
  TSectorSpans unreadable_;
  int64_t piece_ = 0;        // 0: the return pass has not begun
  int32_t passesAtOne_ = 0;  // rounds of single sectors so far
  size_t next_ = 0;          // the span of pending_ being read
  int64_t at_ = 0;           // and the sector in it
  SectorSpan current_;
  bool outstanding_ = false;  // current_ was handed out and not reported on yet
  std::chrono::steady_clock::time_point started_;
};

}  // namespace morvane
