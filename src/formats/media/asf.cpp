#include "formats/media/asf.h"

#include <array>

#include "scan/recognition.h"
#include "scan/recovered_file.h"

namespace morvane {
namespace {

// GUIDs in their stored byte order.
constexpr std::string_view kHeaderObject{"\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16};
constexpr std::string_view kFilePropertiesObject{"\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16};
// The two families of top-level objects a WMV file is followed across: all but the first
// stored byte of the GUID are shared. The data object is the header family's 0x36.
constexpr std::string_view kHeaderFamilyTail = kHeaderObject.substr(1);
constexpr std::string_view kContentDescriptionFamilyTail{"\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50", 15};
constexpr uint8_t kDataObjectFirstByte = 0x36;

constexpr int64_t kFilePropertiesAt = 30;     // right behind the header object's 30-byte head
constexpr int64_t kFileSizeAt = 70;           // File Size inside the file properties object
constexpr int64_t kFilePropertiesBytes = 104;  // the object's fixed size

bool IsDataObject(ByteView guid) { return guid.U8(0) == kDataObjectFirstByte && guid.Matches(1, kHeaderFamilyTail); }

bool IsAcceptedTopLevelObject(ByteView guid) {
  return guid.Matches(1, kHeaderFamilyTail) || guid.Matches(1, kContentDescriptionFamilyTail);
}

// Follows the top-level objects from the header object to the end of the data object.
// Returns the file's length, or -1 when the file cannot be followed that far.
int64_t WalkObjects(Recognition& rec) {
  std::array<uint8_t, kAsfObjectHeader> bytes{};
  const ByteView header(bytes.data(), bytes.size());
  for (int64_t offset = 0;;) {
    if (!rec.CopySectorRun(offset + kAsfObjectHeader) || !rec.ReadBack(offset, bytes.data(), bytes.size())) return -1;
    if (offset != 0 && !IsAcceptedTopLevelObject(header)) return -1;
    const uint64_t size = header.Le64(16);
    if (size <= static_cast<uint64_t>(kAsfObjectHeader) || size > static_cast<uint64_t>(kAsfMaxLength)) return -1;
    // The whole object is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(offset + static_cast<int64_t>(size))) return -1;
    offset += static_cast<int64_t>(size);
    if (IsDataObject(header)) return offset;
  }
}

}  // namespace

int64_t AsfFileSize(ByteView first) {
  if (!first.Matches(0, kHeaderObject) || !first.Matches(kFilePropertiesAt, kFilePropertiesObject)) return -1;
  const uint64_t size = first.Le64(kFileSizeAt);
  // A file smaller than the object that states its size (a broadcast file's 0 among them)
  // has no usable length.
  if (size < static_cast<uint64_t>(kFilePropertiesAt + kFilePropertiesBytes) || size > static_cast<uint64_t>(kAsfMaxLength))
    return -1;
  return static_cast<int64_t>(size);
}

int RecoverAsf(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  const bool writes = !outputFolder.empty() && !extension.empty();
  Recognition rec(scan, startOffset,
                  writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                         : RecognitionOutput::ClaimOnly());
  if (!rec.Started()) return 0;
  const int64_t fileSize = AsfFileSize(rec.FirstBytes());
  if (fileSize < 0) return 0;
  // Where the range ends first, the file keeps what was collected.
  const CopyStop stop = rec.StepOverAsFarAs(fileSize);
  if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return 0;
  rec.CutToLength(fileSize);
  rec.Commit();
  return 0;
}

int RecoverWmv(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  const bool writes = !outputFolder.empty() && !extension.empty();
  Recognition rec(scan, startOffset,
                  writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                         : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kHeaderObject)) return 0;
  const int64_t length = WalkObjects(rec);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
