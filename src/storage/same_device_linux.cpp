#include "storage/same_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

namespace morvane {
namespace fs = std::filesystem;
namespace {

using FileId = std::pair<uint64_t, uint64_t>;  // st_dev, st_ino

// What a block device is made of: the whole disks at the bottom, and the image files of the
// loop devices on the way.
struct DeviceChain {
  std::set<std::string> disks;
  std::set<FileId> images;

  bool Meets(const DeviceChain& other) const {
    auto common = [](const auto& a, const auto& b) {
      return std::any_of(a.begin(), a.end(), [&](const auto& x) { return b.count(x) != 0; });
    };
    return common(disks, other.disks) || common(images, other.images);
  }
};

// The sysfs folder of a block device, e.g. /sys/devices/.../block/sda/sda1.
fs::path DeviceFolder(unsigned major, unsigned minor, const std::string& sysRoot) {
  std::error_code ec;
  fs::path link = fs::path(sysRoot) / "dev" / "block" / (std::to_string(major) + ":" + std::to_string(minor));
  fs::path real = fs::canonical(link, ec);
  return ec ? fs::path() : real;
}

// The image file behind a loop device folder; false for other devices and detached loops.
bool LoopImage(const fs::path& disk, struct stat& image) {
  std::ifstream in(disk / "loop" / "backing_file");
  std::string name;
  if (!in || !std::getline(in, name) || name.empty()) return false;
  const std::string deleted = " (deleted)";
  if (name.size() > deleted.size() && name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
    name.resize(name.size() - deleted.size());
  return ::stat(name.c_str(), &image) == 0;
}

// `followImages`: also collect the disks that hold the loop devices' image files. Writing to
// a loop device writes into its image, and so onto that disk; reading one reads only the image.
void Collect(const fs::path& folder, DeviceChain& chain, bool followImages, const std::string& sysRoot, int depth) {
  if (folder.empty() || depth > 8) return;
  std::error_code ec;
  fs::path disk = fs::exists(folder / "partition", ec) ? folder.parent_path() : folder;
  struct stat image {};
  if (LoopImage(disk, image)) {
    chain.images.insert({image.st_dev, image.st_ino});
    if (followImages)
      Collect(DeviceFolder(major(image.st_dev), minor(image.st_dev), sysRoot), chain, true, sysRoot, depth + 1);
  }
  bool stacked = false;
  for (const auto& slave : fs::directory_iterator(disk / "slaves", ec)) {
    stacked = true;
    Collect(fs::canonical(slave.path(), ec), chain, followImages, sysRoot, depth + 1);
  }
  if (!stacked) chain.disks.insert(disk.filename().string());
}

DeviceChain ChainOf(dev_t dev, bool followImages, const std::string& sysRoot) {
  DeviceChain chain;
  Collect(DeviceFolder(major(dev), minor(dev), sysRoot), chain, followImages, sysRoot, 0);
  return chain;
}

// What the source is read from.
DeviceChain SourceChain(const Source& source, const std::string& sysRoot) {
  if (source.Kind() == SourceKind::ImageFile) {
    DeviceChain chain;
    chain.images.insert({source.FileDevice(), source.FileInode()});
    return chain;
  }
  if (source.Kind() == SourceKind::Memory) return {};
  return ChainOf(static_cast<dev_t>(source.DeviceNumber()), false, sysRoot);
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
  DeviceChain chain = ChainOf(makedev(major, minor), true, sysRoot);
  return {chain.disks.begin(), chain.disks.end()};
}

bool PathIsOnSource(const std::string& path, const Source& source, const std::string& sysRoot) {
  if (source.Kind() == SourceKind::Memory) return false;
  dev_t folderDev = 0;
  if (!DeviceOfPath(path, folderDev)) return false;
  if (source.Kind() != SourceKind::ImageFile && folderDev == static_cast<dev_t>(source.DeviceNumber())) return true;
  return ChainOf(folderDev, true, sysRoot).Meets(SourceChain(source, sysRoot));
}

bool PathIsSource(const std::string& path, const Source& source, const std::string& sysRoot) {
  if (source.Kind() == SourceKind::Memory) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  if (st.st_dev == source.FileDevice() && st.st_ino == source.FileInode()) return true;
  if (!S_ISBLK(st.st_mode)) return false;
  if (source.Kind() != SourceKind::ImageFile && st.st_rdev == static_cast<dev_t>(source.DeviceNumber())) return true;
  return ChainOf(st.st_rdev, true, sysRoot).Meets(SourceChain(source, sysRoot));
}

}  // namespace morvane
