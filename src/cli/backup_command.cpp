// morvane backup: copies a source (or its free sectors) into a raw image file.
#include <filesystem>
#include <iostream>

#include "app/language.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/interrupt.h"
#include "scan/image_backup.h"
#include "scan/scan_summary.h"
#include "storage/same_device.h"
#include "storage/streams.h"

namespace morvane::cli {
namespace {

const std::string& T(int n) { return FaceTexts().Text(n); }

class ConsoleBackupObserver : public BackupObserver {
 public:
  ConsoleBackupObserver(bool quiet, bool keepPartial, std::atomic<bool>& stop)
      : line_(quiet), quiet_(quiet), keepPartial_(keepPartial), stop_(stop) {}
  void OnFreeSpaceProgress(int64_t total, int64_t done) override {
    HoldStop();
    line_.Show(T(87) + ": " + FormatPercent(total, done));
  }
  void OnCreatingImage() override {
    HoldStop();
    line_.Finish();
    if (!quiet_) std::cerr << T(37) << ": " << T(38) << "\n";
  }
  void OnBackupProgress(int64_t sector, int64_t range, int64_t done, int64_t bad) override {
    HoldStop();
    line_.Show(T(41) + std::to_string(sector) + "  " + T(42) + FormatPercent(range, done) +
               (bad > 0 ? "  " + T(43) + std::to_string(bad) : std::string()));
  }
  bool DeletePartialImage() override {
    line_.Finish();
    if (!quiet_) std::cerr << T(44) << " " << (keepPartial_ ? "No (--keep-partial)" : "Yes") << "\n";
    return !keepPartial_;
  }
  ProgressLine& Line() { return line_; }

 private:
  // The backup clears its stop flag when it starts; a signal that came before must still count.
  void HoldStop() {
    if (InterruptWatch::Interrupted()) stop_ = true;
  }
  ProgressLine line_;
  bool quiet_;
  bool keepPartial_;
  std::atomic<bool>& stop_;
};

int64_t SectorOr(const std::string& text, int64_t fallback) {
  return text.empty() ? fallback : ParseSectorNumber(text);
}

}  // namespace

int RunBackupCommand(const BackupCommandOptions& o) {
  PartitionModel model;
  if (!OpenForCommand(model, o.source)) return kExitFailed;
  BackupRequest req;
  req.ScanGeometry = model.ScanGeometry();
  req.DetectedGeometry = model.DetectedGeometry();
  req.FirstSector = SectorOr(o.first, 0);
  req.LastSector = SectorOr(o.last, req.ScanGeometry.PartitionLastSector);
  req.ImagePath = o.image;
  if (req.FirstSector < 0 || req.LastSector < req.FirstSector || req.LastSector > req.ScanGeometry.PartitionLastSector)
    return Fail(35);
  if (PathIsSource(o.image, *model.SourceHandle())) return Fail(36, o.image + ": the image file would be the source itself");
  if (PathIsOnSource(o.image, *model.SourceHandle())) return Fail(36, o.image);
  if (o.freeSpaceOnly && !model.GroupBox1().CheckBox8Enabled)
    return FailText("--free-space-only needs a recognised file system (FAT, NTFS, exFAT, HFS, HFS+)");
  req.FreeSpaceOnly = o.freeSpaceOnly;
  req.KeepPartial = o.keepPartial;
  req.Retries = o.retries;

  ProgressClock clock;
  std::atomic<bool> stop{false};
  ConsoleBackupObserver observer(o.quiet, o.keepPartial, stop);
  InterruptWatch watch([&stop] { stop = true; });
  BackupResult r = RunImageBackup(*model.SourceHandle(), req, clock, stop, observer);
  observer.Line().Finish();
  switch (r.Outcome) {
    case BackupOutcome::Finished:
      if (!o.quiet) std::cout << T(47) << "\n";
      break;
    case BackupOutcome::FinishedBadSectors:
      std::cout << T(46) << " (" << r.BadSectors << ")\n";
      std::cerr << UnreadableText(r.Unreadable, LanguageFromEnvironment()) << "\n";
      break;
    case BackupOutcome::Cancelled:
      std::cerr << "Stopped at sector " << r.NextSector << "; " << r.SectorsWritten << " sectors written"
                << (r.ImageDeleted ? ", image deleted" : "") << ".\n";
      return kExitStopped;
    case BackupOutcome::CancelledCollecting:
      return kExitStopped;
    case BackupOutcome::InvalidRange:
      return Fail(35);
    case BackupOutcome::NoMemory:
      return FailText(T(88));
    case BackupOutcome::DiskFull:
      Fail(40, o.image + ": " + r.Error + "; stopped at sector " + std::to_string(r.NextSector) + " after " +
                   std::to_string(r.SectorsWritten) + " sectors" + (r.ImageDeleted ? ", image deleted" : ""));
      return kExitWriteFailed;
    case BackupOutcome::WriteFailed:
      FailText("Cannot write the image " + o.image + ": " + r.Error +
               (r.SectorsWritten > 0 ? "; stopped at sector " + std::to_string(r.NextSector) : std::string()) +
               (r.ImageDeleted ? ", image deleted" : ""));
      return r.SectorsWritten > 0 || r.ImageDeleted ? kExitWriteFailed : kExitOutputUnusable;
    case BackupOutcome::TargetIsSource:
      return Fail(36, o.image + ": the image file would be the source itself");
    case BackupOutcome::TargetNotFile:
      return FailText("Cannot write the image " + o.image + ": " + r.Error);
  }
  if (o.freeSpaceOnly && !r.FreeSpaceMapBuilt && !o.quiet)
    std::cerr << "The file system gives no free-space map; every sector was copied.\n";
  return kExitOk;
}

}  // namespace morvane::cli
