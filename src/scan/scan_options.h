// The options of one scan, as the front end hands them to the engine.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "scan/camera_mode.h"

namespace morvane {

inline constexpr uint32_t kAllTypesMask = 0x01FFFFFF;

struct ScanOptions {
  std::string OutputFolder;            // folder of recovered files and work files, trailing '/'
  uint32_t TypeMask = kAllTypesMask;   // selected kinds, one bit each
  double DateFrom = -1.0;              // photo shooting-time range (days since 1899-12-30)
  double DateTo = 99999.0;
  bool KeepUndatedPhotos = true;
  TCameraMode CameraMode;
  bool FreeSpaceOnly = false;
  int32_t ThumbnailPixelLimit = -1;                            // from ThumbSiz.ini
  std::optional<std::vector<int32_t>> ThumbnailSpecialSizes;   // from ThumbSpc.ini
};

}  // namespace morvane
