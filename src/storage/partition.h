// Opening a source and choosing its geometry.
//
// PartitionModel holds the one open source of a session (the handle, its name, the
// geometry found on it and the geometry in force for the viewer, the backup and the scan)
// and the state of the scan-settings group: the loss reason, file-system and cluster-size
// lists, the scan range entries and the free-space-only check box, the status bar panels
// and the "Opened:" label. A front end shows that state and forwards the user's actions to
// the handlers named after their controls. The model never talks to the user: operations
// return the number of the language text to show (0 for none) with the error behind it,
// and the front end looks the text up.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "storage/geometry.h"
#include "storage/sector_viewer.h"
#include "storage/source.h"

namespace morvane {

// Language texts the model reports.
inline constexpr int kTextFailedToOpenDrive = 16;     // "Failed to open drive!"
inline constexpr int kTextTotalSectors = 18;          // "Total Sectors: "
inline constexpr int kTextFailedToOpenFile = 48;      // "Failed to open file!"
inline constexpr int kTextFailedToGetParameters = 63; // "Failed to get parameters"
inline constexpr int kTextUnknownFileSystem = 70;     // "Unknown file system, not support this option!"
inline constexpr int kTextOpened = 84;                // "Opened: "
inline constexpr int kTextSectorSize = 86;            // "Sector Size: "

// Items of the loss-reason list (language texts 67..69).
inline constexpr int kReasonDeleted = 0;        // "Deleted or Disappeared": detected geometry
inline constexpr int kReasonFormatted = 1;      // "Formatted"
inline constexpr int kReasonRepartitioned = 2;  // "Repartitioned"
inline constexpr std::array<int, 3> kLossReasonTextIds = {67, 68, 69};

// Items of the file-system list.
inline constexpr std::array<std::string_view, 7> kFileSystemItems = {
    "FAT", "FAT32", "NTFS", "exFAT", "HFS", "HFS+/HFSX", "OTHER"};
inline constexpr int kFileSystemOtherItem = 6;

// Items of the cluster-size list; item i stands for 512 << i bytes.
inline constexpr std::array<std::string_view, 9> kClusterSizeItems = {
    "0.5K", "1K", "2K", "4K", "8K", "16K", "32K", "64K", "128K"};

// The file-system list item that shows `fsType`.
int FileSystemItem(uint8_t fsType);

// Default cluster sizes by file system and volume size: within a group, the first row whose
// limit (in 512-byte sectors) exceeds the source's size applies.
struct TClusterTableRow {
  int Group;              // file-system list item: 0 FAT, 1 FAT32, 2 NTFS, 3 exFAT
  uint64_t LimitSectors;  // in 512-byte sectors
  uint32_t ClusterBytes;
};
extern const std::array<TClusterTableRow, 23> DefaultClusterTable;

// Sectors per cluster that the table gives for `group` on a source whose last sector is
// `partitionLastSector`; at least 1. 0 when no row of the group fits (the source is larger
// than the group's last limit) or the group has no rows.
uint32_t DefaultSectorsPerCluster(int group, int64_t partitionLastSector, uint32_t sectorSize);

// The cluster-size list item for a cluster of `sectorsPerCluster` sectors of `sectorSize`
// bytes: the item of that size when it is listed, else item 0.
int ClusterSizeItem(uint32_t sectorsPerCluster, uint32_t sectorSize);

// What an operation asks the front end to show.
struct PartitionResult {
  int TextId = 0;                     // language text of the message; 0: nothing to show
  OpenError Error = OpenError::None;  // why a source could not be opened
  std::string Detail;                 // the system's own words, when there are any
  bool Ok() const { return TextId == 0; }
};

struct TComboState {
  int ItemIndex = -1;
  bool Enabled = false;
};

// The scan-settings group box.
struct TGroupBox1State {
  bool Visible = false;
  TComboState ComboBox3;  // loss reason
  TComboState ComboBox2;  // original file system
  TComboState ComboBox1;  // cluster size
  std::string Edit3;      // first sector of the scan range
  std::string Edit4;      // last sector of the scan range
  bool CheckBox8Enabled = false;  // "Scan free space only"
  bool CheckBox8Checked = false;
};

// A label or status panel showing language text TextId followed by Value; empty while
// TextId is 0.
struct TLabelText {
  int TextId = 0;
  std::string Value;
};

// What `morvane info` prints about an open source.
struct SourceSummary {
  std::string FileSystem;         // the file-system list item
  uint8_t FsType = fsOther;       // as detected
  uint32_t SectorSize = 0;
  uint32_t SectorsPerCluster = 0;
  int32_t ClusterPhase = -1;      // -1: unknown, the scan works it out
  int64_t TotalSectors = 0;
  int LossReasonItem = kReasonRepartitioned;  // the reason the detection implies
};

class PartitionModel {
 public:
  PartitionModel();
  PartitionModel(const PartitionModel&) = delete;
  PartitionModel& operator=(const PartitionModel&) = delete;

  // Opens a disk or partition device (the open-drive button). A partition is examined for
  // a boot record; a whole disk never is. A path naming an image file opens as an image.
  // `itemText` (the drive-list text) becomes SourceName; the path when it is empty.
  PartitionResult OpenDrive(const std::string& devicePath, const std::string& itemText = {});
  // Opens a raw image file (the open-image button). The sector-size status panel is kept.
  PartitionResult OpenImage(const std::string& path);
  // Opens a source that is already open, by its kind: a partition, a disk, or an image
  // (image files and memory sources). `name` becomes SourceName.
  PartitionResult OpenSourceObject(std::unique_ptr<Source> source, const std::string& name);
  // Closes the source (if any) and resets the window to its closed state.
  void CloseSource();

  // The loss reason chosen. Item 0 on an unrecognised source is refused with text 70 and
  // handled as item 1.
  PartitionResult ComboBox3Click(int item);
  // The original file system chosen: phase unknown; the cluster size of the file system
  // found when it is the one chosen, else the default size for it.
  void ComboBox2Click(int item);
  // The cluster size chosen; `byUser` false (the scan start) keeps the cluster phase.
  void ComboBox1Click(int item, bool byUser);
  // Shows the cluster-size item for `sectorsPerCluster` sectors of ScanGeometry's size.
  void SelectClusterSizeItem(uint32_t sectorsPerCluster);
  // Checks or unchecks "Scan free space only"; ignored while the box is disabled.
  void SetCheckBox8Checked(bool checked);
  // A scan or backup asked for free space only but got no free-space map: the box is
  // unchecked, and disabled as well when the file system gives none (not cancelled).
  void FreeSpaceMapNotBuilt(bool cancelled);

  // Source state.
  Source* SourceHandle() const { return source_.get(); }  // null while nothing is open
  bool IsOpen() const { return source_ != nullptr; }
  const std::string& SourceName() const { return sourceName_; }
  char SourceDriveLetter() const { return sourceDriveLetter_; }  // '#' for an image file
  int64_t& BytesRead() { return bytesRead_; }
  const TSourceGeometry& DetectedGeometry() const { return detected_; }
  TSourceGeometry& ScanGeometry() { return scan_; }
  const TSourceGeometry& ScanGeometry() const { return scan_; }
  bool Recognised() const { return detected_.FsType < fsOther; }
  // The user picked a cluster size since the source was opened or the lists last changed;
  // otherwise a scan may take the cluster grid from the data.
  bool ClusterChosenByUser() const { return clusterChosen_; }
  // Changes on every open and close, so that anything cached from a source can tell
  // that the source is gone.
  uint64_t SourceGeneration() const { return generation_; }

  // Window state.
  const TGroupBox1State& GroupBox1() const { return groupBox1_; }
  const TLabelText& StatusPanel0() const { return statusPanel0_; }  // sector size
  const TLabelText& StatusPanel1() const { return statusPanel1_; }  // total sectors
  const TLabelText& Label16() const { return label16_; }            // "Opened: " + name
  bool DriveComboBox1Enabled() const { return openControlsEnabled_; }
  bool Button1Enabled() const { return openControlsEnabled_; }
  bool Button10Enabled() const { return openControlsEnabled_; }
  SectorViewer& Viewer() { return viewer_; }
  const SectorViewer& Viewer() const { return viewer_; }

  SourceSummary Summary() const;

 private:
  enum class OpenAs { Volume, Disk, Image };
  PartitionResult OpenAsKind(std::unique_ptr<Source> source, const std::string& name, OpenAs kind);
  void TakeDetection(bool recognised, uint32_t fallbackSectorSize);
  void CompleteSourceOpen(int64_t length, const std::string& name, OpenAs kind);
  void LockLists(bool locked);

  std::unique_ptr<Source> source_;
  std::string sourceName_;
  char sourceDriveLetter_ = 0;
  int64_t bytesRead_ = 0;
  TSourceGeometry detected_;
  TSourceGeometry scan_;
  uint64_t generation_ = 0;
  bool clusterChosen_ = false;

  TGroupBox1State groupBox1_;
  TLabelText statusPanel0_;
  TLabelText statusPanel1_;
  TLabelText label16_;
  bool openControlsEnabled_ = true;
  SectorViewer viewer_;
};

}  // namespace morvane
