// A card whose reads fail slowly over a region, as a failing disk's do: the scan and the
// backup read the good areas first, finish in a time set by the bad sectors alone, bring back
// everything outside the region and list the region.
#include <gtest/gtest.h>

#include <chrono>
#include <set>

#include "formats/jpeg_encoder.h"
#include "formats/raw_card.h"
#include "scan/image_backup.h"

namespace morvane {
namespace {

constexpr int64_t kBadFirst = 3000, kBadCount = 300;
constexpr auto kFailDelay = std::chrono::milliseconds(2);

struct FailingCard : test::RawCard {
  explicit FailingCard(double retrySeconds = -1) : RawCard(8000) {
    setup.Options.Retries.Seconds = retrySeconds;
    for (uint32_t i = 0; i < 10; ++i)
      photos.push_back(test::EncodeJpeg({.Width = 160, .Height = 120, .Seed = i + 1, .Noise = 40}));
    // Five in front of the region, one across its start, four behind it.
    starts = PlaceInRow({photos.begin(), photos.begin() + 5}, 10, 200);
    starts.push_back(kBadFirst - 8);
    Place(photos[5], kBadFirst - 8);
    for (int64_t s : PlaceInRow({photos.begin() + 6, photos.end()}, kBadFirst + kBadCount + 100, 200)) starts.push_back(s);
    Context();
    std::set<int64_t> bad;
    for (int64_t s = kBadFirst; s < kBadFirst + kBadCount; ++s) bad.insert(s);
    source->SetBadSectors(bad);
    source->SetFailDelay(kFailDelay);
  }
  bool Outside(size_t i, int64_t first = kBadFirst, int64_t count = kBadCount) const {
    return starts[i] + test::Sectors(photos[i].size()) <= first || starts[i] >= first + count;
  }
  // The most failed reads: each bad sector once, and a few reads of larger pieces.
  static constexpr uint64_t kMostFailedReads = kBadCount + kBadCount / 128 + 4;

  std::vector<std::vector<uint8_t>> photos;
  std::vector<int64_t> starts;
};

TEST(FailingDisk, ScanRecoversEverythingOutsideTheBadRegionAndListsIt) {
  FailingCard card;
  size_t across = 0;
  for (size_t i = 0; i < card.photos.size(); ++i) across += card.Outside(i) ? 0 : 1;
  ASSERT_EQ(across, 1u);
  const auto started = std::chrono::steady_clock::now();
  const ScanReport r = card.RunAll();
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(r.Unreadable, (std::vector<SectorSpan>{{kBadFirst, kBadCount}}));
  EXPECT_LE(card.source->FailedReads(), FailingCard::kMostFailedReads);
  EXPECT_LT(took, kFailDelay * FailingCard::kMostFailedReads + std::chrono::seconds(10));
  for (size_t i = 0; i < card.photos.size(); ++i) {
    if (card.Outside(i)) EXPECT_EQ(test::ReadFileBytes(card.File(card.starts[i], ".JPG")), card.photos[i]) << i;
  }

  // With no time for the return pass the skipped block is listed whole, and no sector of it
  // is read again, by the search or by the recognisers.
  FailingCard quick(0);
  const ScanReport q = quick.RunAll();
  ASSERT_EQ(q.Unreadable.size(), 1u);
  const SectorSpan block = q.Unreadable[0];
  EXPECT_TRUE(block.First <= kBadFirst && block.End() >= kBadFirst + kBadCount);
  EXPECT_EQ(quick.source->FailedReads(), 1u);
  for (size_t i = 0; i < quick.photos.size(); ++i) {
    if (quick.Outside(i, block.First, block.Count))
      EXPECT_EQ(test::ReadFileBytes(quick.File(quick.starts[i], ".JPG")), quick.photos[i]) << i;
  }
}

TEST(FailingDisk, BackupIsTheDiskWithTheBadRegionZeroedAndListed) {
  FailingCard card;
  ProgressClock clock;
  std::atomic<bool> stop{false};
  BackupObserver observer;
  BackupRequest request{card.setup.Geometry, card.setup.Geometry, 0, card.setup.LastSector, false, card.dir / "disk.img"};
  const BackupResult r = RunImageBackup(*card.source, request, clock, stop, observer);
  EXPECT_EQ(r.Outcome, BackupOutcome::FinishedBadSectors);
  EXPECT_EQ(r.Unreadable, (std::vector<SectorSpan>{{kBadFirst, kBadCount}}));
  EXPECT_EQ(r.BadSectors, kBadCount);
  EXPECT_LE(card.source->FailedReads(), FailingCard::kMostFailedReads);
  std::vector<uint8_t> expected = card.image;
  std::fill_n(expected.begin() + kBadFirst * 512, kBadCount * 512, 0);
  EXPECT_EQ(test::ReadFileBytes(card.dir / "disk.img"), expected);
}

}  // namespace
}  // namespace morvane
