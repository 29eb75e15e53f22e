#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/language.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/platform.h"
#include "filetypes/catalogue.h"
#include "scan/scan_summary.h"
#include "storage/drive_list.h"

namespace morvane::cli {
namespace {

const std::string& T(int n) { return FaceTexts().Text(n); }

const char* KindName(DriveKind k) {
  switch (k) {
    case DriveKind::Removable: return "removable";
    case DriveKind::Fixed: return "fixed";
    case DriveKind::Network: return "network";
    case DriveKind::Optical: return "optical";
    case DriveKind::Ram: return "ram";
  }
  return "fixed";
}

const char* ReasonName(int item) {
  return item == kReasonDeleted ? "deleted" : item == kReasonFormatted ? "formatted" : "repartitioned";
}

}  // namespace

int Fail(int textId, const std::string& detail) {
  std::cerr << T(textId) << "\n";
  if (!detail.empty()) std::cerr << detail << "\n";
  return kExitFailed;
}

int FailText(const std::string& text) {
  std::cerr << text << "\n";
  return kExitFailed;
}

int UsageError(const std::string& text) {
  std::cerr << text << "\n";
  return kExitUsage;
}

bool OpenForCommand(PartitionModel& model, const std::string& path) {
  bool device = IsDevicePath(path);
  PartitionResult r = device ? model.OpenDrive(path) : model.OpenImage(path);
  if (r.Ok()) return true;
  std::string detail = path;
  if (!r.Detail.empty()) detail += ": " + r.Detail;
  if (r.Error == OpenError::PermissionDenied && device)
    detail += DeviceAccessHint();
  if (r.Error == OpenError::IsDirectory) detail += ": is a folder" + FolderSourceHint(path);
  Fail(r.TextId, detail);
  return false;
}

int RunDrives() {
  auto items = ListDrives();
  if (items.empty()) {
    std::cout << "No disks or partitions found.\n";
    return kExitOk;
  }
  size_t width = 0;
  for (const auto& d : items) width = std::max(width, d.text.size());
  for (const auto& d : items)
    std::cout << d.text << std::string(width + 2 - d.text.size(), ' ') << d.devicePath << "  "
              << KindName(d.kind) << (d.isPartition ? " partition" : " disk") << "\n";
  return kExitOk;
}

int RunInfo(const std::string& path, bool json) {
  PartitionModel model;
  if (!OpenForCommand(model, path)) return kExitFailed;
  SourceSummary s = model.Summary();
  const TSourceGeometry& g = model.ScanGeometry();
  if (json) {
    nlohmann::json j = {{"source", JsonPath(model.SourceName())},
                        {"fileSystem", s.FileSystem},
                        {"fsType", FileSystemName(s.FsType)},
                        {"recognised", model.Recognised()},
                        {"sectorSize", s.SectorSize},
                        {"sectorsPerCluster", s.SectorsPerCluster},
                        {"clusterPhase", s.ClusterPhase},
                        {"totalSectors", s.TotalSectors},
                        {"partitionLastSector", g.PartitionLastSector},
                        {"lossReason", ReasonName(s.LossReasonItem)}};
    std::cout << j.dump(2) << "\n";
    return kExitOk;
  }
  std::cout << T(77) << " " << model.SourceName() << "\n"
            << T(11) << " " << s.FileSystem << (model.Recognised() ? "" : "  (no boot record recognised)") << "\n"
            << T(86) << s.SectorSize << "\n"
            << T(12) << " " << s.SectorsPerCluster << " sector(s), "
            << static_cast<uint64_t>(s.SectorsPerCluster) * s.SectorSize << " bytes\n"
            << "Cluster phase: " << (s.ClusterPhase < 0 ? std::string("unknown (the scan works it out)")
                                                        : std::to_string(s.ClusterPhase))
            << "\n"
            << T(18) << s.TotalSectors << "\n"
            << T(66) << " " << T(kLossReasonTextIds[s.LossReasonItem]) << "\n";
  return kExitOk;
}

int RunView(const std::string& path, int64_t sector, int64_t count) {
  PartitionModel model;
  if (!OpenForCommand(model, path)) return kExitFailed;
  int64_t last = model.ScanGeometry().PartitionLastSector;
  if (sector < 0 || sector > last || count < 1)
    return Fail(kTextInvalidSectorRange, count < 1 ? "--count must be at least 1."
                                                   : "Valid sectors: 0 to " + std::to_string(last) + ".");
  if (count > last - sector + 1) {
    count = last - sector + 1;
    std::cerr << "The source ends at sector " << last << ": showing " << count << " sector" << (count == 1 ? "" : "s")
              << ".\n";
  }
  SectorViewer& viewer = model.Viewer();
  for (int64_t s = sector; s < sector + count; ++s) {
    if (!viewer.ShowSector(s)) return FailText("Cannot read sector " + std::to_string(s) + ".");
    if (s != sector) std::cout << "\n";
    std::cout << T(5) << " " << s << "\n" << viewer.Memo1() << "\n";
  }
  return kExitOk;
}

int RunTypes(const std::string& typeList) {
  std::string error;
  std::vector<std::string> notes;
  auto mask = ParseTypeList(typeList, error, &notes);
  if (!mask) return UsageError(error);
  for (const std::string& note : notes) std::cout << note << "\n";
  std::cout << FormatCatalogue(*mask);
  return kExitOk;
}

}  // namespace morvane::cli
