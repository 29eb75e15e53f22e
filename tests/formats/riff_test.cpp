#include "formats/media/riff.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/pictures/picture_checks.h"
#include "formats/raw_card.h"
#include "formats/recognisers.h"
#include "scan/file_type_id.h"
#include "scan/recovered_file.h"
#include "storage/source.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Cat;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("riff/" + name)); }

void PutLe32(Bytes& b, size_t at, uint32_t v) { test::PutLe(b, at, v, 4); }
// A chunk of `length` data bytes repeating `fill`, with its pad byte when the length is odd.
Bytes Chunk(const char* id, uint32_t length, uint8_t fill = 0x5A) {
  Bytes b(8 + length + (length & 1), fill);
  std::copy_n(id, 4, b.begin());
  PutLe32(b, 4, length);
  if (length & 1) b.back() = 0;
  return b;
}
// Only the 8-byte header of a chunk that claims `length` bytes.
Bytes ChunkHeader(const char* id, uint32_t length) {
  Bytes b = Chunk(id, 0);
  PutLe32(b, 4, length);
  return b;
}
// "LIST" or "RIFF" around a body, with its list or form type.
Bytes ListOf(const char* id, const char* type, const Bytes& body) {
  Bytes b = Cat({ChunkHeader(id, static_cast<uint32_t>(body.size() + 4)), Bytes(type, type + 4), body});
  return b;
}

// A video CD track as a CD-XA file: "RIFF" "CDXA", a 16-byte "fmt " chunk (the CD-XA
// header: user and group id, attributes, "XA", reserved), then "data" with raw 2352-byte
// mode 2 sectors: sync pattern, BCD address, mode, subheader, 2324 bytes of MPEG data, EDC.
Bytes VideoCdTrack(int sectors) {
  Bytes fmt = Chunk("fmt ", 16, 0);
  fmt[8 + 4] = 0x15;  // attributes: mode 2 form 2, interleaved
  fmt[8 + 5] = 0x55;
  fmt[8 + 6] = 'X';
  fmt[8 + 7] = 'A';
  Bytes data = ChunkHeader("data", static_cast<uint32_t>(sectors * 2352));
  for (int s = 0; s < sectors; ++s) {
    Bytes raw(2352, 0);
    std::fill(raw.begin() + 1, raw.begin() + 11, 0xFF);
    const int lba = s + 150 + 4500;
    const auto bcd = [](int v) { return static_cast<uint8_t>((v / 10) << 4 | (v % 10)); };
    raw[12] = bcd(lba / 75 / 60);
    raw[13] = bcd(lba / 75 % 60);
    raw[14] = bcd(lba % 75);
    raw[15] = 2;
    raw[16] = raw[20] = 1;     // file number
    raw[17] = raw[21] = 1;     // channel
    raw[18] = raw[22] = 0x62;  // submode: form 2, real time, video
    raw[19] = raw[23] = 0x0F;  // coding
    const uint8_t pack[] = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00, 0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
    std::copy(std::begin(pack), std::end(pack), raw.begin() + 24);
    for (size_t i = 36; i < 24 + 2324; ++i) raw[i] = static_cast<uint8_t>(i * 7 + s);
    data.insert(data.end(), raw.begin(), raw.end());
  }
  return ListOf("RIFF", "CDXA", Cat({fmt, data}));
}

// An animated cursor: "anih" header, a "LIST" of icon frames, nothing that is ever written.
Bytes AnimatedCursor() {
  return ListOf("RIFF", "ACON", Cat({Chunk("anih", 36, 1), ListOf("LIST", "fram", Cat({Chunk("icon", 766, 9)}))}));
}

struct Card : test::RawCard {
  explicit Card(int64_t sectors, uint32_t sectorsPerCluster = 1, bool randomFill = true)
      : RawCard(sectors, sectorsPerCluster, randomFill) {}
  void Recover(int64_t sector, const char* ext = ".AVI", bool ordro = false) {
    RecoverRiff(Context(), setup.Options.OutputFolder, ext, ordro, sector * 512);
  }
  void ClaimOnly(int64_t sector, bool ordro = false) { RecoverRiff(Context(), "", "", ordro, sector * 512); }
};

// ffprobe must read a recovered file without a single complaint (when it is installed).
void ExpectFfprobeReadsCleanly(const std::string& path) {
  if (!test::HaveTool("ffprobe")) return;
  const std::string log = path + ".ffprobe";
  EXPECT_EQ(test::Run("ffprobe -v error -show_streams -count_packets '" + path + "' >/dev/null 2>'" + log + "'"), 0)
      << path;
  EXPECT_TRUE(test::ReadFileBytes(log).empty()) << path;
  std::filesystem::remove(log);
}

TEST(RecoverRiff, ScanRecoversEveryKindByteForByteAndGivesBackTheSectorsLookedAtBehind) {
  struct Case {
    Bytes file;
    const char* ext;  // nullptr: only claimed
    int type = ftRiffWave;
  };
  const std::vector<Case> cases = {
      {Sample("mjpeg_pcm.avi"), ".AVI", ftRiffAvi}, {Sample("mpeg4_pcm.avi"), ".AVI", ftRiffAvi},
      {Sample("pcm.wav"), ".WAV"},
      {Sample("adpcm.wav"), ".WAV"},  // "fact" before the data
      {Sample("odd_tail.wav"), ".WAV"},  // odd data length: the pad byte, then a LIST chunk
      {Sample("bext.wav"), ".WAV"},      // a broadcast WAV: "bext" behind "fmt "
      {Sample("bext_first.wav"), ".WAV"},  // ... and in front of it
      {VideoCdTrack(12), ".DAT", ftRiffCdxa},        {AnimatedCursor(), nullptr, ftRiffAcon}};
  int64_t total = 4;
  for (const auto& c : cases) total += Sectors(c.file.size()) + 3;
  Card t(total);
  std::vector<int64_t> starts;
  int64_t at = 2, claimed = 0;
  for (const auto& c : cases) {
    starts.push_back(at);
    t.Place(c.file, at);
    at += Sectors(c.file.size()) + 3;
    claimed += Sectors(c.file.size());
  }
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, 8);
  for (size_t i = 0; i < cases.size(); ++i) {
    // A copy made ahead is as long as the file recovered (cursors are not copied).
    EXPECT_EQ(t.Stated(cases[i].type, starts[i]), cases[i].ext ? static_cast<int64_t>(cases[i].file.size()) : 0) << i;
    if (cases[i].ext) {
      EXPECT_EQ(test::ReadFileBytes(t.File(starts[i], cases[i].ext)), cases[i].file) << i;
      if (i < 7) ExpectFfprobeReadsCleanly(t.File(starts[i], cases[i].ext));
    }
    // The sector after the file (random bytes, no chunk) was looked at and given back.
    EXPECT_TRUE(t.Claimed(starts[i] + Sectors(cases[i].file.size()) - 1)) << i;
    EXPECT_FALSE(t.Claimed(starts[i] + Sectors(cases[i].file.size()))) << i;
  }
  EXPECT_EQ(t.ClaimedCount(), claimed);
  EXPECT_EQ(t.Files().size(), 8u);

  // With AVI, WAV and DAT not selected every file is claimed alike, and nothing is written.
  Card quiet(total);
  quiet.image = t.image;
  quiet.setup.Options.TypeMask = kAllTypesMask & ~(kTypeAvi | kTypeWav | kTypeDat);
  EXPECT_EQ(quiet.RunAll().RecoveredCount, 0);
  EXPECT_TRUE(quiet.Files().empty());
  EXPECT_EQ(quiet.ClaimedSectors(), t.ClaimedSectors());
}

TEST(RecoverRiff, TheWalkEndsInFrontOfForeignChunksZeroLengthsAndOtherFilesAndAtTheRangeEnd) {
  const Bytes fmt = Chunk("fmt ", 16, 1);
  const Bytes wave = ListOf("RIFF", "WAVE", Cat({fmt, Chunk("data", 1000, 2)}));
  const Bytes hdrl = ListOf("LIST", "hdrl", Chunk("avih", 56, 3));
  const Bytes movi = ListOf("LIST", "movi", Cat({Chunk("00dc", 700, 4), Chunk("01wb", 301, 5)}));
  const Bytes avi = ListOf("RIFF", "AVI ", Cat({hdrl, Chunk("JUNK", 20, 0), movi, Chunk("idx1", 32, 6)}));
  // The next part of a large AVI: "RIFF" "AVIX" holding a further movi list.
  const Bytes openDml = Cat({avi, ListOf("RIFF", "AVIX", ListOf("LIST", "movi", Chunk("00dc", 3000, 7)))});
  const std::vector<std::pair<Bytes, Bytes>> cases = {
      {Cat({wave, Chunk("bext", 40, 8)}), wave},               // a chunk beyond the stated size ends the file
      {Cat({wave, ChunkHeader("JUNK", 0), Chunk("JUNK", 8)}), wave},  // so does a zero length
      {Cat({wave, ListOf("RIFF", "WAVE", Cat({fmt, Chunk("data", 10)}))}), wave},  // another file is not swallowed
      {openDml, openDml},
      {Cat({openDml, ListOf("RIFF", "AVI ", hdrl)}), openDml},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    Card t(40);
    t.Place(cases[i].first, 3);
    t.Recover(3, ".WAV");
    EXPECT_EQ(test::ReadFileBytes(t.File(3, ".WAV")), cases[i].second) << i;
    EXPECT_EQ(t.Stated(ftRiffAvi, 3), static_cast<int64_t>(cases[i].second.size())) << i;
    EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(3, Sectors(cases[i].second.size()))) << i;
  }
  {  // a file that ends exactly at the range's last sector is whole
    Bytes exact = ListOf("RIFF", "WAVE", Cat({fmt, Chunk("data", 3 * 512 - 44, 2)}));
    ASSERT_EQ(exact.size(), 3u * 512);
    Card t(8);
    t.Place(exact, 5);
    t.Recover(5, ".WAV");
    EXPECT_EQ(test::ReadFileBytes(t.File(5, ".WAV")), exact);
  }
  // A recording cut off before its lengths were written ("data" of length 0): its audio runs
  // to the end its RIFF head states; without a usable size it cannot be bounded.
  Bytes cut = Cat({wave, Chunk("JUNK", 30)});
  PutLe32(cut, 40, 0);
  {
    Card t(40);
    t.Place(cut, 3);
    t.Recover(3, ".WAV");
    EXPECT_EQ(test::ReadFileBytes(t.File(3, ".WAV")), Bytes(cut.begin(), cut.begin() + wave.size()));
  }
  // No file: a RIFF head followed by nothing acceptable, a WAVE header whose "data" is
  // empty, or cut off with no usable size, or missing.
  Bytes unbounded = cut;
  PutLe32(unbounded, 4, 0xFFFFFFFF);
  Bytes headerOnly = cut;
  PutLe32(headerOnly, 4, 36);
  for (const Bytes& bad : {Cat({ListOf("RIFF", "AVI ", {}), Chunk("abcd", 40)}), unbounded, headerOnly,
                           ListOf("RIFF", "WAVE", Cat({fmt, ChunkHeader("data", 0)})),
                           ListOf("RIFF", "WAVE", Cat({Chunk("bext", 602), fmt, Chunk("LIST", 26)}))}) {
    Card t(8);
    t.Place(bad, 1);
    t.Recover(1, ".WAV");
    EXPECT_EQ(t.Stated(ftRiffWave, 1), 0);
    EXPECT_TRUE(t.Files().empty());
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_EQ(t.Context().RecoveredCount, 0);
  }
}

TEST(RecoverRiff, ChunksThatCannotFitLeaveNoClaimAndNoFileInEitherMode) {
  const Bytes head = ListOf("LIST", "hdrl", Chunk("avih", 56, 3));
  Bytes tooLongList = ListOf("LIST", "movi", Chunk("00dc", 100));  // larger than its parent and the range
  PutLe32(tooLongList, 4, 40 * 512);
  const std::vector<Bytes> bad = {
      ListOf("RIFF", "AVI ", Cat({head, ChunkHeader("LIST", 0xFFFFFFFF)})),
      ListOf("RIFF", "AVI ", Cat({head, ChunkHeader("JUNK", 0xFFFFFFFE)})),
      ListOf("RIFF", "AVI ", Cat({head, tooLongList})),
      ListOf("RIFF", "AVI ", Cat({head, ChunkHeader("idx1", 15 * 512)})),  // one sector past LastSector
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    for (bool writes : {true, false}) {
      Card t(32);
      t.setup.LastSector = 15;
      t.Place(bad[i], 1);
      writes ? t.Recover(1) : t.ClaimOnly(1);
      EXPECT_EQ(t.ClaimedCount(), 0) << i;
      EXPECT_TRUE(t.Files().empty()) << i;
      EXPECT_EQ(t.Context().RecoveredCount, 0) << i;
    }
  }
}

TEST(RecoverRiff, FilesSplitAroundClaimedSectorsAndClaimOnlyTakesTheSameSectors) {
  const Bytes avi = Sample("mjpeg_pcm.avi");  // hdrl, INFO, JUNK, movi of 117 KiB, idx1
  const int64_t n = Sectors(avi.size());
  const int64_t idx1Sector = static_cast<int64_t>(avi.size() - 680) / 512;
  // Sectors of other files: near the start, inside the movi list, just before and at the
  // sector that holds the idx1 header, and right after the file.
  const std::vector<std::vector<int64_t>> patterns = {
      {}, {1}, {4, 5, 6, 100, 180, 181}, {idx1Sector - 1}, {idx1Sector, idx1Sector + 1}, {2, n + 1}};
  for (const auto& foreign : patterns) {
    std::vector<int64_t> where;
    for (int64_t s = 0; static_cast<int64_t>(where.size()) < n; ++s)
      if (std::find(foreign.begin(), foreign.end(), s) == foreign.end()) where.push_back(s);
    std::vector<std::vector<int64_t>> claims;
    for (bool writes : {true, false}) {
      Card t(n + 12);
      t.Place(avi, where);
      for (int64_t s : foreign) t.Context().SectorMap.ClaimSector(s);
      writes ? t.Recover(0) : t.ClaimOnly(0);
      if (writes) {
        EXPECT_EQ(test::ReadFileBytes(t.File(0, ".AVI")), avi) << foreign.size();
      } else {
        EXPECT_TRUE(t.Files().empty());
      }
      claims.push_back(t.ClaimedSectors());
    }
    EXPECT_EQ(claims[0], claims[1]);
    EXPECT_EQ(static_cast<int64_t>(claims[0].size()), n + static_cast<int64_t>(foreign.size()));
  }
}

TEST(RecoverRiff, ClaimOnlyFollowsAMultiGigabyteOpenDmlAviReadingOnlyChunkHeaders) {
  // A sparse 6 GiB image holding an AVI of three RIFF parts: the first with a 1 GiB movi
  // list and its idx1, then two "AVIX" parts of 2 GiB each; zeros behind it.
  const int64_t imageBytes = int64_t{6} << 30;
  const uint32_t firstMovi = (1u << 30) - 1001;  // odd, so the pad byte counts too
  const uint32_t partMovi = 2u << 30;
  const Bytes hdrl = ListOf("LIST", "hdrl", Chunk("avih", 56, 3));
  std::vector<std::pair<int64_t, Bytes>> pieces;
  int64_t at = 0;
  auto put = [&](const Bytes& b, int64_t skip) {
    pieces.emplace_back(at, b);
    at += static_cast<int64_t>(b.size()) + skip;
  };
  Bytes riff = ListOf("RIFF", "AVI ", hdrl);
  PutLe32(riff, 4, 0xFFFFFFF0);  // the walk does not use the parts' own sizes
  put(riff, 0);
  Bytes movi = ListOf("LIST", "movi", {});
  PutLe32(movi, 4, firstMovi);
  put(movi, firstMovi - 4 + 1);
  put(Chunk("idx1", 64, 1), 0);
  for (int part = 0; part < 2; ++part) {
    put(ListOf("RIFF", "AVIX", {}), 0);
    Bytes m = ListOf("LIST", "movi", {});
    PutLe32(m, 4, partMovi);
    put(m, partMovi - 4);
  }
  const int64_t fileBytes = at;
  test::SparseCard card(imageBytes, pieces);
  ScanContext* scan = card.Context();
  ASSERT_TRUE(scan);
  const long peakBefore = test::PeakResidentKiB();
  RecoverRiff(*scan, "", "", false, 0);
  const int64_t fileSectors = Sectors(static_cast<size_t>(fileBytes));
  EXPECT_EQ(card.Claimed(), fileSectors);
  EXPECT_TRUE(scan->SectorMap.IsSectorClaimed(fileSectors - 1));
  // A few 64 KiB reads around each of the six chunk headers, not 5 GiB.
  EXPECT_LE(card.counting->bytes, 16 * 0x10000);
  EXPECT_LT(test::PeakResidentKiB() - peakBefore, 16 * 1024);
  RecordProperty("BytesRead", std::to_string(card.counting->bytes));
  RecordProperty("PeakGrowthKiB", std::to_string(test::PeakResidentKiB() - peakBefore));
  EXPECT_TRUE(card.ImageAlone());
  // A copy made ahead reads the same chunk headers from the source; a chunk that runs on
  // beyond its limit (the range's end) makes no file.
  const int64_t readBefore = card.counting->bytes;
  EXPECT_EQ(RiffStatedLength(*card.counting, 0, imageBytes), fileBytes);
  EXPECT_EQ(RiffStatedLength(*card.counting, 0, fileBytes - 1), 0);
  EXPECT_LE(card.counting->bytes - readBefore, 256);
}

// The Motion-JPEG sample with its JUNK chunk grown so that the JPEG of its first frame
// starts a sector: that sector is then a JPEG candidate of its own. The file stays a valid
// AVI (the index counts from the movi list).
Bytes MjpegWithAFrameOnASector() {
  Bytes avi = Sample("mjpeg_pcm.avi");
  const auto le32 = [&](size_t at) { return uint32_t{avi[at]} | avi[at + 1] << 8 | avi[at + 2] << 16 | uint32_t{avi[at + 3]} << 24; };
  size_t junk = 12;
  while (!std::equal(avi.begin() + junk, avi.begin() + junk + 4, "JUNK")) junk += 8 + le32(junk + 4);
  const size_t frame = junk + 8 + le32(junk + 4) + 12;  // the first chunk of the movi list
  EXPECT_TRUE(std::equal(avi.begin() + frame, avi.begin() + frame + 4, "00dc"));
  const size_t grow = (512 - (frame + 8) % 512) % 512;
  avi.insert(avi.begin() + junk + 8 + le32(junk + 4), grow, 0);
  PutLe32(avi, junk + 4, le32(junk + 4) + static_cast<uint32_t>(grow));
  PutLe32(avi, 4, le32(4) + static_cast<uint32_t>(grow));
  return avi;
}

TEST(RecoverRiff, AMotionJpegAviComesBackWholeWhenAFrameStartsASectorAndAnOrphanFrameIsStillAPhoto) {
  const Bytes avi = MjpegWithAFrameOnASector();
  Card t(Sectors(avi.size()) + 8);
  t.Place(avi, 2);
  t.RunAll();
  // The frame's sector is a JPEG candidate behind the video's start; it waits for the late
  // pass, by which time the video has taken it.
  EXPECT_EQ(test::ReadFileBytes(t.File(2, ".AVI")), avi);
  EXPECT_EQ(t.Files().size(), 1u);
  EXPECT_EQ(t.ClaimedCount(), Sectors(avi.size()));
  ExpectFfprobeReadsCleanly(t.File(2, ".AVI"));

  // The same card with the video's head overwritten: the frame is carved as a photo.
  Card orphan(Sectors(avi.size()) + 8);
  orphan.Place(avi, 2);
  std::fill_n(orphan.image.begin() + 2 * 512, 512, 0);
  EXPECT_EQ(orphan.RunAll().RecoveredCount, 1);
  ASSERT_EQ(orphan.Files().size(), 1u);
  EXPECT_EQ(orphan.Files()[0].substr(orphan.Files()[0].size() - 4), ".JPG");
}

// --- Ordro camera mode ---------------------------------------------------------------

// A card as an Ordro-style camera leaves it, on 4-sector (2 KiB) clusters:
//   cluster 2..   the AVI head: "RIFF" "AVI ", "LIST" "hdrl", "JUNK" up to the last 20
//                 bytes of a cluster, then "LIST" "movi" and an "ix00" index chunk that
//                 ends on the cluster boundary;
//   next cluster  the stream data: "00dc" H.264 frames (each starting 00 00 00 01) and
//                 "01wb" sound chunks, the first frame on the cluster boundary, the rest
//                 wherever they fall;
//   behind it     zeros.
struct OrdroCard {
  OrdroCard() : card(160, 4, false) {
    const Bytes hdrl = ListOf("LIST", "hdrl", Chunk("avih", 56, 3));
    const Bytes index = Chunk("ix00", 24 + 8 * 4, 0x11);
    const int64_t cluster = 2048, headAt = 2 * cluster;
    const int64_t junk = cluster - (12 + hdrl.size() + 8 + 12 + index.size()) % cluster;
    head = Cat({ListOf("RIFF", "AVI ", hdrl), Chunk("JUNK", static_cast<uint32_t>(junk), 0)});
    Bytes moviHead = ListOf("LIST", "movi", {});
    for (int f = 0; f < 12; ++f) {
      Bytes frame = Chunk("00dc", 900 + 37 * f, static_cast<uint8_t>(f + 1));
      frame[8] = frame[9] = frame[10] = 0;
      frame[11] = 1;
      stream = Cat({stream, frame, Chunk("01wb", 200 + f, 0x77)});
    }
    PutLe32(moviHead, 4, static_cast<uint32_t>(4 + index.size() + stream.size()));
    head = Cat({head, moviHead, index});
    // The head was sized to end on a cluster boundary, where the stream starts.
    EXPECT_EQ((head.size() + headAt) % cluster, 0u);
    // The RIFF size covers it all, as the camera finally wrote it.
    PutLe32(head, 4, static_cast<uint32_t>(head.size() + stream.size() - 8));
    headSector = headAt / 512;
    streamSector = headSector + static_cast<int64_t>(head.size()) / 512;
    card.Place(Cat({head, stream}), headSector);
    card.setup.Geometry.ClusterPhase = 0;
  }
  test::RawCard card;
  Bytes head, stream;
  int64_t headSector = 0, streamSector = 0;
};

TEST(RecoverRiff, OrdroModeEndsTheAviAtItsFirstStreamChunkAndCarvesTheStreamDataAsA00) {
  OrdroCard o;
  o.card.setup.Options.CameraMode.Ordro = true;
  const ScanReport r = o.card.RunAll();
  EXPECT_EQ(r.RecoveredCount, 2);
  EXPECT_EQ(test::ReadFileBytes(o.card.File(o.headSector, ".AVI")), o.head);
  EXPECT_EQ(test::ReadFileBytes(o.card.File(o.streamSector, ".A00")), o.stream);
  EXPECT_EQ(o.card.Files().size(), 2u);

  // Outside the mode the movi list is copied whole: one AVI, no stream candidate.
  OrdroCard normal;
  EXPECT_EQ(normal.card.RunAll().RecoveredCount, 1);
  EXPECT_EQ(test::ReadFileBytes(normal.card.File(normal.headSector, ".AVI")), Cat({normal.head, normal.stream}));
  EXPECT_EQ(normal.card.Files().size(), 1u);

  // With AVI not selected both are claimed, nothing is written.
  OrdroCard quiet;
  quiet.card.setup.Options.CameraMode.Ordro = true;
  quiet.card.setup.Options.TypeMask = kAllTypesMask & ~kTypeAvi;
  EXPECT_EQ(quiet.card.RunAll().RecoveredCount, 0);
  EXPECT_TRUE(quiet.card.Files().empty());
  EXPECT_EQ(quiet.card.ClaimedSectors(), o.card.ClaimedSectors());
}

TEST(RecoverAviFragment, StreamDataEndsAtForeignChunksAndNeedsAFrameToStart) {
  Bytes frame = Chunk("00dc", 1500, 1);
  frame[11] = 1;
  const Bytes run = Cat({frame, Chunk("01wb", 333, 2), Chunk("00dc", 40, 3)});
  for (const Bytes& tail : {Chunk("idx1", 16), ChunkHeader("00dc", 0), Chunk("02wb", 100)}) {
    test::RawCard t(20, 1, true);
    t.Place(Cat({run, tail}), 2);
    RecoverAviFragment(t.Context(), t.setup.Options.OutputFolder, 2 * 512);
    EXPECT_EQ(test::ReadFileBytes(t.File(2, ".A00")), run);
    EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(2, Sectors(run.size())));
  }
  for (const Bytes& bad : {Chunk("01wb", 100), ChunkHeader("00dc", 0), Cat({ChunkHeader("00dc", 0x7FFFFFFF)})}) {
    test::RawCard t(20, 1, true);
    t.Place(bad, 2);
    RecoverAviFragment(t.Context(), t.setup.Options.OutputFolder, 2 * 512);
    EXPECT_TRUE(t.Files().empty());
    EXPECT_EQ(t.ClaimedCount(), 0);
  }
}

// --- WebP pictures: the RIFF walk inside the stated size, then libwebp ------------------------

Bytes Webp(const std::string& name) { return test::ReadFileBytes(test::DataPath("webp/" + name)); }

TEST(RecoverWebp, ScanRecoversEachPictureContiguousSplitAroundAnotherFileAndAtTheRangeEnd) {
  const std::vector<std::string> names = {"lossy.webp", "lossless.webp", "alpha.webp", "animated.webp"};
  const Bytes other = Sample("pcm.wav");
  const int64_t os = Sectors(other.size());
  std::vector<std::pair<int64_t, Bytes>> placed;
  std::vector<std::vector<int64_t>> layouts;
  std::vector<int64_t> others;
  int64_t at = 1;
  for (const auto& name : names) {
    const Bytes file = Webp(name);
    const int64_t n = Sectors(file.size());
    placed.emplace_back(at, file);
    layouts.push_back(test::SectorRunOf(at, n));
    at += n + 1;
    if (n < 2) continue;
    std::vector<int64_t> split;  // the first sector, a WAV recording, the rest
    for (int64_t s = 0; s < n; ++s) split.push_back(at + s + (s >= 1 ? os : 0));
    others.push_back(at + 1);
    placed.emplace_back(at, file);
    layouts.push_back(split);
    at = split.back() + 2;
  }
  std::vector<std::vector<int64_t>> claims;
  for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~kTypeWebp}) {
    Card t(at - 1);  // the last split picture ends on the last sector
    t.setup.Options.TypeMask = mask;
    for (size_t i = 0; i < placed.size(); ++i) t.Place(placed[i].second, layouts[i]);
    for (int64_t o : others) t.Place(other, o);
    const ScanReport r = t.RunAll();
    EXPECT_EQ(r.RecoveredCount, static_cast<int>(others.size() + (mask & kTypeWebp ? placed.size() : 0)));
    if (mask & kTypeWebp)
      for (const auto& [start, bytes] : placed) EXPECT_EQ(test::ReadFileBytes(t.File(start, ".WEBP")), bytes) << start;
    claims.push_back(t.ClaimedSectors());
  }
  EXPECT_EQ(claims[0], claims[1]);  // claim-only takes the same sectors
}

TEST(RecoverWebp, APictureIsKeptOnlyWholeAndDecodable) {
  const Bytes lossy = Webp("lossy.webp");
  Bytes damaged = Webp("lossless.webp");  // the coded picture overwritten
  std::fill(damaged.begin() + 30, damaged.end(), 0xFF);
  Bytes foreign = lossy;  // the stated size runs over a foreign chunk header
  PutLe32(foreign, 4, static_cast<uint32_t>(lossy.size() + 600 - 8));
  foreign.insert(foreign.end(), 600, 0x01);
  Bytes huge = lossy;
  PutLe32(huge, 4, 0xFFFFFFF0u);
  // The last one is whole but cut by the range end. The damaged one fails only where the
  // build decodes pictures.
  const std::vector<Bytes> refused = {damaged, Cat({foreign, Bytes(512, 0x02)}), huge, lossy};
  for (size_t i = kPictureDecodeChecks ? 0 : 1; i < refused.size(); ++i)
    for (bool write : {true, false}) {
      Card t(Sectors(refused[i].size()) + 6);
      if (i == 3) t.setup.LastSector = Sectors(lossy.size()) - 1;
      t.Place(refused[i], 1);
      write ? t.Recover(1, ".WEBP") : t.ClaimOnly(1);
      EXPECT_TRUE(t.Files().empty()) << i;
      EXPECT_EQ(t.ClaimedCount(), 0) << i;
      EXPECT_EQ(t.Context().RecoveredCount, 0) << i;
    }
}

}  // namespace
}  // namespace morvane
