// Camera raw files and TIFF pictures: real TIFFs made by Pillow, tiffcp, ImageMagick and
// exiftool (tests/data/raw/make_samples.sh), and each maker's layout built small
// (formats/raw_layouts.h), carved from in-memory cards.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/camera_raw.h"
#include "formats/raw_card.h"
#include "formats/raw_layouts.h"
#include "scan/datetime.h"
#include "scan/file_type_id.h"
#include "storage/source.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::RawCard;
using test::RawLayout;
using test::Sectors;
using test::SectorRunOf;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("raw/" + name)); }

// The real TIFFs and the kind each must come back as.
std::vector<RawLayout> RealTiffs() {
  const std::vector<std::pair<std::string, std::string>> kinds = {
      {"pillow_raw", ".TIF"}, {"pillow_lzw", ".TIF"}, {"pillow_jpeg", ".TIF"}, {"tiffcp_tiles", ".TIF"},
      {"tiffcp_strips_be", ".TIF"}, {"magick_tiles_be", ".TIF"}, {"two_dates", ".TIF"},
      {"nikon", ".NEF"}, {"pentax", ".PEF"}, {"sony_arw", ".ARW"}, {"sony_sr2", ".SR2"},
      {"nikon_dng", ".DNG"}, {"kodak", ".RAW"}};
  std::vector<RawLayout> v;
  for (const auto& [name, ext] : kinds) v.push_back({name, ext, Sample(name + ".tif"), ""});
  return v;
}

std::vector<RawLayout> EveryKind() {
  std::vector<RawLayout> v = RealTiffs();
  for (auto& l : test::TiffRawLayouts()) v.push_back(l);
  v.push_back(test::X3f());
  v.push_back(test::Raf(false));
  v.push_back(test::Raf(true));
  return v;
}

time_t LocalUnix(int y, int mo, int d, int h, int mi, int s) { return *LocalDateTimeToUnix(*EncodeDateTime(y, mo, d, h, mi, s)); }

time_t ModificationTime(const std::string& path) { return test::ModifiedTime(path).seconds; }

// Places each file at its own sector, with random sectors between them.
std::map<std::string, int64_t> PlaceAll(RawCard& card, const std::vector<RawLayout>& files, int64_t first) {
  std::map<std::string, int64_t> at;
  int64_t s = first;
  for (const auto& f : files) {
    card.Place(f.bytes, s);
    at[f.name] = s;
    s += Sectors(f.bytes.size()) + 3;
  }
  return at;
}

int64_t TotalSectors(const std::vector<RawLayout>& files) {
  int64_t n = 0;
  for (const auto& f : files) n += Sectors(f.bytes.size()) + 3;
  return n;
}

TEST(CameraRaw, EveryKindComesBackByteForByteWithItsExtensionFromAWholeScan) {
  const auto files = EveryKind();
  RawCard card(TotalSectors(files) + 20, 1, true);
  const auto at = PlaceAll(card, files, 5);
  const ScanReport report = card.RunAll();

  int64_t sectors = 0;
  for (const auto& f : files) {
    const std::string path = card.File(at.at(f.name), f.extension);
    EXPECT_EQ(test::ReadFileBytes(path), f.bytes) << f.name << " as " << f.extension;
    // A copy made ahead is as long (TIFF-based files only).
    const bool tiff = f.extension != ".X3F" && f.extension != ".RAF";
    EXPECT_EQ(card.Stated(ftTiffRaw, at.at(f.name)), tiff ? static_cast<int64_t>(f.bytes.size()) : 0) << f.name;
    // Exactly the file's sectors are claimed.
    EXPECT_TRUE(card.Claimed(at.at(f.name) + Sectors(f.bytes.size()) - 1)) << f.name;
    EXPECT_FALSE(card.Claimed(at.at(f.name) + Sectors(f.bytes.size()))) << f.name;
    sectors += Sectors(f.bytes.size());
  }
  EXPECT_EQ(card.ClaimedCount(), sectors);
  EXPECT_EQ(card.Files().size(), files.size());
  EXPECT_EQ(report.RecoveredCount, static_cast<int32_t>(files.size()));

  // The shooting time becomes the file's time: the first date tag of the walk; the X3F's
  // from its larger preview; the RAF's from its preview.
  EXPECT_EQ(ModificationTime(card.File(at.at("nikon"), ".NEF")), LocalUnix(2021, 6, 5, 14, 30, 0));
  EXPECT_EQ(ModificationTime(card.File(at.at("two_dates"), ".TIF")), LocalUnix(2019, 3, 4, 5, 6, 6));
  EXPECT_EQ(ModificationTime(card.File(at.at("cr2"), ".CR2")), LocalUnix(2020, 2, 3, 4, 5, 6));
  EXPECT_EQ(ModificationTime(card.File(at.at("dng"), ".DNG")), LocalUnix(2013, 3, 4, 5, 6, 6));
  EXPECT_EQ(ModificationTime(card.File(at.at("x3f"), ".X3F")), LocalUnix(2014, 7, 15, 10, 20, 30));
  EXPECT_EQ(ModificationTime(card.File(at.at("raf2"), ".RAF")), LocalUnix(2014, 7, 15, 10, 20, 30));
}

TEST(CameraRaw, FilesAreFollowedAroundSectorsOfOtherFiles) {
  // Each file is split after its third sector by a JPEG that the scan carves first (it
  // starts at a higher sector); the raw file is followed around the JPEG's sectors.
  const Bytes jpeg = test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg"));
  const std::vector<RawLayout> files = {test::Cr2(), test::Dng(), test::X3f(), test::Raf(true),
                                        {"tiffcp_strips_be", ".TIF", Sample("tiffcp_strips_be.tif"), ""},
                                        {"pillow_lzw", ".TIF", Sample("pillow_lzw.tif"), ""}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    const int64_t n = Sectors(f.bytes.size()), j = Sectors(jpeg.size());
    RawCard card(n + j + 12, 1, true);
    std::vector<int64_t> where = SectorRunOf(4, 3);
    for (int64_t s : SectorRunOf(7 + j, n - 3)) where.push_back(s);
    card.Place(f.bytes, where);
    card.Place(jpeg, 7);
    card.RunAll();
    EXPECT_EQ(test::ReadFileBytes(card.File(4, f.extension)), f.bytes);
    EXPECT_EQ(test::ReadFileBytes(card.File(7, ".JPG")), jpeg);
    EXPECT_EQ(card.ClaimedCount(), n + j);
  }
}

TEST(CameraRaw, TheRangeEndRejectsTiffAndX3fButKeepsAsMuchOfARafAsItHolds) {
  for (const RawLayout& f : {test::Cr2(), test::Dng(), test::X3f(), test::Raf(true)}) {
    SCOPED_TRACE(f.name);
    const int64_t n = Sectors(f.bytes.size());
    RawCard card(n + 4);
    card.Place(f.bytes, 2);
    card.setup.LastSector = 2 + n - 3;  // the last two sectors lie beyond the range
    card.RunAll();
    if (f.extension != ".RAF") {
      EXPECT_EQ(card.Stated(ftTiffRaw, 2), 0);
      EXPECT_TRUE(card.Files().empty());
      EXPECT_EQ(card.ClaimedCount(), 0);
      continue;
    }
    const Bytes kept(f.bytes.begin(), f.bytes.begin() + (n - 2) * 512);
    EXPECT_EQ(test::ReadFileBytes(card.File(2, ".RAF")), kept);
    EXPECT_EQ(card.ClaimedCount(), n - 2);
  }
}

// --- Photo filter and type selection --------------------------------------------------

TEST(CameraRaw, ThePhotoFilterUsesTheFirstDateMetAndUnselectedRawIsOnlyClaimed) {
  const RawLayout twoDates{"two_dates", ".TIF", Sample("two_dates.tif"), ""};
  const RawLayout undated{"pillow_raw", ".TIF", Sample("pillow_raw.tif"), ""};
  const RawLayout x3f = test::X3f();  // previews dated 2009 (small) and 2014 (large)
  const RawLayout raf = test::Raf(true);  // preview dated 2014
  const std::vector<RawLayout> files = {twoDates, undated, x3f, raf};
  const double day2019 = *EncodeDate(2019, 3, 4), day2022 = *EncodeDate(2022, 1, 2), day2009 = *EncodeDate(2009, 5, 2),
               day2014 = *EncodeDate(2014, 7, 15);
  struct Case {
    double from, to;
    bool keepUndated;
    uint32_t mask;
    std::vector<std::string> written;
  };
  const std::vector<Case> cases = {
      {day2019, day2019, false, kAllTypesMask, {"two_dates"}},           // DateTime (IFD0) is met before DateTimeOriginal
      {day2022, day2022, false, kAllTypesMask, {}},
      {day2009, day2009, true, kAllTypesMask, {"pillow_raw"}},           // the X3F's small preview does not count
      {day2014, day2014, false, kAllTypesMask, {"x3f", "raf2"}},
      {day2009, day2022, true, kAllTypesMask & ~kTypeRaw, {}},           // RAW not selected
  };
  for (const Case& c : cases) {
    RawCard card(TotalSectors(files) + 10);
    const auto at = PlaceAll(card, files, 2);
    card.setup.Options.DateFrom = c.from;
    card.setup.Options.DateTo = c.to;
    card.setup.Options.KeepUndatedPhotos = c.keepUndated;
    card.setup.Options.TypeMask = c.mask;
    const ScanReport report = card.RunAll();
    std::vector<std::string> expected;
    for (const auto& f : files) {
      const bool wanted = std::find(c.written.begin(), c.written.end(), f.name) != c.written.end();
      if (wanted) expected.push_back(card.File(at.at(f.name), f.extension).substr(card.setup.Options.OutputFolder.size()));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(card.Files(), expected);
    EXPECT_EQ(report.RecoveredCount, static_cast<int32_t>(expected.size()));
    // Written or not, every file is claimed.
    int64_t sectors = 0;
    for (const auto& f : files) sectors += Sectors(f.bytes.size());
    EXPECT_EQ(card.ClaimedCount(), sectors);
  }
}

// --- Hostile structures -----------------------------------------------------------------

// A CR2 changed by `edit` (given the builder's view of the bytes and the IFD offsets).
struct Cr2Parts {
  Bytes bytes;
  size_t ifd0, exif, ifd1, ifd2, ifd3;
};

Cr2Parts Cr2WithOffsets() {
  Cr2Parts p{test::Cr2().bytes, 0, 0, 0, 0, 0};
  const auto le32 = [&](size_t at) { return uint32_t(p.bytes[at]) | uint32_t(p.bytes[at + 1]) << 8 | uint32_t(p.bytes[at + 2]) << 16 | uint32_t(p.bytes[at + 3]) << 24; };
  const auto next = [&](size_t ifd) { return le32(ifd + 2 + 12 * (p.bytes[ifd] | p.bytes[ifd + 1] << 8)); };
  p.ifd0 = le32(4);
  p.exif = le32(p.ifd0 + 2 + 12 * 6 + 8);
  p.ifd1 = next(p.ifd0), p.ifd2 = next(p.ifd1), p.ifd3 = next(p.ifd2);
  return p;
}

TEST(TiffRaw, HostileDirectoriesRejectTheFileAndLeaveNothingBehind) {
  using test::PutLe32;
  const auto put16 = [](Bytes& b, size_t at, uint16_t v) { b[at] = v & 0xFF, b[at + 1] = v >> 8; };
  const Cr2Parts cr2 = Cr2WithOffsets();
  const auto entry = [&](size_t ifd, int i) { return ifd + 2 + 12 * static_cast<size_t>(i); };
  const auto nextField = [&](const Bytes& b, size_t ifd) { return ifd + 2 + 12 * static_cast<size_t>(b[ifd] | b[ifd + 1] << 8); };
  struct Case {
    const char* what;
    std::function<void(Bytes&)> edit;
  };
  const std::vector<Case> cases = {
      {"an IFD with no entries", [&](Bytes& b) { put16(b, cr2.ifd2, 0); }},
      {"an IFD with 65535 (-1) entries", [&](Bytes& b) { put16(b, cr2.ifd2, 0xFFFF); }},
      {"an unknown field type", [&](Bytes& b) { put16(b, entry(cr2.ifd0, 0) + 2, 99); }},
      {"count x size beyond 32 bits", [&](Bytes& b) { PutLe32(b, entry(cr2.ifd0, 1) + 4, 0x40000001); put16(b, entry(cr2.ifd0, 1) + 2, 4); }},
      {"strip offset + count wraps in 32 bits", [&](Bytes& b) {
         PutLe32(b, entry(cr2.ifd3, 1) + 8, 0xFFFFFF00);
         PutLe32(b, entry(cr2.ifd3, 2) + 8, 0x200);
       }},
      {"the raw strip lies beyond the range", [&](Bytes& b) { PutLe32(b, entry(cr2.ifd3, 1) + 8, 0x01000000); }},
      {"a next-IFD offset beyond 200 MiB", [&](Bytes& b) { PutLe32(b, nextField(b, cr2.ifd3), 0xFFFFFFF0); }},
  };
  for (const Case& c : cases) {
    for (bool writing : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (writing ? ", writing" : ", claim-only"));
      Bytes b = cr2.bytes;
      c.edit(b);
      RawCard card(Sectors(b.size()) + 100, 1, true);
      card.Place(b, 1);
      const std::string folder = writing ? card.setup.Options.OutputFolder : "";
      EXPECT_EQ(RecoverTiffRaw(card.Context(), folder, 512), 0);
      EXPECT_EQ(card.Stated(ftTiffRaw, 1), 0);
      EXPECT_EQ(card.ClaimedCount(), 0);
      EXPECT_TRUE(card.Files().empty());
    }
  }
}

TEST(TiffRaw, AnIfdMetAgainIsWalkedOnceAndTheIfdCountStaysLimited) {
  using test::PutLe32;
  const Cr2Parts cr2 = Cr2WithOffsets();
  const auto entry = [&](size_t ifd, int i) { return ifd + 2 + 12 * static_cast<size_t>(i); };
  const auto nextField = [&](const Bytes& b, size_t ifd) { return ifd + 2 + 12 * static_cast<size_t>(b[ifd] | b[ifd + 1] << 8); };
  const std::vector<std::function<void(Bytes&)>> edits = {
      [&](Bytes& b) {  // the raw IFD points at IFD0's EXIF IFD too
        const size_t e = entry(cr2.ifd3, 0);
        b[e] = 0x69, b[e + 1] = 0x87, b[e + 2] = 4, b[e + 3] = 0;  // tag 34665, LONG
        PutLe32(b, e + 8, static_cast<uint32_t>(cr2.exif));
      },
      [&](Bytes& b) { PutLe32(b, nextField(b, cr2.ifd3), static_cast<uint32_t>(cr2.ifd0)); },  // the chain loops
      [&](Bytes& b) { PutLe32(b, nextField(b, cr2.ifd3), static_cast<uint32_t>(cr2.ifd3)); },
      [&](Bytes& b) { PutLe32(b, entry(cr2.ifd0, 6) + 8, static_cast<uint32_t>(cr2.ifd0)); },
  };
  for (size_t i = 0; i < edits.size(); ++i) {
    Bytes b = cr2.bytes;
    edits[i](b);
    RawCard card(Sectors(b.size()) + 100, 1, true);
    card.Place(b, 1);
    EXPECT_EQ(RecoverTiffRaw(card.Context(), card.setup.Options.OutputFolder, 512), static_cast<int>(b.size())) << i;
    EXPECT_EQ(test::ReadFileBytes(card.File(1, ".CR2")), b) << i;
  }
  // A chain of 1024 IFDs is followed, one of 1025 is not.
  for (int n : {1024, 1025}) {
    test::TiffBuilder b(false, test::TiffHeader(false));
    size_t previous = 0;
    for (int i = 0; i < n; ++i) {
      const size_t ifd = b.AddIfd({b.Short(test::tWidth, 1)});
      i == 0 ? b.SetIfd0(static_cast<uint32_t>(ifd)) : b.SetNext(previous, static_cast<uint32_t>(ifd));
      previous = ifd;
    }
    RawCard card(Sectors(b.bytes.size()) + 4);
    card.Place(b.bytes, 1);
    RecoverTiffRaw(card.Context(), "", 512);
    EXPECT_EQ(card.ClaimedCount(), n == 1024 ? Sectors(b.bytes.size()) : 0) << n;
  }
}

TEST(TiffRaw, AClaimOnlyWalkThatPassedAStructureWalksAgainHoldingEverything) {
  // IFD0 lies behind 300 KB of strip data and points back to an EXIF IFD in front of it.
  // Claiming without writing steps over the data to reach IFD0 and then finds the EXIF IFD
  // no longer held: the file is walked again, holding what it reads, and claimed whole.
  test::TiffBuilder b(false, test::TiffHeader(false));
  b.AddFilled(1500, 1);
  const size_t exif = b.AddIfd({b.Ascii(test::tDateOriginal, "2012:01:01 01:01:01")});
  const size_t strip = b.AddFilled(300000, 2);
  const size_t ifd0 = b.AddIfd({b.Long(test::tStrips, static_cast<uint32_t>(strip)), b.Long(test::tStripBytes, 300000),
                                b.Long(test::tExif, static_cast<uint32_t>(exif))});
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  RawCard card(Sectors(b.bytes.size()) + 8, 1, true);
  card.Place(b.bytes, 2);
  RecoverTiffRaw(card.Context(), "", 2 * 512);
  EXPECT_EQ(card.ClaimedSectors(), SectorRunOf(2, Sectors(b.bytes.size())));
}

TEST(TiffRaw, SubIfdsNestedBeyondReasonAreRejected) {
  // IFD0 -> SubIFD -> SubIFD -> ...: four levels are followed, forty are not.
  for (int depth : {4, 40}) {
    test::TiffBuilder b(false, test::TiffHeader(false));
    std::vector<size_t> ifds;
    for (int i = 0; i <= depth; ++i) ifds.push_back(b.AddIfd({b.Short(test::tWidth, 1), b.Long(test::tSubIfds, 0)}));
    for (int i = 0; i < depth; ++i) b.Patch(ifds[i], test::tSubIfds, ifds[i + 1]);
    b.SetIfd0(static_cast<uint32_t>(ifds[0]));
    RawCard card(Sectors(b.bytes.size()) + 4);
    card.Place(b.bytes, 1);
    RecoverTiffRaw(card.Context(), card.setup.Options.OutputFolder, 512);
    EXPECT_EQ(card.ClaimedCount(), depth == 4 ? Sectors(b.bytes.size()) : 0) << depth;
  }
}

TEST(TiffRaw, AByteCountWithoutItsOffsetsCountsAsAbsent) {
  // IFD0 carries StripByteCounts (and a JPEG length) but no offsets: the file is the IFD,
  // its text and nothing more; earlier offsets of the chain do pair with later counts.
  test::TiffBuilder b(false, test::TiffHeader(false));
  const size_t ifd0 = b.AddIfd({b.Ascii(test::tMake, "Kodak"), b.Long(test::tStripBytes, 300000), b.Long(test::tJpegLength, 400000)});
  const size_t strip = b.AddFilled(5000, 1);
  const size_t ifd1 = b.AddIfd({b.Long(test::tStrips, static_cast<uint32_t>(strip))});
  const size_t ifd2 = b.AddIfd({b.Long(test::tStripBytes, 5000)});
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  b.SetNext(ifd0, ifd1), b.SetNext(ifd1, ifd2);
  RawCard card(Sectors(b.bytes.size()) + 2000, 1, true);
  card.Place(b.bytes, 1);
  EXPECT_EQ(RecoverTiffRaw(card.Context(), card.setup.Options.OutputFolder, 512), static_cast<int>(b.bytes.size()));
  EXPECT_EQ(test::ReadFileBytes(card.File(1, ".RAW")), b.bytes);
}

TEST(TiffRaw, APanasonicRawOffsetWithoutStripsIsClaimedButNotPartOfTheFile) {
  // "IIU": StripOffsets marked absent (0xFFFFFFFF), the raw-data offset (tag 280) pointing
  // past the IFD: the file is the IFD alone (RW2), but the sectors up to the raw data stay
  // claimed.
  Bytes h = test::TiffHeader(false);
  h[2] = 'U';
  test::TiffBuilder b(false, h);
  const size_t ifd0 = b.AddIfd({b.Ascii(test::tMake, "Panasonic"), b.Long(test::tStrips, 0xFFFFFFFF), b.Long(test::tRawOffset, 20 * 512)});
  b.SetIfd0(static_cast<uint32_t>(ifd0));
  RawCard card(40, 1, true);
  card.Place(b.bytes, 0);
  RecoverTiffRaw(card.Context(), card.setup.Options.OutputFolder, 0);
  EXPECT_EQ(test::ReadFileBytes(card.File(0, ".RW2")), b.bytes);
  EXPECT_EQ(card.ClaimedSectors(), SectorRunOf(0, 20));
}

TEST(TiffRaw, APanasonicRawWithAStripByteCountOf0EndsWhereItsPackedPixelsEnd) {
  // As some Panasonic cameras write it: the strip's byte count 0, the raw data from the
  // raw-data offset (tag 280) to the file's end, 56 x 40 pixels of 12 bits packed 14 to
  // each 16 bytes. A packing whose size is not known leaves no file, rather than the preview.
  for (const uint32_t compression : {34316u, 34828u}) {
    Bytes h = test::TiffHeader(false);
    h[2] = 'U';
    test::TiffBuilder b(false, h);
    const size_t ifd0 = b.AddIfd({b.Short(2, 56), b.Short(3, 40), b.Short(10, 12), b.Short(11, compression),
                                  b.Undefined(46, test::ExifJpeg()), b.Ascii(test::tMake, "Panasonic"),
                                  b.Long(test::tStrips, 0), b.Long(test::tStripBytes, 0), b.Long(test::tRawOffset, 0)});
    const size_t raw = b.AddFilled(56 * 40 / 14 * 16, 9);
    b.SetIfd0(static_cast<uint32_t>(ifd0));
    b.Patch(ifd0, test::tStrips, static_cast<uint32_t>(raw)), b.Patch(ifd0, test::tRawOffset, static_cast<uint32_t>(raw));
    RawCard card(Sectors(b.bytes.size()) + 20, 1, true);
    card.Place(b.bytes, 1);
    RecoverTiffRaw(card.Context(), card.setup.Options.OutputFolder, 512);
    if (compression == 34316) {
      EXPECT_EQ(test::ReadFileBytes(card.File(1, ".RW2")), b.bytes);
      EXPECT_EQ(card.ClaimedSectors(), SectorRunOf(1, Sectors(b.bytes.size())));
    } else {
      EXPECT_TRUE(card.Files().empty());
      EXPECT_EQ(card.ClaimedCount(), 0);
    }
  }
}

TEST(X3f, TheFirstValueThatPointsBackToADirectoryEndsTheFile) {
  // (The layout's raw image holds a value 12 bytes behind a "SECd", which every whole-scan
  // test passes over.) A value 24 bytes behind a "SECd" inside a preview ends the file there.
  Bytes early = test::X3f().bytes;
  const size_t at = 1024;  // 4-aligned, in the small preview's section
  std::copy_n("SECd", 4, early.begin() + at);
  test::PutLe32(early, at + 24, static_cast<uint32_t>(at));
  RawCard card(Sectors(early.size()) + 10, 1, true);
  card.Place(early, 1);
  RecoverX3f(card.Context(), card.setup.Options.OutputFolder, 512);
  EXPECT_EQ(test::ReadFileBytes(card.File(1, ".X3F")), Bytes(early.begin(), early.begin() + at + 28));
  EXPECT_EQ(card.ClaimedCount(), Sectors(at + 28));
}

TEST(Raf, HeaderLengthsThatWouldWrapAreRejected) {
  // 0xFFFFFFFF lengths: in 32 bits the end would wrap round to a small number.
  RawLayout f = test::Raf(false);
  test::PutBe32(f.bytes, 100, 0x200);
  test::PutBe32(f.bytes, 104, 0xFFFFFFFF);
  RawCard card(Sectors(f.bytes.size()) + 4, 1, true);
  card.Place(f.bytes, 1);
  EXPECT_EQ(RecoverRaf(card.Context(), card.setup.Options.OutputFolder, 512), 0);
  EXPECT_EQ(card.ClaimedCount(), 0);
  EXPECT_TRUE(card.Files().empty());
}

// --- The 200 MiB limit ------------------------------------------------------------------

TEST(CameraRaw, TwoHundredMebibytesAreFollowedUnreadAndOneByteMoreIsNot) {
  // A sparse image: a TIFF whose strip (or a RAF whose raw data) ends exactly at 200 MiB,
  // or one byte further. RAW is not selected, so the data is claimed without being read.
  test::TempDir dir;
  const int64_t imageBytes = kMaxCameraRawBytes + (int64_t{4} << 20);
  for (bool raf : {false, true}) {
    for (int64_t over : {0, 1}) {
      SCOPED_TRACE(std::string(raf ? "RAF" : "TIFF") + (over ? " one byte over" : " at the limit"));
      const uint32_t dataAt = 1 << 20;
      const auto dataLength = static_cast<uint32_t>(kMaxCameraRawBytes + over - dataAt);
      Bytes head;
      if (raf) {
        head = test::Raf(false).bytes;
        test::PutBe32(head, 100, dataAt);
        test::PutBe32(head, 104, dataLength);
      } else {
        test::TiffBuilder b(false, test::TiffHeader(false));
        b.SetIfd0(static_cast<uint32_t>(b.AddIfd({b.Long(test::tStrips, dataAt), b.Long(test::tStripBytes, dataLength)})));
        head = b.bytes;
      }
      const std::string path = dir / "card.img";
      ASSERT_TRUE(test::WriteSparseImage(path, imageBytes, {{0, head}}));
      OpenResult opened = OpenSource(path);
      ASSERT_TRUE(opened.source);
      test::CountingSource counting(*opened.source);
      ScanSetup setup;
      setup.Geometry.PartitionLastSector = imageBytes / 512 - 1;
      setup.LastSector = setup.Geometry.PartitionLastSector;
      setup.Options.TypeMask = kAllTypesMask & ~kTypeRaw;
      ProgressClock clock;
      auto scan = ScanContext::Create(counting, setup, clock).Scan;
      ASSERT_TRUE(scan);
      (raf ? RecoverRaf : RecoverTiffRaw)(*scan, dir.path().string() + "/", 0);
      EXPECT_EQ(scan->SectorMap.CountClaimed(0, setup.LastSector + 1), over ? 0 : kMaxCameraRawBytes / 512);
      EXPECT_LE(counting.bytes, 4 * 0x10000);  // the header, not the data
    }
  }
}

}  // namespace
}  // namespace morvane
