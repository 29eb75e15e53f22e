#include "formats/pictures/photo_output.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "scan/scan_options.h"

namespace morvane {

bool PhotoWanted(const ScanContext& scan, const std::string& outputFolder, uint32_t kindBit,
                 TDateTime shootingTime) {
  return !outputFolder.empty() && (scan.Options.TypeMask & kindBit) != 0 &&
         PhotoPasses(shootingTime, scan.Options);
}

void SetShootingTimeOnFile(const std::string& fileName, TDateTime shootingTime) {
  if (!(shootingTime > 0)) return;
  const auto when = LocalDateTimeToTimespec(RoundDownToTwoSeconds(shootingTime));
  if (!when) return;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = *when;
  ::utimensat(AT_FDCWD, fileName.c_str(), times, AT_SYMLINK_NOFOLLOW);  // never through a planted link
}

}  // namespace morvane
