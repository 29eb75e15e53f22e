#include "storage/same_device.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace morvane {
namespace {
namespace fs = std::filesystem;

// A sysfs look-alike: sda with partitions sda1, sda2; sdb whole; dm-0 built on sda2.
struct FakeSys {
  test::TempDir dir;
  fs::path sys = dir.path() / "sys";
  FakeSys() {
    auto dev = sys / "devices" / "pci" / "block";
    fs::create_directories(dev / "sda" / "sda1");
    fs::create_directories(dev / "sda" / "sda2");
    fs::create_directories(dev / "sdb");
    fs::create_directories(sys / "devices" / "virtual" / "block" / "dm-0" / "slaves");
    std::ofstream(dev / "sda" / "sda1" / "partition") << "1\n";
    std::ofstream(dev / "sda" / "sda2" / "partition") << "2\n";
    fs::create_directory_symlink(dev / "sda" / "sda2", sys / "devices" / "virtual" / "block" / "dm-0" / "slaves" / "sda2");
    fs::create_directories(sys / "dev" / "block");
    fs::create_directory_symlink(dev / "sda", sys / "dev" / "block" / "8:0");
    fs::create_directory_symlink(dev / "sda" / "sda1", sys / "dev" / "block" / "8:1");
    fs::create_directory_symlink(dev / "sda" / "sda2", sys / "dev" / "block" / "8:2");
    fs::create_directory_symlink(dev / "sdb", sys / "dev" / "block" / "8:16");
    fs::create_directory_symlink(sys / "devices" / "virtual" / "block" / "dm-0", sys / "dev" / "block" / "253:0");
  }
};

TEST(SameDevice, PartitionsAndStackedDevicesLeadToTheirDisks) {
  FakeSys f;
  std::string sys = f.sys.string();
  using V = std::vector<std::string>;
  EXPECT_EQ(UnderlyingDisks(8, 0, sys), V{"sda"});
  EXPECT_EQ(UnderlyingDisks(8, 1, sys), V{"sda"});
  EXPECT_EQ(UnderlyingDisks(8, 16, sys), V{"sdb"});
  EXPECT_EQ(UnderlyingDisks(253, 0, sys), V{"sda"});  // LVM volume on sda2
  EXPECT_EQ(UnderlyingDisks(9, 9, sys), V{});         // unknown device: nothing
}

TEST(SameDevice, ALoopDeviceLeadsToTheDiskThatHoldsItsImage) {
  FakeSys f;
  // loop0 over an image file that lies on "sdz" (the device this temp folder is really on),
  // and loop1 over an image that was deleted while attached.
  const std::string image = f.dir / "ex.img";
  test::WriteFileBytes(image, std::vector<uint8_t>(4096));
  struct stat st {};
  ASSERT_EQ(::stat(image.c_str(), &st), 0);
  auto virt = f.sys / "devices" / "virtual" / "block";
  fs::create_directories(virt / "loop0" / "loop");
  fs::create_directories(virt / "loop0" / "loop0p1");
  std::ofstream(virt / "loop0" / "loop0p1" / "partition") << "1\n";
  std::ofstream(virt / "loop0" / "loop" / "backing_file") << image << "\n";
  fs::create_directories(virt / "loop1" / "loop");
  std::ofstream(virt / "loop1" / "loop" / "backing_file") << f.dir / "gone.img" << " (deleted)\n";
  fs::create_directories(f.sys / "devices" / "pci" / "block" / "sdz");
  auto block = f.sys / "dev" / "block";
  fs::create_directory_symlink(virt / "loop0", block / "7:0");
  fs::create_directory_symlink(virt / "loop0" / "loop0p1", block / "259:0");
  fs::create_directory_symlink(virt / "loop1", block / "7:1");
  fs::create_directory_symlink(f.sys / "devices" / "pci" / "block" / "sdz",
                               block / (std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev))));
  using V = std::vector<std::string>;
  std::string sys = f.sys.string();
  EXPECT_EQ(UnderlyingDisks(7, 0, sys), (V{"loop0", "sdz"}));
  EXPECT_EQ(UnderlyingDisks(259, 0, sys), (V{"loop0", "sdz"}));  // a partition of the loop device
  EXPECT_EQ(UnderlyingDisks(7, 1, sys), V{"loop1"});             // its image is gone: only itself
}

TEST(SameDevice, ImageSourcesNeverMatchAndTheRootDeviceDoes) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "a.img", std::vector<uint8_t>(4096));
  auto image = OpenSource(dir / "a.img");
  ASSERT_TRUE(image.source);
  EXPECT_FALSE(PathIsOnSource(dir.path().string(), *image.source));

  // The device that holds this folder, opened as a source, must refuse it.
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  std::string node;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/dev", ec)) {
    struct stat d {};
    if (::stat(e.path().c_str(), &d) == 0 && S_ISBLK(d.st_mode) && d.st_rdev == st.st_dev) node = e.path();
  }
  if (node.empty()) GTEST_SKIP() << "the folder's device has no node in /dev";
  auto device = OpenSource(node);
  if (!device.source) GTEST_SKIP() << "cannot open " << node << " (needs root and a block device)";
  EXPECT_TRUE(PathIsOnSource(dir.path().string(), *device.source));
  EXPECT_TRUE(PathIsOnSource((dir.path() / "not-yet" / "made").string(), *device.source));
}

}  // namespace
}  // namespace morvane
