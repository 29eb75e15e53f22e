#include "scan/scan_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string_view>

#include "filetypes/catalogue.h"
#include "scan/file_type_id.h"
#include "storage/streams.h"
#include "support/test_support.h"

namespace morvane {
namespace {
using namespace std::string_literals;

// Sector contents that the classifier takes for the start of a file of each kind.
const std::string kJpegApp = "\xFF\xD8\xFF\xE0"s;
const std::string kJpegOther = "\xFF\xD8\xFF\xDB"s;
const std::string kPdf = "%PDF-1.4"s;
const std::string kMpeg1Pack = "\x00\x00\x01\xBA\x2F\xFF\xFF\xFF\xFF\x80"s;  // clock not 0: a stream packet

struct Call {
  std::string pass;
  int64_t sector;
  bool operator==(const Call&) const = default;
};

struct PhaseObserver : ScanObserver {
  std::vector<ScanPass> phases;
  std::function<void(ScanPass)> onPhase;
  bool workFilesFailed = false;
  void OnPhase(ScanPass p) override {
    phases.push_back(p);
    if (onPhase) onPhase(p);
  }
  void OnWorkFilesFailed() override { workFilesFailed = true; }
};

// A scan over an in-memory image, with a recogniser table that records its calls.
struct DriverScan {
  explicit DriverScan(int64_t sectors) : image(static_cast<size_t>(sectors) * 512, 0) {
    setup.Geometry.PartitionLastSector = sectors - 1;
    setup.LastSector = sectors - 1;
    setup.Options.OutputFolder = dir.path().string() + "/";
    auto record = [this](const char* pass) {
      return [this, pass](ScanContext& scan, int64_t offset) { calls.push_back({pass, offset / scan.SectorSize()}); };
    };
    for (uint8_t t : {ftJpegApp, ftPdf, ftGif}) table.Recovery[t] = record("recovery");
    table.LateJpeg = record("late");
    table.Stream[ftMpeg1Pack] = record("stream");
  }
  void Put(int64_t sector, const std::string& bytes) { std::copy(bytes.begin(), bytes.end(), image.begin() + sector * 512); }
  ScanReport Run(std::set<int64_t> bad = {}) {
    MemorySource source(image);
    source.SetBadSectors(std::move(bad));
    auto created = ScanContext::Create(source, setup, clock, &observer);
    EXPECT_TRUE(created.Scan);
    scan = std::move(created.Scan);
    TSourceGeometry detected = setup.Geometry;
    ScanReport r = RunScan(*scan, detected, table);
    claimed.clear();
    for (int64_t s = 0; s <= setup.LastSector; ++s)
      if (scan->SectorMap.IsSectorClaimed(s)) claimed.push_back(s);
    return r;
  }

  test::TempDir dir;
  std::vector<uint8_t> image;
  ScanSetup setup;
  ProgressClock clock;
  PhaseObserver observer;
  RecogniserTable table;
  std::vector<Call> calls;
  std::vector<int64_t> claimed;
  std::unique_ptr<ScanContext> scan;
};

TEST(ScanDriver, PassesRunInOrderFromTheHighestCandidateDown) {
  DriverScan d(64);
  d.Put(10, kJpegApp);
  d.Put(20, kJpegOther);  // waits for the late pass although it lies in front of the PDF
  d.Put(30, kPdf);
  d.Put(40, kMpeg1Pack);
  d.Put(50, "GIF89a");  // only occupies its place: no recogniser in the table's sense of the kind
  auto r = d.Run();
  std::vector<Call> expected = {{"recovery", 50}, {"recovery", 30}, {"recovery", 10}, {"late", 20}, {"stream", 40}};
  EXPECT_EQ(d.calls, expected);
  EXPECT_EQ(r.Candidates, 4);
  EXPECT_EQ(r.StreamCandidates, 1);
  EXPECT_EQ(r.FoundCount, 3u);  // two JPEGs and the PDF; GIF and stream continuation packets never count
  std::vector<ScanPass> phases = {ScanPass::Searching, ScanPass::Recovery, ScanPass::LateJpeg, ScanPass::Streams,
                                  ScanPass::Finished};
  EXPECT_EQ(d.observer.phases, phases);
  EXPECT_TRUE(std::filesystem::is_empty(d.dir.path()));  // the work files are gone
}

TEST(ScanDriver, UnselectedStreamKindsAreSkippedAndStopEndsThePasses) {
  DriverScan d(64);
  d.Put(10, kJpegApp);
  d.Put(20, kJpegOther);
  d.Put(30, kPdf);
  d.Put(40, kMpeg1Pack);
  d.setup.Options.TypeMask = kAllFileTypesMask & ~kTypeMpg;
  d.table.Recovery[ftPdf] = [&](ScanContext& scan, int64_t offset) {
    d.calls.push_back({"recovery", offset / 512});
    scan.RunState = rsStopped;  // the user presses Stop while the PDF is carved
  };
  auto r = d.Run();
  EXPECT_TRUE(r.Stopped);
  EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 30}}));
  EXPECT_TRUE(std::filesystem::is_empty(d.dir.path()));
  EXPECT_EQ(d.observer.phases.back(), ScanPass::Finished);
}

// Program-stream and transport-stream starts (types 31 and 33) are file starts tried in the
// recovery pass with the others; clock-0 MPEG-2 packs (29) and continuation packets go to the
// work files and the stream pass, which tries only the selected kinds.
TEST(ScanDriver, StreamStartsAndPacketsGoWhereTheirKindIsTried) {
  const std::string mpeg1Start = "\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80"s;  // 31
  const std::string mpeg2Start = "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01"s;  // 29
  const std::string mpeg2Early = "\x00\x00\x01\xBA\x44\x00\x4F\x0F\xFC\x01"s;  // 30
  std::string ts192(512, '\0');                                                  // 33
  for (size_t at : {4u, 196u, 388u}) ts192[at] = 'G';
  ts192[195] = 1;  // time stamps 0, 1, 2
  ts192[387] = 2;
  DriverScan d(64);
  for (uint8_t t : {ftMpeg1PackClockZero, ftTs192First}) d.table.Recovery[t] = d.table.Recovery[ftPdf];
  for (uint8_t t : {ftMpeg2PackClockZero, ftMpeg2PackEarly}) d.table.Stream[t] = d.table.Stream[ftMpeg1Pack];
  d.Put(10, mpeg1Start);
  d.Put(20, ts192);
  d.Put(30, mpeg2Start);
  d.Put(40, kPdf);
  d.Put(50, kMpeg1Pack);
  d.Put(60, mpeg2Early);
  d.setup.Options.TypeMask = kAllFileTypesMask & ~kTypeMpg;  // MPEG-1 packets are not tried
  auto r = d.Run();
  EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 40}, {"recovery", 20}, {"recovery", 10}, {"stream", 30}, {"stream", 60}}));
  EXPECT_EQ(r.Candidates, 3);
  EXPECT_EQ(r.StreamCandidates, 3);
  EXPECT_EQ(d.observer.phases.back(), ScanPass::Finished);
}

// Each file start counts as found under its own kind and no other.
TEST(ScanDriver, FoundCountsEachStartUnderItsKind) {
  const std::pair<uint8_t, uint32_t> kinds[] = {
      {ftJpegApp, kTypeJpg}, {ftJpegOther, kTypeJpg}, {ftBmp, kTypeBmp}, {ftPng, kTypePng},
      {ftTiffRaw, kTypeRaw}, {ftX3f, kTypeRaw}, {ftRaf, kTypeRaw}, {ftPdf, kTypeAi},
      {ftRiffCdr, kTypeCdr}, {ftZipCdr, kTypeCdr}, {ftRiffAvi, kTypeAvi},
      {ftRiffCdxa, kTypeDat}, {ftMp4, kTypeMp4}, {ft3gp, kType3gp}, {ftMov, kTypeMov}, {ftClassicMov, kTypeMov},
      {ftRiffWave, kTypeWav}, {ftMpeg2PackClockZero, kTypeVob},
      {ftMpeg1PackClockZero, kTypeMpg}, {ftTs192First, kTypeMts}, {ftRar, kTypeRar}, {ftZip, kTypeZip},
      {ftCab, kTypeCab}, {ft7z, kType7z}};
  for (auto [type, kind] : kinds) {
    SCOPED_TRACE(static_cast<int>(type));
    EXPECT_TRUE(CountsAsFound(type, kind));
    EXPECT_FALSE(CountsAsFound(type, kAllFileTypesMask & ~kind));
  }
  for (uint8_t office : {ftOle, ftOfficeZip})  // a document of any of the three office kinds
    for (uint32_t kind : {kTypeDoc, kTypeXls, kTypePpt}) EXPECT_TRUE(CountsAsFound(office, kind));
  for (uint8_t asf : {ftAsfFileProperties, ftAsfOther}) {  // the streams decide between ASF and WMV
    for (uint32_t kind : {kTypeAsf, kTypeWmv}) EXPECT_TRUE(CountsAsFound(asf, kind));
    EXPECT_FALSE(CountsAsFound(asf, kAllFileTypesMask & ~(kTypeAsf | kTypeWmv)));
  }
  for (uint8_t never : {ftGif, ftJetDb, ftId3Audio, ftRiffAcon, ftMpeg2PackEarly, ftMpeg1Pack, ftTs192, ftTs188, ftTs192Headers,
                        ftBareMdat, ftMoovBox, ftAvi00dc, ftFsMetadata})
    EXPECT_FALSE(CountsAsFound(never, kAllFileTypesMask)) << static_cast<int>(never);
}

TEST(ScanDriver, ClusterPhaseVote) {
  {
    DriverScan d(64);
    d.setup.Geometry.SectorsPerCluster = 8;
    d.setup.Geometry.ClusterPhase = -1;
    for (int64_t s : {3, 11, 19, 0}) d.Put(s, kPdf);
    auto r = d.Run();
    EXPECT_TRUE(r.ClusterPhaseVoted);
    EXPECT_EQ(r.DetectedClusterPhase, 3);
    EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 19}, {"recovery", 11}, {"recovery", 3}}));
  }
  {
    DriverScan d(64);  // equal votes: the lower phase wins; an uncommon JPEG weighs half
    d.setup.Geometry.SectorsPerCluster = 8;
    d.setup.Geometry.ClusterPhase = -1;
    d.Put(5, kPdf);
    d.Put(2, kPdf);
    d.Put(10, kJpegOther);
    d.Put(13, kJpegOther);
    d.Put(12, kJpegOther);
    d.Put(20, kJpegOther);
    EXPECT_EQ(d.Run().DetectedClusterPhase, 2);  // phases 2 and 5 score 1.5 each, phase 4 only 1
  }
  {
    DriverScan d(64);  // a known phase: only the first sector of each cluster is looked at
    d.setup.Geometry.SectorsPerCluster = 8;
    d.setup.Geometry.ClusterPhase = 2;
    d.Put(10, kPdf);
    d.Put(12, kPdf);
    auto r = d.Run();
    EXPECT_FALSE(r.ClusterPhaseVoted);
    EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 10}}));
  }
}

// A FAT directory sector of one entry and one deleted entry: file-system metadata.
std::string DirectorySector() {
  std::string entry(32, '\0');
  entry.replace(0, 11, "PHOTO   JPG");
  entry[11] = 0x20;
  entry[24] = 0x21;  // 2000-01-01
  entry[25] = 0x28;
  std::string dir = entry + entry;
  dir[32] = '\xE5';  // one deleted entry: three points
  return dir;
}

// File-system metadata does not vote: three directory sectors at phase 5 lose against one
// file start at phase 3.
TEST(ScanDriver, MetadataDoesNotVoteOnTheClusterPhase) {
  DriverScan d(64);
  d.setup.Geometry.SectorsPerCluster = 8;
  d.setup.Geometry.ClusterPhase = -1;
  for (int64_t s : {5, 13, 21}) d.Put(s, DirectorySector());
  d.Put(35, kPdf);
  auto r = d.Run();
  EXPECT_EQ(r.DetectedClusterPhase, 3);
  EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 35}}));
  EXPECT_TRUE(d.claimed.empty());  // the metadata candidates were dropped with their phase
}

TEST(ScanDriver, MetadataSectorsAreClaimedToTheirClusterEnd) {
  DriverScan d(64);
  d.setup.Geometry.SectorsPerCluster = 8;
  d.setup.Geometry.ClusterPhase = 0;
  d.Put(16, DirectorySector());
  d.Run();
  EXPECT_EQ(d.claimed, (std::vector<int64_t>{16, 17, 18, 19, 20, 21, 22, 23}));
}

TEST(ScanDriver, CancelledSearchStillRunsTheRecoveryPhases) {
  DriverScan d(64);
  d.Put(10, kPdf);
  d.observer.onPhase = [&](ScanPass p) {
    if (p == ScanPass::Searching) d.scan->SearchStop = true;
  };
  auto r = d.Run();
  EXPECT_TRUE(r.SearchCancelled);
  EXPECT_EQ(r.Candidates, 0);
  EXPECT_TRUE(d.calls.empty());
  EXPECT_EQ(d.observer.phases.back(), ScanPass::Finished);
}

TEST(ScanDriver, WorkFilesThatCannotBeCreatedSkipTheSearch) {
  DriverScan d(64);
  d.Put(10, kPdf);
  d.setup.Options.OutputFolder = d.dir.path().string() + "/missing/";
  auto r = d.Run();
  EXPECT_TRUE(r.WorkFilesFailed);
  EXPECT_TRUE(d.observer.workFilesFailed);
  EXPECT_TRUE(d.calls.empty());
  // Without stream kinds selected no work file is needed and the scan runs.
  DriverScan e(64);
  e.Put(10, kPdf);
  e.setup.Options.OutputFolder = e.dir.path().string() + "/missing/";
  e.setup.Options.TypeMask = kTypeAi;
  EXPECT_FALSE(e.Run().WorkFilesFailed);
  EXPECT_EQ(e.calls, (std::vector<Call>{{"recovery", 10}}));
}

TEST(ScanDriver, UnreadableSectorsAreSkippedAndTheRangeIsKept) {
  DriverScan d(200);
  d.Put(10, kPdf);
  d.Put(150, kPdf);
  d.Put(190, kPdf);
  d.setup.FirstSector = 5;
  d.setup.LastSector = 160;
  auto r = d.Run({150});
  EXPECT_EQ(d.calls, (std::vector<Call>{{"recovery", 10}}));
  EXPECT_EQ(r.Candidates, 1);
}

// The search reads the range in blocks of 1 MiB; a block that fails is read again at the end in
// 64 KiB pieces and a piece that fails sector by sector: starts at the edges of blocks and
// pieces and next to unreadable sectors are all found and handed on in disk order, in a range
// that begins and ends inside blocks, with every sector looked at, with the first of each
// cluster, and with clusters so large that their first sectors are read alone. The sectors
// looked at that could not be read are reported. Stream packets found on the way back go to
// the stream pass in disk order among the others.
TEST(ScanDriver, SearchFindsStartsAtBlockEdgesAndNextToUnreadableSectors) {
  const int64_t n = 2 * 2048 + 300;
  const std::vector<int64_t> starts = {1, 5, 127, 128, 2047, 2048, 2049, 2176, 4095, 4096, n - 2, n - 1};
  const std::set<int64_t> bad = {126, 2046, 2176, 4097};
  for (uint32_t spc : {1u, 8u, 128u}) {
    SCOPED_TRACE(spc);
    DriverScan d(n);
    for (int64_t s : starts) d.Put(s, kPdf);
    d.setup.FirstSector = 3;
    d.setup.LastSector = n - 2;
    d.setup.Geometry.SectorsPerCluster = spc;
    d.setup.Geometry.ClusterPhase = 0;
    d.setup.Options.TypeMask = kTypeAi;
    auto r = d.Run(bad);
    std::vector<Call> expected;
    for (auto s = starts.rbegin(); s != starts.rend(); ++s)
      if (*s >= 3 && *s <= n - 2 && *s % spc == 0 && !bad.contains(*s)) expected.push_back({"recovery", *s});
    EXPECT_EQ(d.calls, expected);
    EXPECT_FALSE(r.SearchCancelled);
    const std::vector<SectorSpan> unreadable = {{126, 1}, {2046, 1}, {2176, 1}, {4097, 1}};
    // On a cluster grid only the sectors searched count.
    EXPECT_EQ(r.Unreadable, spc == 1 ? unreadable : std::vector<SectorSpan>({{2176, 1}}));
  }
  DriverScan d(3 * 2048);
  for (int64_t s : {100, 2100, 2200, 5000}) d.Put(s, kMpeg1Pack);
  d.setup.Options.TypeMask = kTypeMpg;
  EXPECT_EQ(d.Run({2150}).Unreadable, (std::vector<SectorSpan>{{2150, 1}}));
  EXPECT_EQ(d.calls, (std::vector<Call>{{"stream", 100}, {"stream", 2100}, {"stream", 2200}, {"stream", 5000}}));
}

TEST(ScanDriver, FindsFilesBeyondTwoToTheThirtyTwoSectors) {
  test::TempDir dir;
  const int64_t sectors = (int64_t{1} << 32) + 4096;
  const int64_t planted = (int64_t{1} << 32) + 1000;
  std::string image = dir / "huge.img";
  {
    auto out = OpenOutputFileStream(image, fmCreate);
    ASSERT_TRUE(out);
    out->SetSize(sectors * 512);  // sparse
    out->Seek(planted * 512, soBeginning);
    out->Write(kPdf.data(), static_cast<int64_t>(kPdf.size()));
  }
  auto opened = OpenSource(image);
  ASSERT_TRUE(opened.source);
  ScanSetup setup;
  setup.Geometry.PartitionLastSector = sectors - 1;
  setup.FirstSector = sectors - 8192;
  setup.LastSector = sectors - 1;
  setup.Options.OutputFolder = dir.path().string() + "/";
  setup.Options.TypeMask = kTypeAi;
  ProgressClock clock;
  auto scan = ScanContext::Create(*opened.source, setup, clock).Scan;
  ASSERT_TRUE(scan);
  std::vector<int64_t> found;
  RecogniserTable table;
  table.Recovery[ftPdf] = [&](ScanContext& s, int64_t offset) { found.push_back(offset); };
  RunScan(*scan, setup.Geometry, table);
  EXPECT_EQ(found, (std::vector<int64_t>{planted * 512}));
}

}  // namespace
}  // namespace morvane
