#include "formats/documents/zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/office_samples.h"
#include "formats/raw_card.h"
#include "scan/file_type_id.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

struct Sample {
  const char* name;
  const char* ext;
};
// Archives from Python's zipfile and Info-ZIP, packages from LibreOffice ("_rels/.rels"
// first, every member streamed with a data descriptor) and in Office's layout, and
// LibreOffice's OpenDocument files and EPUB book (named by their "mimetype" member).
const std::vector<Sample> kSamples = {
    {"py_stored.zip", ".ZIP"},       {"py_deflated_comment.zip", ".ZIP"}, {"py_streamed.zip", ".ZIP"},
    {"py_zip64.zip", ".ZIP"},        {"py_zip64_streamed.zip", ".ZIP"},   {"iz_deflated.zip", ".ZIP"},
    {"iz_streamed.zip", ".ZIP"},     {"iz_zip64.zip", ".ZIP"},            {"doc.docx", ".DOCX"},
    {"sheet.xlsx", ".XLSX"},         {"slides.pptx", ".PPTX"},            {"contenttypes_first.docx", ".DOCX"},
    {"report.odt", ".ODT"},          {"sheet.ods", ".ODS"},               {"slides.odp", ".ODP"},
    {"drawing.odg", ".ODG"},         {"report.epub", ".EPUB"},
};

struct Card : test::RawCard {
  explicit Card(int64_t sectors) : RawCard(sectors, 1, true) {}
  // As the scan dispatches: packages that start with "[Content_Types].xml" go to the
  // package recogniser, every other ZIP start to the archive recogniser.
  void Recover(int64_t sector, const Bytes& file) {
    const bool contentTypes = file.size() > 49 && std::string(file.begin() + 30, file.begin() + 49) == "[Content_Types].xml";
    (contentTypes ? RecoverOoxml : RecoverZip)(Context(), setup.Options.OutputFolder, sector * 512);
  }
};

void Put32(Bytes& b, size_t at, uint32_t v) {
  ASSERT_LE(at + 4, b.size());
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

TEST(RecoverZip, ArchivesAndPackagesComeBackByteForByteUnderTheirKind) {
  std::vector<Bytes> files;
  int64_t total = 4;
  for (const auto& s : kSamples) {
    files.push_back(test::OfficeSample(s.name));
    total += Sectors(files.back().size()) + 3;
  }
  Card t(total);
  const std::vector<int64_t> starts = t.PlaceInRow(files, 2, 3);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(kSamples.size()));
  int64_t claimed = 0;
  for (size_t i = 0; i < kSamples.size(); ++i) {
    EXPECT_EQ(test::ReadFileBytes(t.File(starts[i], kSamples[i].ext)), files[i]) << kSamples[i].name;
    // A copy made ahead is as long, or stops in front of the first member written as a stream
    // (LibreOffice writes every member so, behind an OpenDocument's "mimetype").
    const std::string name = kSamples[i].name;
    const bool whole = name.find("streamed") == std::string::npos &&
                       (std::string(kSamples[i].ext) == ".ZIP" || name == "contenttypes_first.docx");
    const int64_t stated = t.Stated(ftZip, starts[i]), size = static_cast<int64_t>(files[i].size());
    EXPECT_TRUE(whole ? stated == size : stated < size) << name << " " << stated;
    claimed += Sectors(files[i].size());
  }
  // Each archive ends after its end record and comment: the random bytes behind are free.
  EXPECT_EQ(t.ClaimedCount(), claimed);
  EXPECT_EQ(t.Files().size(), kSamples.size());
}

TEST(RecoverZip, SplitAroundClaimedSectorsClaimOnlyTakesTheSameSectorsAndTheRangeEndFails) {
  for (const auto& s : kSamples) {
    const Bytes file = test::OfficeSample(s.name);
    const int64_t n = Sectors(file.size());
    const std::vector<int64_t> foreign = {1, n / 3 + 1, n / 3 + 2, n - 1};
    const std::vector<int64_t> where = test::SectorsAvoiding(n, foreign);
    std::vector<int64_t> claims[2];
    for (int pass = 0; pass < 2; ++pass) {  // written, then with every kind deselected
      Card t(where.back() + 6);
      if (pass == 1) t.setup.Options.TypeMask = kTypeJpg;
      t.Place(file, where);
      for (int64_t f : foreign) t.Context().SectorMap.ClaimSector(f);
      t.Recover(0, file);
      claims[pass] = t.ClaimedSectors();
      if (pass == 0) EXPECT_EQ(test::ReadFileBytes(t.File(0, s.ext)), file) << s.name;
      else EXPECT_TRUE(t.Files().empty()) << s.name;
    }
    EXPECT_EQ(claims[0].size(), static_cast<size_t>(n) + foreign.size()) << s.name;
    EXPECT_EQ(claims[0], claims[1]) << s.name;
    // The end record lies beyond the range: nothing is written, nothing stays claimed.
    Card t(n + 4);
    t.setup.LastSector = n - 1;
    t.Place(file, 1);
    t.Recover(1, file);
    EXPECT_EQ(t.ClaimedCount(), 0) << s.name;
    EXPECT_TRUE(t.Files().empty()) << s.name;
  }
}

TEST(RecoverZip, PackagesAreTypedByTheirCentralDirectoryOrMimetypeAndTheSelection) {
  const Bytes docx = test::OfficeSample("doc.docx");
  const Bytes office = test::OfficeSample("contenttypes_first.docx");
  // The same packages with their folder names changed in every header.
  auto renamed = [](Bytes b, const std::string& from, const std::string& to) {
    for (size_t i = 0; i + from.size() <= b.size(); ++i)
      if (std::equal(from.begin(), from.end(), b.begin() + i)) std::copy(to.begin(), to.end(), b.begin() + i);
    return b;
  };
  const Bytes odt = test::OfficeSample("report.odt");
  Bytes compressedMimetype = odt;
  compressedMimetype[8] = 8;  // deflated: no mimetype to go by
  struct Case {
    Bytes file;
    uint32_t mask;
    const char* ext;
  };
  const std::vector<Case> cases = {
      {docx, kTypeDoc, ".DOCX"},
      {docx, kAllFileTypesMask & ~kTypeDoc, nullptr},  // a known kind, deselected: not a .ZIP either
      {office, kTypeDoc, ".DOCX"},
      {office, kTypeXls, nullptr},
      {renamed(office, "word/", "WORD/"), kTypeDoc, ".DOCX"},
      {renamed(office, "word/", "xl/a/"), kTypeXls, ".XLSX"},
      {renamed(office, "word/", "misc/"), kTypeZip, ".ZIP"},  // a package of no known kind
      {renamed(office, "word/", "misc/"), kTypeDoc | kTypeXls | kTypePpt, nullptr},
      {odt, kTypeZip, nullptr},  // an OpenDocument file is no .ZIP
      {renamed(odt, "opendocument.text", "opendocument.tex+"), kTypeZip, ".ZIP"},
      {compressedMimetype, kTypeZip | kTypeOdf, ".ZIP"},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Card t(Sectors(cases[i].file.size()) + 4);
    t.setup.Options.TypeMask = cases[i].mask;
    t.Place(cases[i].file, 1);
    t.Recover(1, cases[i].file);
    EXPECT_EQ(t.ClaimedCount(), Sectors(cases[i].file.size())) << i;
    if (cases[i].ext) EXPECT_EQ(test::ReadFileBytes(t.File(1, cases[i].ext)), cases[i].file) << i;
    else EXPECT_TRUE(t.Files().empty()) << i;
  }
}

void Put64(Bytes& b, size_t at, uint64_t v) {
  Put32(b, at, static_cast<uint32_t>(v));
  Put32(b, at + 4, static_cast<uint32_t>(v >> 32));
}

// The archive (without a comment) with `block` in front of its central directory, and the
// end record's directory offset moved by as much, as Android's signer does.
Bytes WithDataBeforeTheDirectory(const Bytes& zip, const Bytes& block, bool moveOffset = true) {
  const size_t end = zip.size() - 22;
  const uint32_t directory = ByteView(zip.data(), zip.size()).Le32(end + 16);
  Bytes out(zip.begin(), zip.begin() + directory);
  out.insert(out.end(), block.begin(), block.end());
  out.insert(out.end(), zip.begin() + directory, zip.end());
  if (moveOffset) Put32(out, out.size() - 22 + 16, directory + static_cast<uint32_t>(block.size()));
  return out;
}

// An APK signing block: its size, one ID-value pair, the size again and the magic.
Bytes ApkSigningBlock(size_t valueBytes) {
  Bytes block(8 + 8 + 4 + valueBytes + 8 + 16, 0x5C);
  const uint64_t size = block.size() - 8;
  Put64(block, 0, size);
  Put64(block, 8, 4 + valueBytes);
  Put32(block, 16, 0x7109871A);  // the v2 signature's ID
  Put64(block, block.size() - 24, size);
  const std::string magic = "APK Sig Block 42";
  std::copy(magic.begin(), magic.end(), block.end() - 16);
  return block;
}

TEST(RecoverZip, ForeignDataBeforeTheDirectoryIsKeptOnlyWithTheDirectoryItPrecedes) {
  const Bytes stored = test::OfficeSample("py_stored.zip");
  const Bytes apk = WithDataBeforeTheDirectory(stored, ApkSigningBlock(5000));
  const Bytes bigApk = WithDataBeforeTheDirectory(stored, ApkSigningBlock(300000));  // beyond any search
  const Bytes foreign = WithDataBeforeTheDirectory(stored, Bytes(3000, 0x11));
  const Bytes docx = WithDataBeforeTheDirectory(test::OfficeSample("doc.docx"), ApkSigningBlock(700));
  for (const Bytes* whole : {&apk, &bigApk, &foreign, &docx}) {
    std::vector<std::vector<int64_t>> claims;
    for (uint32_t mask : {kAllFileTypesMask, kTypeJpg}) {
      Card t(Sectors(whole->size()) + 8);
      t.setup.Options.TypeMask = mask;
      t.Place(*whole, 1);
      t.Recover(1, *whole);
      if (mask != kTypeJpg) {
        EXPECT_EQ(test::ReadFileBytes(t.File(1, whole == &docx ? ".DOCX" : ".ZIP")), *whole);
      }
      claims.push_back(t.ClaimedSectors());
    }
    EXPECT_EQ(claims[0], test::SectorRunOf(1, Sectors(whole->size())));
    EXPECT_EQ(claims[0], claims[1]);
  }
  // No directory that the end record points to within reach: nothing, rather than the
  // members alone.
  for (const Bytes& cut : {WithDataBeforeTheDirectory(stored, ApkSigningBlock(5000), false),
                           WithDataBeforeTheDirectory(stored, Bytes(100000, 0x11))}) {
    Card t(Sectors(cut.size()) + 8);
    t.Place(cut, 1);
    t.Recover(1, cut);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_TRUE(t.Files().empty());
  }
}

TEST(RecoverZip, AMemberThatStartsASectorGivesWayToItsArchive) {
  // The second member's local header starts the archive's second sector: the pass meets it
  // first, as a start of its own, and leaves it to the archive. With the archive's first
  // sector overwritten, the members from there on are still kept as an archive.
  const Bytes zip = test::OfficeSample("py_aligned.zip");
  for (bool overwritten : {false, true}) {
    Card t(Sectors(zip.size()) + 6);
    t.Place(zip, 2);
    if (overwritten) std::fill_n(t.image.begin() + 2 * 512, 512, 0x11);
    t.RunAll();
    const int64_t at = overwritten ? 3 : 2;
    EXPECT_EQ(test::ReadFileBytes(t.File(at, ".ZIP")), Bytes(zip.begin() + (at - 2) * 512, zip.end())) << overwritten;
    EXPECT_EQ(t.Files().size(), 1u) << overwritten;
    // So are copies made ahead.
    EXPECT_EQ(t.Stated(ftZip, 3), overwritten ? static_cast<int64_t>(zip.size()) - 512 : 0);
  }
}

TEST(RecoverZip, DamagedRecordsAndMissingDescriptors) {
  const Bytes zip = test::OfficeSample("py_deflated_comment.zip");
  // The second member's header overwritten: the archive is kept whole, its directory being
  // near enough behind.
  const size_t second = 30 + 5 + 7799;
  Bytes damaged = zip;
  Put32(damaged, second, 0x12345678);
  // The first member's data descriptor flag set, its sizes 0: no descriptor is found, and
  // nothing is kept.
  Bytes streamedWithout = zip;
  streamedWithout[6] |= 8;
  Put32(streamedWithout, 18, 0);
  // A ZIP64 size without its ZIP64 field.
  Bytes zip64Missing = zip;
  Put32(zip64Missing, 18, 0xFFFFFFFF);

  struct Case {
    const char* what;
    Bytes file;
    size_t keptBytes;  // 0: nothing written, nothing claimed
  };
  const std::vector<Case> cases = {{"damaged second header", damaged, damaged.size()},
                                   {"descriptor that is not there", streamedWithout, 0},
                                   {"ZIP64 size without its field", zip64Missing, 0}};
  for (const auto& c : cases) {
    Card t(Sectors(c.file.size()) + 40);
    t.Place(c.file, 0);
    t.Recover(0, c.file);
    // A copy made ahead stops in front of the damage, or is none.
    EXPECT_EQ(t.Stated(ftZip, 0), c.keptBytes == 0 ? 0 : static_cast<int64_t>(second)) << c.what;
    if (c.keptBytes == 0) {
      EXPECT_EQ(t.ClaimedCount(), 0) << c.what;
      EXPECT_TRUE(t.Files().empty()) << c.what;
    } else {
      const Bytes kept(c.file.begin(), c.file.begin() + static_cast<std::ptrdiff_t>(c.keptBytes));
      EXPECT_EQ(test::ReadFileBytes(t.File(0, ".ZIP")), kept) << c.what;
      EXPECT_EQ(t.ClaimedCount(), Sectors(c.keptBytes)) << c.what;
    }
  }
}

TEST(RecoverZip, HugeSizesFailWithoutReadingToThem) {
  // A first member claiming 4 GiB - 2 (plain) or 2^62 (ZIP64) bytes of data on a small card:
  // refused at once, in both outputs.
  Bytes zip = test::OfficeSample("py_zip64.zip");
  Bytes plain = zip;
  Put32(plain, 18, 0xFFFFFFFE);
  Bytes huge64 = zip;
  Put32(huge64, 30 + 5 + 4 + 8 + 4, 0x40000000);  // high half of the ZIP64 compressed size
  Put32(huge64, 18, 0xFFFFFFFF);
  for (const Bytes& f : {plain, huge64}) {
    for (uint32_t mask : {kAllFileTypesMask, kTypeJpg}) {
      Card t(Sectors(f.size()) + 8);
      t.setup.Options.TypeMask = mask;
      t.Place(f, 0);
      t.Recover(0, f);
      EXPECT_EQ(t.Stated(ftZip, 0), 0);
      EXPECT_EQ(t.ClaimedCount(), 0);
      EXPECT_TRUE(t.Files().empty());
    }
  }
}

TEST(RecoverZip, APackageRecordMayReach200MiBAndNotAByteMore) {
  // A package whose one member's local record is 200 MiB long (or a byte longer), then its
  // central directory and end record, on a sparse card.
  const std::string name = "[Content_Types].xml";
  for (const int64_t record : {kOoxmlMaxRecordBytes, kOoxmlMaxRecordBytes + 1}) {
    const auto data = static_cast<uint32_t>(record - 30 - static_cast<int64_t>(name.size()));
    Bytes local(30, 0), central(46, 0), end(22, 0);
    Put32(local, 0, 0x04034B50), Put32(local, 18, data), Put32(local, 22, data);
    Put32(central, 0, 0x02014B50), Put32(central, 20, data), Put32(central, 24, data);
    local[26] = central[28] = static_cast<uint8_t>(name.size());
    local.insert(local.end(), name.begin(), name.end());
    central.insert(central.end(), name.begin(), name.end());
    Put32(end, 0, 0x06054B50), end[8] = end[10] = 1;
    Put32(end, 12, static_cast<uint32_t>(central.size())), Put32(end, 16, static_cast<uint32_t>(record));
    const Bytes tail = test::Cat({central, end});
    test::SparseCard card(kOoxmlMaxRecordBytes + 0x100000, {{0, local}, {record, tail}});
    card.setup.Options.TypeMask = kAllFileTypesMask & ~kTypeZip;  // claimed, not written
    ScanContext* scan = card.Context();
    ASSERT_TRUE(scan);
    RecoverOoxml(*scan, card.setup.Options.OutputFolder, 0);
    const bool within = record == kOoxmlMaxRecordBytes;
    EXPECT_EQ(card.Claimed(), within ? Sectors(static_cast<size_t>(record) + tail.size()) : 0) << record;
    if (!within) {
      EXPECT_LE(card.counting->bytes, 0x20000);  // refused before its data is read
    }
    EXPECT_TRUE(card.ImageAlone());
  }
}

}  // namespace
}  // namespace morvane
