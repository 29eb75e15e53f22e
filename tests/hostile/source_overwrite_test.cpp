// No output may be the source or live on it: the backup image, the report and the output
// folder are refused when they name the source through any path (itself, a symbolic link,
// a hard link) or lie inside it (a file system mounted from the image through a loop device).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "hostile/hostile.h"

namespace morvane::hostile {
namespace {
namespace fs = std::filesystem;

TEST(HostileOutputs, NoOutputMayNameTheSource) {
  test::TempDir dir;
  const std::string img = dir / "v.img";
  const auto card = TwoPhotoCard();
  test::WriteFileBytes(img, card);
  fs::create_symlink(img, dir / "link.img");
  fs::create_hard_link(img, dir / "hard.img");
  fs::create_directory(dir / "out");

  for (const std::string& target : {img, dir / "link.img", dir / "hard.img"}) {
    auto backup = Morvane("backup -q " + Q(img) + " " + Q(target));
    EXPECT_EQ(backup.status, 1) << target << "\n" << backup.out;
    EXPECT_TRUE(backup.Has("Can't save IMG file on source drive!")) << backup.out;
    auto scan = Morvane("scan -q " + Q(img) + " -o " + Q(dir / "out") + " --report " + Q(target));
    EXPECT_EQ(scan.status, 1) << target << "\n" << scan.out;
    EXPECT_TRUE(scan.Has("The report can't be written over the source")) << scan.out;
    ASSERT_EQ(test::ReadFileBytes(img), card) << "the source was changed through " << target;
  }
  // The source named through a link also refuses the source itself as output.
  EXPECT_EQ(Morvane("backup -q " + Q(dir / "link.img") + " " + Q(img)).status, 1);
  EXPECT_EQ(test::ReadFileBytes(img), card);
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  // A new image file, and an existing one that is not the source, are written.
  test::WriteFileBytes(dir / "old.img", std::vector<uint8_t>(3 * 1024 * 1024, 7));
  for (const std::string& target : {dir / "new.img", dir / "old.img"}) {
    auto ok = Morvane("backup -q " + Q(img) + " " + Q(target));
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_EQ(test::ReadFileBytes(target), card);
  }
}

// Root, losetup, mke2fs and mount: builds an ext2 volume, attaches it (whole, and the first
// partition of a partitioned image, attached at its offset as a partition's file system is
// when the container has no partition nodes), mounts it and tries to write into it.
struct LoopMount {
  std::string device, mountPoint;
  bool ok = false;
  LoopMount(const std::string& image, const std::string& at, bool partitioned) : mountPoint(at) {
    FILE* p = popen(("losetup -f --show " + std::string(partitioned ? "-o 1048576 " : "") + Q(image) + " 2>/dev/null").c_str(), "r");
    if (!p) return;
    char buf[256] = {};
    if (fgets(buf, sizeof buf, p)) device = buf;
    pclose(p);
    while (!device.empty() && device.back() == '\n') device.pop_back();
    if (device.empty()) return;
    fs::create_directories(at);
    ok = test::Run("mount " + Q(device) + " " + Q(at) + " 2>/dev/null") == 0;
  }
  ~LoopMount() {
    if (ok) test::Run("umount " + Q(mountPoint));
    if (!device.empty()) test::Run("losetup -d " + Q(device));
  }
};

TEST(HostileOutputs, AnImageIsTheLoopDeviceItIsMountedThrough) {
  if (!IsRoot() || !test::HaveTool("losetup") || !test::HaveTool("mke2fs"))
    GTEST_SKIP() << "needs root, losetup and mke2fs";
  test::TempDir dir;
  // A whole-volume image and a partitioned one.
  const std::string volume = dir / "ex.img", disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s 8M " + Q(volume) + " && mke2fs -q -F " + Q(volume) + " >/dev/null 2>&1"), 0);
  {
    // One primary partition (type 0x83) from sector 2048, holding the volume.
    auto bytes = test::ReadFileBytes(volume);
    std::vector<uint8_t> partitioned(12 * 1024 * 1024, 0);
    const uint32_t start = 2048, count = static_cast<uint32_t>(bytes.size() / 512);
    uint8_t* entry = partitioned.data() + 0x1BE;
    entry[4] = 0x83;
    for (int i = 0; i < 4; ++i) {
      entry[8 + i] = static_cast<uint8_t>(start >> (8 * i));
      entry[12 + i] = static_cast<uint8_t>(count >> (8 * i));
    }
    partitioned[510] = 0x55;
    partitioned[511] = 0xAA;
    std::copy(bytes.begin(), bytes.end(), partitioned.begin() + start * 512);
    test::WriteFileBytes(disk, partitioned);
  }

  for (bool partitioned : {false, true}) {
    const std::string image = partitioned ? disk : volume;
    LoopMount mount(image, dir / (partitioned ? "mnt2" : "mnt1"), partitioned);
    if (!mount.ok) GTEST_SKIP() << "cannot attach and mount a loop device here";
    fs::create_directory(mount.mountPoint + "/rescued");
    auto scan = Morvane("scan -q " + Q(image) + " -o " + Q(mount.mountPoint + "/rescued"));
    EXPECT_EQ(scan.status, 1) << scan.out;
    EXPECT_TRUE(scan.Has("Dest folder can't be on source drive!")) << scan.out;
    auto report = Morvane("scan -q " + Q(image) + " -o " + Q(dir.path().string()) + " --report " +
                          Q(mount.mountPoint + "/r.json"));
    EXPECT_EQ(report.status, 1) << report.out;
    auto backup = Morvane("backup -q " + Q(image) + " " + Q(mount.mountPoint + "/copy.img"));
    EXPECT_EQ(backup.status, 1) << backup.out;
    EXPECT_TRUE(backup.Has("Can't save IMG file on source drive!")) << backup.out;
    // The loop device itself as the image target is the source too.
    auto onDevice = Morvane("backup -q " + Q(image) + " " + Q(mount.device));
    EXPECT_EQ(onDevice.status, 1) << onDevice.out;
    EXPECT_FALSE(fs::exists(mount.mountPoint + "/copy.img"));
    EXPECT_FALSE(fs::exists(mount.mountPoint + "/r.json"));
    EXPECT_TRUE(fs::is_empty(mount.mountPoint + "/rescued"));
    // An image elsewhere is still welcome on that drive.
    test::WriteFileBytes(dir / "other.img", TwoPhotoCard());
    auto other = Morvane("scan -q " + Q(dir / "other.img") + " -o " + Q(mount.mountPoint + "/rescued"));
    EXPECT_EQ(other.status, 0) << other.out;
    fs::remove_all(mount.mountPoint + "/rescued");
  }
}

}  // namespace
}  // namespace morvane::hostile
