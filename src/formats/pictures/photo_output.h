// What the photo recognisers (JPEG and the camera raw kinds) share about writing a photo:
// whether it is wanted at all, and its shooting time as the written file's time.
#pragma once

#include <cstdint>
#include <string>

#include "scan/datetime.h"
#include "scan/recognition.h"
#include "scan/scan_context.h"

namespace morvane {

// True when a photo of this kind (its TypeMask bit) is to be written: there is an output
// folder, the kind is selected, and the shooting time passes the photo filter. A photo of a
// selected kind that the filter turns away is noted as such on `rec`.
bool PhotoWanted(Recognition& rec, const ScanContext& scan, const std::string& outputFolder, uint32_t kindBit,
                 TDateTime shootingTime);

// Sets a written file's modification time to a positive shooting time (local time, in
// two-second steps as a DOS file time keeps it); the access time stays. Nothing happens for
// an unknown shooting time.
void SetShootingTimeOnFile(const std::string& fileName, TDateTime shootingTime);

}  // namespace morvane
