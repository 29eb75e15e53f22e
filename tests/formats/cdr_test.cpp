#include "formats/pictures/cdr.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/office_samples.h"
#include "formats/raw_card.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

// A RIFF drawing:
//   "RIFF", length (32-bit little-endian, counting from the form type on), form type
//   ("CDR9", or as some versions write it in lower case "cdrA"), then chunks:
//   "vrsn" of 2 bytes (the version), "DISP" holding `payload` bytes.
Bytes RiffDrawing(const char* form, uint32_t payload) {
  Bytes b;
  b.reserve(32 + payload);
  auto text = [&](const char* s) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(s[i]));
  };
  auto le32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  text("RIFF");
  le32(4 + 8 + 2 + 8 + payload);
  text(form);
  text("vrsn");
  le32(2);
  b.push_back(0x84);
  b.push_back(0x03);
  text("DISP");
  le32(payload);
  for (uint32_t i = 0; i < payload; ++i) b.push_back(static_cast<uint8_t>(i * 7 + 3));
  return b;
}

struct Card : test::RawCard {
  explicit Card(int64_t sectors) : RawCard(sectors, 1, true) {}
};

TEST(RecoverCdr, ScansWriteEveryDrawingOfBothContainersByteForByte) {
  const Bytes zip = test::OfficeSample("drawing_zip.cdr");  // "content/riffData.cdr" first, with a comment
  const std::vector<Bytes> drawings = {RiffDrawing("CDR9", 3000), zip, RiffDrawing("cdrA", 700), zip};
  Card t(40);
  const std::vector<int64_t> starts = t.PlaceInRow(drawings, 1, 2);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, 4);
  int64_t claimed = 0;
  for (size_t i = 0; i < drawings.size(); ++i) {
    EXPECT_EQ(test::ReadFileBytes(t.File(starts[i], ".CDR")), drawings[i]) << i;
    claimed += Sectors(drawings[i].size());
  }
  EXPECT_EQ(t.ClaimedCount(), claimed);  // the ZIP drawings end after their comment
}

TEST(RecoverCdr, SplitAroundClaimedSectorsAndClaimedOnlyWhenNotSelected) {
  const Bytes riff = RiffDrawing("CDR8", 5000);
  const Bytes zip = test::OfficeSample("drawing_zip.cdr");
  for (const Bytes& d : {riff, zip}) {
    auto recover = riff == d ? RecoverCdrRiff : RecoverCdrZip;
    const std::vector<int64_t> where = {0, 3, 4, 7, 8, 9, 10, 11, 12, 13, 14};
    for (uint32_t mask : {kTypeCdr, kAllFileTypesMask & ~kTypeCdr}) {
      Card t(20);
      t.setup.Options.TypeMask = mask;
      t.Place(d, where);
      for (int64_t s : {1, 2, 5, 6}) t.Context().SectorMap.ClaimSector(s);
      recover(t.Context(), t.setup.Options.OutputFolder, 0);
      const auto n = static_cast<size_t>(Sectors(d.size()));
      std::vector<int64_t> expected = {0, 1, 2, 3, 4, 5, 6};
      for (size_t i = 3; i < n; ++i) expected.push_back(where[i]);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(t.ClaimedSectors(), expected);
      if (mask & kTypeCdr) EXPECT_EQ(test::ReadFileBytes(t.File(0, ".CDR")), d);
      else EXPECT_TRUE(t.Files().empty());
    }
  }
}

TEST(RecoverCdr, ShortDrawingsTheRangeEndAndForeignRecordsLeaveNothing) {
  Bytes zipDamaged = test::OfficeSample("drawing_zip.cdr");
  const size_t second = 30 + 20 + ByteView(zipDamaged.data(), zipDamaged.size()).Le32(18);
  zipDamaged[second] = 'X';  // a damaged record, and the directory's first entry damaged too:
  const uint8_t central[] = {'P', 'K', 1, 2};                     // no whole drawing
  *std::search(zipDamaged.begin(), zipDamaged.end(), std::begin(central), std::end(central)) = 'X';
  struct Case {
    const char* what;
    Bytes file;
    int (*recover)(ScanContext&, const std::string&, int64_t);
  };
  const std::vector<Case> cases = {
      {"fits in its start sector", RiffDrawing("CDR9", 100), RecoverCdrRiff},
      {"runs past the range", [] { Bytes b = RiffDrawing("CDR9", 600); b[5] = 0x40; return b; }(), RecoverCdrRiff},
      {"RIFF length 0xFFFFFFFF", [] { Bytes b = RiffDrawing("CDR9", 600); b[4] = b[5] = b[6] = b[7] = 0xFF; return b; }(),
       RecoverCdrRiff},
      {"ZIP record damaged", zipDamaged, RecoverCdrZip},
  };
  for (const auto& c : cases) {
    Card t(16);
    t.Place(c.file, 0);
    c.recover(t.Context(), t.setup.Options.OutputFolder, 0);
    EXPECT_EQ(t.ClaimedCount(), 0) << c.what;
    EXPECT_TRUE(t.Files().empty()) << c.what;
  }
}

}  // namespace
}  // namespace morvane
