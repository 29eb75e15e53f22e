#include "scan/read_cache.h"
#include "scan/search_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "storage/source.h"

namespace morvane {
namespace {

struct Cache {
  Cache(size_t sourceBytes, int64_t limit) : source(std::vector<uint8_t>(sourceBytes)), cache(source, limit, bytesRead) {
    for (size_t i = 0; i < sourceBytes; ++i) source.Bytes()[i] = static_cast<uint8_t>(i * 7 + i / 251);
  }
  // Reads through the cache and compares with the source.
  bool Reads(int64_t offset, int64_t count) {
    std::vector<uint8_t> buf(static_cast<size_t>(count));
    return cache.ReadSectors(buf.data(), count, offset) == 0 &&
           std::equal(buf.begin(), buf.end(), source.Bytes().begin() + offset);
  }
  MemorySource source;
  std::atomic<int64_t> bytesRead{0};
  TReadCache cache;
};

TEST(ReadCache, WindowStartsAtTheRequestAndContinuesAtTheFirstUncachedByte) {
  Cache c(1 << 20, 1 << 20);
  ASSERT_TRUE(c.Reads(1000, 512));  // window [1000, 1000 + 64 KiB)
  ASSERT_TRUE(c.Reads(1000 + kReadCacheWindow - 600, 512));
  EXPECT_EQ(c.source.ReadCalls(), 1u);
  // 100 bytes before the window's end: those from the cache, the rest from a new window
  // that starts at the first byte the cache did not hold.
  const int64_t end = 1000 + kReadCacheWindow;
  ASSERT_TRUE(c.Reads(end - 100, 512));
  ASSERT_TRUE(c.Reads(end + kReadCacheWindow - 1, 1));
  EXPECT_EQ(c.source.ReadCalls(), 2u);
  EXPECT_EQ(c.bytesRead, 2 * kReadCacheWindow);
}

TEST(ReadCache, WindowEndsAtTheRangeEndAndNothingBeyondIsRead) {
  const int64_t limit = 1000 * 512;  // the range ends before the source does
  Cache c(2000 * 512, limit);
  ASSERT_TRUE(c.Reads(limit - 512, 512));
  ASSERT_TRUE(c.Reads(limit - kReadCacheWindow, 512));  // pulled back: still cached
  uint8_t buf[1024];
  EXPECT_EQ(c.cache.ReadSectors(buf, 512, limit), 512);
  EXPECT_EQ(c.cache.ReadSectors(buf, 1024, limit - 512), 512);  // only the part inside
  EXPECT_EQ(c.source.ReadCalls(), 1u);

  Cache shortRange(40 * 512, 40 * 512);  // shorter than a window: read from byte 0
  ASSERT_TRUE(shortRange.Reads(30 * 512, 1024));
  ASSERT_TRUE(shortRange.Reads(0, 512));
  EXPECT_EQ(shortRange.source.ReadCalls(), 1u);
  EXPECT_EQ(shortRange.bytesRead, 40 * 512);
}

TEST(ReadCache, ABadSectorFailsOnlyTheRequestsThatTouchIt) {
  Cache c(400 * 512, 400 * 512);
  c.source.SetBadSectors({100});
  EXPECT_TRUE(c.Reads(90 * 512, 512));  // its window would cover sector 100
  const uint64_t calls = c.source.ReadCalls();
  EXPECT_TRUE(c.Reads(91 * 512, 512));
  EXPECT_EQ(c.source.ReadCalls(), calls + 1);  // read directly: the window is not retried
  EXPECT_FALSE(c.Reads(99 * 512, 1024));
  EXPECT_TRUE(c.Reads(101 * 512, 512));
}


// The search reader hands back every hit of every block in the order the blocks were asked
// for, whichever thread read and classified it, including when the caller asks for another
// block than the ones queued; a block that cannot be read is reported whole, with no hits.
TEST(SearchReader, HitsComeBackInDiskOrderWhoeverReadTheBlock) {
  const int64_t sectors = 12 * 2048 + 77;
  MemorySource source(std::vector<uint8_t>(static_cast<size_t>(sectors) * 512));
  std::vector<int64_t> marked;
  for (int64_t s = 0; s < sectors; s += 1 + (s * 7919) % 97) {
    source.Bytes()[static_cast<size_t>(s) * 512] = 0xA5;
    marked.push_back(s);
  }
  const std::set<int64_t> bad = {marked[40], marked[41] + 1, 5 * 2048 + 3};
  source.SetBadSectors(bad);
  std::atomic<int64_t> bytesRead{0};
  std::atomic<int> classified{0};
  TSearchReader reader(source, 512, 1, [&](int64_t sector, const uint8_t* bytes) -> uint8_t {
    if (++classified % 997 == 0) std::this_thread::sleep_for(std::chrono::microseconds(300));  // uneven work
    return bytes[0] == 0xA5 ? static_cast<uint8_t>(1 + sector % 200) : 0;
  }, bytesRead);
  const int64_t block = reader.BlockSectors(), skipFrom = 7 * block, skipTo = 9 * block;
  auto blockFailed = [&](int64_t s) {
    const auto firstBad = bad.lower_bound(s / block * block);
    return firstBad != bad.end() && *firstBad < s / block * block + block;
  };
  std::vector<int64_t> got;
  int64_t queued = 0;
  for (int64_t s = 0; s < sectors; s = (s == skipFrom ? skipTo : s + block)) {
    reader.Read(s, std::min(block, sectors - s));  // at skipFrom + block: not the block queued
    EXPECT_EQ(reader.BlockRead(), !blockFailed(s)) << s;
    for (queued = std::max(queued, s + block); queued < sectors; queued += block)
      if (!reader.Queue(queued, std::min(block, sectors - queued))) break;
    for (const SearchHit& hit : reader.Hits()) {
      EXPECT_EQ(hit.type, 1 + hit.sector % 200);
      got.push_back(hit.sector);
    }
  }
  std::vector<int64_t> expected;
  for (int64_t s : marked)
    if (!blockFailed(s) && !(s > skipFrom + block - 1 && s < skipTo)) expected.push_back(s);
  EXPECT_EQ(got, expected);
}

// While the reader gives way (a copy is being made), its own thread takes no block, however
// long the blocks queued wait; once it no longer does, that thread takes them again.
TEST(SearchReader, ItsThreadTakesNoBlockWhileItGivesWay) {
  const int64_t blocks = 8;
  MemorySource source(std::vector<uint8_t>(static_cast<size_t>(blocks * 2048 * 512)));
  std::atomic<int64_t> bytesRead{0};
  std::atomic<bool> copying{true};
  std::mutex mutex;
  std::set<std::thread::id> readers;
  TSearchReader reader(source, 512, 2048, [&](int64_t, const uint8_t*) -> uint8_t {
    std::lock_guard lock(mutex);
    readers.insert(std::this_thread::get_id());
    return 0;
  }, bytesRead);
  reader.GiveWayWhile([&] { return copying.load(); });
  const int64_t block = reader.BlockSectors();
  auto readWithOneQueued = [&](int64_t n) {
    reader.Read(n * block, block);
    if (n + 1 < blocks) reader.Queue((n + 1) * block, block);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // time enough for a helper
  };
  for (int64_t n = 0; n < blocks / 2; ++n) readWithOneQueued(n);
  EXPECT_EQ(readers, std::set<std::thread::id>{std::this_thread::get_id()});
  copying = false;
  for (int64_t n = blocks / 2; n < blocks; ++n) readWithOneQueued(n);
  EXPECT_EQ(readers.size(), 2u);
}

}  // namespace
}  // namespace morvane
