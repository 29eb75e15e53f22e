// RAR, CAB and 7z archives: real archives byte for byte, and constructed ones whose
// layout is written out below.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/documents/rar.h"
#include "formats/documents/sized_archives.h"
#include "formats/raw_card.h"
#include "scan/file_type_id.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("archives/" + name)); }

void PutLe(Bytes& b, size_t at, uint64_t v, int width) {
  for (int i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

struct ArchiveCard : test::RawCard {
  using RawCard::RawCard;
  using Recogniser = int (*)(ScanContext&, const std::string&, int64_t);
  void Recover(Recogniser recover, int64_t sector, bool selected = true) {
    recover(Context(), selected ? setup.Options.OutputFolder : std::string(), sector * 512);
  }
  Bytes Written(int64_t sector, const std::string& ext) const { return test::ReadFileBytes(File(sector, ext)); }
};

// --- RAR ----------------------------------------------------------------------------------

// A block header: checksum (2, not checked), type, flags (2), header size (2), then with
// flag 0x8000 the 32-bit data size; the header is padded with zeros to its size.
Bytes RarBlock(uint8_t type, uint16_t flags, uint16_t headerSize, uint32_t dataSize = 0, size_t dataBytes = 0) {
  // A header size below the fixed fields still gets them written.
  const size_t fixed = (flags & 0x8000) ? 11 : 7;
  Bytes b(std::max<size_t>(headerSize, fixed), 0);
  b[2] = type;
  PutLe(b, 3, flags, 2);
  PutLe(b, 5, headerSize, 2);
  if (flags & 0x8000) PutLe(b, 7, dataSize, 4);
  b.resize(b.size() + dataBytes, 0xA5);
  return b;
}

Bytes RarArchive(const std::vector<Bytes>& blocks) {
  Bytes a = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  for (const auto& b : blocks) a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kMainHeader = RarBlock(0x73, 0, 13);
const Bytes kEnd = RarBlock(0x7B, 0x4000, 7);

TEST(RecoverRar, ArchivesWrittenByRarComeBackByteForByte) {
  // Stored and compressed members, encrypted data, Unicode names, directory entries and a
  // service sub-block; the archive with encrypted headers cannot be walked.
  const std::vector<std::string> names = {"rar.rar", "rar_compress_normal.rar", "rar_windows.rar",
                                          "rar4_encrypted.rar", "rar_subblock.rar", "rar_unicode.rar"};
  ArchiveCard t(120, 1, true);
  std::vector<Bytes> files;
  for (const auto& n : names) files.push_back(Sample(n));
  const std::vector<int64_t> starts = t.PlaceInRow(files, 2, 2);
  const int64_t at = starts.back() + Sectors(files.back().size()) + 2;
  t.Place(Sample("rar_encryption_header.rar"), at);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(t.Written(starts[i], ".RAR"), Sample(names[i])) << names[i];
    EXPECT_EQ(t.Stated(ftRar, starts[i]), static_cast<int64_t>(files[i].size())) << names[i];  // a copy made ahead
  }
  EXPECT_EQ(t.Stated(ftRar, at), 0);
  EXPECT_FALSE(t.Claimed(at));
  EXPECT_EQ(t.Files().size(), names.size());
}

TEST(RecoverRar, AroundClaimedSectorsAndPastTheEndOfTheRange) {
  const Bytes rar = Sample("rar_compress_normal.rar");
  const int64_t n = Sectors(rar.size());
  for (bool selected : {true, false}) {
    ArchiveCard t(n + 12);
    std::vector<int64_t> sectors = test::SectorRunOf(1, 5);
    for (int64_t s = 10; s < 10 + n - 5; ++s) sectors.push_back(s);
    t.Place(rar, sectors);
    for (int64_t s = 6; s < 10; ++s) t.Context().SectorMap.ClaimSector(s);
    t.Recover(RecoverRar, 1, selected);
    EXPECT_EQ(t.ClaimedCount(), n + 4);
    if (selected) {
      EXPECT_EQ(t.Written(1, ".RAR"), rar);
    }
  }
  // A member whose data runs past the last sector fails the archive: nothing stays
  // claimed and no partial file is left.
  const Bytes cut = RarArchive({kMainHeader, RarBlock(0x74, 0x8000, 32, 4000, 4000), kEnd});
  for (bool selected : {true, false}) {
    ArchiveCard t(12);
    t.Place(cut, 0);
    t.setup.LastSector = 5;
    t.Recover(RecoverRar, 0, selected);
    EXPECT_EQ(t.Stated(ftRar, 0), 0);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_TRUE(t.Files().empty());
  }
}

TEST(RecoverRar, BlocksThatEndTheWalk) {
  const Bytes member = RarBlock(0x74, 0x8000, 32, 700, 700);
  {
    const Bytes good = RarArchive({kMainHeader, member, kEnd});
    ArchiveCard t(8);
    t.Place(good, 1);
    t.Recover(RecoverRar, 1);
    EXPECT_EQ(t.Written(1, ".RAR"), good);  // exactly up to the end of the end-of-archive block
  }
  const std::vector<std::pair<const char*, Bytes>> bad = {
      {"header size 0", RarArchive({kMainHeader, RarBlock(0x75, 0, 0), kEnd})},
      // Stepping by its 5 bytes would land on an end block made of the size field and the
      // five bytes after it: 05 00 | 7B 00 40 07 00.
      {"header size below the fixed header", RarArchive({kMainHeader, RarBlock(0x75, 0, 5), {0x7B, 0x00, 0x40, 0x07, 0x00}})},
      {"data size flag with a 9-byte header", RarArchive({kMainHeader, RarBlock(0x74, 0x8000, 9, 20, 20), kEnd})},
      {"marker type after the marker", RarArchive({RarBlock(0x72, 0, 7), kMainHeader, kEnd})},
      {"type beyond the end block", RarArchive({kMainHeader, RarBlock(0x7C, 0, 7), kEnd})},
      {"large member flag with a short header", RarArchive({kMainHeader, RarBlock(0x74, 0x8100, 32, 10, 10), kEnd})},
      {"no end block", RarArchive({kMainHeader, member})},
  };
  for (const auto& [what, rar] : bad) {
    ArchiveCard t(8);
    t.Place(rar, 1);
    t.Recover(RecoverRar, 1);
    EXPECT_EQ(t.Stated(ftRar, 1), 0) << what;
    EXPECT_EQ(t.ClaimedCount(), 0) << what;
    EXPECT_TRUE(t.Files().empty()) << what;
  }
}

// --- RAR 5 --------------------------------------------------------------------------------

Bytes Vint(uint64_t v) {
  Bytes b;
  do {
    b.push_back(static_cast<uint8_t>((v & 0x7F) | (v > 0x7F ? 0x80 : 0)));
    v >>= 7;
  } while (v);
  return b;
}

// A header: CRC-32 of what follows it, size, type, flags, then `rest` (the extra-area and
// data sizes as the flags say, and the fields of the type); then dataBytes of data.
Bytes Rar5Header(uint64_t type, uint64_t flags, const Bytes& rest = {}, size_t dataBytes = 0) {
  const Bytes fields = test::Cat({Vint(type), Vint(flags), rest});
  Bytes h = test::Cat({{0, 0, 0, 0}, Vint(fields.size()), fields});
  PutLe(h, 0, crc32(0, h.data() + 4, static_cast<uInt>(h.size() - 4)), 4);
  h.resize(h.size() + dataBytes, 0x5A);
  return h;
}

Bytes Rar5Archive(const std::vector<Bytes>& headers) {
  Bytes a = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};
  for (const auto& h : headers) a.insert(a.end(), h.begin(), h.end());
  return a;
}

const Bytes kRar5Main = Rar5Header(1, 0, {0});
const Bytes kRar5End = Rar5Header(5, 0, {0});
Bytes Rar5File(size_t dataBytes) { return Rar5Header(2, 2, test::Cat({Vint(dataBytes), {0, 0, 0, 1, 'a'}}), dataBytes); }

const std::vector<std::string> kRar5Samples = {
    "rar5_arm.rar",     "rar5_compressed.rar",       "rar5_encrypted.rar", "rar5_multiple_files.rar", "rar5_solid.rar",
    "rar5_stored_manyfiles.rar", "rar5_unicode.rar", "rar5_win32.rar",     "rar5_zip_in_rar.rar"};

TEST(RecoverRar5, ArchivesWrittenByRarComeBackByteForByte) {
  // Stored, compressed, solid and encrypted members, a service header, Unicode names and a
  // ZIP stored inside, on random bytes; claim-only takes the same sectors.
  std::vector<Bytes> files;
  for (const auto& n : kRar5Samples) files.push_back(Sample(n));
  std::vector<int64_t> claimed[2];
  for (bool selected : {true, false}) {
    ArchiveCard t(200, 1, true);
    const std::vector<int64_t> starts = t.PlaceInRow(files, 2, 3);
    for (int64_t s : starts) t.Recover(RecoverRar, s, selected);
    claimed[selected] = t.ClaimedSectors();
    if (!selected) continue;
    for (size_t i = 0; i < files.size(); ++i) {
      EXPECT_EQ(t.Written(starts[i], ".RAR"), files[i]) << kRar5Samples[i];
      EXPECT_EQ(t.Stated(ftRar5, starts[i]), static_cast<int64_t>(files[i].size())) << kRar5Samples[i];
    }
    EXPECT_EQ(t.Files().size(), files.size());
  }
  EXPECT_EQ(claimed[0], claimed[1]);
}

TEST(RecoverRar5, AroundClaimedSectorsAndAtTheEndOfTheRange) {
  const Bytes rar = Sample("rar5_arm.rar");
  const int64_t n = Sectors(rar.size());
  // Five sectors, four sectors of another file, the rest; the range ends with the archive's
  // last sector, and then one sector earlier (nothing is kept then).
  for (int64_t cut : {0, 1}) {
    for (bool selected : {true, false}) {
      ArchiveCard t(n + 12, 1, true);
      std::vector<int64_t> sectors = test::SectorRunOf(1, 5);
      for (int64_t s = 10; s < 10 + n - 5; ++s) sectors.push_back(s);
      t.Place(rar, sectors);
      t.setup.LastSector = sectors.back() - cut;
      for (int64_t s = 6; s < 10; ++s) t.Context().SectorMap.ClaimSector(s);
      t.Recover(RecoverRar, 1, selected);
      EXPECT_EQ(t.ClaimedCount(), cut ? 4 : n + 4);
      if (selected && !cut) {
        EXPECT_EQ(t.Written(1, ".RAR"), rar);
      } else {
        EXPECT_TRUE(t.Files().empty());
      }
    }
  }
}

TEST(RecoverRar5, HeadersThatEndTheWalk) {
  const Bytes good = Rar5Archive({kRar5Main, Rar5File(700), kRar5End});
  {
    ArchiveCard t(8, 1, true);
    t.Place(good, 1);
    t.Recover(RecoverRar, 1);
    EXPECT_EQ(t.Written(1, ".RAR"), good);
  }
  Bytes badCrc = good;
  badCrc[8 + kRar5Main.size() + 13] ^= 1;  // the file header's name
  const Bytes longVint(10, 0xFF);
  Bytes sizeOfFourBytes = Rar5Archive({kRar5Main});
  sizeOfFourBytes.insert(sizeOfFourBytes.end(), {0, 0, 0, 0, 0x83, 0x80, 0x80, 0x00, 5, 0, 0});
  const std::vector<std::pair<const char*, Bytes>> bad = {
      {"CRC that does not match", badCrc},
      {"encrypted headers", Rar5Archive({Rar5Header(4, 0, {0, 0, 0x10}), kRar5Main, kRar5End})},
      {"file header before the main header", Rar5Archive({Rar5File(10), kRar5Main, kRar5End})},
      {"data size of eleven bytes", Rar5Archive({kRar5Main, Rar5Header(2, 2, test::Cat({longVint, {1}})), kRar5End})},
      {"data size of bit 64 alone (0 if it wrapped)", Rar5Archive({kRar5Main, Rar5Header(2, 2, test::Cat({Bytes(9, 0x80), {2}})), kRar5End})},
      {"header size field of four bytes", sizeOfFourBytes},
      {"unknown header type", Rar5Archive({kRar5Main, Rar5Header(6, 0), kRar5End})},
      {"no end header", Rar5Archive({kRar5Main, Rar5File(700)})},
  };
  for (const auto& [what, rar] : bad) {
    ArchiveCard t(8);
    t.Place(rar, 1);
    t.Recover(RecoverRar, 1);
    EXPECT_EQ(t.Stated(ftRar5, 1), 0) << what;
    EXPECT_EQ(t.ClaimedCount(), 0) << what;
    EXPECT_TRUE(t.Files().empty()) << what;
  }
}

TEST(RecoverRar, MemberLargerThanFourGibibytesIsClaimedWithoutBeingRead) {
  // RAR 4: marker, main header, a file block of 47 header bytes with flag 0x100: packed
  // size low half at 7 = 0x1234, high half at 32 = 1 (so 4 GiB + 0x1234 bytes of data), name
  // of 7 bytes at 40; then the end block. RAR 5: the same data size as a vint. A sparse image
  // of 4 KiB sectors holds each (fewer sectors to claim keep the test quick also under the
  // sanitizers).
  const int64_t dataBytes = (int64_t{1} << 32) + 0x1234;
  Bytes file = RarBlock(0x74, 0x8100, 47, 0x1234);
  PutLe(file, 26, 7, 2);
  PutLe(file, 32, 1, 4);
  std::copy_n("big.bin", 7, file.begin() + 40);
  const Bytes rar5File = Rar5Header(2, 2, test::Cat({Vint(dataBytes), {0, 0, 0, 1, 'a'}}));
  for (const auto& [head, end] : {std::pair{RarArchive({kMainHeader, file}), kEnd},
                                  std::pair{Rar5Archive({kRar5Main, rar5File}), kRar5End}}) {
    const int64_t endAt = static_cast<int64_t>(head.size()) + dataBytes;
    test::SparseCard card(int64_t{5} << 30, {{0, head}, {endAt, end}}, 4096);
    ScanContext* scan = card.Context();
    ASSERT_TRUE(scan);
    RecoverRar(*scan, "", 0);
    EXPECT_EQ(card.Claimed(), Sectors(static_cast<size_t>(endAt) + end.size(), 4096));
    EXPECT_EQ(RarStatedLength(*card.counting, 0, int64_t{5} << 30), endAt + static_cast<int64_t>(end.size()));
    EXPECT_LE(card.counting->bytes, 4 * 0x10000);
  }
}

// --- CAB and 7z -------------------------------------------------------------------------

TEST(RecoverSizedArchives, ArchivesOf7ZipAndGcabComeBackByteForByte) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"solid_hc.7z", ".7Z"}, {"nonsolid_nohc.7z", ".7Z"}, {"nonsolid_hc.7z", ".7Z"},
      {"stored.cab", ".CAB"}, {"mszip.cab", ".CAB"}};
  ArchiveCard t(300, 1, true);
  std::vector<Bytes> files;
  for (const auto& [n, ext] : names) files.push_back(Sample(n));
  const std::vector<int64_t> starts = t.PlaceInRow(files, 3, 5);
  const ScanReport r = t.RunAll();
  EXPECT_EQ(r.RecoveredCount, static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string file = t.File(starts[i], names[i].second);
    EXPECT_EQ(test::ReadFileBytes(file), Sample(names[i].first)) << names[i].first;
    EXPECT_EQ(t.Stated(names[i].second == ".7Z" ? ft7z : ftCab, starts[i]), static_cast<int64_t>(files[i].size()));
    // The archivers themselves accept what came back.
    const std::string check = names[i].second == ".7Z" ? "7z" : "gcab";
    if (test::HaveTool(check)) {
      EXPECT_EQ(test::Run(check + (check == "7z" ? " t " : " -l ") + file + " >/dev/null"), 0);
    }
  }
}

TEST(RecoverSizedArchives, CutByTheEndOfTheRangeTheRestIsZeros) {
  const Bytes sevenZip = Sample("solid_hc.7z");
  const Bytes cab = Sample("mszip.cab");
  for (const auto& [bytes, ext] : {std::pair{sevenZip, ".7Z"}, std::pair{cab, ".CAB"}}) {
    const int64_t n = Sectors(bytes.size());
    for (bool selected : {true, false}) {
      ArchiveCard t(n + 4);
      // Sectors 4..6 belong to another file; the range ends 6 sectors before the archive does.
      std::vector<int64_t> sectors = test::SectorRunOf(0, 4);
      for (int64_t s = 7; s < n + 3; ++s) sectors.push_back(s);
      t.Place(bytes, sectors);
      t.setup.LastSector = n - 4;
      for (int64_t s = 4; s < 7; ++s) t.Context().SectorMap.ClaimSector(s);
      t.Recover(std::string(ext) == ".7Z" ? Recover7z : RecoverCab, 0, selected);
      EXPECT_EQ(t.ClaimedCount(), n - 3);  // every sector up to the end of the range
      EXPECT_EQ(t.Stated(std::string(ext) == ".7Z" ? ft7z : ftCab, 0), (n - 3) * 512);  // so far a copy made ahead
      if (!selected) {
        EXPECT_TRUE(t.Files().empty());
        continue;
      }
      const Bytes written = t.Written(0, ext);
      ASSERT_EQ(written.size(), bytes.size());
      const size_t copied = static_cast<size_t>(n - 6) * 512;
      EXPECT_TRUE(std::equal(written.begin(), written.begin() + copied, bytes.begin()));
      EXPECT_TRUE(std::all_of(written.begin() + copied, written.end(), [](uint8_t b) { return b == 0; }));
    }
  }
}

TEST(RecoverSizedArchives, LengthsFromTheStartHeader) {
  auto sevenZip = [](uint64_t offset, uint64_t size) {
    Bytes b = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x03};
    b.resize(512, 0x11);
    PutLe(b, 12, offset, 8);
    PutLe(b, 20, size, 8);
    return b;
  };
  auto cabinet = [](uint32_t size) {
    Bytes b = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
    b.resize(512, 0x22);
    PutLe(b, 8, size, 4);
    PutLe(b, 24, 0x0103, 2);
    return b;
  };
  EXPECT_EQ(SevenZipLength(ByteView(sevenZip(1000, 100).data(), 512)), 1132);
  EXPECT_EQ(SevenZipLength(ByteView(sevenZip(kMax7zBytes - 32, 0).data(), 512)), kMax7zBytes);
  EXPECT_EQ(CabinetLength(ByteView(cabinet(36).data(), 512)), 36);
  {  // 1132 bytes: three sectors, the rest of the third cut off.
    ArchiveCard t(10, 1, true);
    t.Place(sevenZip(1000, 100), 2);
    t.Recover(Recover7z, 2);
    const Bytes written = t.Written(2, ".7Z");
    EXPECT_EQ(written.size(), 1132u);
    EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{2, 3, 4}));
  }
  {  // A cabinet smaller than a sector: nothing beyond its start sector is claimed.
    ArchiveCard t(10);
    const Bytes cab = cabinet(300);
    t.Place(cab, 2);
    t.Recover(RecoverCab, 2);
    EXPECT_EQ(t.Written(2, ".CAB"), Bytes(cab.begin(), cab.begin() + 300));
    EXPECT_EQ(t.ClaimedSectors(), (std::vector<int64_t>{2}));
  }
  // Lengths over 20 GiB, parts that would wrap a signed sum, and cabinets shorter than
  // their own header fail and leave their start sector free.
  const std::vector<Bytes> bad = {sevenZip(kMax7zBytes - 31, 0), sevenZip(uint64_t{1} << 63, uint64_t{1} << 63),
                                  sevenZip(0, ~uint64_t{0}), cabinet(0), cabinet(35)};
  for (const Bytes& b : bad) {
    ArchiveCard t(10);
    t.Place(b, 2);
    t.Recover(b[0] == '7' ? Recover7z : RecoverCab, 2);
    EXPECT_EQ(t.ClaimedCount(), 0);
    EXPECT_TRUE(t.Files().empty());
  }
}

struct KeptFiles : ScanObserver {
  void OnFileRecovered(const RecoveredFileInfo& f) override { files.push_back(f); }
  std::vector<RecoveredFileInfo> files;
};

// A header declaring more than the whole medium holds is no archive: on a 1 MiB card a
// 4 GiB cabinet and a 20 GiB 7z used to be written at those lengths and, only claimed,
// hid the video behind them; an ASF file of 4 GiB claimed everything to the end. WAVE, AVI
// and MP4 headers whose chunk or box runs far past the medium are no files either. One that
// runs past the medium's end is cut there, and the zeros and the declared length are
// reported with the file.
TEST(RecoverSizedArchives, NoArchiveIsLongerThanTheMedium) {
  Bytes cab = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
  cab.resize(512, 0);
  PutLe(cab, 8, 0xFFFFFF00u, 4);
  Bytes sevenZip = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04};
  sevenZip.resize(512, 0);
  PutLe(sevenZip, 12, kMax7zBytes - 32, 8);
  Bytes asf(512, 0);  // a header object, then the file properties object stating the file size
  std::copy_n("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16, asf.begin());
  std::copy_n("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16, asf.begin() + 30);
  PutLe(asf, 16, 134, 8);
  PutLe(asf, 46, 104, 8);
  PutLe(asf, 70, uint64_t{1} << 32, 8);
  const auto riff = [](const char* form, const char* chunk) {
    Bytes b = test::Cat({Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0xF0}, Bytes(form, form + 4), Bytes(chunk, chunk + 4)});
    return test::Cat({b, Bytes{0, 0, 0, 0xF0}});
  };
  const Bytes mp4 = {0, 0, 0, 16, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 0, 0,
                     0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 1, 0, 0, 0, 0};
  const Bytes ts = test::ReadFileBytes(test::DataPath("mpeg/plain.ts"));
  for (uint32_t types : {kAllTypesMask, kTypeTs}) {
    ArchiveCard t(2048);
    t.Place(cab, 10);
    t.Place(sevenZip, 20);
    t.Place(asf, 30);
    t.Place(riff("WAVE", "data"), 40);
    t.Place(riff("AVI ", "LIST"), 50);
    t.Place(mp4, 60);
    t.Place(ts, 100);
    t.setup.Options.TypeMask = types;
    t.RunAll();
    EXPECT_EQ(t.Files(), std::vector<std::string>{"TEST_AAAAAADW.TS"}) << types;
  }
  // 40 sectors declared 20 sectors before the medium's end, the range ending 10 sectors
  // before it: 10 sectors copied, 10 of zeros, and no more.
  cab = test::Cat({cab, Bytes(39 * 512, 0x5A)});
  PutLe(cab, 8, 40 * 512, 4);
  ArchiveCard t(100);
  KeptFiles seen;
  t.observer = &seen;
  t.Place(Bytes(cab.begin(), cab.begin() + 20 * 512), 80);
  t.setup.LastSector = 89;
  t.Recover(RecoverCab, 80);
  ASSERT_EQ(seen.files.size(), 1u);
  EXPECT_EQ(seen.files[0].Length, 20 * 512);
  EXPECT_EQ(seen.files[0].ZeroFilled, 10 * 512);
  EXPECT_EQ(seen.files[0].DeclaredLength, 40 * 512);
  const Bytes written = t.Written(80, ".CAB");
  ASSERT_EQ(written.size(), 20u * 512);
  EXPECT_TRUE(std::equal(written.begin(), written.begin() + 10 * 512, cab.begin()));
  EXPECT_EQ(std::count(written.begin() + 10 * 512, written.end(), 0), 10 * 512);
}

TEST(RecoverSizedArchives, ClaimOnlyReadsOnlyTheStartSector) {
  Bytes head = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x03};
  head.resize(512, 0);
  PutLe(head, 12, 3 << 20, 8);
  ArchiveCard t(8 << 11);
  t.Place(head, 0);
  t.Context();
  const uint64_t before = t.source->ReadCalls();
  t.Recover(Recover7z, 0, false);
  EXPECT_EQ(t.ClaimedCount(), Sectors((3 << 20) + 32));
  EXPECT_LE(t.source->ReadCalls() - before, 2u);  // the start and the sector holding the last bytes
}

}  // namespace
}  // namespace morvane
