#include "scan/checks_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <filesystem>

#include "scan/bad_areas.h"
#include "scan/copies_ahead.h"
#include "scan/recovered_file.h"
#include "scan/sector_map.h"
#include "support/test_support.h"

namespace morvane {
namespace {

std::atomic<int> checksRun{0};

// Width: the sum of the bytes, Height: their number.
ContentVerdict SumCheck(ByteView bytes, const std::atomic<bool>*) {
  ++checksRun;
  int sum = 0;
  for (size_t i = 0; i < bytes.size(); ++i) sum += bytes.U8(i);
  return {true, sum, static_cast<int>(bytes.size())};
}

bool WholeExtent(Source& source, int64_t at, int64_t extent, std::vector<uint8_t>& bytes) {
  bytes.resize(static_cast<size_t>(extent));
  return source.ReadAt(at, bytes.data(), bytes.size());
}

const AheadCheck kSum{WholeExtent, SumCheck, 2048};

bool WaitForChecks(int count) {
  for (int i = 0; i < 5000 && checksRun < count; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return checksRun == count;
}

TEST(ChecksAhead, AWorkersVerdictIsTakenForTheSameBytesOnly) {
  std::vector<uint8_t> image(16 * 512);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 512);
  MemorySource source(image);
  TSectorMap map(16);
  map.ClaimSector(6);
  map.ClaimSector(12);
  auto bytesAt = [&](int64_t sector, int64_t count) {
    return std::vector<uint8_t>(image.begin() + sector * 512, image.begin() + (sector + count) * 512);
  };
  auto view = [](const std::vector<uint8_t>& v) { return ByteView(v.data(), v.size()); };
  checksRun = 0;
  const TSectorSpans none;
  ChecksAhead ahead(source, 2);
  ahead.Offer(map, none, 15, 512, 3, 0, 9, kSum);   // up to the size limit: sectors 0-3
  ahead.Offer(map, none, 15, 512, 2, 4, 9, kSum);   // up to the claimed sector: 4-5
  ahead.Offer(map, none, 15, 512, 1, 9, 11, kSum);  // up to the next candidate: 9-10
  ahead.Offer(map, none, 15, 512, 0, 12, 16, kSum);  // a claimed start is not offered
  ASSERT_TRUE(WaitForChecks(3));

  const auto first = bytesAt(0, 4);
  EXPECT_EQ(ahead.Verdict(0, view(first), SumCheck), SumCheck(view(first), nullptr));
  EXPECT_EQ(checksRun, 4);  // the worker's verdict, and the one run here to compare
  auto changed = bytesAt(4, 2);
  changed[100] ^= 1;  // one byte differs: checked here
  EXPECT_EQ(ahead.Verdict(4 * 512, view(changed), SumCheck).Width, SumCheck(view(changed), nullptr).Width);
  EXPECT_EQ(checksRun, 6);
  const auto shorter = bytesAt(9, 1);  // the pass's file is shorter than the worker's
  EXPECT_EQ(ahead.Verdict(9 * 512, view(shorter), SumCheck).Height, 512);
  const auto claimedStart = bytesAt(12, 1);
  EXPECT_EQ(ahead.Verdict(12 * 512, view(claimedStart), SumCheck).Height, 512);
  EXPECT_EQ(checksRun, 8);

  // Candidates the pass has gone below are dropped, whatever their workers are doing; the
  // rest are left running at the end.
  ahead.Offer(map, none, 15, 512, 9, 13, 16, kSum);
  ahead.Offer(map, none, 15, 512, 4, 0, 16, kSum);
  ahead.Passed(5);
  const auto late = bytesAt(13, 3);
  EXPECT_EQ(ahead.Verdict(13 * 512, view(late), SumCheck).Height, 3 * 512);

  // A sector the scan found unreadable is not read again: the worker stops in front of it.
  MemorySource failing(image);
  failing.SetBadSectors({14});
  TSectorSpans unreadable;
  unreadable.Add(14, 1);
  {
    ChecksAhead guess(failing, 1);
    guess.Offer(map, unreadable, 15, 512, 0, 13, 16, kSum);
    for (int i = 0; i < 5000 && failing.ReadCalls() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(failing.ReadCalls(), 1u);
  EXPECT_EQ(failing.FailedReads(), 0u);
}

// Files of the test image state their length in their first byte, in sectors.
int64_t FirstByteSectors(Source& source, int64_t start, int64_t limit) {
  uint8_t sectors = 0;
  return source.ReadAt(start, &sectors, 1) ? std::min<int64_t>(sectors * 512, limit) : 0;
}

// A walk that stands at every byte, a millisecond apart: 30 s over 64 sectors.
int64_t SlowWalk(Source&, int64_t, int64_t limit, WalkProgress& progress) {
  for (int64_t at = 0; at < limit; ++at) {
    if (!progress.StandsAt(at, 0)) return at;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return limit;
}

TEST(CopiesAhead, EachFileIsCopiedOnceAndWhatIsNotTakenIsDeleted) {
  if (!test::kImagesCopyIntoFiles) GTEST_SKIP() << "image files are not copied into files on this system";
  test::TempDir dir;
  std::vector<uint8_t> image(64 * 512);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 13 + i / 512);
  image[0] = 8;         // sectors 0-7; one starting inside it (4) is part of it, not copied
  image[4 * 512] = 20;
  image[10 * 512] = 60;  // reaches beyond the range: cut at its end
  image[30 * 512] = 0;   // inside the one before, and states nothing
  test::WriteFileBytes(dir / "card.img", image);
  auto source = OpenSource(dir / "card.img").source;
  const std::string out = (dir.path() / "out").string() + "/";
  std::filesystem::create_directory(out);
  auto files = [&] { return std::distance(std::filesystem::directory_iterator(out), {}); };
  {
    CopiesAhead copies(*source, out, 1);
    for (int64_t s : {0, 4, 10, 30}) copies.Offer(s * 512, (64 - s) * 512, FirstByteSectors);
    copies.Settle();
    EXPECT_EQ(files(), 2);
    EXPECT_FALSE(copies.Take(4 * 512).File);
    EXPECT_FALSE(copies.Take(30 * 512).File);
    CopiesAhead::Copy taken = copies.Take(10 * 512);
    ASSERT_TRUE(taken.File);
    EXPECT_EQ(taken.Bytes, 54 * 512);
    EXPECT_TRUE(test::ReadFileBytes(taken.Path) == std::vector<uint8_t>(image.begin() + 10 * 512, image.end()));
    EXPECT_FALSE(copies.Take(10 * 512).File);  // taken once
    taken.File.reset();
    RemoveFileInProgress(taken.Path);
  }
  EXPECT_EQ(files(), 0) << "the copy of the file at sector 0 was not taken";

  // A write that finds the drive full gets the copies' space back, once.
  {
    CopiesAhead copies(*source, out, 1);
    copies.Offer(10 * 512, 54 * 512, FirstByteSectors);
    copies.Settle();
    EXPECT_EQ(files(), 1);
    EXPECT_TRUE(copies.DropAll());
    EXPECT_EQ(files(), 0);
    EXPECT_FALSE(copies.DropAll());
    copies.Offer(0, 64 * 512, FirstByteSectors);  // no more copies after that
    copies.Settle();
    EXPECT_EQ(files(), 0);
  }
  // A work file's name that is taken (by a file of the user's) is left alone; only that file
  // is not copied.
  const std::string planted = out + "COPY" + SectorName(0) + ".TMP";
  test::WriteFileBytes(planted, {1});
  {
    CopiesAhead copies(*source, out, 1);
    copies.Offer(0, 64 * 512, FirstByteSectors);
    copies.Offer(10 * 512, 54 * 512, FirstByteSectors);
    copies.Settle();
    EXPECT_FALSE(copies.Take(0).File);
    CopiesAhead::Copy taken = copies.Take(10 * 512);
    EXPECT_TRUE(taken.File);
    taken.File.reset();
    RemoveFileInProgress(taken.Path);
  }
  EXPECT_EQ(test::ReadFileBytes(planted), std::vector<uint8_t>{1});
  std::filesystem::remove(planted);
  // A source that cannot copy into files makes none.
  MemorySource memory(image);
  {
    CopiesAhead copies(memory, out, 1);
    copies.Offer(0, 64 * 512, FirstByteSectors);
    copies.Settle();
    EXPECT_FALSE(copies.Take(0).File);
    EXPECT_EQ(files(), 0);
  }
  // The pass waits for a walk being made only until the scan is to stop.
  {
    CopiesAhead copies(*source, out, 1, 1);
    EXPECT_FALSE(copies.Copying());
    copies.Offer(0, 64 * 512, SlowWalk);
    while (files() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // being made
    EXPECT_TRUE(copies.Copying());  // the search gives way to it
    std::atomic<bool> stop{false};
    copies.StopWaitingWhen([&] { return stop.load(); });
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      stop = true;
    });
    const auto began = std::chrono::steady_clock::now();
    CopiesAhead::Copy taken = copies.Take(0);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_TRUE(taken.File && taken.Bytes < 64 * 512);
    EXPECT_FALSE(copies.Copying());
    taken.File.reset();
    if (!taken.Path.empty()) RemoveFileInProgress(taken.Path);
  }
  EXPECT_EQ(files(), 0);
}

}  // namespace
}  // namespace morvane
