#include "storage/same_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace morvane {
namespace fs = std::filesystem;
namespace {

// The sysfs folder of a block device, e.g. /sys/devices/.../block/sda/sda1.
fs::path DeviceFolder(unsigned major, unsigned minor, const std::string& sysRoot) {
  std::error_code ec;
  fs::path link = fs::path(sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
  fs::path real = fs::canonical(link, ec);
  return ec ? fs::path() : real;
}

void CollectDisks(const fs::path& folder, std::set<std::string>& disks, int depth) {
  if (folder.empty() || depth > 8) return;
  std::error_code ec;
  fs::path disk = fs::exists(folder / "partition", ec) ? folder.parent_path() : folder;
  bool stacked = false;
  for (const auto& slave : fs::directory_iterator(disk / "slaves", ec)) {
    stacked = true;
    CollectDisks(fs::canonical(slave.path(), ec), disks, depth + 1);
  }
  if (!stacked) disks.insert(disk.filename().string());
}

// The device the folder is stored on: the nearest existing ancestor decides.
bool DeviceOfPath(const std::string& path, dev_t& dev) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  while (!p.empty()) {
    struct stat st {};
    if (::stat(p.c_str(), &st) == 0) {
      dev = st.st_dev;
      return true;
    }
    if (p == p.parent_path()) break;
    p = p.parent_path();
  }
  return false;
}

}  // namespace

std::vector<std::string> UnderlyingDisks(unsigned major, unsigned minor, const std::string& sysRoot) {
  std::set<std::string> disks;
  CollectDisks(DeviceFolder(major, minor, sysRoot), disks, 0);
  return {disks.begin(), disks.end()};
}

bool PathIsOnSource(const std::string& path, const Source& source, const std::string& sysRoot) {
  if (source.Kind() == SourceKind::ImageFile || source.Kind() == SourceKind::Memory) return false;
  dev_t folderDev = 0;
  if (!DeviceOfPath(path, folderDev)) return false;
  dev_t sourceDev = static_cast<dev_t>(source.DeviceNumber());
  if (folderDev == sourceDev) return true;
  auto a = UnderlyingDisks(major(folderDev), minor(folderDev), sysRoot);
  auto b = UnderlyingDisks(major(sourceDev), minor(sourceDev), sysRoot);
  return std::any_of(a.begin(), a.end(), [&](const std::string& d) {
    return std::find(b.begin(), b.end(), d) != b.end();
  });
}

}  // namespace morvane
