// Inputs that used to make the program wait or spin for ever: a FIFO as the source, and a
// write failure that never goes away with --on-write-error retry.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>

#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

TEST(HostileHangs, AFifoAsSourceIsRefusedAtOnceByEveryCommand) {
  test::TempDir dir;
  const std::string fifo = dir / "pipe.img";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir / "out");
  for (const std::string& args : {"info " + Q(fifo), "info --json " + Q(fifo), "view " + Q(fifo),
                                 "scan -q " + Q(fifo) + " -o " + Q(dir / "out"),
                                 "backup -q " + Q(fifo) + " " + Q(dir / "copy.img")}) {
    auto r = Morvane(args, 10);
    EXPECT_EQ(r.status, 1) << args << "\n" << r.out;
    EXPECT_TRUE(r.Has("not a regular file or block device")) << args << "\n" << r.out;
  }
  // A character device is no source either.
  auto tty = Morvane("info /dev/null", 10);
  EXPECT_EQ(tty.status, 1);
  EXPECT_TRUE(tty.Has("not a regular file or block device")) << tty.out;
  EXPECT_FALSE(fs::exists(dir / "copy.img"));
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// Every file write fails for good (the file-size limit of 1 KiB stands for a full drive).
const std::string kWritesFail = "trap '' XFSZ; ulimit -f 1;";

TEST(HostileHangs, RetryOnAWriteThatKeepsFailingIsBoundedAndGivesTheReason) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", TwoPhotoCard());
  fs::create_directory(dir / "out");
  const auto t0 = std::chrono::steady_clock::now();
  auto r = Morvane("scan -q -t jpg --on-write-error retry " + Q(dir / "card.img") + " -o " + Q(dir / "out"), 60,
                   kWritesFail);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 4) << r.out;
  EXPECT_TRUE(r.Has("File too large")) << r.out;
  EXPECT_TRUE(r.Has("Giving up after 5 retries")) << r.out;
  EXPECT_LT(r.out.size(), 4000u) << "stderr flooded";
  EXPECT_LT(seconds, 20.0);
  EXPECT_TRUE(test::HoldsOnlyResumeState(dir / "out")) << "a partly written file was left";
}

TEST(HostileHangs, RetryEndsAtTheFirstInterrupt) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", TwoPhotoCard());
  fs::create_directory(dir / "out");
  const auto t0 = std::chrono::steady_clock::now();
  int status = test::Run("(" + kWritesFail + " exec timeout -s KILL 20 " + Program() +
                         " scan -q -t jpg --on-write-error retry " +
                         Q(dir / "card.img") + " -o " + Q(dir / "out") +
                         " >/dev/null 2>&1) & pid=$!; sleep 1.5; kill -INT $pid; wait $pid");
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // 4 when a file was lost before the stop (the write failure outranks it), 130 when the
  // stop came first on a slow machine; never the watchdog's kill.
  EXPECT_TRUE(status == 4 || status == 130) << status;
  EXPECT_LT(seconds, 3.5) << "the retries went on after Ctrl-C";
  EXPECT_TRUE(test::HoldsOnlyResumeState(dir / "out"));
}

}  // namespace
}  // namespace morvane::hostile
