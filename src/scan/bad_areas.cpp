#include "scan/bad_areas.h"

#include <algorithm>

namespace morvane {
namespace {

// The farthest one skip goes (1 GiB of 512-byte sectors).
constexpr int64_t kMaxSkip = int64_t{1} << 21;

}  // namespace

void TSectorSpans::Add(int64_t first, int64_t count) {
  if (count <= 0) return;
  int64_t end = first + count;
  auto it = std::lower_bound(spans_.begin(), spans_.end(), first,
                             [](const SectorSpan& s, int64_t v) { return s.End() < v; });
  auto last = it;
  for (; last != spans_.end() && last->First <= end; ++last) {
    first = std::min(first, last->First);
    end = std::max(end, last->End());
  }
  it = spans_.erase(it, last);
  spans_.insert(it, {first, end - first});
}

bool TSectorSpans::Assign(const std::vector<SectorSpan>& spans, int64_t end) {
  int64_t from = 0;
  for (const SectorSpan& s : spans) {
    if (s.First < from || s.Count <= 0 || s.Count > end - s.First) return false;
    from = s.End() + 1;
  }
  spans_ = spans;
  return true;
}

void TSectorSpans::Add(const TSectorSpans& other) {
  for (const SectorSpan& s : other.spans_) Add(s.First, s.Count);
}

int64_t TSectorSpans::FirstIn(int64_t first, int64_t count) const {
  auto it = std::upper_bound(spans_.begin(), spans_.end(), first,
                             [](int64_t v, const SectorSpan& s) { return v < s.End(); });
  if (it == spans_.end() || it->First >= first + count) return -1;
  return std::max(first, it->First);
}

int64_t TSectorSpans::Sectors() const {
  int64_t n = 0;
  for (const SectorSpan& s : spans_) n += s.Count;
  return n;
}

std::string SpansText(const std::vector<SectorSpan>& spans, size_t shown, const std::string& andMore) {
  std::string text;
  for (size_t i = 0; i < spans.size() && i < shown; ++i)
    text += (i ? ", " : "") + std::to_string(spans[i].First) + "+" + std::to_string(spans[i].Count);
  if (spans.size() > shown) {
    std::string more = andMore;
    const size_t at = more.find("%n");
    if (at != std::string::npos) more.replace(at, 2, std::to_string(spans.size() - shown));
    text += more;
  }
  return text;
}

TRescuePlan::TRescuePlan(int64_t firstPiece, RetryLimits limits)
    : firstPiece_(std::max<int64_t>(1, firstPiece)), limits_(limits) {}

int64_t TRescuePlan::SkipEnd(int64_t first, int64_t count) {
  const int64_t skip = std::min(kMaxSkip, count << std::min(failuresInRow_, 20));
  ++failuresInRow_;
  return first + std::max(count, skip);
}

bool TRescuePlan::TimeIsUp() const {
  return limits_.Seconds >= 0 &&
         std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count() >= limits_.Seconds;
}

// Begins the next round with what the last one failed, in single sectors (a middle size
// would only add failed reads where a whole area is bad); after the last round of single
// sectors, what failed is unreadable.
bool TRescuePlan::StartRound() {
  if (piece_ == 0) {
    piece_ = firstPiece_;
  } else {
    pending_ = std::move(failed_);
    failed_.Clear();
    if (piece_ == 1 && ++passesAtOne_ > limits_.ExtraPasses) {
      unreadable_.Add(pending_);
      pending_.Clear();
    }
    piece_ = 1;
  }
  next_ = 0;
  if (pending_.Empty()) return false;
  at_ = pending_.Spans()[0].First;
  return true;
}

bool TRescuePlan::NextRetry(SectorSpan& piece) {
  if (piece_ == 0) {
    started_ = std::chrono::steady_clock::now();
    if (!StartRound()) return false;
  }
  for (;;) {
    if (TimeIsUp()) {
      GiveUp();
      return false;
    }
    const std::vector<SectorSpan>& spans = pending_.Spans();
    if (next_ >= spans.size()) {
      if (!StartRound()) return false;
      continue;
    }
    if (at_ >= spans[next_].End()) {
      if (++next_ < spans.size()) at_ = spans[next_].First;
      continue;
    }
    // Pieces lie on multiples of their size, so each round splits the last one's.
    const int64_t end = std::min(spans[next_].End(), (at_ / piece_ + 1) * piece_);
    piece = current_ = {at_, end - at_};
    at_ = end;
    outstanding_ = true;
    return true;
  }
}

void TRescuePlan::Retried(bool ok) {
  if (!ok) failed_.Add(current_.First, current_.Count);
  outstanding_ = false;
}

std::vector<SectorSpan> TRescuePlan::NotHandedOut() const {
  std::vector<SectorSpan> left;
  const std::vector<SectorSpan>& spans = pending_.Spans();
  for (size_t i = piece_ != 0 ? next_ : 0; i < spans.size(); ++i) {
    const int64_t from = (piece_ != 0 && i == next_) ? std::max(at_, spans[i].First) : spans[i].First;
    if (from < spans[i].End()) left.push_back({from, spans[i].End() - from});
  }
  return left;
}

RescueProgress TRescuePlan::Progress() const {
  RescueProgress p{failuresInRow_, piece_, passesAtOne_, 0, NotHandedOut(), failed_.Spans(), unreadable_.Spans()};
  if (piece_ != 0)
    p.Milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started_).count();
  return p;
}

bool TRescuePlan::Resume(const RescueProgress& p, int64_t sectors) {
  TSectorSpans pending, failed, unreadable, all;
  if (!pending.Assign(p.Pending, sectors) || !failed.Assign(p.Failed, sectors) ||
      !unreadable.Assign(p.Unreadable, sectors))
    return false;
  for (const TSectorSpans* spans : {&pending, &failed, &unreadable}) all.Add(*spans);
  const bool apart = all.Sectors() == pending.Sectors() + failed.Sectors() + unreadable.Sectors();
  const bool begun = p.Piece != 0;
  if (!apart || p.FailuresInRow < 0 || p.FailuresInRow > 64 || p.PassesAtOne < 0 ||
      p.PassesAtOne > kMaxExtraPasses + 1 || p.Milliseconds < 0 ||
      (p.Piece != 0 && p.Piece != 1 && p.Piece != firstPiece_) ||
      (!begun && (!failed.Empty() || !unreadable.Empty() || p.PassesAtOne != 0 || p.Milliseconds != 0)))
    return false;
  failuresInRow_ = p.FailuresInRow;
  piece_ = p.Piece;
  passesAtOne_ = p.PassesAtOne;
  pending_ = std::move(pending);
  failed_ = std::move(failed);
  unreadable_ = std::move(unreadable);
  next_ = 0;
  at_ = pending_.Empty() ? 0 : pending_.Spans()[0].First;
  outstanding_ = false;
  started_ = std::chrono::steady_clock::now() - std::chrono::milliseconds(p.Milliseconds);
  return true;
}

void TRescuePlan::GiveUp() {
  for (const SectorSpan& s : NotHandedOut()) unreadable_.Add(s.First, s.Count);
  unreadable_.Add(failed_);
  if (outstanding_) unreadable_.Add(current_.First, current_.Count);  // handed out, not read
  outstanding_ = false;
  pending_.Clear();
  failed_.Clear();
  next_ = 0;
  piece_ = std::max<int64_t>(piece_, 1);
}

}  // namespace morvane
