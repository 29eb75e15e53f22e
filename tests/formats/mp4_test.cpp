#include "formats/media/mp4.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <tuple>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/picture_checks.h"
#include "formats/raw_card.h"
#include "formats/recognisers.h"
#include "scan/recovered_file.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("mp4/" + name)); }

using test::Sectors;

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void PutBe64(Bytes& b, size_t at, uint64_t v) {
  PutBe32(b, at, static_cast<uint32_t>(v >> 32));
  PutBe32(b, at + 4, static_cast<uint32_t>(v));
}

// A box of `total` bytes (header included) whose payload repeats `fill`.
Bytes Box(const char* type, uint32_t total, uint8_t fill = 0x5A) {
  Bytes b(std::max<uint32_t>(total, 8), fill);
  PutBe32(b, 0, total);
  std::copy_n(type, 4, b.begin() + 4);
  return b;
}
// Only the 8-byte header of a box of `total` bytes.
Bytes Header(const char* type, uint32_t total) {
  Bytes b = Box(type, 8);
  PutBe32(b, 0, total);
  return b;
}
Bytes Ftyp(const char* brand = "mp42") {
  Bytes b = Box("ftyp", 24, 0);
  std::copy_n(brand, 4, b.begin() + 8);
  std::copy_n("isom", 4, b.begin() + 16);
  return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The top-level boxes of a sample up to (not including) the first box of this type.
Bytes PrefixBefore(const Bytes& file, const char* type) {
  size_t pos = 0;
  while (pos + 8 <= file.size() && !std::equal(type, type + 4, file.begin() + pos + 4))
    pos += (size_t{file[pos]} << 24) | (size_t{file[pos + 1]} << 16) | (size_t{file[pos + 2]} << 8) | file[pos + 3];
  return Bytes(file.begin(), file.begin() + std::min(pos, file.size()));
}

// A card of random bytes unless told otherwise, with files placed in it; recognised
// directly or scanned whole.
struct Card : test::RawCard {
  explicit Card(int64_t sectors, uint32_t sectorsPerCluster = 1, bool randomFill = true, uint32_t sectorSize = 512)
      : RawCard(sectors, sectorsPerCluster, randomFill, sectorSize) {}
  static std::vector<int64_t> Run(int64_t first, int64_t count) { return test::SectorRunOf(first, count); }
  void Recover(int64_t sector) { RecoverMp4(Context(), setup.Options.OutputFolder, sector * ss); }
};

TEST(RecoverMp4, ScanRecoversEveryMuxerSampleByteForByteUnderItsBrandsExtension) {
  struct Case {
    const char* name;
    const char* ext;
  };
  // ffmpeg's default brand "isom" and every brand other than mp4*/3gp* give .MOV.
  const std::vector<Case> cases = {{"mp41.mp4", ".MP4"},      {"mp42.mp4", ".MP4"},  {"isom.mp4", ".MOV"},
                                   {"faststart.mp4", ".MP4"}, {"quicktime.mov", ".MOV"}, {"mobile.3gp", ".3GP"},
                                   {"largesize.mp4", ".MP4"}, {"fragmented.mp4", ".MOV"}};
  int64_t total = 4;
  for (const auto& c : cases) total += Sectors(Sample(c.name).size()) + 5;
  Card t(total);
  std::vector<int64_t> starts;
  int64_t at = 3, expectClaimed = 0;
  for (const auto& c : cases) {
    const Bytes file = Sample(c.name);
    starts.push_back(at);
    t.Place(file, at);
    at += Sectors(file.size()) + 5;
  }
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(cases.size()));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Bytes file = Sample(cases[i].name);
    // A fragment ("moof") ends the walk: only the header part is carved.
    const Bytes expected = cases[i].name == std::string("fragmented.mp4") ? PrefixBefore(file, "moof") : file;
    EXPECT_EQ(test::ReadFileBytes(t.File(starts[i], cases[i].ext)), expected) << cases[i].name;
    expectClaimed += Sectors(expected.size());
    // The sector after the file (random bytes, no box) was looked at and given back.
    EXPECT_FALSE(t.Claimed(starts[i] + Sectors(expected.size()))) << cases[i].name;
  }
  EXPECT_EQ(PrefixBefore(Sample("fragmented.mp4"), "moof").size(), 845u);
  EXPECT_EQ(t.ClaimedCount(), expectClaimed);
  EXPECT_EQ(t.Files().size(), cases.size());
}

TEST(RecoverMp4, TheWalkEndsBeforeUnknownBoxesZeroOrShortSizesAndAtTheRangeEnd) {
  const Bytes head = Cat({Ftyp(), Box("moov", 400)});
  // ftyp, moov and mdat filling exactly three sectors, then unrelated data.
  const Bytes exact = Cat({head, Box("mdat", 3 * 512 - 424)});
  ASSERT_EQ(exact.size(), 3u * 512);
  Bytes sizeFive = Box("skip", 8);
  PutBe32(sizeFive, 0, 5);
  const std::vector<std::pair<Bytes, Bytes>> cases = {
      {exact, exact},
      {Cat({head, Box("meta", 100), Box("mdat", 2000)}), head},
      {Cat({head, Box("moof", 100), Box("mdat", 2000)}), head},
      {Cat({head, Box("mdat", 0), Box("mdat", 2000)}), head},
      {Cat({head, sizeFive, Box("mdat", 2000)}), head},
      {Cat({head, Box("uuid", 40), Box("wide", 8), Box("skip", 16), Box("isom", 8), Box("free", 9)}),
       Cat({head, Box("uuid", 40), Box("wide", 8), Box("skip", 16), Box("isom", 8), Box("free", 9)})},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Card t(20);
    t.Place(cases[i].first, 2);
    t.Recover(2);
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".MP4")), cases[i].second) << i;
    EXPECT_EQ(t.ClaimedCount(), Sectors(cases[i].second.size())) << i;
    EXPECT_EQ(t.Context().RecoveredCount, 1) << i;
  }
  {  // a file that ends exactly at the last sector of the range is whole
    Card t(8);
    t.Place(exact, 5);
    t.Recover(5);
    EXPECT_EQ(test::ReadFileBytes(t.File(5, ".MP4")), exact);
    EXPECT_EQ(t.ClaimedSectors(), Card::Run(5, 3));
  }
}

TEST(RecoverMp4, HostileSizesAndFilesPastTheRangeLeaveNoClaimAndNoFile) {
  const Bytes head = Cat({Ftyp(), Box("moov", 400)});
  Bytes huge = Box("mdat", 16);  // largesize 2^63
  PutBe32(huge, 0, 1);
  PutBe64(huge, 8, uint64_t{1} << 63);
  Bytes all = huge;
  PutBe64(all, 8, UINT64_MAX);
  Bytes overflow = huge;  // fits in 63 bits, but not added to its offset
  PutBe64(overflow, 8, INT64_MAX - 100);
  Bytes bigFtyp = Ftyp();  // a first box of 256 bytes or more is no ftyp
  PutBe32(bigFtyp, 0, 256);
  std::vector<Bytes> bad = {Cat({head, Box("mdat", 20 * 512)}),  // runs past LastSector
                            Cat({head, huge}), Cat({head, all}), Cat({head, overflow}), Cat({bigFtyp, head})};
  for (uint32_t size : {0u, 2u, 7u}) {  // first boxes that cannot hold their own header
    Bytes f = Cat({Ftyp(), head});
    PutBe32(f, 0, size);
    bad.push_back(f);
  }
  Bytes tinyLarge = Cat({Ftyp(), head});
  PutBe32(tinyLarge, 0, 1);  // 64-bit form whose largesize (the brand bytes) is nonsense
  bad.push_back(tinyLarge);
  for (size_t i = 0; i < bad.size(); ++i) {
    for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~kTypeMp4}) {  // file and claim-only mode
      Card t(32);
      t.setup.LastSector = 15;
      t.setup.Options.TypeMask = mask;
      t.Place(bad[i], 1);
      t.Recover(1);
      EXPECT_EQ(t.ClaimedCount(), 0) << i;
      EXPECT_TRUE(t.Files().empty()) << i;
      EXPECT_EQ(t.Context().RecoveredCount, 0) << i;
    }
  }
  {  // an ftyp box with no brand in it: followed as a file of the "other" kind
    const Bytes f = Cat({Box("ftyp", 8), Box("mdat", 700), Box("moov", 300)});
    Card t(8);
    t.Place(f, 0);
    t.Recover(0);
    EXPECT_EQ(test::ReadFileBytes(t.File(0, ".MOV")), f);
  }
}

TEST(RecoverMp4, FilesSplitAroundClaimedSectorsAndClaimOnlyTakesTheSameSectors) {
  const Bytes mov = Sample("quicktime.mov");  // ftyp, wide, mdat of 98 KiB, moov
  const int64_t n = Sectors(mov.size());
  // Sectors taken by other files: near the start, runs inside the media data, the sector
  // just before the one that holds the moov header, and right after the file's last sector.
  const int64_t moovSector = (mov.size() - 1621) / 512;
  const std::vector<std::vector<int64_t>> patterns = {
      {}, {1}, {3, 4, 5, 90, 150, 151}, {moovSector - 1}, {moovSector, moovSector + 1}, {2, n + 1}};
  for (const auto& foreign : patterns) {
    std::vector<int64_t> where;
    for (int64_t s = 0; static_cast<int64_t>(where.size()) < n; ++s)
      if (std::find(foreign.begin(), foreign.end(), s) == foreign.end()) where.push_back(s);
    std::vector<std::vector<int64_t>> claims;
    for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~kTypeMov}) {
      Card t(n + 12);
      t.setup.Options.TypeMask = mask;
      t.Place(mov, where);
      for (int64_t s : foreign) t.Context().SectorMap.ClaimSector(s);
      t.Recover(0);
      if (mask & kTypeMov) {
        EXPECT_TRUE(test::ReadFileBytes(t.File(0, ".MOV")) == mov) << foreign.size();
      } else {
        EXPECT_TRUE(t.Files().empty());
      }
      claims.push_back(t.ClaimedSectors());
    }
    EXPECT_EQ(claims[0], claims[1]);
    EXPECT_EQ(static_cast<int64_t>(claims[0].size()), n + static_cast<int64_t>(foreign.size()));
  }
  {  // an MP4 brand with MP4 deselected but MOV selected is claimed only
    Card t(40);
    t.setup.Options.TypeMask = kTypeMov;
    t.Place(Sample("mp41.mp4"), 0);
    t.Recover(0);
    EXPECT_TRUE(t.Files().empty());
    EXPECT_EQ(t.ClaimedCount(), Sectors(Sample("mp41.mp4").size()));
  }
}

// A file copied ahead of the pass as though it lay in one piece is taken over as the partial
// file; the pass writes only the bytes that do not come in order from its start sector on.
TEST(RecoverMp4, ACopyMadeAheadIsTakenOverWhereTheFileLiesInOrderOnly) {
  if (!test::kImagesCopyIntoFiles) GTEST_SKIP() << "image files are not copied into files on this system";
  std::mt19937 rng(7);
  Bytes data(3 << 20);  // media data copied straight into the file in runs of a MiB and more
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const Bytes mov = Cat({Ftyp("qt  "), Header("mdat", static_cast<uint32_t>(8 + data.size())), data, Box("moov", 2000)});
  const int64_t n = Sectors(mov.size());
  // Other files' sectors, with the bytes of the file that the copy holds in order: early
  // (the first writes go through the buffer), deep in the media data (runs go straight from
  // the image), right behind the file. The copy ends where the moov box would lie unmoved.
  const auto whole = static_cast<int64_t>(mov.size());
  const std::vector<std::pair<std::vector<int64_t>, int64_t>> patterns = {
      {{}, whole}, {{3, 5}, 0}, {{3000, 6000}, 3000 * 512}, {{n}, whole}};
  for (const auto& [foreign, held] : patterns) {
    std::vector<int64_t> where;
    for (int64_t s = 0; static_cast<int64_t>(where.size()) < n; ++s)
      if (std::find(foreign.begin(), foreign.end(), s) == foreign.end()) where.push_back(s);
    Card t(n + 12);
    t.Place(mov, where);
    ScanContext& scan = t.ContextOverImageFile();
    for (int64_t s : foreign) scan.SectorMap.ClaimSector(s);
    {
      CopiesAhead copies(*t.fileSource, t.setup.Options.OutputFolder, 0);
      copies.Offer(0, (n + 12) * 512, Mp4StatedLength);
      copies.Settle();
      scan.Copies = &copies;
      t.Recover(0);
      scan.Copies = nullptr;
    }
    EXPECT_TRUE(test::ReadFileBytes(t.File(0, ".MOV")) == mov) << foreign.size();
    EXPECT_EQ(t.Files(), std::vector<std::string>{"TEST_AAAAAAAA.MOV"});
    EXPECT_EQ(scan.BytesCopiedAhead, held);
  }
}

using test::PeakResidentKiB;

TEST(RecoverMp4, ClaimOnlyFollowsAMultiGigabyteMdatWithoutReadingIt) {
  // A sparse 6 GiB image: ftyp at 0, an "mdat" of 5 GiB and a bit in the 64-bit form, the
  // moov box behind it, zeros after.
  const int64_t imageBytes = int64_t{6} << 30;
  const int64_t mdatLength = (int64_t{5} << 30) + 777;
  Bytes mdat(16);
  PutBe32(mdat, 0, 1);
  std::copy_n("mdat", 4, mdat.begin() + 4);
  PutBe64(mdat, 8, static_cast<uint64_t>(mdatLength));
  const Bytes head = Cat({Ftyp("mp42"), mdat});
  const Bytes moov = Box("moov", 3000);
  const int64_t moovAt = 24 + mdatLength;
  test::SparseCard card(imageBytes, {{0, head}, {moovAt, moov}});
  card.setup.Options.TypeMask = kAllTypesMask & ~kTypeMp4;
  ScanContext* scan = card.Context();
  ASSERT_TRUE(scan);
  const long peakBefore = PeakResidentKiB();
  RecoverMp4(*scan, card.setup.Options.OutputFolder, 0);
  const int64_t fileSectors = Sectors(static_cast<size_t>(moovAt + 3000));
  EXPECT_EQ(card.Claimed(), fileSectors);
  EXPECT_TRUE(scan->SectorMap.IsSectorClaimed(fileSectors - 1));
  EXPECT_FALSE(scan->SectorMap.IsSectorClaimed(fileSectors));
  // The start, the moov header and what follows it: a few 64 KiB reads, not 5 GiB.
  EXPECT_LE(card.counting->bytes, 4 * 0x10000);
  EXPECT_LT(PeakResidentKiB() - peakBefore, 64 * 1024);
  EXPECT_TRUE(card.ImageAlone());
}

// --- Camera modes ---------------------------------------------------------------------

TEST(RecoverMp4, CanonPanasonicModeCarvesBareMediaDataRunsAsMdat) {
  // The camera's movie starts with its media data box (no ftyp): "mdat", then "moov".
  // Made from the QuickTime sample by dropping its ftyp and wide boxes.
  const Bytes mov = Sample("quicktime.mov");
  const Bytes body(mov.begin() + 28, mov.end());
  ASSERT_TRUE(std::equal(body.begin() + 4, body.begin() + 8, "mdat"));
  const int64_t at = 7;
  for (int mode : {0, 1, 2}) {  // Canon mode; Canon mode with MOV deselected; normal mode
    Card t(Sectors(body.size()) + 20);
    t.Place(body, at);
    t.setup.Options.CameraMode.CanonPanasonic = mode != 2;
    if (mode == 1) t.setup.Options.TypeMask = kAllTypesMask & ~kTypeMov;
    const ScanReport r = t.RunAll();
    EXPECT_EQ(r.RecoveredCount, mode == 2 ? 1 : 0) << mode;  // .MDAT runs are written, never counted
    if (mode == 2) {  // in the normal mode the same bytes are a classic QuickTime movie
      EXPECT_EQ(t.Files(), std::vector<std::string>{"TEST_AAAAAAAH.MOV"});
      EXPECT_EQ(test::ReadFileBytes(t.File(at, ".MOV")), body);
    } else if (mode == 0) {
      EXPECT_EQ(t.Files(), std::vector<std::string>{"TEST_AAAAAAAH.MDAT"});
      EXPECT_EQ(test::ReadFileBytes(t.File(at, ".MDAT")), body);
      EXPECT_EQ(t.ClaimedSectors(), Card::Run(at, Sectors(body.size())));
    } else {  // a long first box is followed only into a .MDAT file
      EXPECT_TRUE(t.Files().empty()) << mode;
      EXPECT_EQ(t.ClaimedCount(), 0) << mode;
    }
  }
}

// The layout a Samsung camera leaves on the card, in clusters of 4 sectors. The camera
// writes ftyp and a free box in the file's first cluster, the media data in whole clusters
// after it, and only when recording stops the cluster that holds the "mdat" header (a free
// box, then the 8-byte header at its very end). The file system puts that cluster behind
// the media data, followed by the moov box, while the file's cluster chain lists it second:
//   physical: [ftyp free][media data ...][free .. mdat hdr][moov]
//   logical:  [ftyp free][free .. mdat hdr][media data ...][moov]
struct SamsungVideo {
  explicit SamsungVideo(uint32_t sectorSize, bool moovInMedia = false) : ss(sectorSize) {
    const int64_t cluster = 4 * ss;
    const Bytes sample = Sample("mp42.mp4");
    moov.assign(sample.end() - 937, sample.end());
    media.assign(sample.begin() + 44, sample.end() - 937);
    media.resize(static_cast<size_t>(std::max<int64_t>(Sectors(media.size(), cluster), 2) * cluster), 0);
    // A media cluster that happens to carry "moov" at byte 4: a candidate of its own, whose
    // cluster in front (media data) does not qualify.
    if (moovInMedia) std::copy_n("moov", 4, media.begin() + cluster + 4);
    first = Cat({Ftyp("mp42"), Box("free", static_cast<uint32_t>(cluster - 24), 0)});
    lead = Box("free", static_cast<uint32_t>(cluster - 8), 0);
    const Bytes mdatHeader = Header("mdat", static_cast<uint32_t>(8 + media.size()));
    lead.insert(lead.end(), mdatHeader.begin(), mdatHeader.end());
    leadAt = base + 4 + static_cast<int64_t>(media.size()) / ss;
    moovAt = leadAt + 4;
    logical = Cat({first, lead, media, moov});
  }
  void PlaceOn(test::RawCard& t) const {
    t.Place(first, base);
    t.Place(media, base + 4);
    t.Place(lead, leadAt);
    t.Place(moov, moovAt);
  }
  uint32_t ss;
  int64_t base = 8;  // sectors; cluster-aligned
  int64_t leadAt = 0, moovAt = 0;
  Bytes first, media, lead, moov, logical;
};

class RecoverMp4Sectors : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RecoverMp4Sectors, SamsungModeSplicesTheKeptClusterIntoTheVideo) {
  const uint32_t ss = GetParam();
  const SamsungVideo v(ss);
  for (bool samsung : {true, false}) {
    Card t(v.moovAt + 12, 4, true, ss);
    t.setup.Options.CameraMode.Samsung = samsung;
    v.PlaceOn(t);
    const ScanReport r = t.RunAll();
    EXPECT_EQ(r.RecoveredCount, samsung ? 1 : 0);
    if (samsung) {
      EXPECT_EQ(test::ReadFileBytes(t.File(v.base, ".MP4")), v.logical);
      EXPECT_FALSE(t.Context().LeadClusterPending);
      // Every sector of the card's video is claimed; the cluster tail after the moov box too.
      EXPECT_EQ(t.ClaimedSectors(), Card::Run(v.base, v.moovAt + Sectors(v.moov.size(), 4 * ss) * 4 - v.base));
    } else {  // the media data after the first cluster is no box: ftyp and free are only a header
      EXPECT_TRUE(t.Files().empty());
    }
  }
  {  // a claim-only call leaves the kept cluster for the next written file
    Card t(v.moovAt + 12, 4, true, ss);
    t.setup.Options.CameraMode.Samsung = true;
    t.setup.Options.TypeMask = kTypeMov;
    t.Place(v.first, v.base);
    t.Context().LeadClusterBuffer = v.lead;
    t.Context().LeadClusterPending = true;
    t.Recover(v.base);
    EXPECT_TRUE(t.Context().LeadClusterPending);
    EXPECT_TRUE(t.Files().empty());
  }
}

TEST(RecoverMp4, SamsungModeNeverSplicesAClusterIntoAVideoItDoesNotContinue) {
  {  // a "moov" sector inside the media data comes between the real one and the video
    const SamsungVideo v(512, true);
    Card t(v.moovAt + 12, 4);
    t.setup.Options.CameraMode.Samsung = true;
    v.PlaceOn(t);
    EXPECT_EQ(t.RunAll().RecoveredCount, 1);
    EXPECT_EQ(test::ReadFileBytes(t.File(v.base, ".MP4")), v.logical);
  }
  // A whole video at sector 100, and far above it an unrelated "moov" box whose cluster in
  // front ends with "mdat" (another video's remains) or with anything else.
  const Bytes video = Sample("faststart.mp4");
  for (int variant : {0, 1, 2}) {  // ends with mdat; with something else; with mdat, but a sector is taken
    const bool endsWithMdat = variant != 1, kept = variant == 0;
    Card t(4100, 4);
    t.setup.Options.CameraMode.Samsung = true;
    t.Place(video, 100);
    Bytes front = Box("free", 4 * 512 - 8, 0x33);
    const Bytes header = Header(endsWithMdat ? "mdat" : "free", 70000);
    front.insert(front.end(), header.begin(), header.end());
    t.Place(front, 3996);
    t.Place(Box("moov", 512, 0x44), 4000);
    if (variant == 2) t.Context().SectorMap.ClaimSector(3998);  // allocated to a live file
    EXPECT_EQ(t.RunAll().RecoveredCount, 1);
    EXPECT_EQ(test::ReadFileBytes(t.File(100, ".MP4")), video) << variant;
    // Only a qualifying cluster is kept, and it stays pending for the video it belongs to.
    EXPECT_EQ(t.Context().LeadClusterPending, kept) << variant;
    EXPECT_EQ(t.Claimed(3996), kept) << variant;
    EXPECT_EQ(t.ClaimedCount(), Sectors(video.size(), 2048) * 4 + (kept ? 4 : variant == 2 ? 1 : 0)) << variant;
  }
}

TEST_P(RecoverMp4Sectors, SonyModeStepsOverClaimedSectorsFourMebibytesAtATime) {
  const uint32_t ss = GetParam();
  // The camera writes the video in 4 MiB pieces. A photo taken while recording got the
  // piece after the first one; it fills only part of its piece, the rest is stale data.
  //   [video 0 .. 4 MiB)[photo, stale ..)[video 4 MiB .., moov]
  // The photo is carved first (it starts higher); the video then must skip its whole piece.
  constexpr int64_t kPiece = 0x400000;
  const Bytes photo = test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg"));
  const Bytes sample = Sample("mp42.mp4");
  const Bytes moov(sample.end() - 937, sample.end());
  Bytes media(kPiece + 300000);
  std::mt19937 rng(11);
  for (auto& b : media) b = 0x80 | (rng() & 0x7F);  // no sector of it looks like a file start
  const Bytes video = Cat({Ftyp("mp42"), Header("mdat", static_cast<uint32_t>(8 + media.size())), media, moov});
  const int64_t piece = kPiece / ss;
  std::vector<int64_t> where;
  for (int64_t i = 0; i < Sectors(video.size(), ss); ++i) where.push_back(i < piece ? i : i + piece);

  for (bool sony : {true, false}) {
    Card t(where.back() + 16, 1, true, ss);
    t.setup.Options.CameraMode.Sony = sony;
    t.Place(video, where);
    t.Place(photo, piece);
    const ScanReport r = t.RunAll();
    EXPECT_EQ(r.RecoveredCount, 2);
    EXPECT_EQ(test::ReadFileBytes(t.File(piece, ".JPG")), photo);
    const Bytes got = test::ReadFileBytes(t.File(0, ".MP4"));
    if (sony) {
      EXPECT_EQ(got, video);
      EXPECT_EQ(t.ClaimedCount(), Sectors(video.size(), ss) + Sectors(photo.size(), ss));
    } else {
      EXPECT_NE(got, video);  // the stale rest of the photo's piece went into the video
    }
  }
}

TEST(RecoverMp4, AMotionJpegMovieTakesBackTheFrameRecoveredAsAPhotoButStepsOverAForeignOne) {
  struct Withdrawals : ScanObserver {
    int count = 0;
    void OnFileWithdrawn(const RecoveredFileInfo&) override { ++count; }
  };
  {  // The first frame starts a sector: it is recovered as a photo before the movie is tried.
    const Bytes movie = Sample("mjpeg.mov");
    Card t(Sectors(movie.size()) + 8);
    Withdrawals withdrawals;
    t.observer = &withdrawals;
    t.Place(movie, 2);
    EXPECT_EQ(t.RunAll().RecoveredCount, 1);
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".MOV")), movie);
    EXPECT_EQ(t.Files().size(), 1u);  // the frame's photo is gone
    EXPECT_EQ(withdrawals.count, 1);
    EXPECT_EQ(t.ClaimedCount(), Sectors(movie.size()));
  }
  {  // A photo between two pieces of a movie is a file of its own: both come back whole.
    const Bytes movie = Sample("quicktime.mov");
    const Bytes photo = test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg"));
    const int64_t n = Sectors(movie.size()), cut = n / 2, p = Sectors(photo.size());
    Card t(n + p + 8);
    std::vector<int64_t> where = Card::Run(2, cut), rest = Card::Run(2 + cut + p, n - cut);
    where.insert(where.end(), rest.begin(), rest.end());
    t.Place(movie, where);
    t.Place(photo, 2 + cut);
    EXPECT_EQ(t.RunAll().RecoveredCount, 2);
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".MOV")), movie);
    EXPECT_EQ(test::ReadFileBytes(t.File(2 + cut, ".JPG")), photo);
  }
}

TEST(RecoverMp4, ClassicQuickTimeWithoutFtypIsAMovInTheNormalCameraMode) {
  // Media data first (the file begins with "wide") and movie box first (it begins "moov").
  const Bytes wide = Sample("classic_wide.mov"), moov = Sample("classic_moov.mov");
  for (bool canon : {false, true}) {
    Card t(Sectors(wide.size()) + Sectors(moov.size()) + 12);
    t.setup.Options.CameraMode.CanonPanasonic = canon;
    const int64_t a = 2, b = a + Sectors(wide.size()) + 3;
    t.Place(wide, a);
    t.Place(moov, b);
    EXPECT_EQ(t.RunAll().RecoveredCount, canon ? 0 : 2);
    if (canon) continue;
    EXPECT_EQ(test::ReadFileBytes(t.File(a, ".MOV")), wide);
    EXPECT_EQ(test::ReadFileBytes(t.File(b, ".MOV")), moov);
  }
  {  // A movie box of a file with "ftyp" that starts a sector is taken back by its file.
    const Bytes file = Sample("faststart.mp4");  // ftyp, moov, free, mdat
    const auto moovAt = static_cast<long>(PrefixBefore(file, "moov").size());
    // A "free" box behind "ftyp" puts the movie box on a sector boundary.
    const Bytes padded = Cat({Bytes(file.begin(), file.begin() + moovAt), Box("free", static_cast<uint32_t>(512 - moovAt), 0),
                              Bytes(file.begin() + moovAt, file.end())});
    Card t(Sectors(padded.size()) + 8);
    t.Place(padded, 2);
    EXPECT_EQ(t.RunAll().RecoveredCount, 1);
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".MP4")), padded);
    EXPECT_EQ(t.Files().size(), 1u);
  }
}

TEST(RecoverMp4, ClassicStartsInEverySectorKeepTheScanLinear) {
  // Every sector begins a plausible box: a chain of "free" boxes without a movie, and
  // "mdat" boxes that all reach one movie box at the end. The bytes read must grow with the
  // size, not with its square.
  const auto bytesRead = [](int64_t sectors, bool toMovie) {
    Card t(sectors + 8, 1, false);
    for (int64_t s = 0; s < sectors; ++s)
      t.Place(toMovie ? Header("mdat", static_cast<uint32_t>((sectors - s) * 512)) : Header("free", 512), s);
    if (toMovie) t.Place(Cat({Header("moov", 8 + 108), Box("mvhd", 108, 0)}), sectors);
    t.RunAll();
    EXPECT_LE(t.Files().size(), 1u);
    return t.Context().BytesRead.load();
  };
  for (bool toMovie : {false, true}) {
    const int64_t small = bytesRead(1024, toMovie), large = bytesRead(2048, toMovie);
    EXPECT_LT(large, 3 * small) << toMovie << " " << small << " " << large;
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, RecoverMp4Sectors, ::testing::Values(512u, 4096u));

TEST(RecoverMp4, AHeaderBeyondTheRangeLeavesTheFileIncompleteUnlessItIsWhole) {
  // ftyp and an mdat box filling sectors 1..3; the moov box behind them.
  const Bytes head = Cat({Ftyp(), Box("mdat", 3 * 512 - 24)});
  const Bytes moov = Box("moov", 300);
  for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~kTypeMp4}) {  // file and claim-only mode
    Card t(40);
    t.setup.LastSector = 3;  // the moov box lies just past the range
    t.setup.Options.TypeMask = mask;
    t.Place(Cat({head, moov}), 1);
    t.Recover(1);
    EXPECT_TRUE(t.Files().empty());
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_EQ(t.Context().RecoveredCount, 0);
  }
  // Another file's sector lies where the moov box would follow; in Sony mode the 4 MiB step
  // over it leaves the range.
  for (bool sony : {true, false}) {
    Card t(40);
    t.setup.Options.CameraMode.Sony = sony;
    t.Place(Cat({head, moov}), {1, 2, 3, 5});
    t.Context().SectorMap.ClaimSector(4);
    t.Recover(1);
    if (sony) {
      EXPECT_TRUE(t.Files().empty());
      EXPECT_EQ(t.ClaimedSectors(), std::vector<int64_t>{4});
    } else {
      EXPECT_EQ(test::ReadFileBytes(t.File(1, ".MP4")), Cat({head, moov}));
    }
  }
}

// --- HEIF/AVIF pictures and CR3 raws: the same walk, the kind from the brands ----------------

Bytes Picture(const std::string& name) { return test::ReadFileBytes(test::DataPath(name)); }

struct IsoSample {
  const char* path;
  const char* ext;
};
const IsoSample kIsoSamples[] = {{"heif/photo.heic", ".HEIC"}, {"heif/plain.heic", ".HEIC"},
                                 {"heif/photo.avif", ".AVIF"}, {"heif/grid.avif", ".AVIF"},
                                 {"raw/canon.cr3", ".CR3"}};

TEST(RecoverIsoPictures, ScanRecoversEachKindContiguousSplitAroundAnotherFileAndAtTheRangeEnd) {
  // Each sample once contiguous, then split around a JPEG that lies in its sectors (carved
  // first, as it starts higher), the last one ending on the range's last sector.
  const Bytes jpeg = Picture("jpeg/baseline.jpg");
  const int64_t js = Sectors(jpeg.size());
  int64_t total = 2;
  for (const auto& c : kIsoSamples) total += 2 * (Sectors(Picture(c.path).size()) + js + 2);
  std::vector<std::tuple<int64_t, Bytes, const char*>> placed;
  std::vector<std::vector<int64_t>> layouts;
  std::vector<int64_t> jpegs;
  int64_t at = 2;
  for (const auto& c : kIsoSamples) {
    const Bytes file = Picture(c.path);
    const int64_t n = Sectors(file.size());
    layouts.push_back(test::SectorRunOf(at, n));
    placed.emplace_back(at, file, c.ext);
    at += n + 2;
    std::vector<int64_t> split;  // the first two sectors, the JPEG, the rest
    for (int64_t s = 0; s < n; ++s) split.push_back(at + s + (s >= 2 ? js : 0));
    jpegs.push_back(at + 2);
    layouts.push_back(split);
    placed.emplace_back(at, file, c.ext);
    at = split.back() + 3;
  }
  std::vector<std::vector<int64_t>> claims;
  for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~(kTypeHeic | kTypeAvif | kTypeRaw)}) {
    Card t(at - 2);  // the last split file ends on the last sector
    t.setup.Options.TypeMask = mask;
    for (size_t i = 0; i < placed.size(); ++i) t.Place(std::get<1>(placed[i]), layouts[i]);
    for (int64_t j : jpegs) t.Place(jpeg, j);
    const ScanReport r = t.RunAll();
    if (mask == kAllTypesMask) {
      EXPECT_EQ(r.RecoveredCount, static_cast<int>(placed.size() + jpegs.size()));
      for (const auto& [start, bytes, ext] : placed)
        EXPECT_EQ(test::ReadFileBytes(t.File(start, ext)), bytes) << start << ext;
    } else {
      EXPECT_EQ(r.RecoveredCount, static_cast<int>(jpegs.size()));
    }
    claims.push_back(t.ClaimedSectors());
  }
  EXPECT_EQ(claims[0], claims[1]);  // claim-only takes the same sectors
}

TEST(RecoverIsoPictures, AHeaderIsNeverAFileAndEveryKindKeepsItsRules) {
  const Bytes heic = Picture("heif/plain.heic"), cr3 = Picture("raw/canon.cr3");
  const auto recover = [](const Bytes& file, int64_t lastSector = -1, uint32_t mask = kAllTypesMask) {
    auto t = std::make_unique<Card>(Sectors(file.size()) + 8);
    t->setup.Options.TypeMask = mask;
    if (lastSector >= 0) t->setup.LastSector = lastSector;
    t->Place(file, 1);
    t->Recover(1);
    return t;
  };
  // An image-brand ftyp followed by nothing it has (the 24-byte ".MOV" it once gave), a video
  // ftyp alone, a CR3 without its mdat, a picture or CR3 cut by the range end: no file, no
  // claim, nothing counted.
  const Bytes cr3NoMdat = PrefixBefore(cr3, "mdat");
  std::vector<std::pair<Bytes, int64_t>> refused = {
      {Cat({Ftyp("heic"), Box("moof", 600)}), -1}, {Cat({Ftyp("mp42"), Box("junk", 600)}), -1},
      {Cat({cr3NoMdat, Box("moof", 600)}), -1},   {heic, Sectors(heic.size()) - 1},
      {cr3, Sectors(cr3.size()) - 1}};
  // A picture whose coded data is damaged fails its decode, written or claimed only (where
  // the build decodes pictures).
  Bytes damaged = heic;
  std::fill(damaged.begin() + static_cast<std::ptrdiff_t>(PrefixBefore(heic, "mdat").size()) + 8, damaged.end(), 0xFF);
  if (kPictureDecodeChecks) refused.emplace_back(damaged, -1);
  for (size_t i = 0; i < refused.size(); ++i)
    for (uint32_t mask : {kAllTypesMask, kTypeJpg}) {
      auto t = recover(refused[i].first, refused[i].second, mask);
      EXPECT_TRUE(t->Files().empty()) << i;
      EXPECT_EQ(t->ClaimedCount(), 0) << i;
      EXPECT_EQ(t->Context().RecoveredCount, 0) << i;
    }
  {  // mif1 alone names the picture .HEIF
    Bytes general = heic;
    std::copy_n("mif1\0\0\0\0mif1miafmiaf", 20, general.begin() + 8);
    EXPECT_EQ(test::ReadFileBytes(recover(general)->File(1, ".HEIF")), general);
  }
  {  // media data of size 0 runs to the end of the file: the item locations give that end
    Bytes open = heic;
    const size_t mdatAt = PrefixBefore(heic, "mdat").size();
    PutBe32(open, mdatAt, 0);
    auto t = recover(open);
    EXPECT_EQ(test::ReadFileBytes(t->File(1, ".HEIC")), open);
    EXPECT_EQ(t->ClaimedCount(), Sectors(open.size()));
  }
}

}  // namespace
}  // namespace morvane
