// The OLE compound document recogniser: binary Word, Excel and PowerPoint documents, and
// password-protected Office Open XML packages (which are compound files too).
//
// The file is read once, into memory, by following its own tables: the FAT sectors that
// the header lists and those of the DIFAT chain, then every sector up to the highest one
// the FAT marks as used, which is the file's end. The directory chain is then followed in
// the bytes already read. The document's kind comes from the streams at the top of its
// directory tree (an Excel sheet embedded in a Word document lives deeper and does not
// make the file a workbook):
//   "WordDocument" .DOC, "Workbook" (or the older "Book") .XLS, "PowerPoint Document" .PPT;
//   an "EncryptionInfo" stream together with a "Version" stream marks an encrypted
//   package: .ENC.DOCX for Word, .ENC.XLSX for Excel or when no kind is known.
// A compound file of a kind that is unknown or not selected is claimed but not written.
//
// Limits: 512-byte sectors only (sector shift 9), FAT and DIFAT sector numbers up to
// 409598, files up to 200 MiB; FAT and DIFAT chains that repeat a sector, go backwards
// where they must rise, or run past these limits, and a directory chain that cycles or
// leaves the file, make the file fail and give its sectors back.
#pragma once

#include <cstdint>
#include <string>

#include "scan/scan_context.h"

namespace morvane {

inline constexpr uint32_t kOleMaxSectorNumber = 409598;  // highest FAT or DIFAT sector accepted
inline constexpr int64_t kOleMaxFileBytes = 0xC800000;   // 200 MiB = (409598 + 2) * 512

// Carves the compound file starting at startOffset; writes it when its kind is selected in
// the scan's TypeMask and outputFolder is not empty. Always returns 0.
int RecoverOleDocument(ScanContext& scan, const std::string& outputFolder, int64_t startOffset);

}  // namespace morvane
