// The Matroska / WebM recogniser: an EBML header ("1A 45 DF A3") whose DocType is "matroska"
// or "webm", then the Segment.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

// Carves the file starting at startOffset as .MKV or .WEBM when MKV is selected and
// outputFolder is not empty; otherwise only claims it. Always returns 0.
int RecoverMatroska(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
