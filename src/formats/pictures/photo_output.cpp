#include "formats/pictures/photo_output.h"

#include "scan/scan_options.h"
#include "storage/files.h"

namespace morvane {

bool PhotoWanted(Recognition& rec, const ScanContext& scan, const std::string& outputFolder, uint32_t kindBit,
                 TDateTime shootingTime) {
  if (outputFolder.empty() || (scan.Options.TypeMask & kindBit) == 0) return false;
  if (PhotoPasses(shootingTime, scan.Options)) return true;
  rec.NoteFate(StartFate::OutsidePhotoDates);
  return false;
}

void SetShootingTimeOnFile(const std::string& fileName, TDateTime shootingTime) {
  if (!(shootingTime > 0)) return;
  const auto when = LocalDateTimeToTimespec(RoundDownToTwoSeconds(shootingTime));
  if (!when) return;
  SetFileModifiedTime(fileName, when->tv_sec, when->tv_nsec);
}

}  // namespace morvane
