#include "scan/recovered_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "scan/progress.h"
#include "scan/scan_context.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane {
namespace {

TEST(RecoveredFile, NamesCountIn512ByteUnits) {
  EXPECT_EQ(SectorName(0), "AAAAAAAA");
  EXPECT_EQ(SectorName(511), "AAAAAAAA");
  EXPECT_EQ(SectorName(26 * 512), "AAAAAABA");
  EXPECT_EQ(SectorName(3 * 4096), "AAAAAAAY");  // a 4096-byte sector is eight units
  const int64_t wrap = 208827064576LL;          // 26^8
  EXPECT_EQ(SectorName(512 * (wrap - 1)), "ZZZZZZZZ");
  EXPECT_EQ(SectorName(512 * wrap), "AAAAAAAA");
  EXPECT_EQ(RecoveredFileName("/out/", 26 * 512, ".JPG"), "/out/TEST_AAAAAABA.JPG");
  EXPECT_EQ(FileExtension("/out.d/TEST_AAAAAABA.ENC.DOCX"), ".ENC.DOCX");
  EXPECT_EQ(FileExtension("/out.d/TEST_AAAAAABA"), "");
}

TEST(RecoveredFile, SaveKeepsEarlierFilesAndLeavesNothingHalfWritten) {
  test::TempDir dir;
  MemorySource source(std::vector<uint8_t>(8 * 512));
  ProgressClock clock;
  ScanSetup setup;
  setup.Geometry.PartitionLastSector = setup.LastSector = 7;
  auto scan = ScanContext::Create(source, setup, clock).Scan;  // no observer: failures are ignored
  ASSERT_TRUE(scan);

  const std::string name = dir / "TEST_AAAAAAAA.DOC";
  test::WriteFileBytes(name, std::vector<uint8_t>(5000, 1));
  MemoryStream stream;
  stream.Write("abc", 3);
  std::string written;
  EXPECT_TRUE(SaveRecoveredFile(*scan, stream, name, &written));
  EXPECT_EQ(written, dir / "TEST_AAAAAAAA_1.DOC");
  EXPECT_EQ(test::ReadFileBytes(written), (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(test::ReadFileBytes(name), std::vector<uint8_t>(5000, 1));
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_TRUE(SaveRecoveredFile(*scan, ByteView(), dir / "EMPTY.DOC"));
  EXPECT_TRUE(test::ReadFileBytes(dir / "EMPTY.DOC").empty());

  // A folder in the way, and a temporary name taken: the next free names are used, and
  // nothing is left over.
  std::filesystem::create_directory(dir / "TEST_X.DOC");
  test::WriteFileBytes(dir / "TEST_X_1.DOC.part", {9});
  EXPECT_TRUE(SaveRecoveredFile(*scan, stream, dir / "TEST_X.DOC", &written));
  EXPECT_EQ(written, dir / "TEST_X_2.DOC");
  EXPECT_EQ(test::ReadFileBytes(dir / "TEST_X_1.DOC.part"), (std::vector<uint8_t>{9}));
  EXPECT_FALSE(std::filesystem::exists(dir / "TEST_X_2.DOC.part"));
  EXPECT_EQ(scan->RunState, rsRunning);
}

TEST(RecoveredFile, NumberedNamesKeepTheWholeExtension) {
  EXPECT_EQ(NumberedFileName("/o/TEST_AAAAAAAA.ENC.DOCX", 0), "/o/TEST_AAAAAAAA.ENC.DOCX");
  EXPECT_EQ(NumberedFileName("/o/TEST_AAAAAAAA.ENC.DOCX", 2), "/o/TEST_AAAAAAAA_2.ENC.DOCX");
  EXPECT_EQ(NumberedFileName("/o/TEST_AAAAAAAA_2.JPG", 3), "/o/TEST_AAAAAAAA_3.JPG");  // no _2_3
  EXPECT_EQ(NumberedFileName("/o/TEST_AAAAAAAA_2.JPG", 0), "/o/TEST_AAAAAAAA.JPG");
  EXPECT_EQ(NumberedFileName("/o.d/FILESTAR.TMP", 1), "/o.d/FILESTAR_1.TMP");
  EXPECT_EQ(NumberedFileName("/o/_5", 1), "/o/_5_1");  // a name that is only a number keeps it
}

}  // namespace
}  // namespace morvane
