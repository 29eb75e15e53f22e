// The exit status and the messages tell the truth: a scan or backup that lost output is not
// a success, a failure gives the system's reason, and only a full drive is called full.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <nlohmann/json.hpp>

#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

const std::string kWritesFail = "trap '' XFSZ; ulimit -f 1;";

TEST(HostileOutcomes, LostOutputIsNeverASuccess) {
  test::TempDir dir;
  const std::string img = dir / "card.img";
  test::WriteFileBytes(img, TwoPhotoCard());
  fs::create_directory(dir / "out");
  const std::string scan = "scan " + Q(img) + " -o " + Q(dir / "out");

  // A recovered file that cannot be written: abort and ignore both fail, with the reason.
  for (const char* mode : {"abort", "ignore"}) {
    auto r = Morvane(scan + " -t jpg --on-write-error " + std::string(mode), 60, kWritesFail);
    EXPECT_EQ(r.status, 4) << mode << "\n" << r.out;
    EXPECT_TRUE(r.Has("Failed save file")) << r.out;
    EXPECT_TRUE(r.Has("File too large")) << r.out;
  }
  EXPECT_TRUE(test::HoldsOnlyResumeState(dir / "out"));

  // The report cannot be written: the files are, the last line is printed, the status says so.
  auto noReport = Morvane(scan + " -t jpg --report " + Q(dir / "missing/r.json"));
  EXPECT_EQ(noReport.status, 4) << noReport.out;
  EXPECT_TRUE(noReport.Has("Cannot write the report")) << noReport.out;
  EXPECT_TRUE(noReport.Has("No such file or directory")) << noReport.out;
  EXPECT_TRUE(noReport.Has("Rescued file 2")) << noReport.out;
  fs::remove_all(dir / "out");
  fs::create_directory(dir / "out");

  // The work files cannot be created (every name they could take is in the way).
  for (int n = 0; n < 100; ++n) {
    const std::string suffix = n == 0 ? "" : "_" + std::to_string(n);
    fs::create_directory(dir / ("out/FILESTAR" + suffix + ".TMP"));
  }
  auto noWork = Morvane(scan + " --report " + Q(dir / "r.json"));
  EXPECT_EQ(noWork.status, 5) << noWork.out;
  EXPECT_TRUE(noWork.Has("Can't create TMP file!")) << noWork.out;
  auto j = nlohmann::json::parse(Slurp(dir / "r.json"));
  EXPECT_TRUE(j["workFilesFailed"].get<bool>());
}

TEST(HostileOutcomes, BackupFailuresSayWhatHappened) {
  test::TempDir dir;
  const std::string img = dir / "card.img";
  test::WriteFileBytes(img, TwoPhotoCard());
  // Not a regular file: refused before anything is written, and not called a full drive.
  for (const std::string& target : {std::string("/dev/full"), dir.path().string()}) {
    auto r = Morvane("backup -q " + Q(img) + " " + Q(target));
    EXPECT_NE(r.status, 0) << target;
    EXPECT_FALSE(r.Has("No enough free space on dest drive!")) << target << "\n" << r.out;
  }
  EXPECT_TRUE(Morvane("backup -q " + Q(img) + " /dev/full").Has("not a regular file"));
  // A file-size limit is not a full drive either; the unfinished image goes.
  auto big = Morvane("backup -q " + Q(img) + " " + Q(dir / "copy.img"), 60, kWritesFail);
  EXPECT_EQ(big.status, 4) << big.out;
  EXPECT_TRUE(big.Has("File too large")) << big.out;
  EXPECT_FALSE(big.Has("No enough free space")) << big.out;
  EXPECT_FALSE(fs::exists(dir / "copy.img"));
}

TEST(HostileOutcomes, ABackupThatFillsTheDriveSaysSoAndCleansUp) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  test::TempDir dir;
  const std::string img = dir / "card.img", small = dir / "small";
  test::WriteFileBytes(img, TwoPhotoCard());  // 1 MiB
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount tmpfs here";
  auto full = Morvane("backup -q " + Q(img) + " " + Q(small + "/copy.img"));
  EXPECT_EQ(full.status, 4) << full.out;
  EXPECT_TRUE(full.Has("No enough free space on dest drive!")) << full.out;
  EXPECT_TRUE(full.Has("No space left on device")) << full.out;
  EXPECT_FALSE(fs::exists(small + "/copy.img")) << "the partial image was left on the full drive";
  auto kept = Morvane("backup -q --keep-partial " + Q(img) + " " + Q(small + "/copy.img"));
  EXPECT_EQ(kept.status, 4) << kept.out;
  EXPECT_TRUE(fs::exists(small + "/copy.img"));
  fs::remove(small + "/copy.img");
  // A scan into the full drive names the reason of each failed file.
  test::WriteFileBytes(small + "/filler", std::vector<uint8_t>(250 * 1024));
  auto scan = Morvane("scan -q -t jpg --on-write-error ignore " + Q(img) + " -o " + Q(small));
  EXPECT_EQ(scan.status, 4) << scan.out;
  EXPECT_TRUE(scan.Has("No space left on device")) << scan.out;
  ::umount(small.c_str());

  // No file can be created at all (no inode left): the folder is refused before the scan,
  // with the reason.
  test::WriteFileBytes(img, CardWith({{100, Sample("mp4/isom.mp4")}}));
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k,nr_inodes=1") != 0) GTEST_SKIP() << "no inode limit";
  auto video = Morvane("scan -q -t mov --on-write-error ignore " + Q(img) + " -o " + Q(small));
  EXPECT_EQ(video.status, 1) << video.out;
  EXPECT_TRUE(video.Has("Cannot write into the folder " + small + ": No space left on device")) << video.out;
  ::umount(small.c_str());
}

// The work files of the stream search on a drive with no byte free: their records were
// dropped without a word, "Rescued file 0" and status 0. The failure has its reason now,
// the status and the report say so, and no work file stays behind.
TEST(HostileOutcomes, WorkFilesOnAFullDriveAreAFailure) {
  if (!IsRoot()) GTEST_SKIP() << "needs root to mount a small tmpfs";
  test::TempDir dir;
  const std::string img = dir / "card.img", small = dir / "small";
  test::WriteFileBytes(img, CardWith({{100, Sample("mpeg/plain.ts")}}));
  fs::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount tmpfs here";
  test::Run("dd if=/dev/zero of=" + Q(small + "/filler") + " bs=4k 2>/dev/null");
  for (const char* mode : {"abort", "ignore"}) {
    auto r = Morvane("scan -q -t ts --on-write-error " + std::string(mode) + " --report " + Q(dir / "r.json") + " " +
                     Q(img) + " -o " + Q(small));
    EXPECT_EQ(r.status, 5) << mode << "\n" << r.out;
    EXPECT_TRUE(r.Has("FILESTAR.TMP: No space left on device")) << r.out;
    EXPECT_TRUE(r.Has("the MPEG and TS videos found are lost")) << r.out;
    EXPECT_TRUE(nlohmann::json::parse(Slurp(dir / "r.json"))["workFilesFailed"].get<bool>());
    EXPECT_EQ(std::distance(fs::directory_iterator(small), {}), 1) << "only the filler may be left";
  }
  ::umount(small.c_str());
}

TEST(HostileOutcomes, NamesThatAreNotUtf8AreReportedWithoutLoss) {
  test::TempDir dir;
  const std::string odd = "card\xff\xfe%.img";  // Latin-1 bytes and a percent sign
  const std::string img = dir / odd, out = dir / "out\xe9";
  test::WriteFileBytes(img, TwoPhotoCard());
  fs::create_directory(out);
  auto r = Morvane("scan -t jpg " + Q(img) + " -o " + Q(out) + " --report " + Q(dir / "r.json"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(r.Has("Rescued file 2")) << r.out;
  auto j = nlohmann::json::parse(Slurp(dir / "r.json"));
  EXPECT_EQ(j["source"], (dir.path() / "card%FF%FE%25.img").string());
  EXPECT_EQ(j["outputFolder"], (dir.path() / "out%E9").string());
  EXPECT_EQ(j["files"].size(), 2u);
  auto info = Morvane("info --json " + Q(img));
  ASSERT_EQ(info.status, 0) << info.out;
  EXPECT_EQ(nlohmann::json::parse(info.out)["source"], (dir.path() / "card%FF%FE%25.img").string());
  // Valid UTF-8 stays as it is.
  const std::string utf8 = dir / "Fotos-\xc3\xa9t\xc3\xa9.img";
  test::WriteFileBytes(utf8, TwoPhotoCard());
  EXPECT_EQ(nlohmann::json::parse(Morvane("info --json " + Q(utf8)).out)["source"], utf8);
}

TEST(HostileOutcomes, PhotoDatesWithoutLimitsAndReversedLimits) {
  test::TempDir dir;
  // A photo taken in 2201: far future, but no date limit was asked for.
  auto photo = Sample("jpeg/exif_le.jpg");
  const std::string when = "2014:07:15 10:20:31";
  auto at = std::search(photo.begin(), photo.end(), when.begin(), when.end());
  ASSERT_NE(at, photo.end());
  std::copy_n("2201", 4, at);
  test::WriteFileBytes(dir / "card.img", CardWith({{100, photo}}));
  fs::create_directory(dir / "out");
  auto r = Morvane("scan -t jpg " + Q(dir / "card.img") + " -o " + Q(dir / "out"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(r.Has("Rescued file 1")) << r.out;
  EXPECT_TRUE(fs::exists(dir / "out/TEST_AAAAAADW.JPG"));
  // Only an explicit end date leaves it out.
  fs::remove_all(dir / "out");
  fs::create_directory(dir / "out");
  auto limited = Morvane("scan -t jpg --photo-to 2200-12-31 " + Q(dir / "card.img") + " -o " + Q(dir / "out"));
  EXPECT_TRUE(limited.Has("Rescued file 0")) << limited.out;

  auto reversed = Morvane("scan -q -t jpg --photo-from 2010-05-01 --photo-to 2009-05-01 " + Q(dir / "card.img") +
                          " -o " + Q(dir / "out"));
  EXPECT_EQ(reversed.status, 1);
  EXPECT_TRUE(reversed.Has("Photo start date is after the end date!")) << reversed.out;
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

}  // namespace
}  // namespace morvane::hostile
