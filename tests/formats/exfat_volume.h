// A real exFAT volume made by mkfs.exfat, into which tests write files as the file system
// would: clusters, allocation bitmap, directory entry sets and FAT chains. Deleted files keep
// their clusters and entries, with the in-use bits cleared, as a camera's card looks after
// its files were erased.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "formats/raw_card.h"
#include "storage/bytes.h"
#include "support/test_support.h"

namespace morvane::test {

// The volume's geometry from its boot sector, and the allocation bitmap and root directory.
class ExFatVolume {
  using Bytes = std::vector<uint8_t>;

 public:
  explicit ExFatVolume(const std::string& path) : path_(path) {
    made_ = test::Run("truncate -s 8M " + path + " && mkfs.exfat -c 4K " + path + " >/dev/null 2>&1") == 0;
    if (!made_) return;
    image_ = test::ReadFileBytes(path);
    const ByteView b(image_.data(), 512);
    sector_ = int64_t{1} << b.U8(108);
    clusterBytes_ = sector_ << b.U8(109);
    heap_ = int64_t{b.Le32(88)} * sector_;
    fat_ = int64_t{b.Le32(80)} * sector_;
    count_ = b.Le32(92);
    root_ = ClusterOffset(b.Le32(96));
    const ByteView dir(image_.data() + root_, 96);
    made_ = dir.U8(32) == 0x81;
    bitmap_ = ClusterOffset(dir.Le32(52));
    for (int64_t c = 0; c < count_; ++c)
      if (Allocated(c + 2)) firstFree_ = c + 3;
  }
  bool Made() const { return made_; }
  int64_t ClusterBytes() const { return clusterBytes_; }
  int64_t FirstFreeCluster() const { return firstFree_; }
  int64_t Clusters(size_t bytes) const { return (static_cast<int64_t>(bytes) + clusterBytes_ - 1) / clusterBytes_; }

  // Writes bytes over the given clusters; allocated ones are marked in the bitmap.
  void Write(const Bytes& bytes, const std::vector<int64_t>& clusters, bool allocated) {
    for (size_t i = 0; i < clusters.size(); ++i) {
      const size_t from = i * static_cast<size_t>(clusterBytes_);
      if (from < bytes.size())
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                    std::min<size_t>(static_cast<size_t>(clusterBytes_), bytes.size() - from),
                    image_.begin() + ClusterOffset(clusters[i]));
      if (allocated) image_[bitmap_ + (clusters[i] - 2) / 8] |= static_cast<uint8_t>(1u << ((clusters[i] - 2) % 8));
    }
  }
  // A file's entry set (file, stream extension, name) in the root directory, its FAT chain
  // when its clusters are not one run; a deleted one has the in-use bit of each entry type
  // cleared (its chain and, as it was never allocated here, its bitmap bits are left alone).
  void Entry(const std::string& name, const std::vector<int64_t>& clusters, size_t length, bool deleted) {
    size_t at = static_cast<size_t>(root_);
    while (image_[at] != 0) at += 32;
    bool oneRun = true;
    for (size_t i = 1; i < clusters.size(); ++i) oneRun = oneRun && clusters[i] == clusters[i - 1] + 1;
    const uint8_t inUse = deleted ? 0x00 : 0x80;
    Bytes set(96, 0);
    set[0] = 0x05 | inUse;
    set[1] = 2;
    PutLe(set, 4, 0x20, 2);
    set[32] = 0x40 | inUse;
    set[33] = oneRun ? 0x03 : 0x01;  // allocation possible; no FAT chain when one run
    set[35] = static_cast<uint8_t>(name.size());
    uint16_t hash = 0;  // over the name in capitals, as UTF-16
    for (char c : name)
      for (uint8_t byte : {static_cast<uint8_t>(std::toupper(static_cast<unsigned char>(c))), uint8_t{0}})
        hash = static_cast<uint16_t>(((hash & 1) ? 0x8000 : 0) + (hash >> 1) + byte);
    PutLe(set, 36, hash, 2);
    PutLe(set, 40, length, 8);
    PutLe(set, 52, static_cast<uint64_t>(clusters[0]), 4);
    PutLe(set, 56, length, 8);
    set[64] = 0x41 | inUse;
    for (size_t i = 0; i < name.size() && i < 15; ++i) set[66 + 2 * i] = static_cast<uint8_t>(name[i]);
    uint16_t sum = 0;  // the set's checksum, over every byte but its own two
    for (size_t i = 0; i < set.size(); ++i)
      if (i != 2 && i != 3) sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
    PutLe(set, 2, sum, 2);
    std::copy(set.begin(), set.end(), image_.begin() + static_cast<std::ptrdiff_t>(at));
    if (!oneRun)
      for (size_t i = 0; i < clusters.size(); ++i)
        PutLe(image_, static_cast<size_t>(fat_ + clusters[i] * 4), i + 1 < clusters.size() ? clusters[i + 1] : 0xFFFFFFFF, 4);
  }
  void Save() { test::WriteFileBytes(path_, image_); }

 private:
  int64_t ClusterOffset(int64_t cluster) const { return heap_ + (cluster - 2) * clusterBytes_; }
  bool Allocated(int64_t cluster) const { return image_[bitmap_ + (cluster - 2) / 8] >> ((cluster - 2) % 8) & 1; }

  std::string path_;
  Bytes image_;
  bool made_ = false;
  int64_t sector_ = 512, clusterBytes_ = 0, heap_ = 0, fat_ = 0, count_ = 0, root_ = 0, bitmap_ = 0, firstFree_ = 2;
};

}  // namespace morvane::test
