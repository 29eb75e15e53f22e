// The PDF recogniser.
//
// A PDF has no length field: it is loaded sector by sector and its bytes are scanned for
// the end-of-file trailer, a line "startxref", a line holding a number other than 0 and a
// line "%%EOF", that is not followed by an incremental update. Only CR and LF count as
// line breaks. The document ends after the line breaks that follow that "%%EOF".
//
// An update follows when the next line after "%%EOF" begins with "xref" (a cross-reference
// table) or with an object header "N G obj" (an update whose cross-reference data is a
// stream); the scan then goes on to the next trailer. A trailer whose number is 0 is the
// first-page trailer of a linearized file and never ends it.
//
// Documents are written as .PDF, or as .AI when they carry Illustrator's private data.
#pragma once

#include <cstdint>
#include <string>

#include "scan/copies_ahead.h"
#include "scan/scan_context.h"

namespace morvane {

inline constexpr int64_t kMaxPdfBytes = 0x12C00000;  // 300 MiB loaded without an end: not a PDF

// Carves the document starting at startOffset; an empty folder only claims it. Always 0.
int RecoverPdf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

// The walk made ahead of the pass (scan/copies_ahead.h): the same scan for the trailer over
// the source. It stands at line starts, its state telling whether Illustrator's mark lies
// wholly in front of them.
int64_t PdfWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);

}  // namespace morvane
