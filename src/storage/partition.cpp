#include "storage/partition.h"

#include <algorithm>
#include <filesystem>

#include "storage/boot_sector.h"
#include "storage/files.h"

namespace morvane {

const std::array<TClusterTableRow, 23> DefaultClusterTable = {{
    {0, 0xFFFF, 512},
    {0, 0x1FFFF, 1024},
    {0, 0x3FFFF, 2048},
    {0, 0x7FFFF, 4096},
    {0, 0xFFFFF, 8192},
    {0, 0x1FFFFF, 16384},
    {0, 0x3FFFFF, 32768},
    {0, 0x7FFFFF, 65536},
    {1, 0x1FFFF, 512},
    {1, 0x3FFFF, 1024},
    {1, 0x7FFFF, 2048},
    {1, 0xFFFFFF, 4096},
    {1, 0x1FFFFFF, 8192},
    {1, 0x3FFFFFF, 16384},
    {1, 0xFFFFFFFF, 32768},
    {2, 0x7FFFFFFFF, 4096},
    {2, 0xFFFFFFFFF, 8192},
    {2, 0x1FFFFFFFFF, 16384},
    {2, 0x3FFFFFFFFF, 32768},
    {2, 0x7FFFFFFFFF, 65536},
    {3, 0x7FFFF, 4096},
    {3, 0x3FFFFFF, 32768},
    {3, 0x7FFFFFFFFF, 131072},
}};

namespace {

constexpr int kHfsItem = 4;
constexpr int kHfsPlusItem = 5;

// Cluster sizes are worked out in bytes; a cluster smaller than a sector is one sector.
uint32_t SectorsForClusterBytes(uint64_t clusterBytes, uint32_t sectorSize) {
  if (sectorSize == 0) return 1;
  return static_cast<uint32_t>(std::clamp<uint64_t>(clusterBytes / sectorSize, 1, UINT32_MAX));
}

bool ValidItem(int item, size_t count) { return item >= 0 && static_cast<size_t>(item) < count; }

// The geometry the scan starts from: the detected one with the cluster phase brought
// below the cluster size (an HFS volume states the sector of its first allocation block).
TSourceGeometry ScanCopyOf(const TSourceGeometry& detected) {
  TSourceGeometry g = detected;
  g.ClusterPhase = ScanClusterPhase(detected);
  return g;
}

}  // namespace

int FileSystemItem(uint8_t fsType) {
  switch (fsType) {
    case fsFAT12:
    case fsFAT16:
      return 0;
    case fsFAT32:
      return 1;
    case fsNTFS:
      return 2;
    case fsExFAT:
      return 3;
    case fsHFS:
      return kHfsItem;
    case fsHFSPlus:
      return kHfsPlusItem;
    default:
      return kFileSystemOtherItem;
  }
}

uint32_t DefaultSectorsPerCluster(int group, int64_t partitionLastSector, uint32_t sectorSize) {
  uint64_t lastByte = static_cast<uint64_t>(std::max<int64_t>(partitionLastSector, 0)) * sectorSize;
  for (const TClusterTableRow& row : DefaultClusterTable)
    if (row.Group == group && row.LimitSectors * 512 > lastByte)
      return SectorsForClusterBytes(row.ClusterBytes, sectorSize);
  return 0;
}

int ClusterSizeItem(uint32_t sectorsPerCluster, uint32_t sectorSize) {
  uint64_t k = static_cast<uint64_t>(sectorsPerCluster) * sectorSize / 512;
  for (size_t item = 1; item < kClusterSizeItems.size(); ++item)
    if (k == (uint64_t{1} << item)) return static_cast<int>(item);
  return 0;
}

PartitionModel::PartitionModel() : viewer_(source_, scan_, bytesRead_) { CloseSource(); }

PartitionResult PartitionModel::OpenDrive(const std::string& devicePath, const std::string& itemText) {
  CloseSource();
  OpenResult r = OpenSource(devicePath);
  if (!r.source) {
    int text = r.error == OpenError::SizeQueryFailed ? kTextFailedToGetParameters : kTextFailedToOpenDrive;
    return {text, r.error, r.detail};
  }
  return OpenSourceObject(std::move(r.source), itemText.empty() ? devicePath : itemText);
}

PartitionResult PartitionModel::OpenImage(const std::string& path) {
  CloseSource();
  OpenResult r = OpenSource(path);
  if (!r.source) return {kTextFailedToOpenFile, r.error, r.detail};
  return OpenAsKind(WithTestFaults(std::move(r.source)), path, OpenAs::Image);
}

PartitionResult PartitionModel::OpenSourceObject(std::unique_ptr<Source> source, const std::string& name) {
  if (!source) {
    CloseSource();
    return {kTextFailedToOpenFile, OpenError::Other, {}};
  }
  switch (source->Kind()) {
    case SourceKind::Partition:
      return OpenAsKind(std::move(source), name, OpenAs::Volume);
    case SourceKind::Disk:
      return OpenAsKind(std::move(source), name, OpenAs::Disk);
    default:
      return OpenAsKind(std::move(source), name, OpenAs::Image);
  }
}

PartitionResult PartitionModel::OpenAsKind(std::unique_ptr<Source> source, const std::string& name, OpenAs kind) {
  CloseSource();
  int failText = kind == OpenAs::Image ? kTextFailedToOpenFile : kTextFailedToOpenDrive;
  uint32_t deviceSectorSize = source->DeviceSectorSize();
  if (deviceSectorSize > kMaxSectorSize || deviceSectorSize % 512 != 0)
    return {failText, deviceSectorSize > kMaxSectorSize ? OpenError::SectorTooLarge : OpenError::Other,
            std::to_string(deviceSectorSize).append(" bytes per sector")};
  int64_t length = source->SizeBytes();
  if (length < 0) return {kTextFailedToGetParameters, OpenError::SizeQueryFailed, {}};

  TSourceGeometry found;
  bool recognised = kind != OpenAs::Disk && ParseBootSector(*source, found);
  uint32_t fallbackSectorSize = kind == OpenAs::Image || deviceSectorSize == 0 ? 512 : deviceSectorSize;
  uint32_t sectorSize = recognised ? found.SectorSize : fallbackSectorSize;
  if (length / sectorSize < 1)  // not one whole sector: nothing to show or scan
    return {failText, OpenError::Other, "smaller than one sector"};

  source_ = std::move(source);
  ++generation_;
  sourceDriveLetter_ = kind == OpenAs::Image ? '#' : 0;
  detected_ = found;
  TakeDetection(recognised, fallbackSectorSize);
  CompleteSourceOpen(length, name, kind);
  return {};
}

void PartitionModel::TakeDetection(bool recognised, uint32_t fallbackSectorSize) {
  groupBox1_.ComboBox3.ItemIndex = recognised ? kReasonDeleted : kReasonRepartitioned;
  groupBox1_.ComboBox3.Enabled = true;
  clusterChosen_ = false;
  LockLists(recognised);
  if (!recognised) {
    detected_.FsType = fsOther;
    detected_.SectorSize = fallbackSectorSize;
    detected_.SectorsPerCluster = 1;
    detected_.ClusterPhase = -1;
  }
}

void PartitionModel::CompleteSourceOpen(int64_t length, const std::string& name, OpenAs kind) {
  detected_.PartitionLastSector = length / detected_.SectorSize - 1;
  scan_ = ScanCopyOf(detected_);

  groupBox1_.CheckBox8Enabled = detected_.FsType < fsOther;
  groupBox1_.ComboBox2.ItemIndex = FileSystemItem(detected_.FsType);
  SelectClusterSizeItem(scan_.SectorsPerCluster);
  groupBox1_.Edit3 = std::to_string(0);
  groupBox1_.Edit4 = std::to_string(detected_.PartitionLastSector);

  if (kind != OpenAs::Image) statusPanel0_ = {kTextSectorSize, std::to_string(detected_.SectorSize)};
  statusPanel1_ = {kTextTotalSectors, std::to_string(detected_.PartitionLastSector + 1)};

  bytesRead_ = 0;
  viewer_.ShowSector(0);
  sourceName_ = name;

  viewer_.EnableEntry();
  groupBox1_.Visible = true;
  openControlsEnabled_ = false;
  std::string shown = kind == OpenAs::Image ? PathText(Utf8Path(name).filename()) : name;
  label16_ = {kTextOpened, shown};
}

void PartitionModel::CloseSource() {
  if (source_) {
    source_.reset();
    sourceDriveLetter_ = 0;
    ++generation_;
  }
  detected_ = TSourceGeometry{};
  scan_ = TSourceGeometry{};
  viewer_.Clear();
  groupBox1_.Visible = false;
  openControlsEnabled_ = true;
  groupBox1_.CheckBox8Checked = false;
  groupBox1_.CheckBox8Enabled = false;
  label16_ = {};
}

void PartitionModel::LockLists(bool locked) {
  groupBox1_.ComboBox2.Enabled = !locked;
  groupBox1_.ComboBox1.Enabled = !locked;
}

PartitionResult PartitionModel::ComboBox3Click(int item) {
  if (!source_ || !ValidItem(item, kLossReasonTextIds.size())) return {};
  PartitionResult result;
  if (item == kReasonDeleted && detected_.FsType == fsOther) {
    result.TextId = kTextUnknownFileSystem;
    item = kReasonFormatted;
  }
  groupBox1_.ComboBox3.ItemIndex = item;
  clusterChosen_ = false;
  if (item == kReasonDeleted) {
    scan_ = ScanCopyOf(detected_);
    LockLists(true);
    groupBox1_.ComboBox2.ItemIndex = FileSystemItem(scan_.FsType);
    SelectClusterSizeItem(scan_.SectorsPerCluster);
  } else {
    LockLists(false);
    groupBox1_.ComboBox2.ItemIndex = FileSystemItem(scan_.FsType);
    ComboBox2Click(groupBox1_.ComboBox2.ItemIndex);
  }
  return result;
}

void PartitionModel::ComboBox2Click(int item) {
  if (!source_ || !ValidItem(item, kFileSystemItems.size())) return;
  groupBox1_.ComboBox2.ItemIndex = item;
  scan_.ClusterPhase = -1;
  clusterChosen_ = false;
  if (Recognised() && item == FileSystemItem(detected_.FsType)) {
    // The file system found: its boot sector still tells the cluster size it was made with.
    scan_.SectorsPerCluster = detected_.SectorsPerCluster;
  } else if (item < kHfsItem) {
    uint32_t spc = DefaultSectorsPerCluster(item, scan_.PartitionLastSector, scan_.SectorSize);
    if (spc != 0) scan_.SectorsPerCluster = spc;  // beyond the table: keep what there is
  } else if (item == kHfsItem) {
    // HFS counts at most 65535 allocation blocks.
    uint64_t sectors = static_cast<uint64_t>(scan_.PartitionLastSector) + 0xFFFF;
    scan_.SectorsPerCluster = static_cast<uint32_t>(std::clamp<uint64_t>(sectors / 0x10000, 1, UINT32_MAX));
  } else if (item == kHfsPlusItem) {
    scan_.SectorsPerCluster = SectorsForClusterBytes(4096, scan_.SectorSize);
  } else {
    scan_.SectorsPerCluster = 1;
  }
  SelectClusterSizeItem(scan_.SectorsPerCluster);
}

void PartitionModel::ComboBox1Click(int item, bool byUser) {
  if (!source_ || !ValidItem(item, kClusterSizeItems.size())) return;
  groupBox1_.ComboBox1.ItemIndex = item;
  if (byUser) scan_.ClusterPhase = -1;
  if (byUser) clusterChosen_ = true;
  scan_.SectorsPerCluster = SectorsForClusterBytes(uint64_t{512} << item, scan_.SectorSize);
}

void PartitionModel::SelectClusterSizeItem(uint32_t sectorsPerCluster) {
  groupBox1_.ComboBox1.ItemIndex = ClusterSizeItem(sectorsPerCluster, scan_.SectorSize);
}

void PartitionModel::SetCheckBox8Checked(bool checked) {
  if (groupBox1_.CheckBox8Enabled) groupBox1_.CheckBox8Checked = checked;
}

void PartitionModel::FreeSpaceMapNotBuilt(bool cancelled) {
  groupBox1_.CheckBox8Checked = false;
  if (!cancelled) groupBox1_.CheckBox8Enabled = false;
}

SourceSummary PartitionModel::Summary() const {
  SourceSummary s;
  int item = groupBox1_.ComboBox2.ItemIndex;
  s.FileSystem = ValidItem(item, kFileSystemItems.size()) ? std::string(kFileSystemItems[item]) : std::string();
  s.FsType = detected_.FsType;
  s.SectorSize = scan_.SectorSize;
  s.SectorsPerCluster = scan_.SectorsPerCluster;
  s.ClusterPhase = scan_.ClusterPhase;
  s.TotalSectors = IsOpen() ? scan_.PartitionLastSector + 1 : 0;
  s.LossReasonItem = Recognised() ? kReasonDeleted : kReasonRepartitioned;
  return s;
}

}  // namespace morvane
