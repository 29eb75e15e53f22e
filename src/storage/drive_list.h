// The drive list: the disks and partitions of this machine that can be opened as sources.
//
// Items are identified by their device path; the text is what a person reads:
//   disks       "HD0 ATA Samsung SSD 860 (465.76GB)", "RM1 Generic Flash Disk (14.91GB)"
//   partitions  "sda1: [CAMERA]", "sdb1:" (the label in brackets when there is one)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace morvane {

enum class DriveKind { Removable, Fixed, Network, Optical, Ram };

struct DriveItem {
  std::string text;        // as shown in the list
  std::string devicePath;  // "/dev/sda", "/dev/sda1"
  DriveKind kind = DriveKind::Fixed;
  bool isPartition = false;
  int64_t sizeBytes = 0;
};

// Lists partitions first (in device order), then whole disks numbered from 0.
// `sysRoot` and `devRoot` let tests point the lister at a folder made to look like sysfs.
std::vector<DriveItem> ListDrives(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// `s` without the spaces and control characters at its ends.
std::string TrimText(std::string s);

// The description of a disk from its vendor and product texts: " VENDOR PRODUCT", or empty
// when either is missing (a vendor without a product gives no description at all).
std::string DiskDescription(const std::string& vendor, const std::string& product);

// "HD0 ATA Disk (465.76GB)" from prefix, number, description and size.
std::string DiskItemText(bool removable, int number, const std::string& description, int64_t sizeBytes);

}  // namespace morvane
