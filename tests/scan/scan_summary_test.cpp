// The closing words of a scan: recovered files by kind, and when to advise a finer cluster.
#include <gtest/gtest.h>

#include "scan/file_type_id.h"
#include "scan/scan_summary.h"

namespace morvane {
namespace {

TEST(RecoveredTally, KindsByCountThenNameWithTheirTotalSize) {
  RecoveredTally t;
  EXPECT_EQ(t.KindsText(), "");
  for (const char* ext : {".MOV", ".JPG", ".MP4", ".JPG", ".ENC.DOCX", ".JPG", ".MOV"}) t.Add(ext, 1000);
  t.Add(".PNG", -5);  // a length the writer could not tell counts as nothing
  EXPECT_EQ(t.KindsText(), "JPG 3  MOV 2  ENC.DOCX 1  MP4 1  PNG 1");
  EXPECT_EQ(t.Files(), 8);
  EXPECT_EQ(t.Bytes(), 7000);
  EXPECT_EQ(t.ByKind().at("MOV"), 2);
}

TEST(GeometryAdvice, OnlyWhenTheStartsLieOnAFinerGridThanTheClustersScanned) {
  ScanReport r;
  r.CandidateGridSectors = 8;  // 4 KiB apart
  r.VoteWeighed = 12;
  r.VoteDropped = 9;
  r.RecoveredCount = 3;
  r.Unrecovered.assign(9, {0, ftJpegApp, StartFate::OffGrid});
  auto a = AdviseGeometry(r, 64, 512);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->ClusterBytes, 4096);
  EXPECT_EQ(a->UsedClusterBytes, 32768);
  EXPECT_NE(GeometryAdviceText(*a).find("9 of the 12 file starts found lay off the 32K grid"), std::string::npos)
      << GeometryAdviceText(*a);

  // A grid of 24 sectors: the largest listed size that divides it (4K).
  r.CandidateGridSectors = 24;
  EXPECT_EQ(AdviseGeometry(r, 64, 512)->ClusterBytes, 4096);
  // Starts one sector apart (a file inside another): 0.5K.
  r.CandidateGridSectors = 1;
  EXPECT_EQ(AdviseGeometry(r, 64, 512)->ClusterBytes, 512);

  // The vote kept nearly all: one odd start is no reason to doubt the geometry.
  r.CandidateGridSectors = 8;
  r.VoteDropped = 2;
  EXPECT_FALSE(AdviseGeometry(r, 64, 512));
  // On the grid of the clusters, or coarser, or nothing measured: nothing to say.
  r.VoteDropped = 9;
  for (int64_t grid : {0, 64, 128}) {
    r.CandidateGridSectors = grid;
    EXPECT_FALSE(AdviseGeometry(r, 64, 512)) << grid;
  }
  // No vote ran (the phase was known) but the starts are finer than the clusters.
  ScanReport known;
  known.CandidateGridSectors = 2;
  ASSERT_TRUE(AdviseGeometry(known, 8, 512));
  EXPECT_EQ(AdviseGeometry(known, 8, 512)->ClusterBytes, 1024);
  EXPECT_EQ(GeometryAdviceText(*AdviseGeometry(known, 8, 512)).find("vote"), std::string::npos);
}

TEST(ScanSummaryNames, ClusterSizesAndFileSystems) {
  EXPECT_EQ(ClusterSizeName(512), "0.5K");
  EXPECT_EQ(ClusterSizeName(4096), "4K");
  EXPECT_EQ(ClusterSizeName(131072), "128K");
  EXPECT_EQ(FileSystemName(fsFAT32), "FAT32");
  EXPECT_EQ(FileSystemName(fsExFAT), "exFAT");
  EXPECT_EQ(FileSystemName(fsHFSPlus), "HFS+");
  EXPECT_EQ(FileSystemName(fsOther), "other");
  EXPECT_EQ(FileSystemName(200), "other");

  // The unreadable ranges close the summary, the first eight of them.
  ScanOutcome o;
  for (int64_t i = 0; i < 10; ++i) o.Report.Unreadable.push_back({i * 100, i + 1});
  EXPECT_EQ(ClosingSummary(o, Language::English).back(),
            "Unreadable: 55 sectors (first sector+count): 0+1, 100+2, 200+3, 300+4, 400+5, 500+6, 600+7, 700+8 and 2 more");
}

}  // namespace
}  // namespace morvane
