#include "formats/documents/zip.h"

#include <array>
#include <string>
#include <utility>
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

// OpenDocument files and EPUB books begin with an uncompressed member "mimetype" that holds
// their media type: the name they are written under, or empty for any other archive.
std::string OpenDocumentExtension(ByteView first) {
  constexpr std::string_view kMimetype = "mimetype";
  constexpr uint16_t kStored = 0;
  if (!ZipFirstNameIs(first, kMimetype) || first.Le16(8) != kStored) return "";
  const uint64_t at = kZipFirstNameOffset + kMimetype.size() + first.Le16(28);
  const uint32_t length = first.Le32(18);
  if (!first.Has(at, length)) return "";
  const std::string_view type(reinterpret_cast<const char*>(first.data() + at), length);
  for (const auto& [mediaType, extension] : {std::pair{"application/vnd.oasis.opendocument.text", ".ODT"},
                                             std::pair{"application/vnd.oasis.opendocument.spreadsheet", ".ODS"},
                                             std::pair{"application/vnd.oasis.opendocument.presentation", ".ODP"},
                                             std::pair{"application/vnd.oasis.opendocument.graphics", ".ODG"},
                                             std::pair{"application/epub+zip", ".EPUB"}})
    if (type == mediaType) return extension;
  return "";
}

}  // namespace

int RecoverOoxml(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Memory());
  if (!rec.Started() || rec.FirstBytes().Le32(0) != kZipLocalHeader) return 0;
  PackageKind kind;
  ZipWalkRules rules;
  rules.maxRecordBytes = kOoxmlMaxRecordBytes;
  rules.family = "OOXML";
  rules.onCentralEntry = [&kind](ByteView name) { kind.See(name); };
  const int64_t length = WalkZipRecords(scan, rec, rules);
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
  // The name follows from the start sector: nothing is created for a refused one.
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started() || rec.FirstBytes().Le32(0) != kZipLocalHeader) return 0;
  const std::string document = OpenDocumentExtension(rec.FirstBytes());
  const bool writes = !outputFolder.empty() && (scan.Options.TypeMask & (document.empty() ? kTypeZip : kTypeOdf));
  if (!rec.ChooseOutput(writes ? RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, startOffset,
                                                                           document.empty() ? ".ZIP" : document))
                               : RecognitionOutput::ClaimOnly()))
    return 0;
  ZipWalkRules rules;
  rules.family = "ZIP";
  const int64_t length = WalkZipRecords(scan, rec, rules);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
