// Documents, archives and drawings on real volumes, brought back by whole scans with every
// recogniser: a FAT32 volume (mkfs.fat; files written, deleted and fragmented by mtools) and
// an NTFS volume (mkntfs, ntfscp) formatted again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "formats/fat_volume.h"
#include "formats/jpeg_encoder.h"
#include "formats/office_samples.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int64_t kClusterBytes = 1024;  // the fixture's mkfs.fat -s 2 on 512-byte sectors

// Every expected file is among the recovered ones, under its extension, and nothing else
// was recovered.
void ExpectRecovered(const test::VolumeScan& r, const std::map<std::string, std::pair<std::string, Bytes>>& expected) {
  std::multimap<Bytes, std::string> byContent;
  for (const auto& [name, bytes] : r.files) byContent.emplace(bytes, name.substr(name.find('.')));
  for (const auto& [name, want] : expected) {
    const auto [first, last] = byContent.equal_range(want.second);
    EXPECT_TRUE(std::any_of(first, last, [&](const auto& e) { return e.second == want.first; }))
        << name << " not recovered byte for byte as " << want.first;
  }
  EXPECT_EQ(r.files.size(), expected.size());
  EXPECT_EQ(r.report.RecoveredCount, static_cast<int32_t>(expected.size()));
}

TEST(OfficeOnFat32, PresentDeletedAndFragmentedDocumentsComeBackByteForByte) {
  if (!test::HaveFatTools()) GTEST_SKIP() << "dosfstools/mtools missing";
  // Volume name, sample, extension recovered.
  const std::vector<std::array<std::string, 3>> samples = {
      {"REPORT.DOC", "doc.doc", ".DOC"},          {"BIG.XLS", "big.xls.xz", ".XLS"},
      {"SLIDES.PPT", "slides.ppt.xz", ".PPT"},    {"REPORT.DOCX", "contenttypes_first.docx", ".DOCX"},
      {"SHEET.XLSX", "sheet.xlsx", ".XLSX"},      {"SLIDES.PPTX", "slides.pptx", ".PPTX"},
      {"STORED.ZIP", "py_stored.zip", ".ZIP"},    {"STREAM.ZIP", "py_streamed.zip", ".ZIP"},
      {"Z64.ZIP", "iz_zip64.zip", ".ZIP"},        {"IZSTREAM.ZIP", "iz_streamed.zip", ".ZIP"},
      {"DRAWING.CDR", "drawing_zip.cdr", ".CDR"}, {"COMMENT.ZIP", "py_deflated_comment.zip", ".ZIP"}};
  // Written into the holes that deleted spacer pictures leave between the ones that stay.
  const std::vector<std::array<std::string, 3>> fragmented = {{"FRAG.XLS", "sheet.xls", ".XLS"},
                                                              {"FRAG.DOCX", "doc.docx", ".DOCX"}};
  std::map<std::string, std::pair<std::string, Bytes>> present, deleted;
  std::vector<std::pair<std::string, Bytes>> toPut, fragToPut;
  for (const auto& [name, sample, ext] : samples) {
    const Bytes b = test::OfficeSample(sample);
    if (b.empty()) GTEST_SKIP() << sample << " needs xz";
    toPut.emplace_back(name, b);
    (toPut.size() % 2 ? deleted : present)[name] = {ext, b};
  }
  int64_t fragClusters = 0;
  for (const auto& [name, sample, ext] : fragmented) {
    fragToPut.emplace_back(name, test::OfficeSample(sample));
    deleted[name] = {ext, fragToPut.back().second};
    fragClusters += (static_cast<int64_t>(fragToPut.back().second.size()) + kClusterBytes - 1) /
                    kClusterBytes;
  }
  std::vector<std::pair<std::string, Bytes>> spacers;
  std::vector<std::string> holes;
  for (int64_t room = 0; room < fragClusters;) {
    for (int k = 0; k < 2; ++k) {
      const auto i = static_cast<uint32_t>(spacers.size());
      const std::string name = "SP" + std::to_string(i) + ".JPG";
      spacers.emplace_back(name, test::EncodeJpeg({.Width = 48, .Height = 40, .Quality = 85, .Seed = i + 1, .Noise = 30}));
      if (k == 1) {
        holes.push_back(name);
        room += (static_cast<int64_t>(spacers.back().second.size()) + kClusterBytes - 1) /
                kClusterBytes;
      } else {
        present[name] = {".JPG", spacers.back().second};
      }
    }
  }

  test::FatVolume volume;
  ASSERT_TRUE(volume.Made());
  ASSERT_TRUE(volume.Put(spacers));
  ASSERT_TRUE(volume.Put(toPut));
  ASSERT_TRUE(volume.Fill("FILL.BIN"));
  ASSERT_TRUE(volume.Delete(holes));
  std::vector<std::string> gone;
  for (const auto& [name, _] : deleted)
    if (name.rfind("FRAG", 0) != 0) gone.push_back(name);
  ASSERT_TRUE(volume.Delete(gone));
  ASSERT_TRUE(volume.Put(fragToPut));
  for (const auto& [name, _] : fragToPut) ASSERT_GT(volume.Clusters(name).size(), 1u) << name << " is not fragmented";
  ASSERT_TRUE(volume.Delete({"FRAG.XLS", "FRAG.DOCX"}));

  {  // Whole scan: the pictures at higher sectors are carved first, the fragmented
     // documents are followed around their claimed sectors.
    std::map<std::string, std::pair<std::string, Bytes>> all = present;
    all.insert(deleted.begin(), deleted.end());
    ExpectRecovered(test::ScanVolume(volume.Image(), false), all);
  }
  {  // Free space only: the allocated clusters between the pieces are stepped over.
    const test::VolumeScan r = test::ScanVolume(volume.Image(), true);
    EXPECT_TRUE(r.report.FreeSpaceMapBuilt);
    ExpectRecovered(r, deleted);
  }
}

TEST(OfficeOnNtfs, DocumentsComeBackAfterTheVolumeIsFormattedAgain) {
  if (!test::HaveTool("mkntfs") || !test::HaveTool("ntfscp")) GTEST_SKIP() << "ntfs-3g missing";
  const std::vector<std::array<std::string, 3>> samples = {
      {"report.doc", "doc.doc", ".DOC"},          {"big.xls", "big.xls.xz", ".XLS"},
      {"slides.ppt", "slides.ppt.xz", ".PPT"},    {"report.docx", "doc.docx", ".DOCX"},
      {"sheet.xlsx", "sheet.xlsx", ".XLSX"},      {"slides.pptx", "slides.pptx", ".PPTX"},
      {"stored.zip", "py_stored.zip", ".ZIP"},    {"zip64.zip", "py_zip64_streamed.zip", ".ZIP"},
      {"drawing.cdr", "drawing_zip.cdr", ".CDR"}, {"office.docx", "contenttypes_first.docx", ".DOCX"}};
  test::TempDir dir;
  const std::string image = dir / "ntfs.img";
  const std::string format = "mkntfs -F -Q -q -c 4096 " + image + " >/dev/null 2>&1";
  ASSERT_EQ(test::Run("truncate -s 48M " + image + " && " + format), 0);
  std::map<std::string, std::pair<std::string, Bytes>> expected;
  for (const auto& [name, sample, ext] : samples) {
    const Bytes b = test::OfficeSample(sample);
    if (b.empty()) GTEST_SKIP() << sample << " needs xz";
    test::WriteFileBytes(dir / name, b);
    ASSERT_EQ(test::Run("ntfscp -q " + image + " " + dir / name + " " + name + " >/dev/null 2>&1"), 0) << name;
    expected[name] = {ext, b};
  }
  ASSERT_EQ(test::Run(format), 0);  // a quick format: new metadata, the data left where it was
  ExpectRecovered(test::ScanVolume(image, false), expected);
}

}  // namespace
}  // namespace morvane
