#include "formats/documents/ole.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/office_samples.h"
#include "formats/raw_card.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

constexpr uint32_t kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD, kNone = 0xFFFFFFFF;

void Put32(Bytes& b, size_t at, uint32_t v) {
  ASSERT_LE(at + 4, b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// A directory entry of a hand-built compound file: type 5 root, 1 storage, 2 stream.
struct Node {
  std::string name;
  uint8_t type = 2;
  uint32_t left = kNone, right = kNone, child = kNone;
  size_t dataBytes = 0;
};

// A compound file laid out as: header, sector 0 the FAT, the directory sectors, then each
// stream's sectors in entry order; the FAT lists exactly these sectors as used.
Bytes BuildCompound(const std::vector<Node>& nodes) {
  const uint32_t dirSectors = static_cast<uint32_t>((nodes.size() + 3) / 4);
  std::vector<uint32_t> fat = {kFatSect};
  for (uint32_t i = 1; i <= dirSectors; ++i) fat.push_back(i == dirSectors ? kEnd : i + 1);
  Bytes dir(dirSectors * 512, 0);
  for (size_t k = 0; k < nodes.size(); ++k) {
    const Node& n = nodes[k];
    const size_t e = k * 128;
    for (size_t i = 0; i < n.name.size(); ++i) dir[e + 2 * i] = static_cast<uint8_t>(n.name[i]);
    dir[e + 64] = static_cast<uint8_t>(2 * n.name.size() + 2);
    dir[e + 66] = n.type;
    Put32(dir, e + 68, n.left);
    Put32(dir, e + 72, n.right);
    Put32(dir, e + 76, n.child);
    Put32(dir, e + 116, kEnd);
    if (n.dataBytes > 0) {
      Put32(dir, e + 116, static_cast<uint32_t>(fat.size()));
      Put32(dir, e + 120, static_cast<uint32_t>(n.dataBytes));
      const size_t count = (n.dataBytes + 511) / 512;
      for (size_t s = 0; s < count; ++s)
        fat.push_back(s + 1 == count ? kEnd : static_cast<uint32_t>(fat.size() + 1));
    }
  }
  Bytes file(512 * (fat.size() + 1), 0x33);
  const uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::fill(file.begin(), file.begin() + 512, 0);
  std::copy(std::begin(sig), std::end(sig), file.begin());
  Put32(file, 24, 0x0003003E);
  Put32(file, 28, 0x0009FFFE);
  Put32(file, 32, 6);
  Put32(file, 44, 1);
  Put32(file, 48, 1);
  Put32(file, 56, 4096);
  Put32(file, 60, kEnd);
  Put32(file, 68, kEnd);
  for (int i = 0; i < 109; ++i) Put32(file, 76 + 4 * i, i == 0 ? 0 : kFree);
  for (size_t i = 0; i < 128; ++i) Put32(file, 512 + 4 * i, i < fat.size() ? fat[i] : kFree);
  std::copy(dir.begin(), dir.end(), file.begin() + 1024);
  return file;
}

// Root with the given top-level children as a right-leaning sibling chain.
std::vector<Node> Flat(const std::vector<std::string>& names) {
  std::vector<Node> nodes = {{"Root Entry", 5, kNone, kNone, 1}};
  for (size_t i = 0; i < names.size(); ++i)
    nodes.push_back({names[i], 2, kNone, i + 1 < names.size() ? static_cast<uint32_t>(i + 2) : kNone, kNone, 600});
  return nodes;
}

struct Card : test::RawCard {
  explicit Card(int64_t sectors) : RawCard(sectors, 1, true) {}
  void Recover(int64_t sector) { RecoverOleDocument(Context(), setup.Options.OutputFolder, sector * 512); }
};

struct Sample {
  const char* name;
  const char* ext;
};

// Each sample is recovered byte for byte by a whole scan, around sectors of other files, and
// not at all when the range ends before it does.
void ExpectRecoveredFromCards(const std::vector<Sample>& cases) {
  std::vector<Bytes> files;
  int64_t total = 8;
  for (const auto& c : cases) {
    files.push_back(test::OfficeSample(c.name));
    if (files.back().empty()) GTEST_SKIP() << c.name << " needs xz";
    total += Sectors(files.back().size()) + 7;
  }
  {  // A whole scan, files back to back with other bytes between them.
    Card t(total);
    const std::vector<int64_t> starts = t.PlaceInRow(files, 5, 7);
    const ScanReport r = t.RunAll();
    EXPECT_EQ(r.RecoveredCount, static_cast<int>(cases.size()));
    for (size_t i = 0; i < cases.size(); ++i) {
      EXPECT_EQ(test::ReadFileBytes(t.File(starts[i], cases[i].ext)), files[i]) << cases[i].name;
      EXPECT_FALSE(t.Claimed(starts[i] + Sectors(files[i].size()))) << cases[i].name;
    }
    EXPECT_EQ(t.Files().size(), cases.size());
  }
  // Split around sectors of other files: near the start (before the FAT), inside the
  // directory's reach, and in front of the last sector.
  for (size_t i = 0; i < cases.size(); ++i) {
    const int64_t n = Sectors(files[i].size());
    const std::vector<int64_t> foreign = {1, 2, n / 2, n - 1};
    const std::vector<int64_t> where = test::SectorsAvoiding(n, foreign);
    Card t(where.back() + 4);
    t.Place(files[i], where);
    for (int64_t s : foreign) t.Context().SectorMap.ClaimSector(s);
    t.Recover(0);
    EXPECT_EQ(test::ReadFileBytes(t.File(0, cases[i].ext)), files[i]) << cases[i].name;
    EXPECT_EQ(t.ClaimedCount(), n + static_cast<int64_t>(foreign.size())) << cases[i].name;
  }
  // Cut by the end of the range: nothing is written and every claim is given back.
  for (size_t i = 0; i < cases.size(); ++i) {
    Card t(Sectors(files[i].size()) + 4);
    t.setup.LastSector = Sectors(files[i].size()) - 1;
    t.Place(files[i], 1);
    t.Recover(1);
    EXPECT_EQ(t.ClaimedCount(), 0) << cases[i].name;
    EXPECT_TRUE(t.Files().empty()) << cases[i].name;
  }
}

TEST(RecoverOleDocument, LibreOfficeDocumentsComeBackByteForByte) {
  ExpectRecoveredFromCards({{"doc.doc", ".DOC"}, {"sheet.xls", ".XLS"}, {"slides.ppt.xz", ".PPT"}});
}

TEST(RecoverOleDocument, ADocumentWhoseFatContinuesInADifatSectorComesBackByteForByte) {
  ExpectRecoveredFromCards({{"big.xls.xz", ".XLS"}});  // 8 MiB: 127 FAT sectors
}

TEST(RecoverOleDocument, TheKindComesFromTheTopOfTheDirectoryAndTheSelection) {
  // A Word document holding an embedded sheet: ObjectPool / _1 / Workbook, listed after
  // the Word stream.
  std::vector<Node> embedded = {{"Root Entry", 5, kNone, kNone, 1},
                                {"WordDocument", 2, kNone, 2, kNone, 700},
                                {"ObjectPool", 1, kNone, kNone, 3},
                                {"_1", 1, kNone, kNone, 4},
                                {"Workbook", 2, kNone, kNone, kNone, 900}};
  // An encrypted package: no document stream, "Version" below \6DataSpaces.
  std::vector<Node> encrypted = {{"Root Entry", 5, kNone, kNone, 1},
                                 {"EncryptionInfo", 2, kNone, 2, kNone, 200},
                                 {"EncryptedPackage", 2, kNone, 3, kNone, 1500},
                                 {"\x06" "DataSpaces", 1, kNone, kNone, 4},
                                 {"Version", 2, kNone, kNone, kNone, 76}};
  struct Case {
    std::vector<Node> nodes;
    uint32_t mask;
    const char* ext;  // nullptr: claimed, not written
  };
  const std::vector<Case> cases = {
      {embedded, kAllFileTypesMask, ".DOC"},
      {embedded, kAllFileTypesMask & ~kTypeDoc, nullptr},
      {Flat({"Book"}), kAllFileTypesMask, ".XLS"},
      {Flat({"Current User", "PowerPoint Document"}), kAllFileTypesMask, ".PPT"},
      {Flat({"PowerPoint Document"}), kTypeDoc | kTypeXls, nullptr},
      {encrypted, kAllFileTypesMask, ".ENC.XLSX"},
      {encrypted, kAllFileTypesMask & ~kTypeXls, nullptr},
      {Flat({"Contents", "Thumbnail"}), kAllFileTypesMask, nullptr},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Bytes file = BuildCompound(cases[i].nodes);
    Card t(Sectors(file.size()) + 6);
    t.setup.Options.TypeMask = cases[i].mask;
    t.Place(file, 2);
    t.Recover(2);
    EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(2, Sectors(file.size()))) << i;
    if (cases[i].ext) {
      EXPECT_EQ(test::ReadFileBytes(t.File(2, cases[i].ext)), file) << i;
      EXPECT_EQ(t.Context().RecoveredCount, 1) << i;
    } else {
      EXPECT_TRUE(t.Files().empty()) << i;
      EXPECT_EQ(t.Context().RecoveredCount, 0) << i;
    }
  }
}

TEST(RecoverOleDocument, TheFileEndsAtTheHighestSectorTheFatUses) {
  // Whatever follows in the source: the FAT says the last used sector is 100.
  Bytes file = BuildCompound(Flat({"WordDocument"}));
  file.resize(102 * 512, 0x44);
  for (uint32_t i = 0; i < 128; ++i)
    if (i > 4 && i <= 100) Put32(file, 512 + 4 * i, i == 100 ? kEnd : kFree);
  Card t(120);
  t.Place(file, 0);
  t.Recover(0);
  EXPECT_EQ(test::ReadFileBytes(t.File(0, ".DOC")).size(), 102u * 512);
  EXPECT_EQ(t.ClaimedCount(), 102);
}

TEST(RecoverOleDocument, OnFourKibSectorsTheFileIsCutToItsOwnLength) {
  const Bytes doc = test::OfficeSample("doc.doc");  // 9216 bytes: two and a quarter sectors
  test::RawCard t(8, 1, true, 4096);
  t.Place(doc, 2);
  RecoverOleDocument(t.Context(), t.setup.Options.OutputFolder, 2 * 4096);
  EXPECT_EQ(test::ReadFileBytes(t.File(2, ".DOC")), doc);
  EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(2, 3));
}

TEST(RecoverOleDocument, DamagedTablesFailAndGiveEverySectorBack) {
  const Bytes good = BuildCompound(Flat({"WordDocument"}));
  // Two FAT sectors: sectors 0 and 9 (the second lists nothing used).
  Bytes twoFats = good;
  twoFats.resize(11 * 512, 0);
  for (uint32_t i = 0; i < 128; ++i) Put32(twoFats, 10 * 512 + 4 * i, kFree);
  Put32(twoFats, 512 + 4 * 9, kFatSect);
  Put32(twoFats, 44, 2);
  Put32(twoFats, 80, 9);
  ASSERT_EQ(Get32(twoFats, 76), 0u);

  std::vector<std::pair<const char*, Bytes>> bad;
  auto with = [&](const char* what, Bytes b, size_t at, uint32_t v) {
    Put32(b, at, v);
    bad.emplace_back(what, b);
  };
  with("4096-byte sectors", good, 28, 0x000CFFFE);
  with("header FAT sectors falling", twoFats, 76, 9);  // 9 then 9: not rising
  {
    Bytes b = twoFats;  // 9, then 0
    Put32(b, 76, 9);
    Put32(b, 80, 0);
    bad.emplace_back("header FAT sectors 9, 0", b);
  }
  with("FAT sector beyond the limit", good, 80, kOleMaxSectorNumber + 1);
  // A DIFAT sector (sector 9) that names the header's FAT sector again, and one that
  // chains to itself.
  Bytes difat = twoFats;
  Put32(difat, 80, kFree);
  Put32(difat, 68, 9);
  Put32(difat, 72, 1);
  for (uint32_t i = 0; i < 128; ++i) Put32(difat, 10 * 512 + 4 * i, kFree);
  Put32(difat, 10 * 512 + 4 * 127, kEnd);
  with("DIFAT repeats a FAT sector", difat, 10 * 512, 0);
  with("DIFAT chain loops", difat, 10 * 512 + 4 * 127, 9);
  with("DIFAT chain beyond the limit", difat, 68, kOleMaxSectorNumber + 1);
  with("directory chain cycles", good, 512 + 4, 1);
  with("directory starts beyond the file", good, 48, 40);
  with("directory chain runs off the FAT", good, 512 + 4, 0x7FFF);
  for (const auto& [what, file] : bad) {
    Card t(Sectors(file.size()) + 200);  // room for what a misread table would take in
    t.Place(file, 3);
    t.Recover(3);
    EXPECT_EQ(t.ClaimedCount(), 0) << what;
    EXPECT_TRUE(t.Files().empty()) << what;
  }
  {  // The DIFAT form of the same file is read.
    Card t(Sectors(difat.size()) + 4);
    t.Place(difat, 3);
    t.Recover(3);
    EXPECT_EQ(test::ReadFileBytes(t.File(3, ".DOC")), difat);
  }
}

// The tables of a compound file of (lastUsed + 2) sectors: 3200 FAT sectors (the last 3091
// listed in 25 DIFAT sectors) that mark the directory sector and sector lastUsed as used.
// Nothing but the header and the tables is real.
Bytes LargeCompoundFileTables(uint32_t lastUsed) {
  constexpr uint32_t kFats = 3200, kDifats = 25, kDirectory = kFats + kDifats;
  Bytes file(512 * (kDirectory + 2), 0xFF);
  std::fill(file.begin(), file.begin() + 512, 0);
  const uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(sig), std::end(sig), file.begin());
  Put32(file, 28, 0x0009FFFE);
  Put32(file, 44, kFats);
  Put32(file, 48, kDirectory);
  Put32(file, 68, kFats);
  Put32(file, 72, kDifats);
  for (uint32_t i = 0; i < 109; ++i) Put32(file, 76 + 4 * i, i);
  for (uint32_t d = 0, next = 109; d < kDifats; ++d) {
    const size_t at = 512 * (kFats + d + 1);
    for (uint32_t i = 0; i < 127; ++i) Put32(file, at + 4 * i, next < kFats ? next++ : kFree);
    Put32(file, at + 508, d + 1 < kDifats ? kFats + d + 1 : kEnd);
  }
  for (uint32_t used : {kDirectory, lastUsed}) Put32(file, 512 * (used / 128 + 1) + 4 * (used % 128), kEnd);
  const size_t root = 512 * (kDirectory + 1);
  std::fill(file.begin() + root, file.begin() + root + 512, 0);
  const std::string name = "Root Entry";
  for (size_t i = 0; i < name.size(); ++i) file[root + 2 * i] = static_cast<uint8_t>(name[i]);
  file[root + 64] = static_cast<uint8_t>(2 * name.size() + 2);
  file[root + 66] = 5;
  for (size_t at : {68, 72, 76}) Put32(file, root + at, kNone);
  return file;
}

TEST(RecoverOleDocument, AFileOf200MiBIsReadAndOneSectorMoreIsNot) {
  for (const uint32_t last : {kOleMaxSectorNumber, kOleMaxSectorNumber + 1}) {
    test::SparseCard card(kOleMaxFileBytes + 0x100000, {{0, LargeCompoundFileTables(last)}});
    ScanContext* scan = card.Context();
    ASSERT_TRUE(scan);
    RecoverOleDocument(*scan, card.setup.Options.OutputFolder, 0);
    // A compound file of no known kind: claimed, not written.
    EXPECT_EQ(card.Claimed(), last == kOleMaxSectorNumber ? kOleMaxFileBytes / 512 : 0) << last;
    if (last > kOleMaxSectorNumber) {
      EXPECT_LE(card.counting->bytes, 4 << 20);  // the tables, not the file
    }
    EXPECT_TRUE(card.ImageAlone());
  }
}

}  // namespace
}  // namespace morvane
