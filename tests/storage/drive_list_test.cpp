#include "storage/drive_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/test_support.h"

namespace morvane {
namespace {

void Put(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

TEST(DriveList, DescriptionsFollowVendorAndProductRules) {
  EXPECT_EQ(DiskDescription("ATA  ", " Samsung SSD "), " ATA Samsung SSD");
  EXPECT_EQ(DiskDescription("ATA", ""), "");  // vendor without product: no description
  EXPECT_EQ(DiskDescription("", "Flash"), " Flash");
  EXPECT_EQ(DiskItemText(false, 1, "", 500107862016), "HD1 (465.76GB)");
  EXPECT_EQ(DiskItemText(true, 0, " Generic Flash", 4194304), "RM0 Generic Flash (4.00MB)");
}

TEST(DriveList, ListsPartitionsThenDisksFromSysfs) {
  test::TempDir root;
  auto sys = root.path() / "sys" / "block";
  Put(sys / "sda" / "size", "976773168");
  Put(sys / "sda" / "removable", "0");
  Put(sys / "sda" / "device" / "vendor", "ATA");
  Put(sys / "sda" / "device" / "model", "Disk One");
  Put(sys / "sda" / "sda1" / "size", "2048");
  Put(sys / "sda" / "sda1" / "partition", "1");
  Put(sys / "sdb" / "size", "8192");
  Put(sys / "sdb" / "removable", "1");
  Put(sys / "loop0" / "size", "0");  // unused loop device: not listed
  Put(sys / "zram0" / "size", "1000");

  auto items = ListDrives((root.path() / "sys").string(), "/dev");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].devicePath, "/dev/sda1");
  EXPECT_TRUE(items[0].isPartition);
  EXPECT_EQ(items[0].sizeBytes, 2048 * 512);
  EXPECT_EQ(items[0].text.rfind("sda1:", 0), 0u);
  EXPECT_EQ(items[1].text, "HD0 ATA Disk One (465.76GB)");
  EXPECT_EQ(items[1].kind, DriveKind::Fixed);
  EXPECT_EQ(items[2].text, "RM1 (4.00MB)");
  EXPECT_EQ(items[2].kind, DriveKind::Removable);
  EXPECT_EQ(items[2].devicePath, "/dev/sdb");
}

}  // namespace
}  // namespace morvane
