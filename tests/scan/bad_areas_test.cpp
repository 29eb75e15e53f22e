// The plan for failing media, driven the way the search pass and the backup drive it over a
// simulated disk whose sectors fail a given number of times.
#include "scan/bad_areas.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

namespace morvane {
namespace {

constexpr int64_t kAlways = 1000;

struct Disk {
  int64_t sectors = 4096;
  std::map<int64_t, int> failures;  // sector -> reads of it that still fail
  int64_t failedReads = 0;
  std::vector<int64_t> delivered;   // in the order they were read

  bool Read(int64_t first, int64_t count) {
    bool ok = true;
    for (auto it = failures.lower_bound(first); it != failures.end() && it->first < first + count; ++it)
      if (it->second > 0) ok = false, --it->second;
    if (!ok) ++failedReads;
    for (int64_t s = first; ok && s < first + count; ++s) delivered.push_back(s);
    return ok;
  }
  int64_t At(int64_t sector) const {
    return std::find(delivered.begin(), delivered.end(), sector) - delivered.begin();
  }
};

// Reads the whole disk in blocks of 64 sectors, then what was skipped; stops the return pass
// after `stopAfter` pieces when that is not negative. After `keepAfter` pieces the plan's
// progress is taken up by a new plan, as a continued scan does.
std::vector<SectorSpan> ReadAll(Disk& d, RetryLimits limits = {}, int stopAfter = -1, int keepAfter = -1) {
  auto kept = std::make_unique<TRescuePlan>(16, limits);
  TRescuePlan& plan = *kept;
  for (int64_t s = 0; s < d.sectors;) {
    const int64_t count = std::min<int64_t>(64, d.sectors - s);
    if (d.Read(s, count)) {
      plan.ReadWell();
      s += count;
      continue;
    }
    const int64_t end = std::min(d.sectors, plan.SkipEnd(s, count));
    plan.Skipped(s, end - s);
    s = end;
  }
  SectorSpan piece;
  for (int pieces = 0;; ++pieces) {
    if (pieces == keepAfter) {
      auto next = std::make_unique<TRescuePlan>(16, limits);
      EXPECT_TRUE(next->Resume(kept->Progress(), d.sectors));
      kept = std::move(next);
    }
    if (!kept->NextRetry(piece)) break;
    if (pieces == stopAfter) {
      kept->GiveUp();
      break;
    }
    kept->Retried(d.Read(piece.First, piece.Count));
  }
  return kept->Unreadable().Spans();
}

Disk FailingDisk() {
  Disk d;
  for (int64_t s = 1000; s < 1300; ++s) d.failures[s] = kAlways;
  d.failures[70] = kAlways;
  d.failures[3000] = 3;  // reads on the fourth try
  return d;
}

TEST(BadAreas, SpansMergeInDiskOrderAndPrintCapped) {
  TSectorSpans spans;
  spans.Add(50, 10);
  spans.Add(10, 5);
  spans.Add(15, 5);  // touches 10+5
  spans.Add(55, 20);  // overlaps 50+10
  spans.Add(90, 1);
  spans.Add(3, 0);
  EXPECT_EQ(spans.Spans(), (std::vector<SectorSpan>{{10, 10}, {50, 25}, {90, 1}}));
  EXPECT_EQ(spans.Sectors(), 36);
  EXPECT_EQ(spans.FirstIn(0, 10), -1);
  EXPECT_EQ(spans.FirstIn(0, 11), 10);
  EXPECT_EQ(spans.FirstIn(60, 100), 60);
  EXPECT_EQ(spans.FirstIn(75, 15), -1);
  EXPECT_EQ(SpansText(spans.Spans(), 2), "10+10, 50+25 and 1 more");
  EXPECT_EQ(SpansText(spans.Spans(), 3), "10+10, 50+25, 90+1");
}

// Every good sector is delivered once, those behind a bad area before the skipped ones are
// read again, and each bad sector costs one failed read in the return pass (more only with
// extra passes, which also bring back a sector that fails twice).
TEST(BadAreas, GoodAreasFirstThenSingleSectorsOnce) {
  Disk d = FailingDisk();
  const std::vector<SectorSpan> bad = {{70, 1}, {1000, 300}, {3000, 1}};
  EXPECT_EQ(ReadAll(d), bad);
  std::vector<int64_t> good = d.delivered;
  std::sort(good.begin(), good.end());
  EXPECT_EQ(std::adjacent_find(good.begin(), good.end()), good.end());
  EXPECT_EQ(static_cast<int64_t>(good.size()), d.sectors - 302);
  EXPECT_LT(d.At(d.sectors - 1), d.At(64));  // 64 lay in the block that failed at 70
  EXPECT_LT(d.At(d.sectors - 1), d.At(1300));
  EXPECT_LE(d.failedReads, 302 + 302 / 16 + 12);  // singles, 16-sector pieces, the forward pass

  Disk again = FailingDisk();
  EXPECT_EQ(ReadAll(again, {2, -1}), (std::vector<SectorSpan>{{70, 1}, {1000, 300}}));
  EXPECT_EQ(again.failedReads - d.failedReads, 2 * 301);

  // Taken up by another plan (before the return pass, in the 16-sector round, among the
  // single sectors), the plan reads on as if it had not been interrupted.
  for (int keepAfter : {0, 3, 25, 330}) {
    SCOPED_TRACE(keepAfter);
    Disk kept = FailingDisk();
    EXPECT_EQ(ReadAll(kept, {}, -1, keepAfter), bad);
    EXPECT_EQ(kept.delivered, d.delivered);
    EXPECT_EQ(kept.failedReads, d.failedReads);
  }
}

// A progress that no plan could be in is refused, and leaves the plan as it was.
TEST(BadAreas, ProgressThatDoesNotFitIsRefused) {
  RescueProgress good;
  good.Piece = 16;
  good.Pending = {{100, 20}, {300, 5}};
  good.Failed = {{64, 16}};
  good.Unreadable = {{10, 1}};
  TRescuePlan plan(16, {});
  ASSERT_TRUE(plan.Resume(good, 4096));
  std::vector<RescueProgress> bad(7, good);
  bad[0].Pending = {{300, 5}, {100, 20}};   // out of order
  bad[1].Pending = {{100, 20}, {120, 5}};   // not merged
  bad[2].Failed = {{110, 1}};               // also still to read
  bad[3].Unreadable = {{4000, 97}};         // beyond the disk
  bad[4].Piece = 7;                         // no round reads such pieces
  bad[5].Piece = 0;                         // not begun, yet failed and unreadable sectors
  bad[6].PassesAtOne = kMaxExtraPasses + 2;
  for (const RescueProgress& p : bad) EXPECT_FALSE(plan.Resume(p, 4096));
  const RescueProgress now = plan.Progress();
  EXPECT_EQ(now.Pending, good.Pending);
  EXPECT_EQ(now.Failed, good.Failed);
  EXPECT_EQ(now.Unreadable, good.Unreadable);
}

// Stopped, or with no time for it, the return pass lists what it did not read: together with
// what was read that is the whole disk.
TEST(BadAreas, StopAndTimeBudgetListWhatWasNotRead) {
  for (int stopAfter : {0, 5, 40}) {
    SCOPED_TRACE(stopAfter);
    Disk d = FailingDisk();
    const std::vector<SectorSpan> left = ReadAll(d, {0, stopAfter == 0 ? 0.0 : -1.0}, stopAfter == 0 ? -1 : stopAfter);
    TSectorSpans all;
    for (int64_t s : d.delivered) all.Add(s, 1);
    for (const SectorSpan& s : left) all.Add(s.First, s.Count);
    EXPECT_EQ(all.Spans(), (std::vector<SectorSpan>{{0, d.sectors}}));
    if (stopAfter == 0) {
      EXPECT_EQ(d.failedReads, 5);  // the forward pass's alone
    }
  }
}

}  // namespace
}  // namespace morvane
