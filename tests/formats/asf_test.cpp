#include "formats/media/asf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "filetypes/catalogue.h"
#include "formats/raw_card.h"
#include "formats/recognisers.h"
#include "scan/file_type_id.h"
#include "support/test_support.h"

namespace morvane {
namespace {

using Bytes = std::vector<uint8_t>;
using test::Cat;
using test::Sectors;

Bytes Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath("riff/" + name)); }

void PutLe64(Bytes& b, size_t at, uint64_t v) { test::PutLe(b, at, v, 8); }
uint64_t Le64(const Bytes& b, size_t at) {
  uint64_t v = 0;
  for (int i = 8; i-- > 0;) v = v << 8 | b[at + i];
  return v;
}
Bytes Guid(const char* hex) {
  Bytes g;
  for (size_t i = 0; i < 32; i += 2) g.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  return g;
}
const Bytes kHeader = Guid("3026b2758e66cf11a6d900aa0062ce6c");
const Bytes kData = Guid("3626b2758e66cf11a6d900aa0062ce6c");
const Bytes kFileProperties = Guid("a1dcab8c47a9cf118ee400c00c205365");
const Bytes kSimpleIndex = Guid("90080033b1e5cf1189f400a0c90349cb");
const Bytes kPadding = Guid("74d40618dfca0945a4ba9aabcb96aae8");
const Bytes kContentDescriptionFamily = Guid("40a4d0d207e3d21197f000a0c95ea850");

// An object of `size` bytes (header included) with the given GUID, its payload `fill`;
// of a larger object only the 24-byte header.
Bytes Object(const Bytes& guid, uint64_t size, uint8_t fill = 0x5A) {
  Bytes b(size > 0x10000 ? 24 : std::max<uint64_t>(size, 24), fill);
  std::copy(guid.begin(), guid.end(), b.begin());
  PutLe64(b, 16, size);
  return b;
}

// The offset of the first top-level object of this GUID in an ASF file.
size_t ObjectAt(const Bytes& file, const Bytes& guid) {
  size_t pos = 0;
  while (pos + 24 <= file.size() && !std::equal(guid.begin(), guid.end(), file.begin() + pos))
    pos += static_cast<size_t>(Le64(file, pos + 16));
  return pos;
}

void Recover(test::RawCard& t, int64_t sector, const Bytes& file) {
  const std::string folder = t.setup.Options.OutputFolder;
  if (std::equal(kFileProperties.begin(), kFileProperties.end(), file.begin() + 30))
    RecoverAsf(t.Context(), folder, sector * 512);
  else
    RecoverWmv(t.Context(), folder, sector * 512);
}

TEST(RecoverAsfAndWmv, ScanRecoversEverySampleExactlyAndLeavesTheIndexOutOfAWmv) {
  // ffmpeg writes the file properties object first (ASF recogniser, File Size); the
  // reordered file has another object first (WMV recogniser, object walk). All three hold
  // Windows Media video: they are WMVs.
  const Bytes asf = Sample("sample.asf"), wmv = Sample("sample.wmv"), reordered = Sample("reordered.wmv");
  const Bytes walked(reordered.begin(), reordered.begin() + static_cast<long>(ObjectAt(reordered, kSimpleIndex)));
  ASSERT_LT(walked.size(), reordered.size());
  test::RawCard t(Sectors(asf.size() + wmv.size() + reordered.size()) + 20, 1, true);
  const int64_t a = 2, b = a + Sectors(asf.size()) + 3, c = b + Sectors(wmv.size()) + 3;
  t.Place(asf, a);
  t.Place(wmv, b);
  t.Place(reordered, c);
  EXPECT_EQ(t.RunAll().RecoveredCount, 3);
  EXPECT_EQ(test::ReadFileBytes(t.File(a, ".WMV")), asf);
  EXPECT_EQ(test::ReadFileBytes(t.File(b, ".WMV")), wmv);
  EXPECT_EQ(test::ReadFileBytes(t.File(c, ".WMV")), walked);
  // Copies made ahead are as long.
  EXPECT_EQ(t.Stated(ftAsfFileProperties, a), static_cast<int64_t>(asf.size()));
  EXPECT_EQ(t.Stated(ftAsfFileProperties, b), static_cast<int64_t>(wmv.size()));
  EXPECT_EQ(t.Stated(ftAsfOther, c), static_cast<int64_t>(walked.size()));
  EXPECT_EQ(t.ClaimedCount(), Sectors(asf.size()) + Sectors(wmv.size()) + Sectors(walked.size()));
  if (test::HaveTool("ffprobe")) {
    for (const std::string& f : {t.File(a, ".WMV"), t.File(b, ".WMV"), t.File(c, ".WMV")}) {
      EXPECT_EQ(test::Run("ffprobe -v error -count_packets -show_streams '" + f + "' >/dev/null 2>" + f + ".log"), 0);
      EXPECT_TRUE(test::ReadFileBytes(f + ".log").empty()) << f;
    }
  }
}

TEST(RecoverAsfAndWmv, TheStreamsNameTheKindWhateverTheHeaderOrderAndTheSelectionFollowsIt) {
  // Windows Media video with the file properties object first (ffmpeg) and with the
  // extended content description first (Windows tools): WMVs both; Windows Media audio
  // alone: an ASF.
  const Bytes props = Sample("sample.asf"), ecd = Sample("ecd_first.wmv"), audio = Sample("audio.asf");
  const Bytes ecdWalked(ecd.begin(), ecd.begin() + static_cast<long>(ObjectAt(ecd, kSimpleIndex)));
  for (uint32_t mask : {kAllTypesMask, kTypeWmv, kTypeAsf}) {
    test::RawCard t(Sectors(props.size() + ecd.size() + audio.size()) + 20, 1, true);
    t.setup.Options.TypeMask = mask;
    const int64_t a = 2, b = a + Sectors(props.size()) + 3, c = b + Sectors(ecd.size()) + 3;
    t.Place(props, a);
    t.Place(ecd, b);
    t.Place(audio, c);
    const bool wmv = mask & kTypeWmv, asf = mask & kTypeAsf;
    const auto got = [](const std::string& f) { return std::filesystem::exists(f) ? test::ReadFileBytes(f) : Bytes(); };
    EXPECT_EQ(t.RunAll().RecoveredCount, (wmv ? 2 : 0) + (asf ? 1 : 0)) << mask;
    EXPECT_EQ(got(t.File(a, ".WMV")), wmv ? props : Bytes()) << mask;
    EXPECT_EQ(got(t.File(b, ".WMV")), wmv ? ecdWalked : Bytes()) << mask;
    EXPECT_EQ(got(t.File(c, ".ASF")), asf ? audio : Bytes()) << mask;
    // Unselected files are still claimed whole.
    EXPECT_EQ(t.ClaimedCount(), Sectors(props.size()) + Sectors(ecdWalked.size()) + Sectors(audio.size())) << mask;
  }
}

TEST(RecoverAsfAndWmv, FilesSplitAroundClaimedSectorsComeBackAndClaimOnlyTakesTheSameSectors) {
  for (const std::string name : {"sample.asf", "reordered.wmv"}) {
    const Bytes file = Sample(name);
    const Bytes expected(file.begin(), file.begin() + static_cast<long>(name == "sample.asf" ? file.size()
                                                                                             : ObjectAt(file, kSimpleIndex)));
    const int64_t n = Sectors(expected.size());
    const int64_t dataHeaderSector = static_cast<int64_t>(ObjectAt(file, kData)) / 512;
    for (const std::vector<int64_t>& foreign :
         std::vector<std::vector<int64_t>>{{1}, {dataHeaderSector, dataHeaderSector + 1, 30}, {3, n + 1}}) {
      std::vector<int64_t> where;
      for (int64_t s = 0; static_cast<int64_t>(where.size()) < Sectors(file.size()); ++s)
        if (std::find(foreign.begin(), foreign.end(), s) == foreign.end()) where.push_back(s);
      std::vector<std::vector<int64_t>> claims;
      for (uint32_t mask : {kAllTypesMask, kAllTypesMask & ~(kTypeAsf | kTypeWmv)}) {
        test::RawCard t(Sectors(file.size()) + 12, 1, true);
        t.setup.Options.TypeMask = mask;
        t.Place(file, where);
        for (int64_t s : foreign) t.Context().SectorMap.ClaimSector(s);
        t.RunAll();
        const std::string out = t.File(0, ".WMV");
        if (mask & kTypeAsf) {
          EXPECT_EQ(test::ReadFileBytes(out), expected) << name << " " << foreign.size();
        } else {
          EXPECT_TRUE(t.Files().empty());
        }
        claims.push_back(t.ClaimedSectors());
      }
      EXPECT_EQ(claims[0], claims[1]) << name;
      EXPECT_EQ(static_cast<int64_t>(claims[0].size()), n + static_cast<int64_t>(foreign.size())) << name;
    }
  }
}

TEST(RecoverAsfAndWmv, TheRangeEndKeepsAShortAsfButRejectsAWmvWhoseDataObjectItCuts) {
  for (const std::string name : {"sample.asf", "reordered.wmv"}) {
    const Bytes file = Sample(name);
    test::RawCard t(Sectors(file.size()) + 4, 1, true);
    t.setup.LastSector = 15;
    t.Place(file, 0);
    Recover(t, 0, file);
    if (name == "sample.asf") {
      EXPECT_EQ(test::ReadFileBytes(t.File(0, ".WMV")), Bytes(file.begin(), file.begin() + 16 * 512));
      EXPECT_EQ(t.Stated(ftAsfFileProperties, 0), 16 * 512);
      EXPECT_EQ(t.ClaimedSectors(), test::SectorRunOf(0, 16));
    } else {
      EXPECT_TRUE(t.Files().empty());
      EXPECT_EQ(t.ClaimedCount(), 0);
    }
  }
}

TEST(RecoverAsfAndWmv, LyingSizesAndForeignObjectsLeaveNoClaimAndNoFile) {
  // The File Size limit: 20 GiB is a length, one byte more is not; neither is a size that
  // does not even cover the object that states it.
  Bytes first = Sample("sample.asf");
  first.resize(512);
  for (const auto& [size, ok] : std::vector<std::pair<uint64_t, bool>>{
           {uint64_t{5} << 32, true}, {(uint64_t{5} << 32) + 1, false}, {0, false}, {133, false}, {134, true}}) {
    PutLe64(first, 70, size);
    EXPECT_EQ(AsfFileSize(ByteView(first.data(), first.size())), ok ? static_cast<int64_t>(size) : -1) << size;
  }

  const Bytes head = Object(kHeader, 300, 1);
  const std::vector<Bytes> bad = {
      Cat({Object(kHeader, 24), Object(kData, 100)}),                    // a header of only its own head
      Cat({head, Object(kPadding, 100), Object(kData, 100)}),           // an object of neither family
      Cat({head, Object(kData, 24)}),                                    // a data object of size 24
      Cat({head, Object(kContentDescriptionFamily, 50), Object(kData, (uint64_t{5} << 32) + 1)}),  // above 20 GiB
      Cat({head, Object(kData, 40 * 512)}),                              // runs past LastSector
      Cat({head, Object(kData, UINT64_MAX)}),
      // a header holding file properties of 24 bytes, then an object whose size takes the
      // streams look back to them (it once went round for ever)
      [&] {
        Bytes h = Cat({Bytes(head.begin(), head.begin() + 30), Object(kFileProperties, 24), Object(kPadding, UINT64_MAX - 23)});
        h.resize(300, 1);
        return h;
      }(),
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    for (bool writes : {true, false}) {
      test::RawCard t(64, 1, true);
      t.setup.LastSector = 20;
      t.Place(bad[i], 1);
      RecoverWmv(t.Context(), writes ? t.setup.Options.OutputFolder : "", 512);
      EXPECT_EQ(t.Stated(ftAsfOther, 1), 0) << i;
      EXPECT_EQ(t.ClaimedCount(), 0) << i;
      EXPECT_TRUE(t.Files().empty()) << i;
    }
  }
  {  // the extended content description family is followed; a data object ends the file
    const Bytes ok = Cat({head, Object(kContentDescriptionFamily, 77, 2), Object(kData, 900, 3)});
    test::RawCard t(40, 1, true);
    t.Place(Cat({ok, Object(kSimpleIndex, 64)}), 1);
    RecoverWmv(t.Context(), t.setup.Options.OutputFolder, 512);
    EXPECT_EQ(test::ReadFileBytes(t.File(1, ".WMV")), ok);
  }
  {  // a File Size of 0 (as broadcast files have): nothing is taken
    Bytes asf = Sample("sample.asf");
    PutLe64(asf, 70, 0);
    test::RawCard t(Sectors(asf.size()) + 4, 1, true);
    t.Place(asf, 0);
    Recover(t, 0, asf);
    EXPECT_EQ(t.Stated(ftAsfFileProperties, 0), 0);
    EXPECT_TRUE(t.Files().empty());
    EXPECT_EQ(t.ClaimedCount(), 0);
  }
}

}  // namespace
}  // namespace morvane
