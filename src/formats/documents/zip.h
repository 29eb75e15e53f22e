// The ZIP archive and Office Open XML recognisers.
//
// Both follow the archive's records from its first local header to the end of its
// end-of-central-directory record and comment (formats/documents/zip_walk.h).
//
// RecoverZip writes plain archives as .ZIP, streaming: member data is copied, or in
// claim-only mode claimed without being read.
//
// RecoverOoxml takes packages (DOCX, XLSX, PPTX): it holds the whole package in memory,
// because its kind is known only from the central directory at the end: the first entry
// under "word/", "xl/" or "ppt/" (compared without regard to case) makes it .DOCX, .XLSX or
// .PPTX, written when that kind is selected. A package of no known kind is written as .ZIP
// when ZIP is selected. Records longer than 200 MiB fail the package. A package begins with "[Content_Types].xml" or, as LibreOffice writes it,
// with "_rels/.rels"; RecoverZip hands a start of the second kind on to RecoverOoxml.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

inline constexpr int64_t kOoxmlMaxRecordBytes = 0xC800000;  // 200 MiB

// Each writes into outputFolder when the kind it finds is selected in the scan's TypeMask
// and outputFolder is not empty; otherwise the file is only claimed. Always return 0.
int RecoverZip(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);
int RecoverOoxml(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
