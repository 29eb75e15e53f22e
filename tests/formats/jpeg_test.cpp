#include "formats/pictures/jpeg.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/exif.h"
#include "formats/pictures/picture_checks.h"
#include "formats/jpeg_encoder.h"
#include "formats/raw_card.h"
#include "formats/recognisers.h"
#include "scan/recovered_file.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane {
namespace {

std::vector<uint8_t> Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("jpeg/" + name)); }

using test::Sectors;

// A card with pictures placed in it; scanned or recognised directly.
struct JpegScan : test::RawCard {
  using RawCard::RawCard;
  using RawCard::File;
  int Recover(int64_t sector) { return RecoverJpeg(Context(), setup.Options.OutputFolder, sector * ss); }
  std::string File(int64_t sector) const { return File(sector, ".JPG"); }
  size_t FilesInFolder() const { return Files().size(); }
};

TEST(RecoverJpeg, ScanRecoversEverySampleByteForByte) {
  const std::vector<std::string> names = {"baseline.jpg", "progressive.jpg", "restart.jpg", "subsampling444.jpg",
                                          "exif_thumb.jpg", "exif_be.jpg", "exif_le.jpg", "exif_le_nodate.jpg"};
  JpegScan t(600);
  std::vector<int64_t> starts;
  int64_t at = 3;
  for (const auto& n : names) {
    starts.push_back(at);
    t.Place(Sample(n), at);
    at += Sectors(Sample(n).size()) + 7;
  }
  // The first marker of the last picture is no APP segment: only the late pass tries it.
  auto other = Sample("baseline.jpg");
  other.erase(other.begin() + 2, other.begin() + 2 + 2 + (other[4] << 8 | other[5]));
  ASSERT_EQ(other[3], 0xDB);
  t.Place(other, at);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, 9);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(test::ReadFileBytes(t.File(starts[i])), Sample(names[i])) << names[i];
  EXPECT_EQ(test::ReadFileBytes(t.File(at)), other);

  // The shooting time is the file's modification time, at two-second resolution.
  EXPECT_EQ(test::ModifiedTime(t.File(starts[4])).seconds, *LocalDateTimeToUnix(*EncodeDateTime(2009, 5, 1, 23, 59, 58)));
  // Intel byte order, taken at an odd second: the time is rounded down to the two-second step.
  const test::FileTime odd = test::ModifiedTime(t.File(starts[6]));
  EXPECT_EQ(odd.seconds, *LocalDateTimeToUnix(*EncodeDateTime(2014, 7, 15, 10, 20, 30)));
  EXPECT_EQ(odd.nanoseconds, 0);
  // Without DateTimeOriginal (DateTime and DateTimeDigitized do not count) the file keeps
  // the time it was written at.
  EXPECT_GT(test::ModifiedTime(t.File(starts[7])).seconds, *LocalDateTimeToUnix(*EncodeDate(2021, 1, 1)));
}

TEST(RecoverJpeg, RealExifBlocksInIntelByteOrder) {
  const auto dated = Sample("exif_le.jpg");
  const auto undated = Sample("exif_le_nodate.jpg");
  const auto d = ReadExifShootingTime(ByteView(dated.data(), dated.size()));
  EXPECT_TRUE(d.Found);
  EXPECT_EQ(d.Text, "2014:07:15 10:20:31");
  EXPECT_EQ(d.Time, *EncodeDateTime(2014, 7, 15, 10, 20, 31));
  const auto u = ReadExifShootingTime(ByteView(undated.data(), undated.size()));
  EXPECT_FALSE(u.Found);
  EXPECT_EQ(u.Time, -1.0);

  // Undated photos left out: only the dated one is written, both stay claimed.
  const int64_t second = Sectors(dated.size()) + 3;
  JpegScan t(second + Sectors(undated.size()) + 3);
  t.Place(dated, 0);
  t.Place(undated, second);
  t.setup.Options.KeepUndatedPhotos = false;
  EXPECT_EQ(t.Recover(0), static_cast<int>(dated.size()));
  EXPECT_EQ(t.Recover(second), static_cast<int>(undated.size()));
  EXPECT_EQ(test::ReadFileBytes(t.File(0)), dated);
  EXPECT_FALSE(std::filesystem::exists(t.File(second)));
  EXPECT_EQ(t.Context().RecoveredCount, 1);
  EXPECT_EQ(t.ClaimedCount(), Sectors(dated.size()) + Sectors(undated.size()));
}

// The picture with comment segments in front of its tables so that it is `length` bytes
// long: a real JPEG of any size that still decodes in no time.
std::vector<uint8_t> PaddedTo(const std::vector<uint8_t>& jpeg, size_t length) {
  std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);
  size_t left = length - jpeg.size();
  while (left > 0) {
    size_t seg = std::min<size_t>(left, 0xFFFF + 2);
    if (left - seg > 0 && left - seg < 5) seg -= 5;  // leave room for one more segment
    out.insert(out.end(), {0xFF, 0xFE, static_cast<uint8_t>((seg - 2) >> 8), static_cast<uint8_t>(seg - 2)});
    out.resize(out.size() + seg - 4, 0x20);
    left -= seg;
  }
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST(RecoverJpeg, NoPictureLongerThan32MiBIsCarved) {
  {  // Noise at quality 100: a single entropy-coded segment of more than 32 MiB.
    const auto big = test::EncodeJpeg({.Width = 3000, .Height = 3000, .Quality = 100, .Seed = 5, .Noise = 255,
                                       .FullChroma = true});
    ASSERT_GT(static_cast<int64_t>(big.size()), kMaxJpegBytes + 512);
    JpegScan t(Sectors(big.size()) + 8);
    t.Place(big, 4);
    EXPECT_EQ(t.Recover(4), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_EQ(t.FilesInFolder(), 0u);
    EXPECT_EQ(t.Context().RecoveredCount, 0);
  }
  // At the limit: exactly 32 MiB is carved whole, a sector and a byte more is not.
  const auto base = Sample("baseline.jpg");
  for (const size_t length : {size_t{kMaxJpegBytes}, size_t{kMaxJpegBytes} + 513}) {
    const auto padded = PaddedTo(base, length);
    ASSERT_EQ(padded.size(), length);
    ASSERT_TRUE(CheckJpegDecodes(ByteView(padded.data(), padded.size())).Ok);
    JpegScan t(Sectors(length) + 4);
    t.Place(padded, 0);
    const bool fits = length == size_t{kMaxJpegBytes};
    EXPECT_EQ(t.Recover(0), fits ? static_cast<int>(length) : 0) << length;
    EXPECT_EQ(t.ClaimedCount(), fits ? Sectors(length) : 0) << length;
    if (fits) EXPECT_EQ(test::ReadFileBytes(t.File(0)), padded);
    else EXPECT_EQ(t.FilesInFolder(), 0u);
  }
}

TEST(RecoverJpeg, AThumbnailStartingOnASectorInsideItsPictureWaitsForTheLatePass) {
  // Cameras embed a thumbnail whose first marker is its quantisation table (FF D8 FF DB).
  // When it happens to start on a sector boundary it is a candidate of its own, at a higher
  // sector than its picture: tried in the recovery pass, it would claim sectors of the
  // picture before the picture's turn.
  auto thumb = test::EncodeJpeg({.Width = 32, .Height = 24, .Seed = 3});
  ASSERT_EQ(thumb[3], 0xE0);
  thumb.erase(thumb.begin() + 2, thumb.begin() + 4 + (thumb[4] << 8 | thumb[5]));
  ASSERT_EQ(thumb[3], 0xDB);
  const auto main = Sample("baseline.jpg");
  const size_t app0End = 4 + (main[4] << 8 | main[5]);
  const size_t lead = 1024 - app0End - 4;  // the thumbnail starts at sector 2
  std::vector<uint8_t> app2 = {0xFF, 0xE2};
  const size_t segLength = 2 + lead + thumb.size();
  app2.push_back(static_cast<uint8_t>(segLength >> 8));
  app2.push_back(static_cast<uint8_t>(segLength));
  app2.resize(app2.size() + lead, 0);
  app2.insert(app2.end(), thumb.begin(), thumb.end());
  std::vector<uint8_t> picture(main.begin(), main.begin() + app0End);
  picture.insert(picture.end(), app2.begin(), app2.end());
  picture.insert(picture.end(), main.begin() + app0End, main.end());
  ASSERT_TRUE(std::equal(thumb.begin(), thumb.end(), picture.begin() + 1024));

  JpegScan t(Sectors(picture.size()) + 4);
  t.Place(picture, 0);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, 1);
  EXPECT_EQ(test::ReadFileBytes(t.File(0)), picture);
  EXPECT_FALSE(std::filesystem::exists(t.File(2)));
}

TEST(RecoverJpeg, FollowsThePictureAroundClaimedSectorsAndGivesBackWhatLiesBehind) {
  const auto jpeg = Sample("baseline.jpg");
  const int64_t n = Sectors(jpeg.size());
  JpegScan t(n + 20);
  std::vector<int64_t> where;
  for (int64_t i = 0, s = 0; i < n; ++i, ++s) {
    if (s == 5 || s == 9 || s == 10) ++s;
    if (s == 10) ++s;
    where.push_back(s);
  }
  t.Place(jpeg, where);
  for (int64_t s : {5, 9, 10}) t.Context().SectorMap.ClaimSector(s);
  EXPECT_EQ(t.Recover(0), static_cast<int>(jpeg.size()));
  EXPECT_EQ(test::ReadFileBytes(t.File(0)), jpeg);
  EXPECT_EQ(t.ClaimedCount(), n + 3);
  EXPECT_FALSE(t.Claimed(where.back() + 1));
}

TEST(RecoverJpeg, FourKibibyteSectorsWholeScanAndAroundClaimedSectors) {
  constexpr uint32_t kSector = 4096;
  const std::vector<std::string> names = {"baseline.jpg", "progressive.jpg", "exif_thumb.jpg", "subsampling444.jpg"};
  JpegScan t(64, 1, false, kSector);
  std::vector<int64_t> starts;
  int64_t at = 1, claimed = 0;
  for (const auto& n : names) {
    starts.push_back(at);
    t.Place(Sample(n), at);
    at += Sectors(Sample(n).size(), kSector) + 2;
    claimed += Sectors(Sample(n).size(), kSector);
  }
  EXPECT_EQ(t.RunAll().RecoveredCount, static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(test::ReadFileBytes(t.File(starts[i])), Sample(names[i])) << names[i];
  EXPECT_EQ(t.ClaimedCount(), claimed);

  const auto jpeg = Sample("baseline.jpg");  // five sectors, around two that belong to others
  JpegScan u(20, 1, false, kSector);
  u.Place(jpeg, {0, 1, 3, 4, 6});
  for (int64_t s : {2, 5}) u.Context().SectorMap.ClaimSector(s);
  EXPECT_EQ(u.Recover(0), static_cast<int>(jpeg.size()));
  EXPECT_EQ(test::ReadFileBytes(u.File(0)), jpeg);
  EXPECT_EQ(u.ClaimedSectors(), (std::vector<int64_t>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(RecoverJpeg, PicturesThatCannotBeAcceptedLeaveNothingBehind) {
  const auto jpeg = Sample("progressive.jpg");
  const int64_t n = Sectors(jpeg.size());
  {  // its end lies beyond LastSector
    JpegScan t(n + 4);
    t.Place(jpeg, 2);
    t.setup.LastSector = n;
    EXPECT_EQ(t.Recover(2), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_EQ(t.FilesInFolder(), 0u);
  }
  // Broken marker structures: lengths 0, 1, 2, a length past the data, random bytes.
  std::mt19937 rng(7);
  std::vector<std::vector<uint8_t>> bad;
  for (uint8_t len : {0, 1, 2}) bad.push_back({0xFF, 0xD8, 0xFF, 0xE0, 0x00, len, 0xFF, 0xDA, 0, 8, 0xFF, 0xD9});
  bad.push_back({0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFF});
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> v(4096);
    for (auto& b : v) b = rng() & 0xFF;
    v[0] = 0xFF; v[1] = 0xD8; v[2] = 0xFF;
    bad.push_back(v);
  }
  for (const auto& b : bad) {
    JpegScan t(16);
    t.Place(b, 0);
    EXPECT_EQ(t.Recover(0), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_EQ(t.FilesInFolder(), 0u);
  }
}

TEST(RecoverJpeg, FillBytesWhereASegmentIsExpectedEndTheWalkAtOnce) {
  // FF D8 and then nothing but FF: were FF FF a segment, this start alone would read the
  // whole card, and one such start in every sector would make the scan quadratic.
  for (const uint8_t second : {0xFF, 0x00}) {
    JpegScan t(8192);
    std::vector<uint8_t> bytes(8192 * 512, 0xFF);
    bytes[1] = 0xD8;
    bytes[3] = second;
    t.Place(bytes, 0);
    EXPECT_EQ(t.Recover(0), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_LE(t.Context().BytesRead.load(), 0x20000);
  }
}

TEST(RecoverJpeg, CompleteStructuresThatDoNotDecodeStayClaimedUnwritten) {
  // Corrupt entropy data; a one-sector stream with no picture in it; a huge declared size.
  auto corrupt = Sample("baseline.jpg");
  for (size_t i = 2000; i < 2600; ++i) corrupt[i] = static_cast<uint8_t>(i * 37);
  std::vector<uint8_t> single = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0, 0, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9};
  auto huge = Sample("baseline.jpg");
  for (size_t i = 0; i + 9 < huge.size(); ++i)
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) { huge[i + 5] = huge[i + 6] = huge[i + 7] = huge[i + 8] = 0xFF; break; }
  for (const auto* b : {&corrupt, &single, &huge}) {
    JpegScan t(Sectors(b->size()) + 2);
    t.Place(*b, 0);
    EXPECT_EQ(t.Recover(0), 0);
    EXPECT_EQ(t.ClaimedCount(), Sectors(b->size()));
    EXPECT_EQ(t.FilesInFolder(), 0u);
    EXPECT_EQ(t.Context().RecoveredCount, 0);
  }
}

TEST(RecoverJpeg, SelectionDateFilterAndThumbnails) {
  const auto early = Sample("exif_thumb.jpg");  // 2009-05-01 23:59:58
  const auto late = Sample("exif_be.jpg");      // 2009-05-02 00:00:00
  const int64_t second = Sectors(early.size()) + 1;
  const int64_t total = second + Sectors(late.size()) + 1;
  const double may1 = *EncodeDate(2009, 5, 1);
  {  // both ends of the range are the same day
    JpegScan t(total);
    t.Place(early, 0);
    t.Place(late, second);
    t.setup.Options.DateFrom = t.setup.Options.DateTo = may1;
    EXPECT_GT(t.Recover(0), 0);
    EXPECT_GT(t.Recover(second), 0);
    EXPECT_TRUE(std::filesystem::exists(t.File(0)));
    EXPECT_FALSE(std::filesystem::exists(t.File(second)));
    EXPECT_EQ(t.ClaimedCount(), Sectors(early.size()) + Sectors(late.size()));
  }
  {  // JPG not selected: followed and claimed, nothing written or counted
    JpegScan t(total);
    t.Place(early, 0);
    t.setup.Options.TypeMask = kAllTypesMask & ~kTypeJpg;
    EXPECT_GT(t.Recover(0), 0);
    EXPECT_EQ(t.FilesInFolder(), 0u);
    EXPECT_EQ(t.Context().RecoveredCount, 0);
    EXPECT_EQ(t.ClaimedCount(), Sectors(early.size()));
  }
  for (bool bySpecialSize : {false, true}) {  // a thumbnail is written, its sectors given back
    JpegScan t(total);
    t.Place(early, 0);
    if (bySpecialSize)
      t.setup.Options.ThumbnailSpecialSizes = std::vector<int32_t>{1, 320 * 240};
    else
      t.setup.Options.ThumbnailPixelLimit = 320 * 240;
    EXPECT_GT(t.Recover(0), 0);
    EXPECT_TRUE(std::filesystem::exists(t.File(0)));
    EXPECT_EQ(t.Context().RecoveredCount, 1);
    EXPECT_EQ(t.ClaimedCount(), 0);
  }
}

// Every file recovered, in the order the scan reported it.
struct FileLog : ScanObserver {
  std::vector<std::string> lines;
  void OnFileRecovered(const RecoveredFileInfo& f) override {
    std::string line = std::filesystem::path(f.Name).filename().string() + " " + std::to_string(f.Length);
    for (const SectorRun& r : f.Runs) line += " " + std::to_string(r.First) + "+" + std::to_string(r.Count);
    lines.push_back(line);
  }
};

TEST(RecoverJpeg, ChecksOnWorkerThreadsChangeNothing) {
  // Duplicates, a picture that fails its decode, thumbnails (one inside a picture, whose
  // sectors it gives back), a picture split around another, and photos large enough for the
  // workers to be at work when the pass arrives.
  const auto base = Sample("baseline.jpg"), prog = Sample("progressive.jpg"), around = Sample("restart.jpg");
  auto corrupt = base;
  for (size_t i = 2000; i < 2600; ++i) corrupt[i] = static_cast<uint8_t>(i * 37);
  const auto thumb = test::EncodeJpeg({.Width = 32, .Height = 24, .Seed = 5});
  std::vector<std::vector<uint8_t>> photos;
  for (uint32_t seed = 1; seed <= 4; ++seed)
    photos.push_back(test::EncodeJpeg({.Width = 640, .Height = 480, .Quality = 95, .Seed = seed, .Noise = 64}));
  const int64_t inner = Sectors(base.size()), splitAt = 10;
  // A picture whose last sector ends with "mdat" in its slack, followed by a "moov" box:
  // in Samsung mode that sector is kept for the video and claimed before the picture's
  // turn, so the pass assembles other bytes than the worker read.
  auto beforeMoov = prog;
  beforeMoov.resize(static_cast<size_t>(Sectors(prog.size())) * 512);
  std::copy_n("mdat", 4, beforeMoov.end() - 4);
  std::vector<uint8_t> moov(512);
  std::copy_n("moov", 4, moov.begin() + 4);
  // JPEGs without an application marker wait for the late pass, whose checks run ahead too.
  auto late = test::EncodeJpeg({.Width = 640, .Height = 480, .Quality = 95, .Seed = 6, .Noise = 64, .Jfif = false});
  auto damagedLate = late;
  for (size_t i = 3000; i < 3600; ++i) damagedLate[i] = static_cast<uint8_t>(i * 29);
  // The other pictures are checked ahead too: of each kind one whole, one damaged (PNG image
  // data, HEIC and WebP coded data overwritten; a bitmap whose stated length leaves out pixels).
  const auto sample = [](const std::string& name) { return test::ReadFileBytes(test::DataPath(name)); };
  const auto after = [](const std::vector<uint8_t>& file, const char* tag) {
    return static_cast<size_t>(std::search(file.begin(), file.end(), tag, tag + 4) - file.begin());
  };
  const auto png = sample("png/magick_interlaced.png"), bmp = sample("bmp/pillow_24bit.bmp"),
             webp = sample("webp/lossy.webp"), heic = sample("heif/photo.heic");
  auto damagedPng = png, damagedBmp = bmp, damagedWebp = webp, damagedHeic = heic;
  damagedPng[after(png, "IDAT") + 20] ^= 0x55;
  for (int i = 0; i < 4; ++i) damagedBmp[2 + i] = static_cast<uint8_t>((bmp.size() - 100) >> 8 * i);
  std::fill(damagedWebp.begin() + 30, damagedWebp.end(), 0xFF);
  std::fill(damagedHeic.begin() + static_cast<std::ptrdiff_t>(after(heic, "mdat") + 4), damagedHeic.end(), 0xFF);

  struct Outcome {
    std::vector<std::string> log, files;
    std::vector<std::vector<uint8_t>> bytes;
    std::vector<int64_t> claimed;
    int32_t recovered = 0;
    bool operator==(const Outcome&) const = default;
  };
  auto scanWith = [&](int threads, uint32_t typeMask) {
    FileLog log;
    JpegScan t(6500);
    t.observer = &log;
    t.setup.Options.Threads = threads;
    t.setup.Options.TypeMask = typeMask;
    t.setup.Options.ThumbnailPixelLimit = 32 * 24;
    t.setup.Options.CameraMode.Samsung = true;
    int64_t at = t.PlaceInRow({base, prog, base, corrupt, thumb, photos[0], photos[1]}, 1, 2).back() + 200;
    // `around` split by `base`, which starts higher and is recovered first.
    std::vector<int64_t> where = test::SectorRunOf(at, splitAt);
    for (int64_t s = at + splitAt + inner; static_cast<int64_t>(where.size()) < Sectors(around.size()); ++s) where.push_back(s);
    t.Place(around, where);
    t.Place(base, at + splitAt);
    // A thumbnail inside a picture: written and given back before the picture's turn.
    at = where.back() + 3;
    t.Place(photos[2], at);
    t.Place(thumb, at + 8);
    at = t.PlaceInRow({photos[3], base}, at + Sectors(photos[2].size()) + 1, 0).back() + inner + 1;
    at = t.PlaceInRow({png, damagedPng, beforeMoov, moov, heic, damagedHeic, bmp, damagedBmp, webp, damagedWebp, thumb},
                      at, 0).back() + Sectors(thumb.size()) + 1;
    t.PlaceInRow({late, photos[0], damagedLate, late}, at, 0);
    Outcome o;
    o.recovered = t.RunAll().RecoveredCount;
    o.log = log.lines;
    o.files = t.Files();
    for (const auto& f : o.files) o.bytes.push_back(test::ReadFileBytes((t.dir.path() / f).string()));
    o.claimed = t.ClaimedSectors();
    return o;
  };
  // HEIC and WebP pictures are checked also where they are only claimed, and so ahead too.
  const uint32_t masks[] = {kAllTypesMask, kAllTypesMask & ~(kTypeHeic | kTypeWebp)};
  const Outcome sequential[] = {scanWith(1, masks[0]), scanWith(1, masks[1])};
  EXPECT_EQ(sequential[0].recovered, kPictureDecodeChecks ? 19 : 21);
  EXPECT_EQ(sequential[1].recovered, 17);
  // Every other round the pass waits for the workers, so their verdicts are the ones asked.
  for (int round = 0; round < 6; ++round) {
    test::SetEnvironment("MORVANE_TEST_WORKERS_FIRST", round % 2 ? "1" : "0");
    EXPECT_EQ(scanWith(2 + round % 3, masks[round / 3]), sequential[round / 3]) << round;
  }
  test::SetEnvironment("MORVANE_TEST_WORKERS_FIRST", nullptr);
}

}  // namespace
}  // namespace morvane
