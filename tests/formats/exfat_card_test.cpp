// RAR 5 archives, Matroska and WebM videos, OpenDocument files, HEIC/AVIF/WebP pictures and a
// CR3 raw on a real exFAT card (mkfs.exfat), deleted, one video written in pieces between the
// clusters of a file that stays: whole scans bring them back under their own names.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "formats/exfat_volume.h"
#include "formats/fat_volume.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

struct CardFile {
  std::string name, sample, extension;
  Bytes bytes = test::ReadFileBytes(test::DataPath(sample));
};

// Every expected file is among the recovered ones byte for byte under its extension.
void ExpectRecovered(const test::VolumeScan& r, const std::vector<CardFile>& expected) {
  std::multimap<Bytes, std::string> byContent;
  for (const auto& [name, bytes] : r.files) byContent.emplace(bytes, name.substr(name.find('.')));
  for (const CardFile& f : expected) {
    const auto [first, last] = byContent.equal_range(f.bytes);
    EXPECT_TRUE(std::any_of(first, last, [&](const auto& e) { return e.second == f.extension; }))
        << f.name << " not recovered byte for byte as " << f.extension;
  }
}

TEST(TodaysKindsOnExFat, DeletedArchivesVideosDocumentsAndPicturesComeBackByteForByte) {
  if (!test::HaveTool("mkfs.exfat")) GTEST_SKIP() << "mkfs.exfat (exfatprogs) missing";
  test::TempDir dir;
  test::ExFatVolume volume(dir / "card.img");
  ASSERT_TRUE(volume.Made());

  std::vector<CardFile> files = {
      {"ARM.RAR", "archives/rar5_arm.rar", ".RAR"},          {"SOLID.RAR", "archives/rar5_solid.rar", ".RAR"},
      {"SECRET.RAR", "archives/rar5_encrypted.rar", ".RAR"}, {"CLIP.MKV", "matroska/ffmpeg_seekable.mkv", ".MKV"},
      {"REMUX.MKV", "matroska/mkvmerge.mkv", ".MKV"},        {"LIVE.MKV", "matroska/unknown_clusters.mkv", ".MKV"},
      {"CLIP.WEBM", "matroska/ffmpeg_seekable.webm", ".WEBM"}, {"STREAM.WEBM", "matroska/ffmpeg_pipe.webm", ".WEBM"},
      {"REPORT.ODT", "office/report.odt", ".ODT"},           {"SHEET.ODS", "office/sheet.ods", ".ODS"},
      {"SLIDES.ODP", "office/slides.odp", ".ODP"},           {"DRAWING.ODG", "office/drawing.odg", ".ODG"},
      {"BOOK.EPUB", "office/report.epub", ".EPUB"},
      {"IMG_0001.HEIC", "heif/photo.heic", ".HEIC"},         {"IMG_0002.HEIC", "heif/plain.heic", ".HEIC"},
      {"IMG_0003.AVIF", "heif/photo.avif", ".AVIF"},         {"GRID.AVIF", "heif/grid.avif", ".AVIF"},
      {"IMG_0004.CR3", "raw/canon.cr3", ".CR3"},            {"PHOTO.WEBP", "webp/lossy.webp", ".WEBP"},
      {"ICON.WEBP", "webp/alpha.webp", ".WEBP"},            {"ANIM.WEBP", "webp/animated.webp", ".WEBP"},
  };
  // A streamed video in pieces of two clusters between the clusters of a file that stays.
  const CardFile pieces{"PIPE.MKV", "matroska/ffmpeg_pipe.mkv", ".MKV"};
  Bytes kept(static_cast<size_t>(volume.ClusterBytes()) * 12);
  for (size_t i = 0; i < kept.size(); ++i) kept[i] = static_cast<uint8_t>(i * 7919 >> 3);

  // The deleted files one after the other, a free cluster between them.
  int64_t next = volume.FirstFreeCluster();
  for (const CardFile& f : files) {
    std::vector<int64_t> clusters;
    for (int64_t i = 0; i < volume.Clusters(f.bytes.size()); ++i) clusters.push_back(next++);
    volume.Write(f.bytes, clusters, false);
    volume.Entry(f.name, clusters, f.bytes.size(), true);
    ++next;
  }
  std::vector<int64_t> pieceClusters, keptClusters;
  while (static_cast<int64_t>(pieceClusters.size()) < volume.Clusters(pieces.bytes.size())) {
    for (int k = 0; k < 2; ++k) pieceClusters.push_back(next++);
    keptClusters.push_back(next++);
  }
  while (static_cast<int64_t>(keptClusters.size()) < volume.Clusters(kept.size())) keptClusters.push_back(next++);
  volume.Write(pieces.bytes, pieceClusters, false);
  volume.Entry(pieces.name, pieceClusters, pieces.bytes.size(), true);
  volume.Write(kept, keptClusters, true);
  volume.Entry("KEEP.BIN", keptClusters, kept.size(), false);
  volume.Save();
  if (test::HaveTool("fsck.exfat")) {
    ASSERT_EQ(test::Run("fsck.exfat -n " + dir / "card.img" + " >/dev/null 2>&1"), 0);
  }

  {  // Free space only: the kept file's clusters are stepped over, so the pieces join up.
    const test::VolumeScan r = test::ScanVolume(dir / "card.img", true);
    std::vector<CardFile> all = files;
    all.push_back(pieces);
    ExpectRecovered(r, all);
    EXPECT_EQ(r.files.size(), all.size());
    EXPECT_EQ(r.report.RecoveredCount, static_cast<int32_t>(all.size()));
  }
  {  // The whole volume: the contiguous files are whole; the streamed video in pieces begins
     // with its first piece and ends at the first element header the kept file's bytes spoil.
    const test::VolumeScan r = test::ScanVolume(dir / "card.img", false);
    ExpectRecovered(r, files);
    const auto piece = static_cast<std::ptrdiff_t>(2 * volume.ClusterBytes());
    EXPECT_TRUE(std::any_of(r.files.begin(), r.files.end(), [&](const auto& f) {
      return f.first.ends_with(".MKV") && f.second.size() >= static_cast<size_t>(piece) &&
             f.second.size() < pieces.bytes.size() && std::equal(pieces.bytes.begin(), pieces.bytes.begin() + piece, f.second.begin());
    }));
  }
}

}  // namespace
}  // namespace morvane
