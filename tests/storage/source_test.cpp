#include "storage/source.h"

#include <gtest/gtest.h>

#include "storage/streams.h"
#include "support/test_support.h"

namespace morvane {
namespace {

TEST(Source, ImageFileIsSizedAndReadPositioned) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(3 * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512 + 1);
  test::WriteFileBytes(dir / "a.img", bytes);
  auto r = OpenSource(dir / "a.img");
  ASSERT_EQ(r.error, OpenError::None);
  EXPECT_EQ(r.source->Kind(), SourceKind::ImageFile);
  EXPECT_EQ(r.source->SizeBytes(), 1536);
  uint8_t buf[512];
  ASSERT_TRUE(r.source->ReadAt(1024, buf, 512));
  EXPECT_EQ(buf[0], 3);
  EXPECT_FALSE(r.source->ReadAt(1536, buf, 512));  // past the end
  EXPECT_FALSE(r.source->ReadAt(1024 + 256, buf, 512));  // short read counts as failure
  // Copied by the system into an output file; a memory source cannot.
  {
    auto out = OpenOutputFileStream(dir / "b.bin", fmCreate);
    ASSERT_TRUE(out);
    EXPECT_TRUE(r.source->CopyInto(512, 1024, out->FileHandle(), 100));
    MemorySource memory(bytes);
    EXPECT_FALSE(memory.CopyInto(0, 512, out->FileHandle(), 0));
  }
  const auto copied = test::ReadFileBytes(dir / "b.bin");
  EXPECT_EQ(std::vector<uint8_t>(copied.begin() + 100, copied.end()), std::vector<uint8_t>(bytes.begin() + 512, bytes.end()));
}

TEST(Source, RefusesMissingPathsAndFolders) {
  test::TempDir dir;
  EXPECT_EQ(OpenSource(dir / "none.img").error, OpenError::NotFound);
  EXPECT_EQ(OpenSource(dir.path().string()).error, OpenError::IsDirectory);
}

TEST(Source, MemorySourceFailsReadsTouchingBadSectors) {
  MemorySource m(std::vector<uint8_t>(8 * 512, 0xAB));
  m.SetBadSectors({3});
  uint8_t buf[1024];
  EXPECT_TRUE(m.ReadAt(0, buf, 1024));
  EXPECT_FALSE(m.ReadAt(2 * 512, buf, 1024));
  EXPECT_FALSE(m.ReadAt(3 * 512 + 511, buf, 1));
  EXPECT_TRUE(m.ReadAt(4 * 512, buf, 1024));
  EXPECT_EQ(buf[0], 0xAB);
}

}  // namespace
}  // namespace morvane
