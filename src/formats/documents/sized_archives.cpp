#include "formats/documents/sized_archives.h"

#include <string_view>

#include "formats/stated_length.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"

namespace morvane {
namespace {

constexpr std::string_view kCabinetSignature = "MSCF";
constexpr std::string_view kSevenZipSignature("7z\xBC\xAF\x27\x1C\x00", 7);  // then the minor version
constexpr int64_t kSevenZipStartHeader = 32;

int RecoverSizedArchive(ScanContext& scan, const std::string& outputFolder, int64_t startOffset,
                        const char* extension, int64_t (*lengthOf)(ByteView)) {
  const bool writes = !outputFolder.empty();
  Recognition rec(scan, startOffset,
                  writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                         : RecognitionOutput::ClaimOnly());
  if (!rec.Started()) return 0;
  const int64_t length = lengthOf(rec.FirstBytes());
  // An archive longer than the whole medium was never on it.
  if (length < 0 || length > scan.MediumEndOffset()) return 0;
  const CopyStop stop = rec.StepOverAsFarAs(length);
  if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return 0;
  if (rec.Length() > length) rec.CutToLength(length);
  if (writes && rec.Length() < length && !rec.ExtendWithZeros(length)) return 0;
  rec.Commit();
  return 0;
}

}  // namespace

int64_t CabinetLength(ByteView first) {
  if (!first.Matches(0, kCabinetSignature) || !first.Has(8, 4)) return -1;
  const int64_t length = first.Le32(8);
  return length >= kMinCabinetBytes ? length : -1;
}

int64_t SevenZipLength(ByteView first) {
  const uint8_t minor = first.U8(7);
  if (!first.Matches(0, kSevenZipSignature) || minor < 2 || minor > 4 || !first.Has(12, 16)) return -1;
  const uint64_t offset = first.Le64(12);
  const uint64_t size = first.Le64(20);
  // Each part is checked alone first, so that the sum cannot wrap.
  if (offset > kMax7zBytes || size > kMax7zBytes) return -1;
  const int64_t length = kSevenZipStartHeader + static_cast<int64_t>(offset) + static_cast<int64_t>(size);
  return length <= kMax7zBytes ? length : -1;
}

int64_t CabinetStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  return LengthStatedInHead<12>(source, startOffset, limit, CabinetLength);
}

int64_t SevenZipStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  return LengthStatedInHead<kSevenZipStartHeader>(source, startOffset, limit, SevenZipLength);
}

int RecoverCab(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  return RecoverSizedArchive(scan, outputFolder, startOffset, ".CAB", CabinetLength);
}

int Recover7z(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  return RecoverSizedArchive(scan, outputFolder, startOffset, ".7Z", SevenZipLength);
}

}  // namespace morvane
