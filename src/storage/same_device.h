// Whether a folder lies on the medium being read: recovered files and image backups must
// go to another drive, or they would overwrite the very sectors being recovered.
#pragma once

#include <string>
#include <vector>

#include "storage/source.h"

namespace morvane {

// True when `path` (a folder, or the file about to be created in one) is stored on the
// source: on the source device itself, on another partition of the source's disk, on the
// disk that holds the source partition, or on a device (LVM, RAID, dm-crypt) built on any of
// them. An image-file source never matches. `sysRoot` lets tests point at a fake sysfs.
bool PathIsOnSource(const std::string& path, const Source& source, const std::string& sysRoot = "/sys");

// The whole disks that block device major:minor is stored on, following partitions to
// their disk and stacked devices to their members.
std::vector<std::string> UnderlyingDisks(unsigned major, unsigned minor, const std::string& sysRoot = "/sys");

}  // namespace morvane
