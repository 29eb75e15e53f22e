#include "scan/classifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace morvane {
namespace {

using namespace std::string_view_literals;

// A sector built field by field, classified from an exactly-sized heap buffer so that the
// address sanitizer catches any read past its end.
struct Sector {
  explicit Sector(size_t size = 512) : bytes(size, 0) {}
  Sector& Put(size_t off, std::string_view text) {
    std::memcpy(&bytes.at(off), text.data(), text.size());
    return *this;
  }
  Sector& Le(size_t off, uint32_t v, int width = 4) {
    for (int i = 0; i < width; ++i) bytes.at(off + i) = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  Sector& Be32(size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.at(off + i) = static_cast<uint8_t>(v >> (24 - 8 * i));
    return *this;
  }
  int Classify(const TCameraMode& mode = {}) const {
    return ClassifySector(bytes.data(), static_cast<uint32_t>(bytes.size()), mode);
  }
  std::vector<uint8_t> bytes;
};

constexpr uint16_t FatDate(int year, int month, int day) {
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

// One directory entry: the 8.3 name without the dot, attributes, write date and size.
Sector& PutDirEntry(Sector& s, size_t index, std::string_view name11, uint8_t attributes = 0x20,
                    uint16_t date = FatDate(2009, 5, 1), uint32_t size = 1234) {
  s.Put(32 * index, name11).Le(32 * index + 24, date, 2).Le(32 * index + 28, size);
  s.bytes.at(32 * index + 11) = attributes;
  return s;
}

TEST(ClassifySector, StartSignatures) {
  const std::string_view asf = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C"sv;
  const std::string_view asfFileProperties = "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65"sv;
  // A ZIP's first local header whose name is 8 bytes long, stored, then deflated.
  std::string storedName8(30, '\0');
  storedName8.replace(0, 4, "PK\x03\x04");
  storedName8[26] = 8;
  std::string deflatedName8 = storedName8;
  deflatedName8[8] = 8;
  struct Case { std::string_view at0; size_t off; std::string_view atOff; int expected; };
  const Case cases[] = {
      {"\xFF\xD8\xFF\xE0", 0, "", ftJpegApp}, {"\xFF\xD8\xFF\xE1", 0, "", ftJpegApp},
      {"\xFF\xD8\xFF\xDB", 0, "", ftJpegOther}, {"\xFF\xD8\xFE", 0, "", ftNone},
      {"GIF89a", 0, "", ftGif}, {"GIF87a", 0, "", ftNone}, {"BM\x36\x10\x0E", 0, "", ftBmp},
      {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 0, "", ftOle},
      {"\x00\x01\x00\x00", 4, "Standard Jet DB", ftJetDb},
      {"RIFF", 4, "Standard Jet DB", ftJetDb},  // the database test comes first
      {"RIFF", 8, "AVI ", ftRiffAvi}, {"RIFF", 8, "CDXA", ftRiffCdxa}, {"RIFF", 8, "WAVE", ftRiffWave},
      {"RIFF", 8, "ACON", ftRiffAcon}, {"RIFF", 8, "CDR5", ftRiffCdr}, {"RIFF", 8, "cDr9", ftRiffCdr},
      {"RIFF", 8, "avi ", ftNone}, {"RIFF", 8, "CDQ5", ftNone},
      {asf, 30, asfFileProperties, ftAsfFileProperties}, {asf, 31, asfFileProperties, ftAsfOther},
      {"\0\0\0\x18"sv, 4, "ftyp3gp4", ft3gp}, {"\0\0\0\x20"sv, 4, "ftypmp42", ftMp4},
      {"\0\0\0\x14"sv, 4, "ftypqt  ", ftMov}, {"\0\x01\0\x18"sv, 4, "ftypmp42", ftNone},
      // Picture brands, major or compatible, make a picture; a brand past the box is not read.
      {"\0\0\0\x18"sv, 4, "ftypheic\0\0\0\0mif1"sv, ftHeic}, {"\0\0\0\x18"sv, 4, "ftypmp42\0\0\0\0msf1"sv, ftHeic},
      {"\0\0\0\x1C"sv, 4, "ftypmif1\0\0\0\0mif1miafavif"sv, ftAvif},
      {"\0\0\0\x18"sv, 4, "ftypcrx \0\0\0\x01crx "sv, ftCr3}, {"\0\0\0\x14"sv, 4, "ftypmp42\0\0\0\0isomheic"sv, ftMp4},
      {"RIFF", 8, "WEBPVP8 ", ftRiffWebp}, {"RIFF", 8, "WEBPVP8L", ftRiffWebp}, {"RIFF", 8, "WEBPVP8X", ftRiffWebp},
      {"RIFF", 8, "WEBPALPH", ftNone},
      {"\x89PNG", 0, "", ftPng}, {"ID3", 0, "", ftId3Audio}, {"II*\0"sv, 0, "", ftTiffRaw},
      {"MM\0*"sv, 0, "", ftTiffRaw}, {"IIRO", 0, "", ftTiffRaw}, {"MMOR", 0, "", ftTiffRaw},
      {"IIU\0"sv, 0, "", ftTiffRaw}, {"MM\0U"sv, 0, "", ftTiffRaw}, {"II+\0"sv, 0, "", ftNone},
      {"FOVb", 0, "", ftX3f}, {"FUJIFILMCCD-RAW ", 0, "", ftRaf}, {"FUJIFILMCCD-RAW", 0, "", ftNone},
      {"Rar!\x1A\x07\0"sv, 0, "", ftRar}, {"Rar!\x1A\x07\x01\0"sv, 0, "", ftRar5},
      {"Rar!\x1A\x07\x01\x01"sv, 0, "", ftNone}, {"Rar!\x1A\x07\x02\0"sv, 0, "", ftNone},
      {"\x1A\x45\xDF\xA3\xA3"sv, 17, "\x42\x82\x88matroska"sv, ftMatroska},
      {"\x1A\x45\xDF\xA3\x9F"sv, 17, "\x42\x82\x84webm"sv, ftWebm},
      {"\x1A\x45\xDF\xA3\x9F"sv, 17, "\x42\x82\x84webn"sv, ftNone},
      {"\x1A\x45\xDF\xA3\x9F"sv, 17, "\x42\x82\x85webm"sv, ftNone},
      {"\x1A\x45\xDF\xA3\x9F"sv, 0, "", ftNone},  // an EBML header alone
      {storedName8, 30, "mimetype", ftOpenDocument}, {deflatedName8, 30, "mimetype", ftZip},
      {"PK\x03\x04", 0, "", ftZip}, {"PK\x03\x04", 30, "[Content_Types].xml", ftOfficeZip},
      {"PK\x03\x04", 30, "content/riffData.cdr", ftZipCdr}, {"PK\x03\x04", 31, "[Content_Types].xml", ftZip},
      {"MSCF", 24, "\x03\x01", ftCab}, {"MSCF", 24, "\x01\x03", ftNone},
      {"7z\xBC\xAF\x27\x1C\0\x03"sv, 0, "", ft7z}, {"7z\xBC\xAF\x27\x1C\0\x04"sv, 0, "", ft7z},
      {"7z\xBC\xAF\x27\x1C\0\x05"sv, 0, "", ftNone}, {"7z\xBC\xAF\x27\x1C\x01\x03"sv, 0, "", ftNone},
      {"%PDF-", 0, "", ftPdf}, {"%PDF", 0, "", ftNone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Sector().Put(0, c.at0).Put(c.off, c.atOff).Classify(), c.expected) << c.at0 << " " << c.atOff;
  }
  // Sectors shorter than 512 bytes are never read.
  EXPECT_EQ(ClassifySector(nullptr, 512, {}), ftNone);
  EXPECT_EQ(Sector(511).Put(0, "\xFF\xD8\xFF\xE1").Classify(), ftNone);
}

TEST(ClassifySector, BmAndUnknownRiffFormsEndTheSequence) {
  // A directory whose first file is "AMW.JPG" is metadata; as "BMW.JPG" the sector starts
  // with "BM" and a non-zero word at 6, which rules it out altogether.
  Sector dir;
  PutDirEntry(PutDirEntry(dir, 0, "AMW     JPG"), 1, "PHOTO   JPG");
  EXPECT_EQ(dir.Classify(), ftFsMetadata);
  EXPECT_EQ(dir.Put(0, "BMW").Classify(), ftNone);
  // Transport-stream packets behind an unknown RIFF form are not looked at.
  Sector riff = Sector().Put(0, "RIFF").Put(4, "G").Put(8, "XYZW").Put(196, "G").Put(388, "G");
  EXPECT_EQ(riff.Be32(192, 0x52494646 + 1000).Be32(384, 0x52494646 + 2000).Classify(), ftNone);
}

TEST(ClassifySector, MpegPackClockAndLaterMatches) {
  // Clocks 0, 319999 and 320000 (header bytes worked out by hand).
  const Sector zero = Sector().Put(0, "\x00\x00\x01\xBA\x44\x00\x04\x00\x04\x01"sv);
  Sector early = Sector().Put(0, "\x00\x00\x01\xBA\x44\x00\x4F\x0F\xFC\x01"sv);
  EXPECT_EQ(zero.Classify(), ftMpeg2PackClockZero);
  EXPECT_EQ(early.Classify(), ftMpeg2PackEarly);
  EXPECT_EQ(Sector().Put(0, "\x00\x00\x01\xBA\x44\x00\x4F\x10\x04\x01"sv).Classify(), ftNone);
  EXPECT_EQ(Sector().Put(0, "\x00\x00\x01\xBA\x21\x00\x01\x00\x01\x80"sv).Classify(), ftMpeg1PackClockZero);
  EXPECT_EQ(Sector().Put(0, "\x00\x00\x01\xBA\x2F\xFF\xFF\xFF\xFF\x80"sv).Classify(), ftMpeg1Pack);
  EXPECT_EQ(Sector().Put(0, "\x00\x00\x01\xBA\x84\x00\x04\x00\x04\x01"sv).Classify(), ftNone);  // neither

  // The pack result survives a directory walk that gives up.
  std::mt19937 rng(5);
  for (size_t i = 32; i < 512; ++i) early.bytes[i] = static_cast<uint8_t>(rng());
  EXPECT_EQ(early.Classify(), ftMpeg2PackEarly);
  early.bytes[6] &= ~0x04;  // a cleared marker bit makes the clock 0
  EXPECT_EQ(early.Classify(), ftMpeg2PackClockZero);

  // ... and is replaced by a later match: "mdat" at 4 reads as an MPEG-2 pack with clock 0,
  // 47 at 4 as one with clock 0 followed by 192-byte transport packets.
  const Sector mdat = Sector().Put(0, "\x00\x00\x01\xBA" "mdat"sv);
  EXPECT_EQ(mdat.Classify(), ftClassicMov);
  EXPECT_EQ(mdat.Classify({.CanonPanasonic = true}), ftBareMdat);
  Sector ts = Sector().Put(0, "\x00\x00\x01\xBA\x47"sv).Put(196, "G").Put(388, "G");
  EXPECT_EQ(ts.Be32(192, 0x000001BA + 900).Be32(384, 0x000001BA + 1800).Classify(), ftTs192);
}

TEST(ClassifySector, TransportStreamPackets) {
  auto packets192 = [](uint32_t a, uint32_t step1, uint32_t step2) {
    Sector s = Sector().Be32(0, a).Be32(192, a + step1).Be32(384, a + step1 + step2);
    return s.Put(4, "G").Put(196, "G").Put(388, "G").Classify();
  };
  EXPECT_EQ(packets192(0, 1, 3200000), ftTs192First);
  EXPECT_EQ(packets192(0x12345678, 3200000, 3200000), ftTs192);
  EXPECT_EQ(packets192(0x12345678, 3200001, 100), ftNone);
  EXPECT_EQ(packets192(0x12345678, 0, 100), ftNone);
  EXPECT_EQ(packets192(0x12345678, 100, 0), ftNone);
  EXPECT_EQ(packets192(0xFFFFFFF0, 0x20, 0x40000020), ftTs192);  // compared modulo 2^30
  // A failed stamp test leaves the sector to the later tests, here the ZIP signature.
  EXPECT_EQ(packets192(0x504B0304, 3200001, 10), ftZip);
  EXPECT_EQ(packets192(0x504B0304, 3200000, 10), ftTs192);
  // Arrival times that jump: three well-formed packet headers holding a unit start (here a
  // PES packet in the second) make a stream start of their own.
  auto jumping = [](uint8_t flags, uint8_t pidLow = 0x11) {
    Sector s = Sector().Be32(0, 900).Be32(192, 0x2000000).Be32(384, 77);
    for (size_t p : {4u, 196u, 388u}) s.Put(p, "\x47\x10\x11\x10"sv);
    s.bytes[197] = flags;
    s.bytes[198] = pidLow;
    return s.Put(200, "\x00\x00\x01\xE0"sv).Classify();
  };
  EXPECT_EQ(jumping(0x50), ftTs192Headers);  // unit start, PID 0x1011
  EXPECT_EQ(jumping(0x10), ftNone);          // no unit starts
  EXPECT_EQ(jumping(0xD0), ftNone);          // a transport error
  EXPECT_EQ(jumping(0x5F, 0xFF), ftNone);    // the null packet's PID

  Sector ts188 = Sector().Put(0, "G").Put(188, "G").Put(376, "G");
  EXPECT_EQ(ts188.Classify(), ftTs188);
  EXPECT_EQ(Sector(ts188).Put(1, "G").Classify(), ftNone);
  EXPECT_EQ(ts188.Put(189, "G").Classify(), ftNone);
}

TEST(ClassifySector, CameraModeStartsNeedTheirMode) {
  const Sector mdat = Sector().Be32(0, 0x12345678).Put(4, "mdat");
  const Sector moov = Sector().Be32(0, 0x1000).Put(4, "moov");
  Sector chunk = Sector().Put(0, "00dc").Le(4, 5000).Put(8, "\x00\x00\x00\x01"sv);
  const TCameraMode normal, canon{.CanonPanasonic = true}, samsung{.Samsung = true}, ordro{.Ordro = true};
  EXPECT_EQ(moov.Classify(normal) + chunk.Classify(normal), ftNone);
  // In the normal mode "mdat", "free", "skip", a "moov" holding its movie header first and an
  // 8-byte "wide" before "mdat" begin classic QuickTime files.
  EXPECT_EQ(mdat.Classify(normal), ftClassicMov);
  EXPECT_EQ(Sector(moov).Put(12, "mvhd").Classify(normal), ftClassicMov);
  EXPECT_EQ(Sector().Be32(0, 8).Put(4, "wide").Put(12, "mdat").Classify(normal), ftClassicMov);
  EXPECT_EQ(Sector().Be32(0, 16).Put(4, "wide").Put(12, "mdat").Classify(normal), ftNone);
  EXPECT_EQ(Sector().Be32(0, 7).Put(4, "free").Classify(normal), ftNone);
  EXPECT_EQ(Sector().Be32(0, 4096).Put(4, "skip").Classify(normal), ftClassicMov);
  EXPECT_EQ(mdat.Classify(canon), ftBareMdat);
  EXPECT_EQ(moov.Classify(canon), ftNone);
  EXPECT_EQ(moov.Classify(samsung), ftMoovBox);
  EXPECT_EQ(chunk.Classify(ordro), ftAvi00dc);
  EXPECT_EQ(chunk.Put(8, "\x01\x00\x00\x00"sv).Classify(ordro), ftNone);
}

TEST(ClassifySector, NtfsFileRecordsAndIndexBlocks) {
  // As a formatter writes them: update sequence at 48 (3 words), $STANDARD_INFORMATION at 56.
  auto record = [] {
    return Sector().Put(0, "FILE").Le(4, 48, 2).Le(6, 3, 2).Le(20, 56, 2).Le(24, 400).Le(28, 1024).Le(56, 0x10).Le(60, 96);
  };
  struct Change { size_t off; uint32_t value; int width; int expected; };
  const Change recordChanges[] = {
      {0, 0, 0, ftFsMetadata}, {56, 0xFFFFFFFF, 4, ftFsMetadata}, {56, 512, 4, ftFsMetadata},
      {56, 15, 4, ftNone}, {56, 513, 4, ftNone}, {60, 8, 4, ftFsMetadata}, {60, 4096, 4, ftFsMetadata},
      {60, 7, 4, ftNone}, {60, 4097, 4, ftNone},
      {6, 8, 2, ftFsMetadata}, {6, 9, 2, ftNone},  // offset + count may reach the first attribute
      {4, 39, 2, ftNone}, {4, 97, 2, ftNone}, {6, 0, 2, ftNone}, {20, 47, 2, ftNone}, {20, 97, 2, ftNone},
      {24, 1025, 4, ftNone}, {28, 1000, 4, ftNone}, {28, 0, 4, ftNone}};
  for (const Change& c : recordChanges) {
    EXPECT_EQ(record().Le(c.off, c.value, c.width).Classify(), c.expected) << c.off << "=" << c.value;
  }
  EXPECT_EQ(record().Le(20, 96, 2).Le(96, 0x80).Le(100, 0x48).Classify(), ftFsMetadata);

  auto index = [] { return Sector().Put(0, "INDX").Le(4, 40, 2).Le(6, 9, 2).Le(28, 1232).Le(32, 4072); };
  const Change indexChanges[] = {{0, 0, 0, ftFsMetadata}, {28, 4072, 4, ftFsMetadata}, {32, 4584, 4, ftFsMetadata},
                                 {28, 4073, 4, ftNone}, {32, 4096, 4, ftNone}, {6, 97, 2, ftNone}};
  for (const Change& c : indexChanges) {
    EXPECT_EQ(index().Le(c.off, c.value, c.width).Classify(), c.expected) << c.off << "=" << c.value;
  }
  // chkdsk's FILE0000.CHK: "FILE" at 0 but text in the header, so the directory test decides.
  Sector chk;
  EXPECT_EQ(PutDirEntry(PutDirEntry(chk, 0, "FILE0000CHK"), 1, "FILE0001CHK").Classify(), ftFsMetadata);
}

TEST(ClassifySector, FatDirectoryWalk) {
  auto dir = [](std::initializer_list<std::string_view> names) {
    Sector s;
    size_t i = 0;
    for (std::string_view name : names) PutDirEntry(s, i++, name);
    return s;
  };
  Sector used = dir({"PHOTO   JPG"});
  EXPECT_EQ(used.Classify(), ftFsMetadata);  // 2 points
  used.bytes[32] = 0xE5;
  EXPECT_EQ(used.Classify(), ftFsMetadata);  // 3 points
  Sector deleted = dir({"GONE    JPG"});
  deleted.bytes[0] = 0xE5;
  EXPECT_EQ(deleted.Classify(), ftNone);  // 1 point
  Sector longName = dir({"PHOTO~1 JPG"});
  EXPECT_EQ(PutDirEntry(longName, 0, "Ap\0h\0o\0t\0o\0"sv, 0x0F, 0x1234, 0).Classify(), ftNone);  // no points

  // Entry rules, on the first of two entries.
  struct Case { std::string_view name; uint8_t attributes; uint16_t date; uint32_t size; int expected; };
  const Case cases[] = {
      {"DCIM       ", 0x10, FatDate(2009, 5, 1), 0, ftFsMetadata}, {"DCIM       ", 0x10, FatDate(2009, 5, 1), 1, ftNone},
      {"CAMERA     ", 0x08, FatDate(2009, 5, 1), 0, ftFsMetadata}, {"X       TXT", 0x40, FatDate(2009, 5, 1), 0, ftNone},
      {"X       TXT", 0x20, FatDate(1985, 12, 1), 0, ftFsMetadata}, {"X       TXT", 0x20, FatDate(1984, 12, 1), 0, ftNone},
      {"X       TXT", 0x20, FatDate(2009, 13, 1), 0, ftNone}, {"X       TXT", 0x20, FatDate(2009, 5, 0), 0, ftNone},
      {".          ", 0x10, FatDate(2009, 5, 1), 0, ftFsMetadata}, {"CAF\x90    TXT", 0x20, FatDate(2009, 5, 1), 0, ftFsMetadata},
      {" X      TXT", 0x20, FatDate(2009, 5, 1), 0, ftNone},  // first byte space or below
      {"X?      TXT", 0x20, FatDate(2009, 5, 1), 0, ftNone}, {"X\x1F      TXT", 0x20, FatDate(2009, 5, 1), 0, ftNone},
      {"X       TX\xFF", 0x20, FatDate(2009, 5, 1), 0, ftNone}, {"X|      TXT", 0x20, FatDate(2009, 5, 1), 0, ftNone}};
  for (const Case& c : cases) {
    Sector s = dir({"", "SECOND  TXT"});
    EXPECT_EQ(PutDirEntry(s, 0, c.name, c.attributes, c.date, c.size).Classify(), c.expected) << c.name;
  }

  // After the first free entry only first bytes of 0 may follow, up to the end of the sector.
  Sector gap = dir({"ONE     TXT", "TWO     TXT", "", "FOUR    TXT"});
  EXPECT_EQ(gap.Classify(), ftNone);
  gap.bytes[96] = 0;
  EXPECT_EQ(gap.Classify(), ftFsMetadata);
  Sector big(4096);
  PutDirEntry(big, 0, "ONE     TXT");
  EXPECT_EQ(big.Classify(), ftFsMetadata);
  big.bytes[4096 - 32] = 'X';
  EXPECT_EQ(big.Classify(), ftNone);
  EXPECT_EQ(Sector(4096).Classify(), ftNone);
}

TEST(ClassifySector, RandomSectorsRarelyClassify) {
  std::mt19937_64 rng(20090501);
  Sector s;
  int hits = 0;
  for (int n = 0; n < 100000; ++n) {
    for (size_t i = 0; i < 512; i += 8) {
      const uint64_t v = rng();
      std::memcpy(&s.bytes[i], &v, 8);
    }
    hits += s.Classify() != ftNone;
  }
  EXPECT_LT(hits, 100);
}

// Real file systems, made by the platform's formatting tools.
std::vector<int> ClassifyImage(const std::vector<uint8_t>& image) {
  std::vector<int> ids;
  for (size_t off = 0; off + 512 <= image.size(); off += 512) ids.push_back(ClassifySector(image.data() + off, 512, {}));
  return ids;
}

TEST(ClassifySector, FatImageDirectoriesAreTheOnlyMetadata) {
  if (!test::HaveTool("mkfs.fat") || !test::HaveTool("mcopy")) GTEST_SKIP() << "dosfstools/mtools missing";
  test::TempDir dir;
  std::mt19937 rng(7);
  std::vector<uint8_t> data(20000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  test::WriteFileBytes(dir / "a.bin", data);
  const std::string img = dir / "fat.img", mtools = "MTOOLS_SKIP_CHECK=1 ";
  ASSERT_EQ(test::Run("PATH=$PATH:/sbin:/usr/sbin mkfs.fat -F 16 -s 4 -n MORVANE -C " + img + " 16384 >/dev/null"), 0);
  ASSERT_EQ(test::Run(mtools + "mmd -i " + img + " ::DCIM"), 0);
  for (const char* name : {"a.bin", "Long file name.bin", "c.bin"}) {
    ASSERT_EQ(test::Run(mtools + "mcopy -i " + img + " " + (dir / "a.bin") + " '::DCIM/" + name + "'"), 0);
  }
  ASSERT_EQ(test::Run(mtools + "mcopy -i " + img + " " + (dir / "a.bin") + " ::"), 0);
  ASSERT_EQ(test::Run(mtools + "mdel -i " + img + " ::DCIM/a.bin"), 0);

  const std::vector<uint8_t> image = test::ReadFileBytes(img);
  const ByteView boot(image.data(), image.size());
  const uint32_t rootSector = boot.Le16(14) + boot.U8(16) * boot.Le16(22);
  const ByteView dcim = boot.Sub(rootSector * 512 + 32, 32);  // after the volume label
  ASSERT_TRUE(dcim.Matches(0, "DCIM"));
  const uint32_t dcimSector = rootSector + boot.Le16(17) * 32 / 512 + (dcim.Le16(26) - 2) * boot.U8(13);
  const std::vector<int> ids = ClassifyImage(image);
  std::set<uint32_t> metadata;
  for (uint32_t i = 0; i < ids.size(); ++i) {
    if (ids[i] == ftFsMetadata) metadata.insert(i);
  }
  EXPECT_EQ(metadata, (std::set<uint32_t>{rootSector, dcimSector}));
}

TEST(ClassifySector, NtfsImageRecordsAndIndexBlocksAreTheOnlyMetadata) {
  if (!test::HaveTool("mkntfs")) GTEST_SKIP() << "ntfs-3g missing";
  test::TempDir dir;
  const std::string img = dir / "ntfs.img";
  ASSERT_EQ(test::Run("truncate -s 8M " + img + " && PATH=$PATH:/sbin:/usr/sbin mkntfs -F -q -Q -s 512 -c 4096 "
                      "-p 0 -H 0 -S 0 " + img + " >/dev/null 2>&1"), 0);
  const std::vector<uint8_t> image = test::ReadFileBytes(img);
  const std::vector<int> ids = ClassifyImage(image);
  int records = 0, indexBlocks = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    const ByteView sector(image.data() + 512 * i, 512);
    records += sector.Matches(0, "FILE");
    indexBlocks += sector.Matches(0, "INDX");
    EXPECT_EQ(ids[i] == ftFsMetadata, sector.Matches(0, "FILE") || sector.Matches(0, "INDX")) << "sector " << i;
  }
  EXPECT_GE(records, 16);
  EXPECT_GE(indexBlocks, 1);
}

TEST(ClassifySector, SampleCameraCard) {
  const std::vector<uint8_t> image = test::SampleCardBytes();
  if (image.empty()) GTEST_SKIP() << "sample card unavailable";
  std::map<int, int> counts;
  for (int id : ClassifyImage(image)) {
    if (id != ftNone) ++counts[id];
  }
  // Six photos (three of them deleted), an MP4 clip (deleted), a PNG, a ZIP archive and the
  // root, DCIM and 100CAMER directories; nothing else.
  EXPECT_EQ(counts,
            (std::map<int, int>{{ftJpegApp, 6}, {ftMp4, 1}, {ftPng, 1}, {ftZip, 1}, {ftFsMetadata, 3}}));
}

}  // namespace
}  // namespace morvane
