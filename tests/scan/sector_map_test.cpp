#include "scan/sector_map.h"

#include "scan/scan_state.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace morvane {
namespace {

std::vector<int64_t> Claimed(const TSectorMap& map) {
  std::vector<int64_t> out;
  for (int64_t s = 0; s < map.SectorCount(); ++s)
    if (map.IsSectorClaimed(s)) out.push_back(s);
  return out;
}

TEST(SectorMap, RunsSetExactlyTheirSectorsAndNothingOutsideTheMap) {
  TSectorMap map(64);
  map.ClaimSectorRun(5, 20);  // 5..7 singly, 8..23 as two bytes, 24 singly
  EXPECT_EQ(map.CountClaimed(0, 64), 20);
  EXPECT_TRUE(map.IsSectorClaimed(5) && map.IsSectorClaimed(24));
  EXPECT_FALSE(map.IsSectorClaimed(4) || map.IsSectorClaimed(25));
  EXPECT_EQ(map.NextUnclaimedSector(5, 63), 25);
  EXPECT_EQ(map.NextUnclaimedSector(5, 24), -1);  // the limit is inclusive
  map.ReleaseSectorRun(6, 18);
  EXPECT_EQ(Claimed(map), (std::vector<int64_t>{5, 24}));

  TSectorMap small(13);                 // the last byte is only partly used
  small.ClaimSectorRun(-4, 6);          // only 0 and 1 are inside
  small.ClaimSectorRun(10, INT64_MAX);  // 10..12, without overflow
  EXPECT_EQ(Claimed(small), (std::vector<int64_t>{0, 1, 10, 11, 12}));
  // Outside the map everything counts as claimed, so no file can ever be given it.
  EXPECT_TRUE(small.IsSectorClaimed(13) && small.IsSectorClaimed(-1));
  EXPECT_EQ(small.NextUnclaimedSector(10, 100), -1);

  // Free runs, stepped over a word at a time: one claimed sector after whole free words ends
  // the run, and so do the limit and the map's end.
  TSectorMap wide(300);
  wide.ClaimSector(200);
  EXPECT_EQ(wide.UnclaimedRunLength(3, 299), 197);
  EXPECT_EQ(wide.UnclaimedRunLength(3, 150), 148);
  EXPECT_EQ(wide.UnclaimedRunLength(200, 299), 0);
  EXPECT_EQ(wide.UnclaimedRunLength(201, 1000), 99);
  EXPECT_EQ(wide.NextClaimedSector(0, 299), 200);
  wide.ClaimSectorRun(0, 256);
  EXPECT_EQ(wide.NextUnclaimedSector(0, 299), 256);
}

// Counting unclaimed sectors a word at a time agrees with counting them one by one, at any
// start, end and wanted count, including the map's last partial word.
TEST(SectorMap, CountingUnclaimedSectorsStopsAtTheWantedOne) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    const int64_t count = 1 + rng() % 700;
    TSectorMap map(count);
    const unsigned density = rng() % 4;  // from nearly free to nearly all claimed
    for (int64_t s = 0; s < count; ++s)
      if (rng() % 4 < density) map.ClaimSector(s);
    const int64_t from = rng() % count, last = from + rng() % (count - from + 40), wanted = 1 + rng() % 300;
    TSectorMap::UnclaimedCount expected;
    for (int64_t s = from; s <= std::min(last, count - 1) && expected.Count < wanted; ++s)
      if (!map.IsSectorClaimed(s)) {
        ++expected.Count;
        expected.LastSector = s;
      }
    const auto got = map.CountUnclaimed(from, last, wanted);
    ASSERT_EQ(got.Count, expected.Count) << from << ".." << last << " wanted " << wanted;
    ASSERT_EQ(got.LastSector, expected.LastSector) << from << ".." << last << " wanted " << wanted;
  }
}

// The runs kept for a saved state follow the map through claims and releases in some of
// its spans, single sectors and whole bytes, a run across two spans among them.
TEST(SectorMap, ClaimedRunsFollowTheChangedSpans) {
  TSectorMap map(3 * TSectorMap::kSpanSectors - 5);
  auto byEach = [&] {
    std::vector<SectorRun> runs;
    for (int64_t s = 0; s < map.SectorCount(); ++s) {
      if (!map.IsSectorClaimed(s)) continue;
      if (!runs.empty() && runs.back().First + runs.back().Count == s)
        ++runs.back().Count;
      else
        runs.push_back({s, 1});
    }
    return runs;
  };
  ClaimedRunsCache cache;
  const int64_t span = TSectorMap::kSpanSectors;
  map.ClaimSectorRun(span - 100, 300);
  map.ClaimSector(7);
  EXPECT_EQ(cache.Runs(map), byEach());
  map.ReleaseSector(span + 10);
  map.ClaimSectorRun(3 * span - 40, 100);
  EXPECT_EQ(cache.Runs(map), byEach());
  map.ReleaseSectorRun(span - 100, 100);
  EXPECT_EQ(cache.Runs(map), byEach());
  EXPECT_EQ(cache.Runs(map), byEach());
}

TEST(SectorMap, SectorNumbersBeyondTwoToThe32) {
  // The map's pages are only touched where sectors are claimed, so this costs little.
  const int64_t count = (int64_t{1} << 32) + 1000;
  const int64_t high = (int64_t{1} << 32) + 5;
  TSectorMap map(count);
  map.ClaimSectorRun(high, 20);
  map.ClaimSector(count - 1);
  EXPECT_FALSE(map.IsSectorClaimed(5));  // not aliased to the low 32 bits
  EXPECT_EQ(map.NextUnclaimedSector(high, count - 1), high + 20);
  EXPECT_TRUE(map.IsSectorClaimed(count - 1));
}

}  // namespace
}  // namespace morvane
