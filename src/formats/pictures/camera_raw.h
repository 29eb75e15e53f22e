// The camera raw recognisers.
//
// TIFF-based raw files (Canon CR2, Nikon NEF, Sony ARW and SR2, Olympus ORF, Panasonic RW2,
// Pentax PEF, Adobe DNG) and plain TIFF pictures have no end marker: their length is the
// farthest byte that any image file directory, strip, tile or embedded picture reaches, so
// the whole directory tree is walked. The kind comes from the header and from the maker's
// name and tags met on the way. Sigma X3F files end with a pointer to their section
// directory; Fujifilm RAF files give their length in the header.
//
// All three always follow and claim the file; they write it (when RAW is selected and its
// shooting time passes the photo filter) with its shooting time as the file's time. They
// return the written file's length, or 0.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

inline constexpr int64_t kMaxCameraRawBytes = 209715200;  // 200 MiB: no longer raw file is carved

int RecoverTiffRaw(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
// How long the TIFF-based file at startOffset is when it lies in one piece, as its
// directory tree tells within limit bytes (scan/copies_ahead.h); 0 when it is no file.
int64_t TiffRawStatedLength(Source& source, int64_t startOffset, int64_t limit);
int RecoverX3f(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
int RecoverRaf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
