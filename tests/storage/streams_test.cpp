#include "storage/streams.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <filesystem>

#include "support/test_support.h"

namespace morvane {
namespace {

TEST(Format, PercentAndDiskSize) {
  EXPECT_EQ(FormatPercent(1000, 1), "0.10%");
  EXPECT_EQ(FormatPercent(1000, 500), "50.00%");
  EXPECT_EQ(FormatPercent(1000, 0), "0.00%");
  EXPECT_EQ(FormatPercent(3, 3), "100.00%");
  EXPECT_EQ(FormatPercent(int64_t{1} << 62, int64_t{1} << 61), "50.00%");  // no 64-bit overflow
  EXPECT_EQ(FormatPercent(0, 0), "100.00%");                              // empty range: done

  EXPECT_EQ(FormatDiskSize(500107862016), "465.76GB");
  EXPECT_EQ(FormatDiskSize(4194304), "4.00MB");
  EXPECT_EQ(FormatDiskSize(10485760), "10.00MB");
  EXPECT_EQ(FormatDiskSize(20000000), "19.07MB");
  EXPECT_EQ(FormatDiskSize(524288), ".50MB");
  EXPECT_EQ(FormatDiskSize(1073217536), "1023.50MB");
  EXPECT_EQ(FormatDiskSize(1073741824), "1.00GB");
}

TEST(Streams, CreateWriteSizeAndReopen) {
  test::TempDir dir;
  std::string name = dir / "out.bin";
  {
    auto s = OpenOutputFileStream(name, fmCreate);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->Write("hello world", 11), 11);
    EXPECT_EQ(s->Size(), 11);
    EXPECT_EQ(s->Position(), 11);  // Size() keeps the position
    s->SetSize(5);
    EXPECT_EQ(s->Size(), 5);
  }
  EXPECT_EQ(std::filesystem::file_size(name), 5u);
  TNewFileStream r(name, fmOpenRead | fmShareDenyWrite);
  ASSERT_NE(r.FileHandle(), -1);
  char buf[16] = {};
  EXPECT_EQ(r.Read(buf, 16), 5);
  EXPECT_EQ(std::string(buf), "hello");
  TNewFileStream missing(dir / "nope", fmOpenRead);
  EXPECT_EQ(missing.FileHandle(), -1);
}

TEST(Streams, NewFilesNeverTakeAnExistingNameAndNothingIsMadeWritable) {
  test::TempDir dir;
  std::string name = dir / "TEST_AAAAAAAA.JPG";
  test::WriteFileBytes(name, {1, 2, 3});
  ::chmod(name.c_str(), 0444);
  EXPECT_FALSE(OpenOutputFileStream(name, fmCreateNew));
  EXPECT_EQ(errno, EEXIST);
  struct stat st {};
  ASSERT_EQ(::stat(name.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
  EXPECT_EQ(test::ReadFileBytes(name), (std::vector<uint8_t>{1, 2, 3}));
  // A link, even one that points nowhere, is a taken name: nothing is created through it.
  std::filesystem::create_symlink(dir / "target", dir / "link");
  EXPECT_FALSE(OpenOutputFileStream(dir / "link", fmCreateNew));
  EXPECT_FALSE(std::filesystem::exists(dir / "target"));
  auto fresh = OpenOutputFileStream(dir / "fresh", fmCreateNew);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->Write("x", 1), 1);
}

TEST(Streams, LoadFileRetriesThenGivesUp) {
  test::TempDir dir;
  MemoryStream m;
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(LoadFileToStream(m, dir / "missing.ini"));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  EXPECT_GE(ms.count(), 900);  // ten waits of 100 ms

  test::WriteFileBytes(dir / "list.txt", {'a', '\r', '\n', 'b', '\n', '\n', 'c', '\r', 'd'});
  std::vector<std::string> lines;
  ASSERT_TRUE(LoadListFromFile(lines, dir / "list.txt"));
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", "c", "d"}));
}

TEST(Streams, ReadNulStringStopsAtNulOrEnd) {
  MemoryStream m;
  m.Write("ab\0\0cd", 6);
  m.SetPosition(0);
  EXPECT_EQ(ReadNulString(m), "ab");
  EXPECT_EQ(m.Position(), 3);
  EXPECT_EQ(ReadNulString(m), "");  // an empty string consumes just its NUL
  EXPECT_EQ(m.Position(), 4);
  EXPECT_EQ(ReadNulString(m), "cd");
  EXPECT_EQ(ReadNulString(m), "");  // at the end
  EXPECT_EQ(m.Position(), 6);
}

}  // namespace
}  // namespace morvane
