// The command-line program end to end: messages, exit statuses and files it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace morvane {
namespace {
namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;  // stdout and stderr together
};

Result Morvane(const std::string& args, const std::string& env = "LANG=C") {
  std::string cmd = env + " " + std::string(MORVANE_BINARY_DIR) + "/morvane " + args + " 2>&1 < /dev/null";
  Result r{-1, {}};
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int rc = pclose(p);
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return r;
}

bool Contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

std::string SampleImage(test::TempDir& dir) {
  std::string img = dir / "card.img";
  EXPECT_EQ(test::Run("xz -dc " + test::SampleCardImage() + " > " + img), 0);
  return img;
}

TEST(Cli, OpeningRefusalsGiveTheirMessagesAndFail) {
  test::TempDir dir;
  auto missing = Morvane("info " + dir / "nope.img");
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.out, "Failed to open file!"));
  EXPECT_EQ(Morvane("info " + dir.path().string()).status, 1);
  test::WriteFileBytes(dir / "empty.img", {});
  test::WriteFileBytes(dir / "one.img", {0x41});
  EXPECT_TRUE(Contains(Morvane("info " + dir / "empty.img").out, "Failed to open file!"));
  EXPECT_EQ(Morvane("view " + dir / "one.img").status, 1);
  // A short image of zeros opens as OTHER with 512-byte sectors.
  test::WriteFileBytes(dir / "short.img", std::vector<uint8_t>(1536, 0));
  auto info = Morvane("info --json " + dir / "short.img");
  ASSERT_EQ(info.status, 0) << info.out;
  auto j = nlohmann::json::parse(info.out);
  EXPECT_EQ(j["fileSystem"], "OTHER");
  EXPECT_EQ(j["sectorSize"], 512);
  EXPECT_EQ(j["totalSectors"], 3);
  EXPECT_EQ(j["lossReason"], "repartitioned");
  auto beyond = Morvane("view " + dir / "short.img" + " --sector 3");
  EXPECT_EQ(beyond.status, 1);
  EXPECT_TRUE(Contains(beyond.out, "Invalid sector range!"));
  EXPECT_TRUE(Contains(Morvane("info " + dir / "nope.img", "LANG=zh_CN.UTF-8").out, "打开文件失败"));
}

TEST(Cli, ViewPrintsTheDumpAndInfoTheDetection) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(1024, 0);
  bytes[512] = 0x41;
  bytes[513] = 0x42;
  bytes[514] = 0x7F;
  test::WriteFileBytes(dir / "d.img", bytes);
  auto v = Morvane("view " + dir / "d.img" + " --sector 1");
  ASSERT_EQ(v.status, 0);
  EXPECT_TRUE(Contains(v.out, "000: 4142 7F00 0000"));
  EXPECT_TRUE(Contains(v.out, "0000 0000 AB" + std::string(30, '.') + "\n"));
  EXPECT_TRUE(Contains(v.out, "\n1E0: "));

  std::string img = SampleImage(dir);
  auto info = nlohmann::json::parse(Morvane("info --json " + img).out);
  EXPECT_EQ(info["fileSystem"], "FAT32");
  EXPECT_EQ(info["sectorsPerCluster"], 2);
  EXPECT_EQ(info["lossReason"], "deleted");
}

TEST(Cli, TypesListAndUnknownNames) {
  auto t = Morvane("types --types jpg,DOC");
  EXPECT_EQ(t.status, 0);
  EXPECT_TRUE(Contains(t.out, "[x] JPG"));
  EXPECT_TRUE(Contains(t.out, "[ ] PNG"));
  auto bad = Morvane("types --types jpg,heic");
  EXPECT_EQ(bad.status, 1);
  EXPECT_TRUE(Contains(bad.out, "heic"));
  EXPECT_TRUE(Contains(bad.out, "JPG"));
}

TEST(Cli, ScanChecksRefuseBeforeAnythingIsWritten) {
  test::TempDir dir;
  std::string img = SampleImage(dir);
  fs::create_directory(dir / "out");
  std::string out = " -o " + dir / "out";
  EXPECT_TRUE(Contains(Morvane("scan " + img + " -o " + dir / "none").out, "Please select folder to save file!"));
  EXPECT_TRUE(Contains(Morvane("scan " + img + out + " --last 262144").out, "invalid sector range!"));
  EXPECT_TRUE(Contains(Morvane("scan " + img + out + " --first x").out, "invalid sector range!"));
  EXPECT_TRUE(Contains(Morvane("scan " + img + out + " --photo-from 2009-13-01").out, "Invalid photo start date!"));
  EXPECT_TRUE(Contains(Morvane("scan " + img + out + " --photo-to 2009-02-30").out, "Invalid photo end date!"));
  // Without JPG and RAW the dates are not looked at.
  EXPECT_EQ(Morvane("scan -q " + img + out + " --types ai --photo-from junk --last 100").status, 0);
  EXPECT_TRUE(Contains(Morvane("scan " + img + out + " --fs ntfs").out, "--reason"));
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST(Cli, ScanWritesItsReportAndBackupItsImage) {
  test::TempDir dir;
  std::string img = SampleImage(dir);
  fs::create_directory(dir / "out");
  auto r = Morvane("scan " + img + " -o " + dir / "out" + " --report " + dir / "report.json");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(Contains(r.out, "Rescued file "));
  std::ifstream in(dir / "report.json");
  auto j = nlohmann::json::parse(in);
  EXPECT_EQ(j["lastSector"], 262143);
  EXPECT_GE(j["found"].get<int>(), 6);
  EXPECT_EQ(j["files"].size(), j["recovered"].get<size_t>());
  for (const auto& e : fs::directory_iterator(dir / "out")) EXPECT_NE(e.path().extension(), ".TMP");

  auto b = Morvane("backup " + img + " " + dir / "part.img" + " --first 100 --last 4195");
  ASSERT_EQ(b.status, 0) << b.out;
  EXPECT_TRUE(Contains(b.out, "Finished!"));
  auto whole = test::ReadFileBytes(img);
  EXPECT_EQ(test::ReadFileBytes(dir / "part.img"),
            std::vector<uint8_t>(whole.begin() + 100 * 512, whole.begin() + 4196 * 512));
  auto full = Morvane("backup " + img + " /dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_TRUE(Contains(full.out, "No enough free space on dest drive!"));
}

TEST(Cli, CtrlCStopsTheScanAndCleansUp) {
  test::TempDir dir;
  std::string img = dir / "big.img";
  ASSERT_EQ(test::Run("truncate -s 64G " + img), 0);  // sparse: reads are fast but many
  fs::create_directory(dir / "out");
  std::string cmd = std::string(MORVANE_BINARY_DIR) + "/morvane scan -q " + img + " -o " + dir / "out" +
                    " --report " + dir / "r.json" + " > " + dir / "log" + " 2>&1 & pid=$!; sleep 1; kill -INT $pid; "
                    "wait $pid";
  EXPECT_EQ(test::Run(cmd), 0);
  std::ifstream in(dir / "r.json");
  auto j = nlohmann::json::parse(in);
  EXPECT_TRUE(j["searchCancelled"].get<bool>());
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

TEST(Cli, MissingBrandingFileStopsTheProgram) {
  test::TempDir dir;
  fs::copy_file(std::string(MORVANE_BINARY_DIR) + "/morvane", dir / "morvane");
  auto r = Morvane("--help");
  EXPECT_EQ(r.status, 0);
  std::string cmd = "LANG=C " + dir / "morvane" + " --help > " + dir / "log" + " 2>&1";
  EXPECT_NE(test::Run(cmd), 0);
  auto log = test::ReadFileBytes(dir / "log");
  EXPECT_TRUE(Contains(std::string(log.begin(), log.end()), "Morvane.dll"));
}

}  // namespace
}  // namespace morvane
