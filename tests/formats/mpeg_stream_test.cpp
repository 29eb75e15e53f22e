// MPEG program streams (VOB, MPG) and transport streams (MTS, TS): streams written by
// ffmpeg, carved from in-memory cards whole, around other files' clusters, cut by the end of
// the range, and with clocks and arrival times rewritten where a cluster begins.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/media/mpeg_ps.h"
#include "formats/media/mpeg_ts.h"
#include "formats/raw_card.h"
#include "scan/copies_ahead.h"
#include "scan/mpeg_clock.h"
#include "scan/scan_driver.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("mpeg/" + name)); }

using Recogniser = int (*)(ScanContext&, const std::string&, const std::string&, int64_t);

struct Kind {
  const char* sample;
  const char* ext;
  Recogniser recover;
  WalkedLength walkAhead;
};
const Kind kMpg{"mpeg1.mpg", ".MPG", RecoverMpg, MpgWalkAhead};
const Kind kVob{"mpeg2.vob", ".VOB", RecoverVob, VobWalkAhead};
const Kind kDvd{"dvd.vob", ".VOB", RecoverVob, VobWalkAhead};
const Kind kTs{"plain.ts", ".TS", RecoverTs, TsWalkAhead};
const Kind kMts{"camcorder.mts", ".MTS", RecoverM2ts, M2tsWalkAhead};
// Remuxed without a mux rate: the arrival times jump, the stream is entered at a unit start.
const Kind kJumping{"jumping_clocks.mts", ".MTS", RecoverM2tsWithJumpingClocks, M2tsWithJumpingClocksWalkAhead};
const std::vector<Kind> kAllKinds = {kMpg, kVob, kDvd, kTs, kMts, kJumping};

struct Card : test::RawCard {
  explicit Card(int64_t sectors, uint32_t sectorsPerCluster = 1, uint32_t sectorSize = 512)
      : RawCard(sectors, sectorsPerCluster, true, sectorSize) {}
  // With `ahead`, the image is a file and the stream is copied and walked ahead of the
  // recogniser (its place passed on every 4 KiB), as the search pass's worker does.
  bool ahead = false;
  std::function<void()> afterWalk;  // between the walk made ahead and the recogniser
  ScanContext& Scan() { return ahead ? ContextOverImageFile() : Context(); }
  void Recover(const Kind& k, int64_t sector, bool claimOnly = false) {
    auto recover = [&](ScanContext& scan) {
      k.recover(scan, claimOnly ? std::string() : setup.Options.OutputFolder, claimOnly ? "" : k.ext, sector * ss);
    };
    if (ahead) WithWalkAhead(k.walkAhead, sector, 4096, afterWalk, recover);
    else recover(Context());
  }
  Bytes Output(int64_t sector, const Kind& k) { return test::ReadFileBytes(File(sector, k.ext)); }
  void Foreign(const std::vector<int64_t>& sectors) {
    for (int64_t s : sectors) Scan().SectorMap.ClaimSector(s);
  }
  // A stream written whole with a walk made ahead is taken up from the walk: its sectors
  // were neither read nor written again.
  void ExpectWalkTakenOver(const std::string& what) {
    if (ahead && test::kImagesCopyIntoFiles) EXPECT_GT(Scan().BytesCopiedAhead, 64 * 1024) << what;
  }
};

Bytes Prefix(const Bytes& b, size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(std::min(n, b.size()))); }

// --- program streams -----------------------------------------------------------------

// Offsets of the pack headers of a program stream, and every offset where a pack header or
// a packet ends (where a walk may stop).
struct PsLayout {
  std::vector<size_t> packs;
  std::vector<size_t> boundaries;
};
PsLayout Layout(const Bytes& b) {
  PsLayout l;
  size_t o = 0;
  while (o + 6 <= b.size() && b[o] == 0 && b[o + 1] == 0 && b[o + 2] == 1) {
    if (b[o + 3] == 0xBA) {
      l.packs.push_back(o);
      o += (b[o + 4] & 0xC0) == 0x40 ? 14 + (b[o + 13] & 7) : 12;
    } else {
      o += 6 + (size_t{b[o + 4]} << 8 | b[o + 5]);
    }
    l.boundaries.push_back(o);
  }
  EXPECT_EQ(o, b.size()) << "sample is not a whole program stream";
  return l;
}

bool IsMpeg2(const Bytes& b, size_t pack) { return (b[pack + 4] & 0xC0) == 0x40; }

uint64_t ClockAt(const Bytes& b, size_t pack) {
  const ByteView h(b.data() + pack, 14);
  return IsMpeg2(b, pack) ? Mpeg2PackScr(h) : Mpeg1PackScr(h);
}

void SetClock(Bytes& b, size_t at, uint64_t v) {
  uint8_t* h = b.data() + at;
  if (IsMpeg2(b, at)) {
    h[4] = static_cast<uint8_t>(0x40 | ((v >> 30) & 7) << 3 | 0x04 | ((v >> 28) & 3));
    h[5] = static_cast<uint8_t>(v >> 20);
    h[6] = static_cast<uint8_t>(((v >> 15) & 0x1F) << 3 | 0x04 | ((v >> 13) & 3));
    h[7] = static_cast<uint8_t>(v >> 5);
    h[8] = static_cast<uint8_t>((v & 0x1F) << 3 | 0x04 | (h[8] & 3));
  } else {
    h[4] = static_cast<uint8_t>(0x20 | ((v >> 30) & 7) << 1 | 1);
    h[5] = static_cast<uint8_t>(v >> 22);
    h[6] = static_cast<uint8_t>(((v >> 15) & 0x7F) << 1 | 1);
    h[7] = static_cast<uint8_t>(v >> 7);
    h[8] = static_cast<uint8_t>((v & 0x7F) << 1 | 1);
  }
  ASSERT_EQ(ClockAt(b, at), v);
}

// Moves the clocks of pack `from` and every later pack by delta.
Bytes ShiftClocks(Bytes b, size_t from, int64_t delta) {
  const PsLayout l = Layout(b);
  for (size_t i = from; i < l.packs.size(); ++i)
    SetClock(b, l.packs[i], static_cast<uint64_t>(static_cast<int64_t>(ClockAt(b, l.packs[i])) + delta));
  return b;
}

// The index of the first pack after pack 0 that begins (or does not begin) a cluster when
// the stream begins `lead` bytes into a cluster.
size_t PackWhere(const Bytes& b, size_t cluster, bool atClusterStart, size_t lead = 0) {
  const PsLayout l = Layout(b);
  for (size_t i = 4; i < l.packs.size(); ++i)
    if (((l.packs[i] + lead) % cluster == 0) == atClusterStart) return i;
  ADD_FAILURE() << "no such pack";
  return 0;
}

// --- transport streams ---------------------------------------------------------------

constexpr size_t kM2tsPacket = 192;

uint32_t WordAt(const Bytes& b, size_t packet) {
  const size_t o = packet * kM2tsPacket;
  return uint32_t{b[o]} << 24 | uint32_t{b[o + 1]} << 16 | uint32_t{b[o + 2]} << 8 | b[o + 3];
}
// Adds delta (modulo 2^30, the top two bits kept) to the arrival times of packet `from` on.
Bytes ShiftArrivals(Bytes b, size_t from, int64_t delta) {
  for (size_t p = from; (p + 1) * kM2tsPacket <= b.size(); ++p) {
    const uint32_t w = WordAt(b, p);
    const uint32_t t = static_cast<uint32_t>((static_cast<int64_t>(w & kArrivalTimeMask) + delta) & kArrivalTimeMask);
    const uint32_t v = (w & ~kArrivalTimeMask) | t;
    for (int i = 0; i < 4; ++i) b[p * kM2tsPacket + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
  }
  return b;
}

// --- whole scans ---------------------------------------------------------------------

TEST(MpegStreams, WholeScanBringsBackEveryMuxersStreamByteForByte) {
  constexpr uint32_t kSpc = 8;  // 4 KiB clusters
  int64_t total = kSpc;
  for (const Kind& k : kAllKinds) total += (Sectors(Sample(k.sample).size()) + kSpc - 1) / kSpc * kSpc + 2 * kSpc;
  for (const uint32_t mask : {kAllTypesMask, kAllTypesMask & ~kStreamTypesMask}) {
    Card t(total, kSpc);
    t.setup.Options.TypeMask = mask;
    std::vector<int64_t> starts;
    int64_t at = kSpc, streamClusters = 0;
    for (const Kind& k : kAllKinds) {
      const Bytes s = Sample(k.sample);
      t.Place(s, at);
      starts.push_back(at);
      const int64_t clusters = (Sectors(s.size()) + kSpc - 1) / kSpc;
      if (k.recover == RecoverMpg) streamClusters = clusters;
      at += clusters * kSpc + 2 * kSpc;  // random bytes between the streams
    }
    const ScanReport r = t.RunAll();
    if (mask == kAllTypesMask) {
      ASSERT_EQ(r.RecoveredCount, static_cast<int>(kAllKinds.size()));
      int64_t claimed = 0;
      for (size_t i = 0; i < kAllKinds.size(); ++i) {
        const Bytes s = Sample(kAllKinds[i].sample);
        EXPECT_EQ(t.Output(starts[i], kAllKinds[i]), s) << kAllKinds[i].sample;
        claimed += (Sectors(s.size()) + kSpc - 1) / kSpc * kSpc;
        if (test::HaveTool("ffprobe")) {  // reads each file without a complaint
          EXPECT_EQ(test::Run("test -z \"$(ffprobe -v error -show_format -show_streams '" +
                              t.File(starts[i], kAllKinds[i].ext) + "' 2>&1 >/dev/null)\""),
                    0)
              << kAllKinds[i].sample;
        }
      }
      EXPECT_EQ(t.ClaimedCount(), claimed);
      EXPECT_GT(r.StreamCandidates, 100);
    } else {
      // Nothing written; the MPEG-1 stream, which starts at clock 0, is still claimed in the
      // recovery pass so that no other recogniser takes its sectors; the others wait for a
      // stream pass that skips unselected kinds.
      EXPECT_EQ(r.RecoveredCount, 0);
      EXPECT_TRUE(t.Files().empty());
      EXPECT_EQ(t.ClaimedCount(), streamClusters * kSpc);
      EXPECT_TRUE(t.Claimed(starts[0]));
    }
  }
}

// Photos written in the middle of each stream are recovered first, in the recovery pass;
// the stream pass then follows each stream around them.
TEST(MpegStreams, WholeScanFollowsStreamsAroundPhotosWrittenInsideThem) {
  constexpr uint32_t kSpc = 8;
  constexpr size_t kCluster = kSpc * 512;
  const std::vector<std::string> photos = {"baseline", "exif_le", "progressive", "restart", "subsampling444", "exif_be"};
  int64_t total = kSpc;
  for (size_t i = 0; i < kAllKinds.size(); ++i)
    total += (Sectors(Sample(kAllKinds[i].sample).size()) + Sectors(test::ReadFileBytes(test::DataPath("jpeg/" + photos[i] + ".jpg")).size())) / kSpc * kSpc + 4 * kSpc;
  Card t(total, kSpc);
  std::vector<int64_t> starts, photoStarts;
  int64_t at = kSpc;
  auto clusters = [&](size_t bytes) { return (Sectors(bytes) + kSpc - 1) / kSpc; };
  for (size_t i = 0; i < kAllKinds.size(); ++i) {
    const Bytes s = Sample(kAllKinds[i].sample);
    const Bytes photo = test::ReadFileBytes(test::DataPath("jpeg/" + photos[i] + ".jpg"));
    const size_t head = (3 + i * 4) * kCluster;  // the photo comes after this many bytes
    std::vector<int64_t> own;
    for (int64_t k = 0; k < clusters(head) * kSpc; ++k) own.push_back(at + k);
    photoStarts.push_back(at + clusters(head) * kSpc);
    const int64_t after = photoStarts.back() + clusters(photo.size()) * kSpc;
    for (int64_t k = 0; k < clusters(s.size() - head) * kSpc; ++k) own.push_back(after + k);
    t.Place(s, own);
    t.Place(photo, photoStarts.back());
    starts.push_back(at);
    at = own.back() + 1 + 2 * kSpc;
  }
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(2 * kAllKinds.size()));
  for (size_t i = 0; i < kAllKinds.size(); ++i) {
    EXPECT_EQ(t.Output(starts[i], kAllKinds[i]), Sample(kAllKinds[i].sample)) << kAllKinds[i].sample;
    EXPECT_EQ(test::ReadFileBytes(t.File(photoStarts[i], ".JPG")),
              test::ReadFileBytes(test::DataPath("jpeg/" + photos[i] + ".jpg")));
  }
  EXPECT_EQ(t.Files().size(), 2 * kAllKinds.size());
}

// A 192-byte stream whose first arrival time is 0 is carved in the recovery pass, also when
// its kind is not selected (then only claimed); every other stream waits for the stream pass.
TEST(MpegStreams, TransportStreamStartingAtArrivalZeroIsCarvedInTheRecoveryPass) {
  const Bytes mts = Sample(kMts.sample);
  const Bytes zero = ShiftArrivals(mts, 0, -static_cast<int64_t>(WordAt(mts, 0) & kArrivalTimeMask));
  ASSERT_EQ(WordAt(zero, 0) & kArrivalTimeMask, 0u);
  for (const uint32_t mask : {kTypeMts, kTypeJpg}) {
    Card t(Sectors(zero.size()) + 16);
    t.setup.Options.TypeMask = mask;
    t.Place(zero, 4);
    const ScanReport r = t.RunAll();
    EXPECT_EQ(t.ClaimedCount(), Sectors(zero.size()));
    if (mask == kTypeMts) {
      EXPECT_EQ(t.Output(4, kMts), zero);
      EXPECT_EQ(r.FoundCount, 1u);
    } else {
      EXPECT_TRUE(t.Files().empty());
    }
  }
}

// --- one stream at a time ------------------------------------------------------------

// Other files' clusters (claimed earlier) are stepped over; claim-only mode takes the same
// sectors as file mode. Also on a disk of 4096-byte sectors.
TEST(MpegStreams, StreamsAreFollowedAroundOtherFilesClustersInBothModes) {
  for (const auto& [sectorSize, spc] : {std::pair<uint32_t, uint32_t>{512, 4}, {4096, 2}}) {
    for (const Kind& k : kAllKinds) {
      const Bytes s = Sample(k.sample);
      const int64_t clusters = (Sectors(s.size(), sectorSize) + spc - 1) / spc;
      // Every third cluster of the area belongs to another file; runs of two as well.
      std::vector<int64_t> own, foreign;
      int64_t c = 1;
      for (int64_t placed = 0; placed < clusters; ++c) {
        const bool other = (c % 3 == 0) || (c % 17 == 5) || (c % 17 == 6);
        for (uint32_t i = 0; i < spc; ++i) (other ? foreign : own).push_back(c * spc + i);
        if (!other) ++placed;
      }
      std::vector<int64_t> claims[2];
      for (const bool claimOnly : {false, true}) {
        Card t((c + 3) * spc, spc, sectorSize);
        t.Place(s, own);
        t.Foreign(foreign);
        t.Recover(k, own[0], claimOnly);
        if (!claimOnly) {
          EXPECT_EQ(t.Output(own[0], k), s) << k.sample << " " << sectorSize;
        }
        EXPECT_EQ(t.Context().RecoveredCount, claimOnly ? 0 : 1) << k.sample;
        EXPECT_EQ(t.Files().size(), claimOnly ? 0u : 1u) << k.sample;
        claims[claimOnly] = t.ClaimedSectors();
      }
      EXPECT_EQ(claims[0], claims[1]) << k.sample << " " << sectorSize;
      EXPECT_EQ(claims[0].size(), own.size() + foreign.size()) << k.sample << " " << sectorSize;
      // Sectors in the middle of a stream written in one piece that another file took: a walk
      // made ahead passed over them, the pass steps over them, and ends as it does alone.
      Bytes outputs[2];
      for (const bool ahead : {false, true}) {
        Card t(Sectors(s.size(), sectorSize) + 8, spc, sectorSize);
        t.ahead = ahead;
        t.Place(s, 2);
        const int64_t middle = 2 + Sectors(s.size(), sectorSize) / 2;
        t.Foreign({middle, middle + 1});
        t.Recover(k, 2);
        outputs[ahead] = t.Files().empty() ? Bytes() : t.Output(2, k);
        claims[ahead] = t.ClaimedSectors();
      }
      EXPECT_EQ(outputs[0], outputs[1]) << k.sample << " " << sectorSize;
      EXPECT_EQ(claims[0], claims[1]) << k.sample << " " << sectorSize;
    }
  }
}

// The pass takes a walk made ahead up where it stood, and does not read the bytes in front
// of that again: bytes of the image changed after the walk are not seen.
TEST(MpegStreams, APassTakesTheWalkMadeAheadUpWhereItStood) {
  if (!test::kImagesCopyIntoFiles) GTEST_SKIP() << "image files are not copied into files on this system";
  for (const Kind& k : kAllKinds) {
    const Bytes s = Sample(k.sample);
    Card t(Sectors(s.size()) + 4);
    t.ahead = true;
    t.Place(s, 1);
    t.afterWalk = [&] { t.OverwriteImageFile(21 * 512, std::string(512, '\0')); };
    t.Recover(k, 1);
    EXPECT_EQ(t.Output(1, k), s) << k.sample;
  }
}

// A stream that runs into the end of the range ends at the last whole packet before it; the
// sector read past that packet is given back.
TEST(MpegStreams, StreamCutByTheRangeEndKeepsItsWholePackets) {
  for (const Kind& k : kAllKinds) {
    const Bytes s = Sample(k.sample);
    const bool ps = k.recover == RecoverMpg || k.recover == RecoverVob;
    for (const int64_t lastSector : {int64_t{60}, int64_t{61}, int64_t{137}}) {
      for (const bool claimOnly : {false, true}) {
        Card t(Sectors(s.size()) + 8);
        t.setup.LastSector = lastSector;
        t.Place(s, 2);
        t.Recover(k, 2, claimOnly);
        const size_t room = static_cast<size_t>((lastSector - 1) * 512);
        size_t expected = 0;
        if (ps) {
          for (size_t b : Layout(s).boundaries)
            if (b <= room) expected = b;
        } else {
          const size_t packet = k.recover == RecoverTs ? 188 : 192;
          expected = std::min(room / packet * packet, s.size());  // the shortest sample ends first
        }
        if (!claimOnly) {
          EXPECT_EQ(t.Output(2, k), Prefix(s, expected)) << k.sample << " " << lastSector;
        }
        EXPECT_EQ(t.ClaimedCount(), Sectors(expected)) << k.sample << " " << lastSector;
      }
    }
  }
}

TEST(MpegStreams, ProgramStreamClockStepsAreTestedOnlyWhereAClusterBegins) {
  constexpr uint32_t kSpc = 8;
  constexpr size_t kCluster = kSpc * 512;
  struct Case {
    const Kind& kind;
    bool atClusterStart;
    int64_t step;  // the clock step into the chosen pack
    bool endsThere;
    int64_t lead = 0;  // sectors into its cluster where the stream begins
  };
  const std::vector<Case> cases = {
      {kVob, true, 450000, true},   // 5 s: beyond the VOB limit
      {kMpg, true, 450000, false},  // within the MPG limit
      {kMpg, true, 800000, false},
      {kMpg, true, 800001, true},
      {kVob, false, 450000, false},  // inside a cluster: only remembered
      {kVob, true, 0, true},         // a clock that does not move on
      {kVob, true, -5, true},
      {kDvd, true, 320000, false},
      {kDvd, true, 320001, true},
      // A stream that begins inside a cluster is tested where the source's clusters begin.
      {kVob, true, 450000, true, 4},
      {kVob, false, 450000, false, 4},
  };
  // A walk made ahead tests every pack: where the pass does not, it goes on itself.
  for (const bool ahead : {false, true}) for (const Case& c : cases) {
    Bytes s = Sample(c.kind.sample);
    const size_t pack = PackWhere(s, kCluster, c.atClusterStart, static_cast<size_t>(c.lead) * 512);
    const PsLayout l = Layout(s);
    const auto step = static_cast<int64_t>(ClockAt(s, l.packs[pack]) - ClockAt(s, l.packs[pack - 1]));
    s = ShiftClocks(s, pack, c.step - step);
    Card t(Sectors(s.size()) + 3 * kSpc, kSpc);
    t.ahead = ahead;
    const int64_t start = kSpc + c.lead;
    t.Place(s, start);
    t.Recover(c.kind, start);
    const Bytes expected = c.endsThere ? Prefix(s, l.packs[pack]) : s;
    EXPECT_EQ(t.Output(start, c.kind), expected) << c.kind.sample << " step " << c.step << " ahead " << ahead;
    if (!c.endsThere && c.atClusterStart) t.ExpectWalkTakenOver(c.kind.sample);
    // The stream's own sectors stay claimed up to the end of its last cluster; what was read
    // beyond that is given back.
    EXPECT_EQ(t.ClaimedCount(), (c.lead + Sectors(expected.size()) + kSpc - 1) / kSpc * kSpc - c.lead)
        << c.kind.sample;
  }
}

TEST(MpegStreams, ProgramStreamStartsAndEnds) {
  const Bytes vob = Sample(kVob.sample), mpg = Sample(kMpg.sample);
  ASSERT_EQ(ClockAt(vob, 0), 0u);
  ASSERT_EQ(ClockAt(mpg, 0), 0u);
  {  // first clocks: just below the largest step is a stream start, the step itself is not
    struct Case {
      const Kind& kind;
      int64_t first;
      bool carved;
    };
    for (const Case& c : {Case{kVob, 319999, true}, Case{kVob, 320000, false}, Case{kMpg, 799999, true},
                          Case{kMpg, 800000, false}, Case{kMpg, 5000000, false}}) {
      const Bytes s = ShiftClocks(Sample(c.kind.sample), 0, c.first);
      Card t(Sectors(s.size()) + 4);
      t.Place(s, 1);
      t.Recover(c.kind, 1);
      // A refused start leaves nothing: no file (not even an empty one), no claim.
      EXPECT_EQ(t.Files().size(), c.carved ? 1u : 0u) << c.first;
      EXPECT_EQ(t.ClaimedCount(), c.carved ? Sectors(s.size()) : 0) << c.first;
      if (c.carved) {
        EXPECT_EQ(t.Output(1, c.kind), s);
      }
    }
  }
  const PsLayout l = Layout(vob);
  const size_t later = l.packs[l.packs.size() / 2];
  {  // a later pack of the other version ends the stream before it; the first pack must match
    Bytes s = vob;
    s[later + 4] = static_cast<uint8_t>((s[later + 4] & 0x0F) | 0x20);
    for (const Kind* k : {&kVob, &kMpg}) {
      Card t(Sectors(s.size()) + 4);
      t.Place(s, 1);
      t.Recover(*k, 1);
      if (k == &kVob) {
        EXPECT_EQ(t.Output(1, *k), Prefix(s, later));
      } else {
        EXPECT_TRUE(t.Files().empty());
        EXPECT_EQ(t.ClaimedCount(), 0);
      }
    }
  }
  {  // bytes that are no start code end it; the end code is the stream's last four bytes
    Bytes broken = mpg;
    const size_t at = Layout(mpg).boundaries[40];
    broken[at + 2] = 0x02;
    Bytes ended = mpg;
    for (uint8_t b : {0x00, 0x00, 0x01, 0xB9}) ended.push_back(b);
    for (uint8_t b : {0x12, 0x34, 0x00, 0x00, 0x01, 0xE0}) ended.push_back(b);  // what follows it
    for (const auto& [in, out] : {std::pair{broken, Prefix(mpg, at)}, std::pair{ended, Prefix(ended, mpg.size() + 4)}}) {
      Card t(Sectors(in.size()) + 4);
      t.Place(in, 1);
      t.Recover(kMpg, 1);
      EXPECT_EQ(t.Output(1, kMpg), out);
    }
  }
  {  // packet lengths of 0 and 0xFFFF: a short packet, and one that runs past the range
    for (const uint16_t length : {uint16_t{0}, uint16_t{0xFFFF}}) {
      Bytes s = vob;
      size_t at = 0;  // the start of a packet (not a pack) in the middle
      for (size_t b : Layout(vob).boundaries)
        if (at == 0 && b > vob.size() / 2 && s[b + 3] != 0xBA) at = b;
      s[at + 4] = static_cast<uint8_t>(length >> 8);
      s[at + 5] = static_cast<uint8_t>(length);
      for (const bool claimOnly : {false, true}) {
        Card t(Sectors(s.size()) + 2);
        t.setup.LastSector = Sectors(at) + 20;
        t.Place(s, 1);
        t.Recover(kVob, 1, claimOnly);
        // Length 0: the 6-byte packet is taken and the bytes after it are no start code.
        const size_t end = length == 0 ? at + 6 : at;
        if (!claimOnly) {
          EXPECT_EQ(t.Output(1, kVob), Prefix(s, end)) << length;
        }
        EXPECT_EQ(t.ClaimedCount(), Sectors(end)) << length;
      }
    }
  }
}

TEST(MpegStreams, ArrivalTimesAreTestedModulo2To30WhereAClusterBegins) {
  const Bytes mts = Sample(kMts.sample);
  // With one-sector clusters every eighth packet (each 1536 bytes) begins a cluster.
  constexpr size_t kAtCluster = 48, kInside = 50;
  const int64_t step = (WordAt(mts, kAtCluster) - WordAt(mts, kAtCluster - 1)) & kArrivalTimeMask;
  struct Case {
    const char* what;
    Bytes stream;
    size_t endPacket;  // 0: the whole stream
  };
  const int64_t toWrap = (int64_t{1} << 30) - (WordAt(mts, kAtCluster) & kArrivalTimeMask) + 10;
  const std::vector<Case> cases = {
      {"step 3200001", ShiftArrivals(mts, kAtCluster, 3200001 - step), kAtCluster},
      {"step 3200000", ShiftArrivals(mts, kAtCluster, 3200000 - step), 0},
      {"equal words", ShiftArrivals(mts, kAtCluster, -step), 0},
      {"going back", ShiftArrivals(mts, kAtCluster, -step - 1), kAtCluster},
      {"jump inside a cluster", ShiftArrivals(mts, kInside, 100000000), 0},
      {"wrap at a cluster", ShiftArrivals(mts, 0, toWrap), 0},
  };
  {  // the wrap really happens at that packet
    const Bytes& w = cases.back().stream;
    ASSERT_LT(WordAt(w, kAtCluster) & kArrivalTimeMask, WordAt(w, kAtCluster - 1) & kArrivalTimeMask);
  }
  for (const bool ahead : {false, true}) for (const Case& c : cases) {
    Card t(Sectors(c.stream.size()) + 4);
    t.ahead = ahead;
    t.Place(c.stream, 1);
    t.Recover(kMts, 1);
    EXPECT_EQ(t.Output(1, kMts), c.endPacket ? Prefix(c.stream, c.endPacket * kM2tsPacket) : c.stream) << c.what;
    if (!c.endPacket && std::string(c.what) != "jump inside a cluster") t.ExpectWalkTakenOver(c.what);
  }
}

TEST(MpegStreams, TransportStreamsEndAtTheFirstPacketThatIsNone) {
  const Bytes ts = Sample(kTs.sample), mts = Sample(kMts.sample), jumping = Sample(kJumping.sample);
  struct Case {
    const Kind& kind;
    size_t at;      // byte changed
    uint8_t value;
    size_t end;     // expected length; 0: nothing carved
  };
  const std::vector<Case> cases = {
      {kTs, 188 * 100 + 1, 0x47, 188 * 100},  // "GG" is no packet of a plain stream
      {kTs, 188 * 101, 0x00, 188 * 101},      // sync byte missing
      {kTs, 188 * 101 + 4, 0xFF, 0},          // an adaptation-field length beyond the packet: only sync counts
      {kMts, 192 * 77 + 4, 0x46, 192 * 77},
      {kMts, 192 * 77 + 5, 0x47, 0},          // two sync bytes are fine with arrival times
      {kTs, 188 * 2, 0x00, 0xFFFFFFFF},       // the start sector must begin three packets
      {kMts, 192 + 4, 0x00, 0xFFFFFFFF},
      {kJumping, 192 * 100 + 5, 0x80, 192 * 100},     // a transport error where clocks jump
      {kJumping, 192 * 100 + 7, 0x00, 192 * 100},     // neither payload nor adaptation field
      {kJumping, 192 * 63 + 4, 0x00, 0xFFFFFFFF},     // 63 packets are too few a run
  };
  for (const bool ahead : {false, true}) for (const Case& c : cases) {
    Bytes s = c.kind.recover == RecoverTs ? ts : c.kind.recover == RecoverM2ts ? mts : jumping;
    s[c.at] = c.value;
    Card t(Sectors(s.size()) + 4);
    t.ahead = ahead;
    t.Place(s, 1);
    t.Recover(c.kind, 1);
    if (c.end == 0xFFFFFFFF) {
      EXPECT_TRUE(t.Files().empty()) << c.at;
      EXPECT_EQ(t.ClaimedCount(), 0) << c.at;
    } else {
      EXPECT_EQ(t.Output(1, c.kind), c.end ? Prefix(s, c.end) : s) << c.at << " ahead " << ahead;
      if (c.end > 64 * 1024) t.ExpectWalkTakenOver(std::to_string(c.at));
    }
  }
}

// --- the stream pass and its work files ----------------------------------------------

struct WorkFileWatch : ScanObserver {
  std::string folder;
  int64_t starts = -1, types = -1;  // sizes of the work files when the first stream was carved
  bool stopAfterFirstFile = false;
  std::atomic<morvane::RunState>* runState = nullptr;
  void OnFileRecovered(const RecoveredFileInfo&) override {
    if (starts < 0) {
      std::error_code ec;
      starts = static_cast<int64_t>(std::filesystem::file_size(folder + kStreamStartsFile, ec));
      types = static_cast<int64_t>(std::filesystem::file_size(folder + kStreamTypesFile, ec));
    }
    if (stopAfterFirstFile) *runState = rsStopped;
  }
};

TEST(MpegStreams, WorkFilesHoldThePacketsForTheStreamPassAndAreRemovedAlsoAfterAStop) {
  const Bytes vob = Sample(kVob.sample), ts = Sample(kTs.sample);
  for (const bool stop : {false, true}) {
    Card t(Sectors(vob.size()) + Sectors(ts.size()) + 32);
    WorkFileWatch watch;
    watch.folder = t.setup.Options.OutputFolder;
    watch.stopAfterFirstFile = stop;
    t.observer = &watch;
    t.setup.Options.TypeMask = kTypeVob | kTypeTs;
    t.Place(vob, 8);
    const int64_t tsAt = 16 + Sectors(vob.size());
    t.Place(ts, tsAt);
    watch.runState = &t.Context().RunState;
    const ScanReport r = t.RunAll();
    // Every packet the search classified is one record of 8 bytes and one of 1 byte.
    EXPECT_GT(r.StreamCandidates, 50);
    EXPECT_EQ(watch.starts, 8 * r.StreamCandidates);
    EXPECT_EQ(watch.types, r.StreamCandidates);
    // Read in order: the VOB (lower sectors) comes first; a stop ends the pass there.
    EXPECT_EQ(r.RecoveredCount, stop ? 1 : 2);
    EXPECT_EQ(t.Output(8, kVob), vob);
    EXPECT_EQ(std::filesystem::exists(t.File(tsAt, ".TS")), !stop);
    EXPECT_EQ(r.Stopped, stop);
    EXPECT_FALSE(std::filesystem::exists(watch.folder + kStreamStartsFile));
    EXPECT_FALSE(std::filesystem::exists(watch.folder + kStreamTypesFile));
  }
}

}  // namespace
}  // namespace morvane
