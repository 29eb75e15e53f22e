// The CorelDRAW drawing recognisers, one per container.
//
// RecoverCdrRiff: older drawings, a RIFF file whose form type starts with "CDR" in any
// letter case; the file is the RIFF length + 8 bytes long (a drawing that would fit in its
// start sector is no drawing).
// RecoverCdrZip: newer drawings, a ZIP archive whose first entry is "content/riffData.cdr";
// the records are walked to the end of the end-of-central-directory record and its
// comment (formats/documents/zip_walk.h); data that is no record fails the drawing.
// Both write .CDR when CDR is selected and outputFolder is not empty, and only claim
// otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

// Always return 0.
int RecoverCdrRiff(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
int RecoverCdrZip(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
