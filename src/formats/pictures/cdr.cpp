#include "formats/pictures/cdr.h"

#include "filetypes/catalogue.h"
#include "formats/documents/zip_walk.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"

namespace morvane {
namespace {

RecognitionOutput OutputFor(const ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  if (outputFolder.empty() || !(scan.Options.TypeMask & kTypeCdr)) return RecognitionOutput::ClaimOnly();
  return RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, startOffset, ".CDR"));
}

}  // namespace

int RecoverCdrRiff(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, OutputFor(scan, outputFolder, startOffset));
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "RIFF")) return 0;
  const int64_t length = int64_t{rec.FirstBytes().Le32(4)} + 8;
  if (length <= scan.SectorSize() || !rec.StepOver(length)) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

int RecoverCdrZip(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, OutputFor(scan, outputFolder, startOffset));
  if (!rec.Started() || rec.FirstBytes().Le32(0) != kZipLocalHeader) return 0;
  ZipWalkRules rules;
  rules.family = "CDR";
  const int64_t length = WalkZipRecords(scan, rec, rules);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
