#include "formats/documents/zip.h"

#include <array>
#include <string_view>

#include "filetypes/catalogue.h"
#include "formats/documents/zip_walk.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/geometry.h"

namespace morvane {
namespace {

bool StartsWithIgnoringCase(ByteView name, std::string_view prefix) {
  return name.size() >= prefix.size() &&
         EqualsIgnoringCase(std::string_view(reinterpret_cast<const char*>(name.data()), prefix.size()), prefix);
}

// The package's kind: decided by the first central directory entry under a known folder.
struct PackageKind {
  const char* extension = nullptr;
  uint32_t type = 0;
  void See(ByteView name) {
    if (extension) return;
    if (StartsWithIgnoringCase(name, "word/")) *this = {".DOCX", kTypeDoc};
    else if (StartsWithIgnoringCase(name, "xl/")) *this = {".XLSX", kTypeXls};
    else if (StartsWithIgnoringCase(name, "ppt/")) *this = {".PPTX", kTypePpt};
  }
};

}  // namespace

int RecoverOoxml(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Memory());
  if (!rec.Started() || rec.FirstBytes().Le32(0) != kZipLocalHeader) return 0;
  PackageKind kind;
  ZipWalkRules rules;
  rules.maxRecordBytes = kOoxmlMaxRecordBytes;
  rules.onCentralEntry = [&kind](ByteView name) { kind.See(name); };
  const int64_t length = WalkZipRecords(rec, rules);
  if (length < 0) return 0;
  rec.CutToLength(length);
  const uint32_t mask = scan.Options.TypeMask;
  std::string extension;
  if (kind.extension) {
    if (mask & kind.type) extension = kind.extension;
  } else if (mask & kTypeZip) {
    extension = ".ZIP";
  }
  if (!extension.empty() && !outputFolder.empty()) rec.Save(RecoveredFileName(outputFolder, startOffset, extension));
  rec.Commit();
  return 0;
}

int RecoverZip(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  {
    std::array<uint8_t, kMaxSectorSize> first{};
    const uint32_t sectorSize = scan.SectorSize();
    if (startOffset >= 0 && startOffset % sectorSize == 0 && startOffset / sectorSize <= scan.LastSector &&
        scan.ReadSectors(first.data(), sectorSize, startOffset) == 0 &&
        ZipFirstNameIs(ByteView(first.data(), sectorSize), "_rels/.rels"))
      return RecoverOoxml(scan, outputFolder, startOffset);
  }
  const bool writes = !outputFolder.empty() && (scan.Options.TypeMask & kTypeZip);
  Recognition rec(scan, startOffset,
                  writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, ".ZIP"))
                         : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || rec.FirstBytes().Le32(0) != kZipLocalHeader) return 0;
  const int64_t length = WalkZipRecords(rec, ZipWalkRules());
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
