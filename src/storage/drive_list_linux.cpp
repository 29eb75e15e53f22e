#include "storage/drive_list.h"

#include <blkid/blkid.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "storage/streams.h"

namespace morvane {
namespace fs = std::filesystem;
namespace {


std::string ReadSysText(const fs::path& p) {
  std::ifstream in(p);
  std::string s;
  std::getline(in, s);
  return TrimText(s);
}

int64_t ReadSysNumber(const fs::path& p) {
  try {
    return std::stoll(ReadSysText(p));
  } catch (...) {
    return 0;
  }
}

// Devices that cannot hold anyone's photos: empty loop devices, swap in RAM, device mapper
// internals are still listed when they have a size.
bool Ignored(const std::string& name, int64_t sectors) {
  if (sectors <= 0) return true;
  return name.rfind("zram", 0) == 0;
}

DriveKind KindOf(const std::string& name, bool removable) {
  if (name.rfind("sr", 0) == 0) return DriveKind::Optical;
  if (name.rfind("ram", 0) == 0 || name.rfind("pmem", 0) == 0) return DriveKind::Ram;
  if (name.rfind("nbd", 0) == 0) return DriveKind::Network;
  return removable ? DriveKind::Removable : DriveKind::Fixed;
}

std::string LabelOf(const std::string& devicePath) {
  char* value = blkid_get_tag_value(nullptr, "LABEL", devicePath.c_str());
  if (!value) return {};
  std::string label = value;
  free(value);
  return label;
}

std::string PartitionItemText(const std::string& name, const std::string& label) {
  std::string text = name + ":";
  if (!label.empty()) {
    std::string upper = label;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    text += " [" + upper + "]";
  }
  return text;
}

}  // namespace

std::vector<DriveItem> ListDrives(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<DriveItem> partitions, disks;
  std::error_code ec;
  std::vector<fs::path> blocks;
  for (const auto& e : fs::directory_iterator(fs::path(sysRoot) / "block", ec)) blocks.push_back(e.path());
  std::sort(blocks.begin(), blocks.end());

  for (const auto& block : blocks) {
    std::string name = block.filename().string();
    int64_t sectors = ReadSysNumber(block / "size");  // always 512-byte units in sysfs
    if (Ignored(name, sectors)) continue;
    bool removable = ReadSysNumber(block / "removable") != 0;
    DriveKind kind = KindOf(name, removable);

    DriveItem disk;
    disk.devicePath = (fs::path(devRoot) / name).string();
    disk.kind = kind;
    disk.sizeBytes = sectors * 512;
    std::string description =
        DiskDescription(ReadSysText(block / "device" / "vendor"), ReadSysText(block / "device" / "model"));
    disk.text = DiskItemText(removable, static_cast<int>(disks.size()), description, disk.sizeBytes);
    disks.push_back(disk);

    std::vector<fs::path> parts;
    for (const auto& e : fs::directory_iterator(block, ec))
      if (fs::exists(e.path() / "partition")) parts.push_back(e.path());
    std::sort(parts.begin(), parts.end());
    for (const auto& part : parts) {
      std::string pname = part.filename().string();
      int64_t psectors = ReadSysNumber(part / "size");
      if (psectors <= 0) continue;
      DriveItem item;
      item.devicePath = (fs::path(devRoot) / pname).string();
      item.kind = kind;
      item.isPartition = true;
      item.sizeBytes = psectors * 512;
      item.text = PartitionItemText(pname, LabelOf(item.devicePath));
      partitions.push_back(item);
    }
  }
  partitions.insert(partitions.end(), disks.begin(), disks.end());
  return partitions;
}

}  // namespace morvane
