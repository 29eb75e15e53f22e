// Whether an output would land on the medium being read: recovered files, reports and image
// backups must go to another drive, or they would overwrite the very sectors being recovered;
// and no output may ever be the source itself.
#pragma once

#include <string>
#include <vector>

#include "storage/source.h"

namespace morvane {

// True when `path` (a folder, or the file about to be created in one) is stored on the
// source: on the source device itself, on another partition of the source's disk, on the
// disk that holds the source partition, or on a device (LVM, RAID, dm-crypt) built on any of
// them. A loop device counts as the image file behind it: a folder on a file system inside
// an image (mounted through /dev/loopN, a partition of it or a device stacked on it) is on
// that image, and a folder on a loop device whose image is stored on the source's disk is
// on that disk. `sysRoot` lets tests point at a fake sysfs.
bool PathIsOnSource(const std::string& path, const Source& source, const std::string& sysRoot = "/sys");

// True when `path` already names the source: the same file (through any symbolic or hard
// link), or a block device that shares a disk with a device source or is a loop device
// over an image source. A path that does not exist yet is not the source.
bool PathIsSource(const std::string& path, const Source& source, const std::string& sysRoot = "/sys");

// Either of the above: writing `path` could change what is being read.
inline bool OutputEndangersSource(const std::string& path, const Source& source,
                                  const std::string& sysRoot = "/sys") {
  return PathIsSource(path, source, sysRoot) || PathIsOnSource(path, source, sysRoot);
}

// The whole disks that block device major:minor is stored on, following partitions to
// their disk, stacked devices to their members, and loop devices to the disk that holds
// their image file.
std::vector<std::string> UnderlyingDisks(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

}  // namespace morvane
