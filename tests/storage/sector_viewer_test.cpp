#include "storage/sector_viewer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace morvane {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string kZeroGroups = "0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 ";

TEST(SectorDump, FormatsA512ByteSector) {
  std::vector<uint8_t> s(512, 0);
  const std::pair<int, uint8_t> bytes[] = {{0, 0x41}, {1, 0x42}, {2, 0x7F}, {33, 0x20}, {34, 0x7E},
                                           {35, 0x1F}, {36, 0x80}, {510, 0x55}, {511, 0xAA}};
  for (auto [at, v] : bytes) s[at] = v;
  std::string dump = FormatSectorDump(ByteView(s.data(), s.size()));
  auto lines = Lines(dump);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(dump.back(), '.');  // no newline after the last line
  EXPECT_EQ(lines[0],
            "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
            "0123456789ABCDEF0123456789ABCDEF");
  EXPECT_EQ(lines[1],
            "000: 4142 7F00 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 "
            "AB..............................");
  EXPECT_EQ(lines[2],
            "020: 0020 7E1F 8000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 "
            ". ~.............................");
  EXPECT_EQ(lines[3], "040: " + kZeroGroups + "................................");
  EXPECT_EQ(lines[16],
            "1E0: 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 0000 55AA "
            "..............................U.");
}

// A viewer over a memory source of `sectors` sectors, sector i filled with byte i.
struct Fixture {
  explicit Fixture(int64_t sectors, uint32_t sectorSize = 512) {
    std::vector<uint8_t> bytes(static_cast<size_t>(sectors) * sectorSize);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / sectorSize);
    auto m = std::make_unique<MemorySource>(std::move(bytes));
    memory = m.get();
    source = std::move(m);
    geometry.SectorSize = sectorSize;
    geometry.PartitionLastSector = sectors - 1;
  }
  bool Steps(bool back, bool forward) const {
    const TViewerControls& c = viewer.Controls();
    return c.Button3 == back && c.Button8 == back && c.Button4 == forward && c.Button9 == forward;
  }
  std::unique_ptr<Source> source;
  MemorySource* memory;
  TSourceGeometry geometry;
  int64_t bytesRead = 0;
  SectorViewer viewer{source, geometry, bytesRead};
};

TEST(SectorViewer, StepsPagesAndJumps) {
  Fixture f(30);
  ASSERT_TRUE(f.viewer.ShowSector(0));
  EXPECT_TRUE(f.Steps(false, true));
  f.viewer.Previous();
  f.viewer.Next();
  EXPECT_EQ(f.viewer.ViewSector(), 1);
  EXPECT_EQ(f.viewer.SectorBuffer()[0], 1);
  EXPECT_EQ(f.viewer.Edit1(), "1");
  EXPECT_EQ(f.bytesRead, 2 * 512);
  EXPECT_TRUE(f.Steps(true, true));

  ASSERT_TRUE(f.viewer.ShowSector(7));
  f.viewer.PageUp();
  EXPECT_EQ(f.viewer.ViewSector(), 0);
  ASSERT_TRUE(f.viewer.ShowSector(26));
  f.viewer.PageDown();
  EXPECT_EQ(f.viewer.ViewSector(), 29);
  f.viewer.PageUp();
  EXPECT_EQ(f.viewer.ViewSector(), 19);

  for (const char* bad : {"-1", "abc", "30", "", "12x", "9223372036854775808"})
    EXPECT_EQ(f.viewer.Goto(bad), kTextInvalidSectorRange) << bad;
  EXPECT_EQ(f.viewer.ViewSector(), 19);
  EXPECT_EQ(f.viewer.Goto(" 29 "), 0);
  EXPECT_EQ(f.viewer.ViewSector(), 29);
  EXPECT_TRUE(f.Steps(true, false));
  EXPECT_NE(f.viewer.Memo1().find("\n1E0: 1D1D "), std::string::npos);
  f.viewer.First();
  EXPECT_EQ(f.viewer.ViewSector(), 0);
  f.viewer.Last();
  EXPECT_EQ(f.viewer.ViewSector(), 29);
}

TEST(SectorViewer, OneSectorSourceOf4096Bytes) {
  Fixture f(1, 4096);
  ASSERT_TRUE(f.viewer.ShowSector(0));
  EXPECT_TRUE(f.Steps(false, false));
  auto lines = Lines(f.viewer.Memo1());
  ASSERT_EQ(lines.size(), 129u);
  EXPECT_EQ(lines[128].substr(0, 5), "FE0: ");
  f.viewer.PageDown();
  f.viewer.Next();
  EXPECT_EQ(f.bytesRead, 4096);
}

TEST(SectorViewer, UnreadableSectorChangesNothing) {
  Fixture f(10);
  f.memory->SetBadSectors({5});
  ASSERT_TRUE(f.viewer.ShowSector(4));
  std::string dump = f.viewer.Memo1();
  f.viewer.Next();
  EXPECT_EQ(f.viewer.ViewSector(), 4);
  EXPECT_EQ(f.viewer.Edit1(), "4");
  EXPECT_EQ(f.viewer.Memo1(), dump);
  EXPECT_EQ(f.viewer.SectorBuffer()[0], 4);
  EXPECT_TRUE(f.Steps(true, true));
  EXPECT_EQ(f.bytesRead, 5 * 512);  // where the failed read began

  f.source.reset();  // nothing open: every operation does nothing
  f.viewer.First();
  EXPECT_EQ(f.viewer.Goto("abc"), 0);
  EXPECT_EQ(f.viewer.ViewSector(), 4);
}

}  // namespace
}  // namespace morvane
