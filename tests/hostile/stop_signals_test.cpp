// A closed terminal (SIGHUP), a shutdown or `timeout` (SIGTERM) stop a job like Ctrl-C: the
// scan ends cleanly with its report and no temporary or work files, the backup deletes its
// unfinished image (unless asked to keep it), and the exit status says it was stopped.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

int RunAndSignal(const std::string& args, const std::string& signal, const std::string& after = "1") {
  return test::Run(Program() + " " + args + " >/dev/null 2>&1 & pid=$!; sleep " + after + "; kill -" + signal +
                   " $pid; wait $pid");
}

TEST(HostileStop, TermAndHangUpStopAScanCleanly) {
  test::TempDir dir;
  const std::string img = dir / "big.img";
  ASSERT_EQ(test::Run("truncate -s 64G " + Q(img)), 0);
  for (const char* signal : {"TERM", "HUP", "INT"}) {
    const std::string out = dir / (std::string("out-") + signal), report = dir / (std::string("r-") + signal + ".json");
    fs::create_directory(out);
    EXPECT_EQ(RunAndSignal("scan -q " + Q(img) + " -o " + Q(out) + " --report " + Q(report), signal), 130) << signal;
    ASSERT_TRUE(fs::exists(report)) << signal;
    auto j = nlohmann::json::parse(Slurp(report));
    EXPECT_TRUE(j["searchCancelled"].get<bool>()) << signal;
    EXPECT_TRUE(test::HoldsOnlyResumeState(out)) << signal << ": work files left behind";
  }
}

TEST(HostileStop, TermAndHangUpStopABackupAndRemoveItsImage) {
  test::TempDir dir;
  const std::string img = dir / "big.img";
  ASSERT_EQ(test::Run("truncate -s 64G " + Q(img)), 0);
  fs::create_directory(dir / "copies");
  // Copying 64 GiB of holes takes far longer than the moment the backup is given before the
  // signal (kept short: every sector copied is written).
  for (const char* signal : {"TERM", "HUP"}) {
    const std::string copy = dir / (std::string("copies/c-") + signal + ".img");
    EXPECT_EQ(RunAndSignal("backup -q " + Q(img) + " " + Q(copy), signal, "0.3"), 130) << signal;
    EXPECT_FALSE(fs::exists(copy)) << signal << ": the unfinished image was left";
  }
  const std::string kept = dir / "copies/kept.img";
  EXPECT_EQ(RunAndSignal("backup -q --keep-partial " + Q(img) + " " + Q(kept), "TERM", "0.3"), 130);
  EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
}  // namespace morvane::hostile
