// The output folder is shared ground: it may hold the user's files, an earlier scan's, or
// names planted by someone who guessed what the scan will write. The scan never replaces,
// follows or changes what it did not create, and removes only what it created.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <set>

#include <nlohmann/json.hpp>

#include "formats/raw_card.h"
#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

const std::string kFirst = "TEST_AAAAAADW.JPG", kSecond = "TEST_AAAAAALO.JPG";

TEST(HostileOutputFolder, FilesAlreadyThereAreKeptAndTheNewOnesTakeTheNextFreeName) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", TwoPhotoCard());
  const std::string out = dir / "out";
  fs::create_directory(out);
  const std::vector<uint8_t> mine = {'m', 'i', 'n', 'e'};
  test::WriteFileBytes(out + "/" + kFirst, mine);  // the user's own file
  fs::create_directory(out + "/" + kSecond);       // even a folder in the way
  test::WriteFileBytes(out + "/TEST_AAAAAALO_1.JPG", mine);

  auto r = Morvane("scan -q -t jpg " + Q(dir / "card.img") + " -o " + Q(out) + " --report " + Q(dir / "r.json"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::ReadFileBytes(out + "/" + kFirst), mine);
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAALO_1.JPG"), mine);
  EXPECT_TRUE(fs::is_directory(out + "/" + kSecond));
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAADW_1.JPG"), Sample("jpeg/exif_le.jpg"));
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAALO_2.JPG"), Sample("jpeg/baseline.jpg"));
  // The report names the files as they were written.
  auto j = nlohmann::json::parse(Slurp(dir / "r.json"));
  std::set<std::string> names;
  for (const auto& f : j["files"]) names.insert(f["name"].get<std::string>());
  EXPECT_EQ(names, (std::set<std::string>{"TEST_AAAAAADW_1.JPG", "TEST_AAAAAALO_2.JPG"}));

  // A second scan into the same folder adds copies beside the first scan's files.
  ASSERT_EQ(Morvane("scan -q -t jpg " + Q(dir / "card.img") + " -o " + Q(out)).status, 0);
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAADW_2.JPG"), Sample("jpeg/exif_le.jpg"));
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAADW_1.JPG"), Sample("jpeg/exif_le.jpg"));
}

TEST(HostileOutputFolder, PlantedLinksAreNeverFollowed) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "card.img", TwoPhotoCard());
  const std::string out = dir / "out", victim = dir / "victim.txt", secret = dir / "secret.txt";
  fs::create_directory(out);
  const std::vector<uint8_t> precious = {'k', 'e', 'e', 'p'};
  test::WriteFileBytes(victim, precious);
  ::chmod(victim.c_str(), 0444);
  test::WriteFileBytes(secret, precious);
  // Links under every name the scan is known to write: temporary files, final names and the
  // work files, pointing at files outside the folder or nowhere.
  fs::create_symlink(victim, out + "/" + kFirst + ".part");
  fs::create_symlink(secret, out + "/" + kSecond);
  fs::create_symlink(dir / "nowhere", out + "/" + kSecond + ".part");
  fs::create_symlink(victim, out + "/FILESTAR.TMP");
  fs::create_symlink(secret, out + "/FILETYPE.TMP");

  auto r = Morvane("scan -q " + Q(dir / "card.img") + " -o " + Q(out) + " --report " + Q(dir / "r.json"));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(test::ReadFileBytes(victim), precious);
  EXPECT_EQ(test::ReadFileBytes(secret), precious);
  struct stat st {};
  ASSERT_EQ(::stat(victim.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u) << "the scan changed a file it did not create";
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
  for (const std::string& name : {kFirst + ".part", kSecond, kSecond + ".part", std::string("FILESTAR.TMP"),
                                 std::string("FILETYPE.TMP")})
    EXPECT_TRUE(fs::is_symlink(out + "/" + name)) << name;
  // A taken temporary name moves the file to the next free name as well.
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAADW_1.JPG"), Sample("jpeg/exif_le.jpg"));
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAALO_1.JPG"), Sample("jpeg/baseline.jpg"));
  // The work files went elsewhere and were removed.
  EXPECT_FALSE(fs::exists(out + "/FILESTAR_1.TMP"));
  EXPECT_FALSE(fs::exists(out + "/FILETYPE_1.TMP"));
}

// Signals a running scan of a large sparse image and waits for the program; returns its status.
int ScanAndSignal(const std::string& image, const std::string& out, const std::string& report,
                  const std::vector<std::string>& signals) {
  std::string cmd = Program() + " scan -q " + Q(image) + " -o " + Q(out) + " --report " + Q(report) +
                    " >/dev/null 2>&1 & pid=$!; sleep 1";
  for (const auto& s : signals) cmd += "; kill -" + s + " $pid";
  cmd += "; wait $pid";
  return test::Run(cmd);
}

TEST(HostileOutputFolder, TheSecondInterruptRemovesOnlyWhatTheScanCreated) {
  test::TempDir dir;
  const std::string img = dir / "big.img", out = dir / "out";
  ASSERT_EQ(test::Run("truncate -s 64G " + Q(img)), 0);  // sparse: a search that lasts
  fs::create_directory(out);
  const std::vector<uint8_t> mine = {'d', 'r', 'a', 'f', 't'};
  test::WriteFileBytes(out + "/thesis.part", mine);
  test::WriteFileBytes(out + "/TEST_AAAAAAAA.JPG.part", mine);
  // Two different signals at once, so that both arrive while the scan still runs.
  EXPECT_EQ(ScanAndSignal(img, out, dir / "r.json", {"INT", "TERM"}), 130);
  EXPECT_EQ(test::ReadFileBytes(out + "/thesis.part"), mine);
  EXPECT_EQ(test::ReadFileBytes(out + "/TEST_AAAAAAAA.JPG.part"), mine);
  fs::remove(out + "/thesis.part");
  fs::remove(out + "/TEST_AAAAAAAA.JPG.part");
  EXPECT_TRUE(test::HoldsOnlyResumeState(out)) << "work files left behind";
}

// The folder is renamed and a link to another folder put in its place while the scan runs
// (between the search and the recovery): the files and the work files stay in the folder
// the scan opened, nothing lands behind the link, and no work file is left in either.
TEST(HostileOutputFolder, AFolderSwappedForALinkMidScanDoesNotMoveTheOutput) {
  struct Swapper : ScanObserver {
    std::string out, moved, elsewhere;
    void OnPhase(ScanPass p) override {
      if (p != ScanPass::Recovery) return;
      fs::rename(out, moved);
      fs::create_directory_symlink(elsewhere, out);
    }
  } swap;
  test::RawCard card(1024);
  card.Place(Sample("jpeg/baseline.jpg"), 10);
  card.Place(Sample("mpeg/plain.ts"), 100);
  swap.out = card.dir / "out", swap.moved = card.dir / "moved", swap.elsewhere = card.dir / "elsewhere";
  fs::create_directory(swap.out);
  fs::create_directory(swap.elsewhere);
  card.setup.Options.OutputFolder = swap.out + "/";
  card.observer = &swap;
  EXPECT_EQ(card.RunAll().RecoveredCount, 2);
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(swap.moved)) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"TEST_AAAAAAAK.JPG", "TEST_AAAAAADW.TS"}));
  EXPECT_TRUE(fs::is_empty(swap.elsewhere));
}

}  // namespace
}  // namespace morvane::hostile
