#include "formats/documents/rar.h"

#include <zlib.h>

#include <array>
#include <limits>
#include <string_view>
#include <vector>

#include "formats/stated_length.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

// --- RAR 1.5 to 4.x: fixed-width block headers -------------------------------------------

constexpr std::string_view kMarker4("Rar!\x1A\x07\x00", 7);
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

// A block of the archive: its whole length (header plus data) and whether it ends the archive.
struct Block {
  int64_t length = -1;  // -1: no block of the format, or it cannot be read
  bool last = false;
};

// Where a walk reads the block headers: the recognition's output, copying as it goes, or
// the source, for a copy made ahead.
struct OutputReads {
  Recognition& rec;
  // count bytes at pos; false when they cannot be had.
  bool Read(int64_t pos, void* out, size_t count) const {
    return rec.CopySectorRun(pos + static_cast<int64_t>(count)) && rec.ReadBack(pos, out, count);
  }
  // Up to count bytes at pos, fewer where the range ends first: how many, -1 on failure.
  int64_t ReadUpTo(int64_t pos, void* out, size_t count) const {
    const CopyStop stop = rec.CopyAsFarAs(pos + static_cast<int64_t>(count));
    if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return -1;
    const int64_t have = std::min<int64_t>(rec.Length() - pos, static_cast<int64_t>(count));
    if (have <= 0) return 0;
    return rec.ReadBack(pos, out, static_cast<size_t>(have)) ? have : -1;
  }
};

// The block whose header is at pos.
template <class Reads>
Block Rar4Block(const Reads& reads, int64_t pos) {
  std::array<uint8_t, kLargeFileHeader> header{};
  if (!reads.Read(pos, header.data(), kFixedHeader)) return {};
  const ByteView h(header.data(), header.size());
  const uint8_t type = h.U8(2);
  const uint16_t flags = h.Le16(3);
  const int64_t headerSize = h.Le16(5);
  if (type < kFirstBlockType || type > kEndOfArchive) return {};
  if (!(flags & kHasDataSize)) return {headerSize >= kFixedHeader ? headerSize : -1, type == kEndOfArchive};

  if (headerSize < kLongHeader) return {};
  const bool large = (type == kFileBlock || type == kServiceBlock) && (flags & kLargeMember);
  const int64_t read = large ? kLargeFileHeader : kLongHeader;
  if (large && headerSize < kLargeFileHeader) return {};
  if (!reads.Read(pos, header.data(), static_cast<size_t>(read))) return {};
  int64_t dataSize = h.Le32(kFixedHeader);
  if (large) dataSize += int64_t{h.Le32(kHighDataSizeAt)} << 32;
  return {headerSize + dataSize, type == kEndOfArchive};
}

// --- RAR 5: headers of variable-length integers, each with its CRC-32 ----------------------

constexpr std::string_view kMarker5("Rar!\x1A\x07\x01\x00", 8);
constexpr int64_t kCrcBytes = 4;
constexpr int kMaxSizeFieldBytes = 3;          // header sizes stay below 2 MiB
constexpr int kMaxVintBytes = 10;
// Writers put a few hundred bytes into a header; this bound keeps the whole header within
// what a claim-only window holds, so both output kinds read it alike.
constexpr uint64_t kMaxRar5HeaderBytes = 0x80000;
// No member of a medium we can scan is larger (and sums of these cannot overflow).
constexpr uint64_t kMaxRar5DataBytes = uint64_t{1} << 56;

constexpr uint64_t kMainHeader = 1;
constexpr uint64_t kLastKnownHeader = 5;       // types 1 to 5: main, file, service, encryption, end
constexpr uint64_t kEncryptionHeader = 4;      // every later header is encrypted
constexpr uint64_t kEndHeader = 5;
constexpr uint64_t kHasExtraArea = 0x0001;
constexpr uint64_t kHasDataArea = 0x0002;

// A variable-length integer: 7 bits a byte, low bits first, the high bit set on every byte
// but the last. Sets ok false when it runs past the view or beyond maxBytes (or 64 bits).
uint64_t ReadVint(ByteView b, uint64_t& at, bool& ok, int maxBytes = kMaxVintBytes) {
  uint64_t value = 0;
  for (int i = 0; i < maxBytes && b.Has(at, 1); ++i) {
    const uint8_t byte = b.U8(at++);
    if (i == kMaxVintBytes - 1 && byte > 1) break;  // bits beyond the 64th
    value |= uint64_t{byte & 0x7Fu} << (7 * i);
    if (!(byte & 0x80)) return value;
  }
  ok = false;
  return 0;
}

// The header at pos: CRC-32 (4 bytes), header size (vint), then within the size the type,
// flags, extra-area size and data size (vints); the data area follows the header. The CRC
// covers the size field and the header, so a damaged or foreign header is no block.
// Encrypted headers cannot be followed: the walk fails there.
template <class Reads>
Block Rar5Block(const Reads& reads, int64_t pos, std::vector<uint8_t>& header) {
  constexpr int64_t kSizeAt = kCrcBytes;
  std::array<uint8_t, kCrcBytes + kMaxSizeFieldBytes> start{};
  // The size field may be shorter than three bytes at the very end of the range.
  const int64_t have = reads.ReadUpTo(pos, start.data(), start.size());
  if (have <= kSizeAt) return {};
  bool ok = true;
  uint64_t at = kSizeAt;
  const uint64_t size = ReadVint(ByteView(start.data(), static_cast<size_t>(have)), at, ok, kMaxSizeFieldBytes);
  if (!ok || size == 0 || size > kMaxRar5HeaderBytes) return {};

  const uint64_t headerEnd = at + size;
  header.resize(headerEnd);
  if (!reads.Read(pos, header.data(), header.size())) return {};
  const ByteView h(header.data(), header.size());
  if (crc32(0, header.data() + kSizeAt, static_cast<uInt>(headerEnd - kSizeAt)) != h.Le32(0)) return {};

  const ByteView fields = h.Sub(0, headerEnd);
  const uint64_t type = ReadVint(fields, at, ok);
  const uint64_t flags = ReadVint(fields, at, ok);
  if (flags & kHasExtraArea) ReadVint(fields, at, ok);
  const uint64_t dataSize = (flags & kHasDataArea) ? ReadVint(fields, at, ok) : 0;
  if (!ok || type == 0 || type > kLastKnownHeader || type == kEncryptionHeader || dataSize > kMaxRar5DataBytes)
    return {};
  if (pos == static_cast<int64_t>(kMarker5.size()) && type != kMainHeader) return {};
  return {static_cast<int64_t>(headerEnd + dataSize), type == kEndHeader};
}

// Where the blocks begin: behind the marker of either format; 0 for no marker.
int64_t FirstBlock(ByteView first) {
  if (first.Matches(0, kMarker5)) return static_cast<int64_t>(kMarker5.size());
  return first.Matches(0, kMarker4) ? static_cast<int64_t>(kMarker4.size()) : 0;
}

}  // namespace

int64_t RarStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  const HeadReader reads{source, startOffset, limit};
  std::array<uint8_t, kMarker5.size()> marker{};
  int64_t pos = reads.ReadUpTo(0, marker.data(), marker.size()) == static_cast<int64_t>(marker.size())
                    ? FirstBlock(ByteView(marker.data(), marker.size()))
                    : 0;
  const bool rar5 = pos == static_cast<int64_t>(kMarker5.size());
  std::vector<uint8_t> header;
  for (int blocks = 0; pos > 0 && blocks < kMaxStatedRecords; ++blocks) {
    const Block block = rar5 ? Rar5Block(reads, pos, header) : Rar4Block(reads, pos);
    if (block.length <= 0 || block.length > limit - pos) return 0;
    pos += block.length;
    if (block.last) return pos;
  }
  return pos;
}

int RecoverRar(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset,
                  outputFolder.empty() ? RecognitionOutput::ClaimOnly()
                                       : RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, startOffset, ".RAR")));
  if (!rec.Started()) return 0;
  int64_t pos = FirstBlock(rec.FirstBytes());
  if (pos == 0) return 0;
  const bool rar5 = pos == static_cast<int64_t>(kMarker5.size());
  const OutputReads reads{rec};
  std::vector<uint8_t> header;
  for (;;) {
    // The first RAR 5 header must be the main header: a rule of this start, not of the bytes.
    const bool firstOfRar5 = rar5 && pos == static_cast<int64_t>(kMarker5.size());
    if (!firstOfRar5 && rec.KnownDeadEnd(rar5 ? "RAR5" : "RAR", pos)) return 0;
    const Block block = rar5 ? Rar5Block(reads, pos, header) : Rar4Block(reads, pos);
    if (block.length <= 0 || block.length > std::numeric_limits<int64_t>::max() - pos) return 0;
    // The block's data is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(pos + block.length)) return 0;
    pos += block.length;
    if (block.last) break;
  }
  rec.CutToLength(pos);
  rec.Commit();
  return 0;
}

}  // namespace morvane
