#include "formats/media/asf.h"

#include <algorithm>
#include <array>

#include "filetypes/catalogue.h"
#include "formats/stated_length.h"
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

// The stream properties object inside the header, and the stream types it names.
constexpr std::string_view kStreamPropertiesObject{"\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16};
constexpr std::string_view kVideoMedia{"\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16};
constexpr int64_t kStreamTypeAt = 24;
// A video stream's codec: the compression of the bitmap header behind the stream properties'
// fixed part (78 bytes), the image size and flags (11 bytes) and the bitmap header's first 16.
constexpr int64_t kVideoCodecAt = 78 + 11 + 16;
// Header bytes looked at for the streams: their properties come before any large metadata.
constexpr int64_t kHeaderLookLimit = 0x100000;

constexpr int64_t kHeaderObjectHead = 30;     // GUID, size, sub-object count, two reserved bytes
constexpr int64_t kFilePropertiesAt = 30;     // right behind the header object's 30-byte head
constexpr int64_t kFileSizeAt = 70;           // File Size inside the file properties object
constexpr int64_t kFilePropertiesBytes = 104;  // the object's fixed size

// The Windows Media video codecs.
bool IsWindowsMediaVideo(ByteView fourcc) {
  for (const char* c : {"WMV1", "WMV2", "WMV3", "WMVA", "WMVP", "WVC1", "WVP2", "MSS1", "MSS2"})
    if (fourcc.Matches(0, c)) return true;
  return false;
}

// True when a stream of the header object `header` (as far as it is held) is Windows Media video.
bool HasWindowsMediaVideo(ByteView header) {
  for (uint64_t offset = kHeaderObjectHead; offset + kAsfObjectHeader <= header.size();) {
    const ByteView object = header.Sub(offset);
    const uint64_t size = object.Le64(16);
    // An object that does not end inside what is held ends the look (and no size can wrap it).
    if (size < static_cast<uint64_t>(kAsfObjectHeader) || size > header.size() - offset) return false;
    if (object.Matches(0, kStreamPropertiesObject) && object.Matches(kStreamTypeAt, kVideoMedia) &&
        IsWindowsMediaVideo(object.Sub(kVideoCodecAt, 4)))
      return true;
    offset += size;
  }
  return false;
}

bool IsDataObject(ByteView guid) { return guid.U8(0) == kDataObjectFirstByte && guid.Matches(1, kHeaderFamilyTail); }

bool IsAcceptedTopLevelObject(ByteView guid) {
  return guid.Matches(1, kHeaderFamilyTail) || guid.Matches(1, kContentDescriptionFamilyTail);
}

// The length of the top-level object whose header is at `offset`, or -1 when a WMV file
// cannot hold it there.
int64_t TopLevelObjectLength(ByteView header, int64_t offset) {
  if (offset != 0 && !IsAcceptedTopLevelObject(header)) return -1;
  const uint64_t size = header.Le64(16);
  if (size <= static_cast<uint64_t>(kAsfObjectHeader) || size > static_cast<uint64_t>(kAsfMaxLength)) return -1;
  return static_cast<int64_t>(size);
}

// Follows the top-level objects from the header object to the end of the data object.
// Returns the file's length, or -1 when the file cannot be followed that far.
int64_t WalkObjects(Recognition& rec) {
  std::array<uint8_t, kAsfObjectHeader> bytes{};
  const ByteView header(bytes.data(), bytes.size());
  for (int64_t offset = 0;;) {
    if (rec.KnownDeadEnd("WMV", offset)) return -1;
    if (!rec.CopySectorRun(offset + kAsfObjectHeader) || !rec.ReadBack(offset, bytes.data(), bytes.size())) return -1;
    const int64_t size = TopLevelObjectLength(header, offset);
    // The whole object is copied, or in claim-only mode claimed without being read.
    if (size < 0 || !rec.StepOver(offset + size)) return -1;
    offset += size;
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

int64_t AsfStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  return LengthStatedInHead<kFilePropertiesAt + kFilePropertiesBytes>(source, startOffset, limit, AsfFileSize);
}

int64_t WmvStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  const HeadReader read{source, startOffset, limit};
  std::array<uint8_t, kAsfObjectHeader> bytes{};
  const ByteView header(bytes.data(), bytes.size());
  int64_t offset = 0;
  for (int records = 0; records < kMaxStatedRecords; ++records) {
    if (!read.Read(offset, bytes.data(), bytes.size()) || (offset == 0 && !header.Matches(0, kHeaderObject))) return 0;
    const int64_t size = TopLevelObjectLength(header, offset);
    if (size < 0 || size > limit - offset) return 0;
    offset += size;
    if (IsDataObject(header)) return offset;
  }
  return offset;
}

namespace {

// Starts an ASF-family recognition: names the file by its streams — Windows Media video, or a
// header that does not begin with the file properties object, makes a WMV, anything else an
// ASF — and writes it when that kind is selected, else only claims it. Nothing is created
// for a start sector that is no header object.
bool StartAsfFamily(Recognition& rec, ScanContext& scan, const std::string& outputFolder) {
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kHeaderObject)) return false;
  const uint64_t headerSize = rec.FirstBytes().Le64(16);
  const int64_t look = static_cast<int64_t>(std::min<uint64_t>(headerSize, kHeaderLookLimit));
  const CopyStop stop = rec.CopyAsFarAs(look);
  if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return false;
  const ByteView header = rec.Bytes().Sub(0, static_cast<uint64_t>(look));
  const bool wmv = !rec.FirstBytes().Matches(kFilePropertiesAt, kFilePropertiesObject) || HasWindowsMediaVideo(header);
  const uint32_t kind = wmv ? kTypeWmv : kTypeAsf;
  const bool writes = !outputFolder.empty() && (scan.Options.TypeMask & kind) != 0;
  return rec.ChooseOutput(writes ? RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, rec.StartOffset(), wmv ? ".WMV" : ".ASF"))
                                 : RecognitionOutput::ClaimOnly());
}

}  // namespace

int RecoverAsf(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  const int64_t fileSize = AsfFileSize(rec.FirstBytes());
  // A file longer than the whole medium was never on it.
  if (fileSize < 0 || fileSize > scan.MediumEndOffset() || !StartAsfFamily(rec, scan, outputFolder)) return 0;
  // Where the range ends first, the file keeps what was collected.
  const CopyStop stop = rec.StepOverAsFarAs(fileSize);
  if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return 0;
  rec.CutToLength(fileSize);
  rec.Commit();
  return 0;
}

int RecoverWmv(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!StartAsfFamily(rec, scan, outputFolder)) return 0;
  const int64_t length = WalkObjects(rec);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
