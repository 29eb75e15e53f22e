#include "formats/documents/rar.h"

#include <array>
#include <string_view>

#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr std::string_view kMarker("Rar!\x1A\x07\x00", 7);
constexpr int64_t kFixedHeader = 7;
constexpr int64_t kLongHeader = 11;         // with the 32-bit data size
constexpr int64_t kLargeFileHeader = 40;    // with the high halves of both member sizes
constexpr int64_t kHighDataSizeAt = 32;

constexpr uint8_t kFirstBlockType = 0x73;   // archive header
constexpr uint8_t kFileBlock = 0x74;
constexpr uint8_t kServiceBlock = 0x7A;     // laid out like a file block
constexpr uint8_t kEndOfArchive = 0x7B;

constexpr uint16_t kHasDataSize = 0x8000;
constexpr uint16_t kLargeMember = 0x0100;

// The length of the block whose header is at pos (header plus data), or -1 when the header
// is no block header of the format or cannot be read.
int64_t BlockLength(Recognition& rec, int64_t pos, uint8_t* type) {
  std::array<uint8_t, kLargeFileHeader> header{};
  if (!rec.CopySectorRun(pos + kFixedHeader) || !rec.ReadBack(pos, header.data(), kFixedHeader)) return -1;
  const ByteView h(header.data(), header.size());
  *type = h.U8(2);
  const uint16_t flags = h.Le16(3);
  const int64_t headerSize = h.Le16(5);
  if (*type < kFirstBlockType || *type > kEndOfArchive) return -1;
  if (!(flags & kHasDataSize)) return headerSize >= kFixedHeader ? headerSize : -1;

  if (headerSize < kLongHeader) return -1;
  const bool large = (*type == kFileBlock || *type == kServiceBlock) && (flags & kLargeMember);
  const int64_t read = large ? kLargeFileHeader : kLongHeader;
  if (large && headerSize < kLargeFileHeader) return -1;
  if (!rec.CopySectorRun(pos + read) || !rec.ReadBack(pos, header.data(), static_cast<size_t>(read))) return -1;
  int64_t dataSize = h.Le32(kFixedHeader);
  if (large) dataSize += int64_t{h.Le32(kHighDataSizeAt)} << 32;
  return headerSize + dataSize;
}

}  // namespace

int RecoverRar(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset,
                  outputFolder.empty() ? RecognitionOutput::ClaimOnly()
                                       : RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, ".RAR")));
  if (!rec.Started() || !rec.FirstBytes().Matches(0, kMarker)) return 0;
  int64_t pos = kMarker.size();
  for (;;) {
    uint8_t type = 0;
    const int64_t length = BlockLength(rec, pos, &type);
    if (length <= 0) return 0;
    // The block's data is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(pos + length)) return 0;
    pos += length;
    if (type == kEndOfArchive) break;
  }
  rec.CutToLength(pos);
  rec.Commit();
  return 0;
}

// Not followed yet: the start is left unclaimed.
int RecoverRar5(ScanContext&, const std::string&, int64_t) { return 0; }

}  // namespace morvane
