// Crafted media on which every candidate fails: the recognisers' work grows with the medium,
// not with its square, what failed walks leave behind never changes an outcome, and a
// candidate that fails writes nothing.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "formats/documents/rar.h"
#include "formats/pictures/png.h"
#include "formats/raw_card.h"
#include "scan/classifier.h"
#include "scan/copies_ahead.h"
#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

// A local header of a member written as a stream (sizes 0, flag bit 3) with no descriptor.
std::vector<uint8_t> StreamedZipHeader(std::string_view name) {
  std::vector<uint8_t> h(30, 0);
  test::PutLe(h, 0, 0x04034B50, 4);
  test::PutLe(h, 4, 20, 2);
  test::PutLe(h, 6, 8, 2);
  test::PutLe(h, 8, 8, 2);
  test::PutLe(h, 26, name.size(), 2);
  return test::Cat({h, Bytes(name)});
}

// RAR: the marker, then a block of type `type` with header size 11 and `dataSize` bytes of data.
std::vector<uint8_t> RarStart(uint8_t type, uint32_t dataSize) {
  std::vector<uint8_t> b(18, 0);
  std::copy_n("Rar!\x1A\x07\x00", 7, b.begin());
  b[9] = type;
  test::PutLe(b, 10, 0x8000, 2);
  test::PutLe(b, 12, 11, 2);
  test::PutLe(b, 14, dataSize, 4);
  return b;
}

// RAR 5: the marker, a main header, then a file header (13 bytes) whose 499 bytes of data
// end on the next sector's file header; every CRC is right.
std::vector<uint8_t> Rar5Chain() {
  auto header = [](std::vector<uint8_t> fields) {
    std::vector<uint8_t> h = test::Cat({{0, 0, 0, 0, static_cast<uint8_t>(fields.size())}, fields});
    test::PutLe(h, 0, crc32(0, h.data() + 4, static_cast<uInt>(h.size() - 4)), 4);
    return h;
  };
  return test::Cat({Bytes(std::string_view("Rar!\x1A\x07\x01\x00", 8)), header({1, 0, 0}),
                    header({2, 2, 0xF3, 0x03, 0, 0, 0, 1})});
}

// Matroska written as a stream: an EBML header, a segment of unknown size, then a Void
// element (3-byte header, 509 bytes) that ends on the next sector's Void; never a cluster.
const std::string_view kMatroskaPadding(
    "\x1A\x45\xDF\xA3\x8F\x42\x86\x81\x01\x42\x82\x88matroska"
    "\x18\x53\x80\x67\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xEC\x41\xFD", 35);

// The same piece at the start of every `unitSectors` sectors; the sector `claimedAt` of each
// unit, when given, belongs to another file.
struct HostileKind {
  const char* name;
  int64_t unitSectors;
  std::vector<uint8_t> piece;
  int64_t claimedAt = -1;
};

// Tables addressed from the start that name sectors (OLE) or data (TIFF) further and further
// away, 1, 2, 4 ... 128 MiB, the last beyond the medium: a walk that copies up to each goes
// to the medium's end before it fails.
std::vector<uint8_t> OleFarTables() {
  std::vector<uint8_t> h(512, 0xFF);
  std::copy_n("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8, h.begin());
  test::PutLe(h, 28, 0x0009FFFE, 4);
  test::PutLe(h, 68, 0xFFFFFFFE, 4);  // no DIFAT chain
  for (int k = 0; k <= 18; ++k) test::PutLe(h, 76 + 4 * k, (1u << k) - 1, 4);  // FAT sectors
  return h;
}
std::vector<uint8_t> TiffFarTexts() {
  std::vector<uint8_t> h = {'I', 'I', 42, 0, 8, 0, 0, 0, 19, 0};
  for (int k = 9; k <= 27; ++k) {  // date texts the walk reads until one parses
    std::vector<uint8_t> entry(12, 0);
    test::PutLe(entry, 0, 306, 2);
    test::PutLe(entry, 2, 2, 2);
    test::PutLe(entry, 4, 20, 4);
    test::PutLe(entry, 8, 1u << k, 4);
    h = test::Cat({h, entry});
  }
  return test::Cat({h, std::vector<uint8_t>(4, 0)});
}

std::vector<uint8_t> TsPacketHeads() {
  std::vector<uint8_t> b(512, 0);
  for (size_t p : {0, 188, 376}) b[p] = 0x47;
  return b;
}

std::vector<HostileKind> HostileKinds() {
  std::vector<uint8_t> asf(24, 0);
  std::copy_n("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16, asf.begin());
  test::PutLe(asf, 16, 512, 8);  // header objects chained sector after sector, no data object
  return {
      {"JPEG start of scan, no end", 1, {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x02}},
      // A tEXt chunk whose data runs over the next sector's signature into its own chunk.
      {"PNG tEXt chain, no IEND", 1, test::Cat({Bytes("\x89PNG\r\n\x1A\n"), Be32(500), Bytes("tEXt")})},
      {"ASF header objects, no data object", 1, asf},
      // An archive header whose data area ends on the next sector's archive header.
      {"RAR archive headers, no end block", 1, RarStart(0x73, 501)},
      {"RAR 5 file headers, no end header", 1, Rar5Chain()},
      {"Matroska stream of padding, no cluster", 1, Bytes(kMatroskaPadding)},
      {"PDF, no trailer", 8, Bytes("%PDF-1.4\n")},
      {"streamed ZIP member, no descriptor", 8, StreamedZipHeader("a.txt")},
      {"OOXML streamed member, no descriptor", 8, StreamedZipHeader("_rels/.rels")},
      {"X3F, no directory", 8, Bytes("FOVb")},
      {"OLE tables far away", 128, OleFarTables()},
      {"TIFF texts far away", 128, TiffFarTexts()},
      {"OLE tables far away, other files between", 128, OleFarTables(), 64},
      {"TIFF texts far away, other files between", 128, TiffFarTexts(), 64},
      // A file type box, then a free box that ends on the next sector's free box.
      // A JUNK chunk that ends on the next sector's JUNK chunk; the last runs past the range.
      {"AVI JUNK chunks past the range", 1, test::Cat({Bytes("RIFF"), Be32(0), Bytes("AVI JUNK"), {0xF8, 1, 0, 0}})},
      {"MP4 free boxes, no movie", 1, test::Cat({Be32(16), Bytes("ftypisom"), Be32(0), Be32(512), Bytes("free")})},
      // Three transport packets begin every sector; the third runs into the next, unpacketed.
      {"transport packets in every sector", 1, TsPacketHeads()},
  };
}

// Sectors read or claimed by the recognisers over a whole scan of `sectors` sectors of the kind.
int64_t Work(const HostileKind& kind, int64_t sectors, bool claimOnly) {
  test::RawCard card(sectors);
  for (int64_t s = 0; s < sectors; s += kind.unitSectors) card.Place(kind.piece, s);
  if (claimOnly) card.setup.Options.TypeMask = 0;
  if (kind.claimedAt >= 0)
    for (int64_t s = kind.claimedAt; s < sectors; s += kind.unitSectors) card.Context().SectorMap.ClaimSector(s);
  card.RunAll();
  return card.Context().SectorsWorked;
}

TEST(HostileGrowth, EveryRecogniserWorksInTimeLinearInTheMedium) {
  constexpr int64_t kSectors = 2048;
  for (const HostileKind& kind : HostileKinds()) {
    for (bool claimOnly : {false, true}) {
      SCOPED_TRACE(std::string(kind.name) + (claimOnly ? ", claim-only" : ", written"));
      const int64_t once = Work(kind, kSectors, claimOnly), twice = Work(kind, 2 * kSectors, claimOnly);
      // Twice the work, give or take a pass over the medium (about four times when quadratic).
      EXPECT_LE(twice, 2 * once + 2 * kSectors) << once << " sectors, then " << twice;
    }
  }
}

// The copies made ahead measure every file the search finds on the same media, from the
// source, before the recovery pass: their reads grow with the medium too.
TEST(HostileGrowth, CopiesAheadMeasureFilesInTimeLinearInTheMedium) {
  constexpr int64_t kSectors = 2048;
  auto reads = [](const HostileKind& kind, auto lengthOf, int64_t sectors) {  // bytes read
    test::RawCard card(sectors);
    for (int64_t s = 0; s < sectors; s += kind.unitSectors) card.Place(kind.piece, s);
    card.ContextOverImageFile();
    test::CountingSource counting(*card.fileSource);
    CopiesAhead copies(counting, card.setup.Options.OutputFolder, 1);
    for (int64_t s = 0; s < sectors; s += kind.unitSectors) {
      copies.Offer(s * 512, (sectors - s) * 512, lengthOf);
      copies.Settle();
    }
    return counting.bytes;
  };
  for (const HostileKind& kind : HostileKinds()) {
    std::vector<uint8_t> sector(512, 0);
    std::copy(kind.piece.begin(), kind.piece.begin() + std::min<size_t>(kind.piece.size(), 512), sector.begin());
    const uint8_t type = ClassifySector(sector.data(), 512, TCameraMode{});
    const StatedLength lengthOf = DefaultRecognisers().CopyAhead[type];
    const WalkedLength walk = DefaultRecognisers().WalkAhead[type];
    SCOPED_TRACE(kind.name);
    if (lengthOf) {
      const int64_t once = reads(kind, lengthOf, kSectors), twice = reads(kind, lengthOf, 2 * kSectors);
      EXPECT_LE(twice, 2 * once + 2 * kSectors * 512) << once << " bytes read, then " << twice;
    }
    if (walk) {
      const int64_t once = reads(kind, walk, kSectors), twice = reads(kind, walk, 2 * kSectors);
      EXPECT_LE(twice, 2 * once + 2 * kSectors * 512) << once << " bytes read, then " << twice;
    }
  }
}

// Cards of PNG chain pieces (each runs into the next sector's chunk), pieces whose chain
// ends there with an IEND, and junk, recognised from the highest start down with sectors
// committed to other files in between: every outcome is the one a scan that remembers
// nothing gets.
TEST(HostileGrowth, WhatFailedWalksLeaveBehindNeverChangesAnOutcome) {
  const auto chain = HostileKinds()[1].piece;
  std::vector<uint8_t> end = test::Cat({Bytes("\x89PNG\r\n\x1A\n"), Be32(0), Bytes("IEND")});
  std::mt19937 rng(21);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const int64_t n = 300;
    test::RawCard card(n);
    std::vector<int64_t> steps;  // a start sector, or -1 - the first of 3 sectors committed elsewhere
    for (int64_t s = 0; s < n; ++s) {
      const unsigned kind = rng() % 10;
      if (kind < 6) card.Place(chain, s);
      else if (kind < 7) card.Place(end, s);
      if (kind < 7) steps.insert(steps.begin(), s);
      if (rng() % 8 == 0) steps.insert(steps.begin() + static_cast<long>(rng() % (steps.size() + 1)), -1 - static_cast<int64_t>(rng() % n));
    }
    if (round == 0) {  // a chain broken by junk that a file committed later takes away
      std::fill(card.image.begin(), card.image.end(), 0);
      for (int64_t s : {0, 1, 2, 3, 4, 6, 7, 8}) card.Place(chain, s);
      card.Place(end, 9);
      steps = {4, -1 - 5, 3};
    }
    std::vector<std::vector<int64_t>> claims[2];
    for (bool forget : {false, true}) {
      test::RawCard run(n);
      run.image = card.image;
      ScanContext& scan = run.Context();
      for (int64_t step : steps) {
        if (step < 0) {
          scan.SectorMap.ClaimSectorRun(-1 - step, 3);
          scan.DeadEnds.ForgetWalksOver(-1 - step, -1 - step + 2, 512);
          continue;
        }
        if (forget) scan.ForgetRecogniserMemos();
        RecoverPng(scan, "", step * 512);
        claims[forget].push_back(run.ClaimedSectors());
      }
    }
    EXPECT_EQ(claims[0], claims[1]);
  }
}

// Stray streamed ZIP and CorelDRAW headers, an MP4 whose 1.5 MiB free box runs into junk and
// a RAR archive whose second block does, above a real video, on an output drive that holds
// 64 KiB: no candidate writes anything, so the video comes back and nothing is reported lost.
TEST(HostileGrowth, ARejectedCandidateWritesNothing) {
  test::TempDir dir;
  const auto video = Sample("mp4/mp42.mp4");
  auto rar = test::Cat({RarStart(0x73, 0), RarStart(0x74, 3 << 20)});
  rar.erase(rar.begin() + 18, rar.begin() + 25);  // the second block follows the first
  const auto mp4 = test::Cat({Be32(16), Bytes("ftypisom"), Be32(0), Be32(3 << 19), Bytes("free")});
  test::WriteFileBytes(dir / "card.img", CardWith({{100, video}, {2000, StreamedZipHeader("a.txt")},
                                                   {4000, StreamedZipHeader("content/riffData.cdr")}, {5500, mp4}, {9000, rar}},
                                                  16384));
  fs::create_directory(dir / "out");
  for (const char* mode : {"abort", "ignore"}) {
    SCOPED_TRACE(mode);
    auto r = Morvane("scan -q --on-write-error " + std::string(mode) + " " + Q(dir / "card.img") + " -o " + Q(dir / "out"),
                     60, "trap '' XFSZ; ulimit -f 64;");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(test::ReadFileBytes(dir / "out/TEST_AAAAAADW.MP4"), video);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), {}), 1);
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
  }
}

}  // namespace
}  // namespace morvane::hostile
