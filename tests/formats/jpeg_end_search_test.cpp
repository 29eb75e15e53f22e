// The JPEG end search: an end marker split over two sectors, and the knowledge that failed
// searches leave behind for the candidates after them.
#include <gtest/gtest.h>

#include <random>
#include <variant>
#include <vector>

#include "formats/pictures/jpeg.h"
#include "formats/raw_card.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using test::Sectors;

// A real picture padded with a comment segment so that it is `length` bytes long.
std::vector<uint8_t> PictureOfLength(size_t length) {
  auto jpeg = test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg"));
  const size_t pad = length - jpeg.size();
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), {0xFF, 0xFE, static_cast<uint8_t>((pad - 2) >> 8), static_cast<uint8_t>(pad - 2)});
  out.resize(out.size() + pad - 4, 0x20);
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

// The FF of the end marker is the last byte of one sector, the D9 the first of the next one
// the picture uses: next to it, or behind sectors that belong to another file.
TEST(JpegEndSearch, FindsAnEndMarkerSplitOverTwoSectors) {
  const auto picture = PictureOfLength(40 * 512 + 1);
  ASSERT_EQ(picture[40 * 512 - 1], 0xFF);
  ASSERT_EQ(picture[40 * 512], 0xD9);
  for (int64_t gap : {0, 3}) {
    SCOPED_TRACE(gap);
    test::RawCard t(60);
    std::vector<int64_t> where = test::SectorRunOf(2, 40);
    where.push_back(42 + gap);
    t.Place(picture, where);
    t.Context().SectorMap.ClaimSectorRun(42, gap);
    EXPECT_EQ(RecoverJpeg(t.Context(), t.setup.Options.OutputFolder, 2 * 512), static_cast<int>(picture.size()));
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".JPG")), picture);
  }
}

// A schedule of candidates to recognise (claim-only), from the highest down, with sectors
// claimed by other files in between.
struct Claim {
  int64_t first, count;
};
using Step = std::variant<int64_t, Claim>;

// The claims after every step, with what earlier searches learned kept or forgotten.
std::vector<std::vector<int64_t>> RunSchedule(const std::vector<uint8_t>& image, const std::vector<Step>& steps,
                                              bool forget) {
  test::RawCard t(static_cast<int64_t>(image.size() / 512));
  t.image = image;
  ScanContext& scan = t.Context();
  std::vector<std::vector<int64_t>> after;
  for (const Step& step : steps) {
    if (const Claim* c = std::get_if<Claim>(&step)) {
      scan.SectorMap.ClaimSectorRun(c->first, c->count);
      continue;
    }
    if (forget) scan.ForgetRecogniserMemos();
    RecoverJpeg(scan, "", std::get<int64_t>(step) * 512);
    std::vector<int64_t> claimed;
    const int64_t n = static_cast<int64_t>(image.size() / 512);
    for (int64_t s = 0; s < n; ++s)
      if (scan.SectorMap.IsSectorClaimed(s)) claimed.push_back(s);
    after.push_back(std::move(claimed));
  }
  return after;
}

void PutStart(std::vector<uint8_t>& image, int64_t sector) {
  const uint8_t start[] = {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02};
  std::copy(std::begin(start), std::end(start), image.begin() + sector * 512);
}

// Whatever earlier searches learned, each candidate ends as it would without it: on cards
// full of hostile starts, sectors that begin with D9 or end with FF, end markers inside
// sectors, and sectors claimed between the candidates (which join sectors that were apart).
TEST(JpegEndSearch, WhatEarlierSearchesLearnedNeverChangesAnOutcome) {
  std::mt19937 rng(99);
  for (int card = 0; card < 25; ++card) {
    SCOPED_TRACE(card);
    const int64_t n = 400;
    std::vector<uint8_t> image(n * 512, 0);
    std::vector<int64_t> starts;
    for (int64_t s = 0; s < n; ++s) {
      const unsigned kind = rng() % 100;
      uint8_t* sector = &image[s * 512];
      if (kind < 40) {
        PutStart(image, s);
        starts.push_back(s);
      } else if (kind < 50) {
        sector[0] = 0xD9;
      } else if (kind < 52) {
        const size_t at = 1 + rng() % 500;
        sector[at] = 0xFF;
        sector[at + 1] = 0xD9;
      }
      if (rng() % 8 == 0) sector[511] = 0xFF;
    }
    std::vector<Step> steps;
    for (auto s = starts.rbegin(); s != starts.rend(); ++s) {
      steps.push_back(*s);
      if (rng() % 6 == 0) steps.push_back(Claim{static_cast<int64_t>(rng() % n), 1 + static_cast<int64_t>(rng() % 4)});
    }
    EXPECT_EQ(RunSchedule(image, steps, false), RunSchedule(image, steps, true));
  }
}

// At the 32 MiB limit: a failed search learned every sector up to its limit; sectors claimed
// afterwards let a lower candidate reach one sector further, to an end the first never saw.
TEST(JpegEndSearch, ALowerCandidateReachesPastWhatAnEarlierOneLearned) {
  const int64_t limitSectors = kMaxJpegBytes / 512;
  const int64_t n = limitSectors + 300;
  std::vector<uint8_t> image(static_cast<size_t>(n) * 512, 0);
  PutStart(image, 100);
  PutStart(image, 90);
  // The search from 100 looks at limitSectors + 1 sectors (the limit and the two bytes it
  // keeps looking back); the end lies in the sector after them.
  const int64_t end = 100 + limitSectors + 1;
  image[end * 512 + 10] = 0xFF;
  image[end * 512 + 11] = 0xD9;
  // From 90, with 11 sectors stepped over, the last sector the search may look at is that one.
  const std::vector<Step> steps = {int64_t{100}, Claim{1000, 11}, int64_t{90}};
  const auto kept = RunSchedule(image, steps, false);
  EXPECT_TRUE(kept[0].empty());
  // Found; the structure, which does not decode, stays claimed.
  EXPECT_EQ(static_cast<int64_t>(kept[1].size()), end - 90 + 1);
  EXPECT_EQ(kept, RunSchedule(image, steps, true));
}

// An FF at the end of the bytes held and a D9 at the start of a sector an earlier search
// learned, brought together by sectors claimed in between.
TEST(JpegEndSearch, AnEndMarkerFormedByClaimsAfterTheSearchThatLearnedIt) {
  std::vector<uint8_t> image(64 * 512, 0);
  PutStart(image, 10);
  image[10 * 512 + 511] = 0xFF;
  PutStart(image, 11);
  image[12 * 512] = 0xD9;
  const std::vector<Step> steps = {int64_t{11}, Claim{11, 1}, int64_t{10}};
  const auto kept = RunSchedule(image, steps, false);
  EXPECT_EQ(kept[1], (std::vector<int64_t>{10, 11, 12}));
  EXPECT_EQ(kept, RunSchedule(image, steps, true));
}

}  // namespace
}  // namespace morvane
