#include "scan/recognition.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "scan/progress.h"
#include "scan/recovered_file.h"
#include "scan/scan_context.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane {
namespace {

struct RecordingObserver : ScanObserver {
  std::vector<RecoveredFileInfo> files;
  std::vector<std::string> failedSaves;
  std::vector<SaveFailureChoice> answers;  // in order; Ignore once they run out
  std::function<void()> beforeAnswer;

  SaveFailureChoice OnSaveFailed(const std::string& fileName) override {
    failedSaves.push_back(fileName);
    if (beforeAnswer) beforeAnswer();
    return failedSaves.size() <= answers.size() ? answers[failedSaves.size() - 1] : SaveFailureChoice::Ignore;
  }
  void OnFileRecovered(const RecoveredFileInfo& file) override { files.push_back(file); }
};

// A scan over an image of zero sectors; the whole image is the range unless told otherwise.
struct TestScan {
  TestScan(int64_t sectors, uint32_t sectorSize = 512, uint32_t sectorsPerCluster = 1, int64_t lastSector = -1)
      : source(std::vector<uint8_t>(static_cast<size_t>(sectors) * sectorSize)), ss(sectorSize) {
    setup.Geometry.PartitionLastSector = sectors - 1;
    setup.Geometry.SectorSize = sectorSize;
    setup.Geometry.SectorsPerCluster = sectorsPerCluster;
    setup.Geometry.ClusterPhase = 0;
    setup.LastSector = lastSector < 0 ? sectors - 1 : lastSector;
    setup.Options.OutputFolder = dir.path().string() + "/";
    scan = ScanContext::Create(source, setup, clock, &observer).Scan;
  }
  // A new scan over an image file of the bytes placed so far (which the system can copy
  // into an output file by itself).
  void OnDisk() {
    test::WriteFileBytes(dir / "source.img", source.Bytes());
    file = OpenSource(dir / "source.img").source;
    scan = ScanContext::Create(*file, setup, clock, &observer).Scan;
  }

  std::string Path(int64_t sector) const { return RecoveredFileName(scan->Options.OutputFolder, sector * ss, ".TST"); }
  std::vector<std::string> FilesInFolder() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    return names;
  }
  std::vector<int64_t> Claimed() const {
    std::vector<int64_t> out;
    for (int64_t s = 0; s <= scan->LastSector; ++s)
      if (scan->SectorMap.IsSectorClaimed(s)) out.push_back(s);
    return out;
  }
  // Writes file bytes over the given sectors, one sector's worth each, in order.
  void Place(const std::vector<uint8_t>& bytes, const std::vector<int64_t>& sectors) {
    for (size_t i = 0; i * ss < bytes.size(); ++i)
      std::copy_n(bytes.begin() + i * ss, std::min<size_t>(ss, bytes.size() - i * ss),
                  source.Bytes().begin() + sectors.at(i) * ss);
  }

  test::TempDir dir;
  MemorySource source;
  std::unique_ptr<Source> file;
  uint32_t ss;
  ScanSetup setup;
  ProgressClock clock;
  RecordingObserver observer;
  std::unique_ptr<ScanContext> scan;
};

std::vector<int64_t> Range(int64_t first, int64_t last) {
  std::vector<int64_t> v;
  for (int64_t s = first; s <= last; ++s) v.push_back(s);
  return v;
}

// The test format: "MVTC" and 4 spare bytes, then chunks of a 4-byte tag and a 32-bit
// little-endian size (header included). The file ends at the first chunk whose tag is not
// "DATA"; the bytes made here end with such a "STOP" header, which is not part of the file.
std::vector<uint8_t> ChunkFile(const std::vector<uint32_t>& chunkSizes) {
  std::vector<uint8_t> b = {'M', 'V', 'T', 'C', 0, 0, 0, 0};
  for (uint32_t size : chunkSizes) {
    size_t at = b.size();
    b.resize(at + size);
    for (size_t i = at + 8; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 13 + i / 509);
    std::copy_n("DATA", 4, b.begin() + at);
    for (int i = 0; i < 4; ++i) b[at + 4 + i] = static_cast<uint8_t>(size >> (8 * i));
  }
  b.insert(b.end(), {'S', 'T', 'O', 'P', 8, 0, 0, 0});
  return b;
}
int64_t Length(const std::vector<uint8_t>& file) { return static_cast<int64_t>(file.size()) - 8; }
std::vector<uint8_t> Content(const std::vector<uint8_t>& file) { return {file.begin(), file.end() - 8}; }

// A recogniser of the test format, written on Recognition as a real one would be.
int64_t RecoverChunkFile(ScanContext& scan, int64_t startOffset, RecognitionOutput output,
                         const std::string& saveAs = {}) {
  Recognition rec(scan, startOffset, std::move(output));
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "MVTC")) return -1;
  int64_t pos = 8;
  for (;;) {
    uint8_t header[8];
    if (!rec.CopySectorRun(pos + 8) || !rec.ReadBack(pos, header, 8)) return -1;
    ByteView h(header, 8);
    if (!h.Matches(0, "DATA") || h.Le32(4) < 8) break;
    pos += h.Le32(4);
    if (!rec.StepOver(pos)) return -1;
  }
  rec.CutToLength(pos);
  if (!saveAs.empty()) rec.Save(saveAs);
  rec.Commit();
  return pos;
}

// The second test format: "MVTS", a kind letter, 3 spare bytes, then the file's total
// length (32-bit little-endian), as archives that state their length up front. The
// recogniser decides its output only once it has seen the header; a file cut short by the
// end of the range is kept and given its declared length with zero bytes; a read error
// gives everything back.
int64_t RecoverSizedFile(ScanContext& scan, int64_t startOffset, const std::string& folder) {
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "MVTS")) return -1;
  const int64_t total = rec.FirstBytes().Le32(8);
  const std::string extension = rec.FirstBytes().U8(4) == 'A' ? ".TSA" : ".TSB";
  if (!rec.ChooseOutput(folder.empty() ? RecognitionOutput::ClaimOnly()
                                       : RecognitionOutput::File(RecoveredFileName(folder, startOffset, extension))))
    return -1;
  switch (rec.StepOverAsFarAs(total)) {
    case CopyStop::Reached: break;
    case CopyStop::RangeEnd:
      if (!rec.ExtendWithZeros(total)) return -1;
      break;
    default: return -1;
  }
  rec.CutToLength(total);
  rec.Commit();
  return total;
}

std::vector<uint8_t> SizedFile(uint32_t total, char kind = 'A') {
  std::vector<uint8_t> b(total);
  for (size_t i = 12; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 499 + 1);
  std::copy_n("MVTS", 4, b.begin());
  b[4] = static_cast<uint8_t>(kind);
  for (int i = 0; i < 4; ++i) b[8 + i] = static_cast<uint8_t>(total >> (8 * i));
  return b;
}

class RecognitionSectorSizes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RecognitionSectorSizes, CommittedFileIsExactAndKeepsItsSectorsAndClusterTail) {
  const uint32_t ss = GetParam();
  TestScan t(64, ss, 8);
  auto file = ChunkFile({ss, ss + 92});  // 2 * ss + 100 bytes: three sectors
  t.Place(file, Range(8, 11));

  EXPECT_EQ(RecoverChunkFile(*t.scan, 8 * ss, RecognitionOutput::File(t.Path(8))), Length(file));
  EXPECT_EQ(test::ReadFileBytes(t.Path(8)), Content(file));
  EXPECT_EQ(t.FilesInFolder(), std::vector<std::string>{"TEST_" + SectorName(8 * ss) + ".TST"});
  EXPECT_EQ(t.Claimed(), Range(8, 15));  // three file sectors and the rest of their cluster
  EXPECT_EQ(t.scan->RecoveredCount, 1);
  ASSERT_EQ(t.observer.files.size(), 1u);
  EXPECT_EQ(t.observer.files[0].Name, t.Path(8));
  EXPECT_EQ(t.observer.files[0].Length, Length(file));
  EXPECT_EQ(t.observer.files[0].Runs, (std::vector<SectorRun>{{8, 3}}));

  // The same start again is claimed now: nothing is read or written.
  uint64_t calls = t.source.ReadCalls();
  EXPECT_EQ(RecoverChunkFile(*t.scan, 8 * ss, RecognitionOutput::File(t.dir / "TWO.TST")), -1);
  EXPECT_EQ(t.source.ReadCalls(), calls);
  EXPECT_EQ(t.FilesInFolder().size(), 1u);
}

TEST_P(RecognitionSectorSizes, AFileCutByTheRangeEndIsKeptAndGivenItsDeclaredLengthWithZeros) {
  const uint32_t ss = GetParam();
  const int64_t lastSector = 9;  // five sectors of the file lie in the range, the rest beyond it
  auto file = SizedFile(10 * ss + 100);
  std::vector<uint8_t> expected(file.begin(), file.begin() + 5 * ss);  // sectors 4, 5, 7, 8, 9
  expected.resize(file.size(), 0);
  for (bool writes : {true, false}) {
    TestScan t(32, ss, 1, lastSector);
    t.scan->SectorMap.ClaimSector(6);  // another file's sector inside this one
    t.Place(file, {4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    EXPECT_EQ(RecoverSizedFile(*t.scan, 4 * ss, writes ? t.scan->Options.OutputFolder : ""), 10 * ss + 100);
    EXPECT_EQ(t.Claimed(), Range(4, 9));  // the zero tail stands for no sector
    if (writes) {
      EXPECT_EQ(test::ReadFileBytes(RecoveredFileName(t.scan->Options.OutputFolder, 4 * ss, ".TSA")), expected);
      EXPECT_EQ(t.scan->RecoveredCount, 1);
    } else {
      EXPECT_TRUE(t.FilesInFolder().empty());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(All, RecognitionSectorSizes, ::testing::Values(512u, 1024u, 2048u, 4096u));

TEST(Recognition, StopAndKeepSaysWhyItStoppedAndLeavesTheDecisionToTheRecogniser) {
  TestScan t(64, 512, 8);
  t.source.SetBadSectors({20});
  {
    Recognition rec(*t.scan, 8 * 512, RecognitionOutput::Memory());
    EXPECT_EQ(rec.CopyAsFarAs(4 * 512), CopyStop::Reached);
    EXPECT_EQ(rec.CopyAsFarAs(100 * 512), CopyStop::ReadError);  // sectors 8..19 copied
    EXPECT_EQ(rec.Length(), 12 * 512);
    EXPECT_FALSE(rec.Failed());
    EXPECT_EQ(rec.CopyAsFarAs(100 * 512), CopyStop::ReadError);  // still there, nothing lost
    EXPECT_EQ(rec.Claims().SectorCount(), 12);
    EXPECT_FALSE(t.scan->SectorMap.IsSectorClaimed(20));  // the unread sector is not claimed
    rec.Commit();  // kept as far as it was collected
  }
  EXPECT_EQ(t.Claimed(), Range(8, 23));  // and the tail of the cluster it stopped in
  {  // the range end; and a recognition that has failed says so
    Recognition rec(*t.scan, 24 * 512, RecognitionOutput::Memory());
    EXPECT_EQ(rec.CopyAsFarAs(1000 * 512), CopyStop::RangeEnd);
    EXPECT_EQ(rec.Length(), 40 * 512);
    EXPECT_FALSE(rec.CopySectorRun(41 * 512));
    EXPECT_EQ(rec.CopyAsFarAs(50 * 512), CopyStop::Inactive);
    EXPECT_EQ(rec.StepOverAsFarAs(50 * 512), CopyStop::Inactive);
  }
  EXPECT_EQ(t.Claimed(), Range(8, 23));
  // A read error is no reason to give a claim-only walk up: it steps over without reading.
  TestScan claim(64, 512, 1);
  claim.source.SetBadSectors({20});
  {
    Recognition rec(*claim.scan, 8 * 512, RecognitionOutput::ClaimOnly());
    EXPECT_EQ(rec.StepOverAsFarAs(30 * 512), CopyStop::Reached);
    rec.Commit();
  }
  EXPECT_EQ(claim.Claimed(), Range(8, 37));
}

TEST(Recognition, ZeroBytesAndAppendedBytesStandForNoSectorWhenCut) {
  for (bool writes : {true, false}) {
    TestScan t(16);
    std::fill(t.source.Bytes().begin(), t.source.Bytes().end(), 0xEE);
    {
      Recognition rec(*t.scan, 0, writes ? RecognitionOutput::File(t.Path(0)) : RecognitionOutput::Memory());
      ASSERT_TRUE(rec.CopySectorRun(1024));    // sectors 0 and 1
      ASSERT_TRUE(rec.ExtendWithZeros(3000));
      ASSERT_TRUE(rec.ExtendWithZeros(2000));  // never shortens
      EXPECT_EQ(rec.Length(), 3000);
      uint8_t got[4] = {1, 1, 1, 1};
      ASSERT_TRUE(rec.ReadBack(2996, got, 4));
      EXPECT_EQ(std::count(got, got + 4, 0), 4);
      ASSERT_TRUE(rec.CopySectorRun(3000 + 1024));  // sectors 2 and 3
      rec.CutToLength(3500);  // 1976 zero bytes and 1524 of the source: three sectors
      rec.Commit();
    }
    EXPECT_EQ(t.Claimed(), Range(0, 2));
    if (writes) {
      std::vector<uint8_t> expected(3500, 0xEE);
      std::fill(expected.begin() + 1024, expected.begin() + 3000, 0);
      EXPECT_EQ(test::ReadFileBytes(t.Path(0)), expected);
    }
  }
}

TEST(Recognition, TheOutputIsChosenAfterTheStartAndNothingIsCreatedForARefusedCandidate) {
  TestScan t(20000);
  auto big = SizedFile(3 * 1024 * 1024 + 77, 'B');  // held in memory before the choice: more than the 1 MiB buffer
  t.Place(big, Range(10, 20000 - 1));
  t.Place(std::vector<uint8_t>{'M', 'V', 'T', 'X'}, {5});
  const std::string folder = t.scan->Options.OutputFolder;
  {  // the walk copies a long way before it chooses; nothing exists until then
    Recognition rec(*t.scan, 10 * 512, RecognitionOutput::Undecided());
    ASSERT_EQ(rec.CopyAsFarAs(static_cast<int64_t>(big.size())), CopyStop::Reached);
    EXPECT_TRUE(t.FilesInFolder().empty());
    EXPECT_EQ(static_cast<int64_t>(rec.Bytes().size()), rec.Length());
    EXPECT_FALSE(rec.ChooseOutput(RecognitionOutput::Undecided()));
    ASSERT_TRUE(rec.ChooseOutput(RecognitionOutput::File(RecoveredFileName(folder, 10 * 512, ".TSB"))));
    EXPECT_FALSE(rec.ChooseOutput(RecognitionOutput::ClaimOnly()));  // once only
    rec.CutToLength(static_cast<int64_t>(big.size()));
    rec.Commit();
  }
  EXPECT_EQ(test::ReadFileBytes(RecoveredFileName(folder, 10 * 512, ".TSB")), big);
  // A refused candidate: no file, no claim, whatever the output would have been.
  EXPECT_EQ(RecoverSizedFile(*t.scan, 5 * 512, folder), -1);
  EXPECT_EQ(t.FilesInFolder().size(), 1u);
  EXPECT_FALSE(t.scan->SectorMap.IsSectorClaimed(5));
  {  // an output that cannot be created fails the recognition; everything is given back
    Recognition rec(*t.scan, 0, RecognitionOutput::Undecided());
    ASSERT_TRUE(rec.CopySectorRun(2048));
    EXPECT_FALSE(rec.ChooseOutput(RecognitionOutput::File(t.dir / "missing/TEST_X.TST")));
    EXPECT_TRUE(rec.Failed());
  }
  EXPECT_FALSE(t.scan->SectorMap.IsSectorClaimed(0));
  {  // only an Undecided output can be chosen
    Recognition rec(*t.scan, 0, RecognitionOutput::Memory());
    EXPECT_FALSE(rec.ChooseOutput(RecognitionOutput::ClaimOnly()));
    EXPECT_FALSE(rec.Failed());
  }
}

TEST(Recognition, AClaimOnlyWindowStaysBoundedWhicheverCallMovesTheWalk) {
  TestScan t(40000);
  auto& image = t.source.Bytes();
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i % 253);
  Recognition rec(*t.scan, 0, RecognitionOutput::ClaimOnly());
  const int64_t end = 16 * kOutputBufferBytes;
  ASSERT_TRUE(rec.CopySectorRun(end));  // read, not stepped over
  uint8_t got[8];
  EXPECT_FALSE(rec.ReadBack(kOutputBufferBytes, got, 8));  // long gone
  for (int64_t at : {end - kClaimWindowBytes, end - 8, int64_t{100}}) {  // the last MiB, and the start sector
    ASSERT_TRUE(rec.ReadBack(at, got, 8)) << at;
    EXPECT_TRUE(std::equal(got, got + 8, image.begin() + at)) << at;
  }
  rec.DropHeldBytesBefore(end - 100);  // a walk done with what lies behind it
  EXPECT_FALSE(rec.ReadBack(end - 108, got, 8));
  EXPECT_TRUE(rec.ReadBack(end - 100, got, 8));
  EXPECT_TRUE(rec.ReadBack(0, got, 8));
  rec.Commit();
  EXPECT_EQ(t.scan->SectorMap.CountClaimed(0, 40000), end / 512);
}

TEST(Recognition, ACutCanKeepTheSectorsReadPastTheEnd) {
  for (bool keep : {true, false}) {
    TestScan t(16);
    {
      Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
      ASSERT_TRUE(rec.CopySectorRun(5 * 512));
      keep ? rec.CutKeepingClaims(600) : rec.CutToLength(600);
      EXPECT_EQ(rec.Length(), 600);
      rec.Commit();
    }
    EXPECT_EQ(test::ReadFileBytes(t.Path(0)).size(), 600u);
    EXPECT_EQ(t.Claimed(), Range(0, keep ? 4 : 1));
  }
}

TEST(Recognition, ClaimedSectorsAreSteppedOverAndSectorsReadBeyondTheEndGivenBack) {
  TestScan t(64);
  for (int64_t s : {10, 12, 13}) t.scan->SectorMap.ClaimSector(s);
  auto file = ChunkFile({3064});  // exactly six sectors; the STOP header in a seventh
  t.Place(file, {8, 9, 11, 14, 15, 16, 17});

  EXPECT_EQ(RecoverChunkFile(*t.scan, 8 * 512, RecognitionOutput::Memory(), t.Path(8)), Length(file));
  EXPECT_EQ(test::ReadFileBytes(t.Path(8)), Content(file));
  EXPECT_EQ(t.observer.files.at(0).Runs, (std::vector<SectorRun>{{8, 2}, {11, 1}, {14, 3}}));
  EXPECT_EQ(t.Claimed(), Range(8, 16));  // 17 was read for the STOP header, then released
}

TEST(Recognition, AppendedBytesStandForNoSectorEvenWhenTheCutFallsBeforeThem) {
  for (int64_t cut : {int64_t{3000}, int64_t{1200}}) {  // behind the appended bytes; inside the own ones
    TestScan t(16);
    Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
    ASSERT_TRUE(rec.CopySectorRun(1024));                       // sectors 0 and 1
    ASSERT_TRUE(rec.Append(ByteView(std::vector<uint8_t>(1024, 7).data(), 1024)));
    ASSERT_TRUE(rec.CopySectorRun(3072));                       // sectors 2 and 3
    rec.CutToLength(cut);
    rec.Commit();
    EXPECT_EQ(test::ReadFileBytes(t.Path(0)).size(), static_cast<size_t>(cut));
    // 3000 bytes are 1976 of the source: four sectors; 1200 bytes hold 1024 of the source
    // and 176 appended ones: two sectors, not zero.
    EXPECT_EQ(t.Claimed(), Range(0, cut == 3000 ? 3 : 1));
  }
}

TEST(Recognition, EveryOtherWayOutRollsBackAndDeletesThePartialFile) {
  TestScan t(200, 512, 8);
  t.scan->SectorMap.ClaimSector(3);  // somebody else's
  t.source.SetBadSectors({150});
  auto onlyTheOthersClaims = [&] {
    EXPECT_EQ(t.Claimed(), std::vector<int64_t>{3});
    EXPECT_TRUE(t.FilesInFolder().empty());
  };
  {  // a structure check fails after ten sectors were claimed
    Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
    ASSERT_TRUE(rec.CopySectorRun(10 * 512));
    EXPECT_EQ(rec.Claims().SectorCount(), 10);
    EXPECT_EQ(t.FilesInFolder(), std::vector<std::string>{"TEST_AAAAAAAA.TST.part"});
  }
  onlyTheOthersClaims();
  EXPECT_THROW(
      {
        Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
        rec.CopySectorRun(20 * 512);
        throw std::runtime_error("parser gave up");
      },
      std::runtime_error);
  onlyTheOthersClaims();
  {  // runs that cross LastSector
    Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
    uint64_t calls = t.source.ReadCalls();
    EXPECT_FALSE(rec.CopySectorRun(201 * 512));  // longer than the range: fails before reading
    EXPECT_EQ(t.source.ReadCalls(), calls);
  }
  onlyTheOthersClaims();
  {  // a sector that cannot be read fails the recognition for good
    Recognition rec(*t.scan, 0, RecognitionOutput::Memory());
    EXPECT_TRUE(rec.CopySectorRun(149 * 512));
    EXPECT_FALSE(rec.CopySectorRun(150 * 512));
    EXPECT_FALSE(rec.CopySectorRun(151 * 512));
    rec.Commit();
  }
  onlyTheOthersClaims();
  EXPECT_EQ(t.scan->RecoveredCount, 0);
}

TEST(Recognition, UnusableStartsAreRefusedWithoutClaimingOrCreating) {
  TestScan t(32, 512, 1, 23);
  t.source.SetBadSectors({7});
  auto refused = [&](int64_t offset, RecognitionOutput out) {
    Recognition rec(*t.scan, offset, std::move(out));
    EXPECT_FALSE(rec.Started());
    EXPECT_FALSE(rec.CopySectorRun(4096));
  };
  refused(6 * 512 + 1, RecognitionOutput::Memory());     // not a sector boundary
  refused(24 * 512, RecognitionOutput::Memory());        // beyond LastSector
  EXPECT_EQ(t.source.ReadCalls(), 0u);
  refused(7 * 512, RecognitionOutput::File(t.Path(7)));  // unreadable
  refused(8 * 512, RecognitionOutput::File(t.dir / "missing/TEST_X.TST"));
  EXPECT_TRUE(t.Claimed().empty());
  EXPECT_TRUE(t.FilesInFolder().empty());
}

TEST(Recognition, ClaimOnlyClaimsWhatAFileWouldWithoutReadingOrWriting) {
  // Many small chunks (the window is compacted as it goes), then one big chunk (stepped
  // over without being read), with claimed sectors scattered through the file.
  std::vector<uint32_t> chunks(300, 700);
  chunks.push_back(2'000'000);
  auto file = ChunkFile(chunks);
  const auto sectors = static_cast<int64_t>(file.size() + 511) / 512;
  auto recover = [&](TestScan& t, RecognitionOutput out) {
    std::vector<int64_t> placement;
    for (int64_t s = 2; static_cast<int64_t>(placement.size()) < sectors; ++s)
      s % 97 == 0 ? t.scan->SectorMap.ClaimSector(s) : placement.push_back(s);
    t.Place(file, placement);
    return RecoverChunkFile(*t.scan, 2 * 512, std::move(out));
  };
  // Written as it is read, and written on commit from the claimed runs.
  TestScan written(sectors + 100, 512, 4), onCommit(sectors + 100, 512, 4), claimed(sectors + 100, 512, 4);
  ASSERT_EQ(recover(written, RecognitionOutput::File(written.Path(2))), Length(file));
  ASSERT_EQ(recover(onCommit, RecognitionOutput::FileOnCommit(onCommit.Path(2))), Length(file));
  ASSERT_EQ(recover(claimed, RecognitionOutput::ClaimOnly()), Length(file));

  EXPECT_EQ(test::ReadFileBytes(written.Path(2)), Content(file));
  EXPECT_EQ(test::ReadFileBytes(onCommit.Path(2)), Content(file));
  EXPECT_EQ(onCommit.Claimed(), written.Claimed());
  EXPECT_EQ(claimed.Claimed(), written.Claimed());
  EXPECT_TRUE(claimed.FilesInFolder().empty());
  EXPECT_TRUE(claimed.observer.files.empty());
  EXPECT_EQ(claimed.scan->RecoveredCount, 0);
  EXPECT_LT(claimed.scan->BytesRead, written.scan->BytesRead / 4);  // the big chunk was not read
}

TEST(Recognition, FileOutputReadsBackWhatItHasAlreadyWritten) {
  for (bool onDisk : {false, true}) {  // read and written, or copied by the system
    TestScan t(8000);
    auto& image = t.source.Bytes();
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i % 251);
    if (onDisk) t.OnDisk();
    Recognition rec(*t.scan, 0, RecognitionOutput::File(t.Path(0)));
    const int64_t end = 3 * kOutputBufferBytes + 512;  // three MiB are in the file by now
    ASSERT_TRUE(rec.CopySectorRun(end));
    uint8_t got[8];
    for (int64_t at : {int64_t{10}, 3 * kOutputBufferBytes - 4, end - 8}) {
      ASSERT_TRUE(rec.ReadBack(at, got, 8)) << at;
      EXPECT_TRUE(std::equal(got, got + 8, image.begin() + at)) << at;
    }
    EXPECT_FALSE(rec.ReadBack(end - 4, got, 8));
    rec.CutToLength(kOutputBufferBytes / 2);  // back into the part already written
    ASSERT_TRUE(rec.CopySectorRun(kOutputBufferBytes));
    rec.Commit();
    EXPECT_EQ(test::ReadFileBytes(t.Path(0)), std::vector<uint8_t>(image.begin(), image.begin() + kOutputBufferBytes));
    EXPECT_EQ(t.Claimed(), Range(0, kOutputBufferBytes / 512 - 1));
  }
}

TEST(Recognition, SaveFailuresAreAskedAboutAndNeverLoseTheClaims) {
  TestScan t(64);
  auto file = ChunkFile({1500});
  for (int64_t s : {0, 10, 20}) t.Place(file, Range(s, s + 2));
  const std::string later = t.dir / "later/";

  // Retry after the folder has appeared: saved, counted, reported.
  t.observer.answers = {SaveFailureChoice::Retry, SaveFailureChoice::Ignore, SaveFailureChoice::Abort};
  t.observer.beforeAnswer = [&] { std::filesystem::create_directory(later); };
  EXPECT_EQ(RecoverChunkFile(*t.scan, 0, RecognitionOutput::Memory(), later + "A.TST"), Length(file));
  EXPECT_EQ(test::ReadFileBytes(later + "A.TST"), Content(file));
  // Ignore, then Abort: nothing written or counted, the sectors stay claimed; Abort stops.
  EXPECT_EQ(RecoverChunkFile(*t.scan, 10 * 512, RecognitionOutput::Memory(), t.dir / "no/B"), Length(file));
  EXPECT_EQ(t.scan->RunState, rsRunning);
  EXPECT_EQ(RecoverChunkFile(*t.scan, 20 * 512, RecognitionOutput::Memory(), t.dir / "no/C"), Length(file));
  EXPECT_EQ(t.scan->RunState, rsStopped);

  EXPECT_EQ(t.observer.failedSaves.size(), 3u);
  EXPECT_EQ(t.observer.files.size(), 1u);
  EXPECT_EQ(t.scan->RecoveredCount, 1);
  EXPECT_EQ(t.Claimed(), (std::vector<int64_t>{0, 1, 2, 10, 11, 12, 20, 21, 22}));
}

TEST(Recognition, AFileThatCannotBeWrittenIsAskedAboutOnceAndTheWalkGoesOn) {
  if (!test::CanLimitFileSize()) GTEST_SKIP() << "no file-size limit on this system";
  TestScan t(6000);
  auto file = ChunkFile({500'000, 1'500'000});
  t.Place(file, Range(0, 5999));
  test::WithFileSizeLimit(256 * 1024, [&] {
    EXPECT_EQ(RecoverChunkFile(*t.scan, 0, RecognitionOutput::File(t.Path(0))), Length(file));
  });
  EXPECT_EQ(t.observer.failedSaves, std::vector<std::string>{t.Path(0)});
  EXPECT_TRUE(t.FilesInFolder().empty());
  EXPECT_TRUE(t.observer.files.empty());
  EXPECT_EQ(t.scan->RecoveredCount, 0);
  EXPECT_EQ(static_cast<int64_t>(t.Claimed().size()), (Length(file) + 511) / 512);
}

TEST(Recognition, AfterIgnoreOrAbortTheWalkStillReadsTheHeaderItNeedsAndKeepsItsClaims) {
  if (!test::CanLimitFileSize()) GTEST_SKIP() << "no file-size limit on this system";
  // The second chunk's header lies 200 bytes before the 1 MiB mark: in the very piece whose
  // write fails.
  auto file = ChunkFile({static_cast<uint32_t>(kOutputBufferBytes - 200 - 8), 100'000});
  for (SaveFailureChoice answer : {SaveFailureChoice::Ignore, SaveFailureChoice::Abort}) {
    TestScan t(4000);
    t.Place(file, Range(0, 3999));
    t.observer.answers = {answer};
    test::WithFileSizeLimit(256 * 1024, [&] {
      EXPECT_EQ(RecoverChunkFile(*t.scan, 0, RecognitionOutput::File(t.Path(0))), Length(file));
    });
    EXPECT_EQ(t.observer.failedSaves.size(), 1u);
    EXPECT_TRUE(t.FilesInFolder().empty());
    EXPECT_EQ(static_cast<int64_t>(t.Claimed().size()), (Length(file) + 511) / 512);
  }
}

TEST(ScanContext, RefusesBadSetupsAndClaimsClusterTailsFromItsPhase) {
  MemorySource source(std::vector<uint8_t>(100 * 512));
  ProgressClock clock;
  ScanSetup setup;
  setup.Geometry = {.PartitionLastSector = 99, .SectorSize = 520, .SectorsPerCluster = 8, .ClusterPhase = 3};
  setup.LastSector = 99;
  EXPECT_EQ(ScanContext::Create(source, setup, clock).Error, ScanSetupError::InvalidGeometry);
  setup.Geometry.SectorSize = 512;
  setup.LastSector = 100;
  EXPECT_EQ(ScanContext::Create(source, setup, clock).Error, ScanSetupError::InvalidRange);
  setup.LastSector = 99;
  auto scan = ScanContext::Create(source, setup, clock).Scan;
  ASSERT_TRUE(scan);
  EXPECT_EQ(scan->ClaimClusterTail(5), 11);  // 5..10 claimed, 11 begins a cluster
  EXPECT_EQ(scan->ClaimClusterTail(11), 11);
  EXPECT_EQ(scan->SectorMap.CountClaimed(0, 100), 6);
}

}  // namespace
}  // namespace morvane
