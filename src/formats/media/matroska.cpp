#include "formats/media/matroska.h"

#include <array>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string_view>

#include "filetypes/catalogue.h"
#include "formats/stated_length.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr uint32_t kEbmlHeaderId = 0x1A45DFA3;
constexpr uint32_t kDocTypeId = 0x4282;
constexpr uint32_t kSegmentId = 0x18538067;
constexpr uint32_t kClusterId = 0x1F43B675;
constexpr uint32_t kVoidId = 0xEC;
constexpr uint32_t kCrc32Id = 0xBF;

constexpr uint64_t kUnknownSize = std::numeric_limits<uint64_t>::max();
constexpr size_t kMaxElementHeader = 12;  // a 4-byte ID and an 8-byte size
// No element of a medium we can scan is larger (and sums of these cannot overflow).
constexpr uint64_t kMaxElementBytes = uint64_t{1} << 56;

// The elements a segment holds at its top level.
bool IsSegmentChild(uint32_t id) {
  for (uint32_t known : {0x114D9B74u /* SeekHead */, 0x1549A966u /* Info */, 0x1654AE6Bu /* Tracks */, kClusterId,
                         0x1C53BB6Bu /* Cues */, 0x1941A469u /* Attachments */, 0x1043A770u /* Chapters */,
                         0x1254C367u /* Tags */, kVoidId, kCrc32Id})
    if (id == known) return true;
  return false;
}

// The elements a cluster holds: what an unknown-size cluster is walked across.
bool IsClusterChild(uint32_t id) {
  for (uint32_t known : {0xE7u /* Timestamp */, 0xA3u /* SimpleBlock */, 0xA0u /* BlockGroup */, 0xA7u /* Position */,
                         0xABu /* PrevSize */, 0x5854u /* SilentTracks */, 0xAFu /* EncryptedBlock */, kVoidId, kCrc32Id})
    if (id == known) return true;
  return false;
}

// An element header: its ID (1 to 4 bytes, the length marker kept), then its data size (1 to
// 8 bytes, the length marker dropped; all value bits set means the size is unknown).
struct ElementHeader {
  uint32_t id = 0;
  uint64_t size = 0;
  int64_t length = 0;  // header bytes
};

// The number of bytes of a variable-length field from its first byte (the count of leading
// zero bits plus one), or 0 when it is longer than maxBytes.
int FieldLength(uint8_t first, int maxBytes) {
  for (int n = 1; n <= maxBytes; ++n)
    if (first & (0x80 >> (n - 1))) return n;
  return 0;
}

std::optional<ElementHeader> ReadElementHeader(ByteView b, uint64_t at) {
  const int idLength = FieldLength(b.U8(at), 4);
  if (idLength == 0 || !b.Has(at, idLength + 1)) return std::nullopt;
  const int sizeLength = FieldLength(b.U8(at + idLength), 8);
  if (sizeLength == 0 || !b.Has(at + idLength, sizeLength)) return std::nullopt;
  ElementHeader h;
  h.id = static_cast<uint32_t>(b.Be(at, idLength));
  const uint64_t allOnes = (uint64_t{1} << (7 * sizeLength)) - 1;
  const uint64_t size = b.Be(at + idLength, sizeLength) & allOnes;
  h.size = size == allOnes ? kUnknownSize : size;
  if (h.size != kUnknownSize && h.size > kMaxElementBytes) return std::nullopt;
  h.length = idLength + sizeLength;
  return h;
}

// The start sector: an EBML header whose DocType is "matroska" or "webm", followed at once
// by the segment's header. Both lie in the start sector.
struct FileStart {
  const char* extension = nullptr;
  int64_t segmentData = 0;  // offset of the segment's first element
  uint64_t segmentSize = 0;
};

std::optional<FileStart> ReadFileStart(ByteView first) {
  const auto ebml = ReadElementHeader(first, 0);
  if (!ebml || ebml->id != kEbmlHeaderId || ebml->size == kUnknownSize || !first.Has(ebml->length, ebml->size))
    return std::nullopt;
  FileStart start;
  const uint64_t end = ebml->length + ebml->size;
  for (uint64_t at = ebml->length; at < end;) {
    const auto child = ReadElementHeader(first.Sub(0, end), at);
    if (!child || child->size == kUnknownSize || child->size > end - at - child->length) return std::nullopt;
    if (child->id == kDocTypeId) {
      std::string_view docType(reinterpret_cast<const char*>(first.data() + at + child->length), child->size);
      docType = docType.substr(0, docType.find('\0'));  // strings may be padded with zeros
      if (docType == "matroska") start.extension = ".MKV";
      if (docType == "webm") start.extension = ".WEBM";
    }
    at += child->length + child->size;
  }
  const auto segment = ReadElementHeader(first, end);
  if (!start.extension || !segment || segment->id != kSegmentId) return std::nullopt;
  start.segmentData = static_cast<int64_t>(end) + segment->length;
  start.segmentSize = segment->size;
  return start;
}

enum class Header { Read, None, Failed };

// The element header at the start of `bytes` (fewer than 12 where the range ends); None
// when they hold none.
Header HeaderIn(ByteView bytes, ElementHeader& header) {
  const auto h = ReadElementHeader(bytes, 0);
  if (!h) return Header::None;
  header = *h;
  return Header::Read;
}

// The walks read the recognition's output, copying (or in claim-only mode claiming) as they
// go ...
struct OutputElements {
  Recognition& rec;
  const ScanContext& scan;

  bool KnownDeadEnd(int64_t at) const { return rec.KnownDeadEnd("Matroska segment", at); }
  // Reads the element header at `at`; None where the range ends first or the bytes are no
  // element header.
  Header Fetch(int64_t at, ElementHeader& header) const {
    const CopyStop stop = rec.CopyAsFarAs(at + static_cast<int64_t>(kMaxElementHeader));
    if (stop != CopyStop::Reached && stop != CopyStop::RangeEnd) return Header::Failed;
    if (rec.Length() <= at) return Header::None;
    std::array<uint8_t, kMaxElementHeader> bytes{};
    const size_t have = static_cast<size_t>(std::min<int64_t>(rec.Length() - at, bytes.size()));
    if (!rec.ReadBack(at, bytes.data(), have)) return Header::Failed;
    return HeaderIn(ByteView(bytes.data(), have), header);
  }
  // True when the output cannot reach `target` bytes before the end of the range, whatever
  // lies on the way: such an element is cut off, and looking for its end would only claim
  // the rest of the range for nothing.
  bool Beyond(uint64_t target) const {
    return target > static_cast<uint64_t>(rec.Length() + (scan.RangeEndOffset() - rec.ReadPosition()));
  }
  CopyStop StepOverAsFarAs(int64_t target) const { return rec.StepOverAsFarAs(target); }
  bool StepOver(int64_t target) const { return rec.StepOver(target); }
};

// ... or the source, as the file lies in one piece, for a copy made ahead of the recovery
// pass: none beyond the limit (where the range ends), and no header after the
// kMaxStatedRecords-th, as though the file ended there.
struct SourceElements {
  const HeadReader& read;
  mutable int headers = 0;

  bool KnownDeadEnd(int64_t) const { return false; }
  Header Fetch(int64_t at, ElementHeader& header) const {
    if (++headers > kMaxStatedRecords) return Header::None;
    std::array<uint8_t, kMaxElementHeader> bytes{};
    const int64_t have = read.ReadUpTo(at, bytes.data(), bytes.size());
    if (have < 0) return Header::Failed;
    return HeaderIn(ByteView(bytes.data(), static_cast<size_t>(have)), header);
  }
  bool Beyond(uint64_t target) const { return target > static_cast<uint64_t>(read.limit); }
  CopyStop StepOverAsFarAs(int64_t) const { return CopyStop::Reached; }
  bool StepOver(int64_t) const { return true; }
};

// What a walk along a run of elements found.
struct Walked {
  int64_t end = -1;  // behind the last element taken; -1 when the recognition failed
  int64_t next = 0;  // where the walk stopped: behind the padding after `end`, if any
  bool cluster = false;
};

// Padding is never the last element taken: the bytes behind a file stream are often
// anything, and a 1-byte ID (EC, BF) with a size is soon met by chance.
bool IsPadding(uint32_t id) { return id == kVoidId || id == kCrc32Id; }

// Follows the elements from `at` on while `accepted` says they belong, stepping over each
// whole (copied, or in claim-only mode claimed without being read); an unknown-size cluster
// is walked across its own elements. Ends in front of the first element not accepted, not
// readable, or not wholly within the range, and before any padding in front of it.
// A segment's walk fails only when it meets no cluster: until it has met one, its outcome
// from each element boundary depends on the bytes alone, so it stops at a boundary where
// such a walk has failed before (`deadEnds`).
template <class Elements, class Accepted>
Walked WalkElements(const Elements& elements, int64_t at, Accepted accepted, bool deadEnds = false) {
  Walked walked;
  walked.end = at;
  for (;;) {
    if (deadEnds && !walked.cluster && elements.KnownDeadEnd(at)) return {};
    ElementHeader h;
    const Header read = elements.Fetch(at, h);
    if (read == Header::Failed) return {};
    if (read == Header::None || !accepted(h.id)) break;
    const int64_t data = at + h.length;
    if (h.size == kUnknownSize) {
      if (h.id != kClusterId) break;
      if (!elements.StepOver(data)) return {};
      const Walked inside = WalkElements(elements, data, IsClusterChild);
      if (inside.end < 0) return {};
      walked.end = inside.end;
      at = inside.next;
      walked.cluster = true;
      continue;
    }
    const uint64_t end = static_cast<uint64_t>(data) + h.size;
    if (elements.Beyond(end)) break;
    const CopyStop stop = elements.StepOverAsFarAs(static_cast<int64_t>(end));
    if (stop == CopyStop::RangeEnd) break;
    if (stop != CopyStop::Reached) return {};
    at = static_cast<int64_t>(end);
    if (!IsPadding(h.id)) walked.end = at;
    walked.cluster = walked.cluster || h.id == kClusterId;
  }
  walked.next = at;
  return walked;
}

// True when the segment's first element is one a segment holds, within its size: a header
// alone is no file.
bool HoldsElements(const FileStart& start, const ElementHeader& first) {
  return IsSegmentChild(first.id) && (start.segmentSize == kUnknownSize || first.size == kUnknownSize ||
                                      first.length + first.size <= start.segmentSize);
}

// The file's length from its segment on, or -1 when it is no file.
template <class Elements>
int64_t FileLength(const Elements& elements, const FileStart& start) {
  // The segment holds elements: a header alone is no file.
  ElementHeader first;
  if (elements.Fetch(start.segmentData, first) != Header::Read || !HoldsElements(start, first)) return -1;
  if (start.segmentSize != kUnknownSize) {
    // A segment of known size ends where its size says.
    const uint64_t end = static_cast<uint64_t>(start.segmentData) + start.segmentSize;
    if (elements.Beyond(end) || !elements.StepOver(static_cast<int64_t>(end))) return -1;
    return static_cast<int64_t>(end);
  }
  // One written as a stream ends behind its last element; it holds at least a cluster.
  const Walked walked = WalkElements(elements, start.segmentData, IsSegmentChild, true);
  return walked.end >= 0 && walked.cluster ? walked.end : -1;
}

}  // namespace

int64_t MatroskaStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  // Both headers lie in the start sector, of 512 bytes at least.
  const HeadReader read{source, startOffset, limit};
  std::array<uint8_t, 512> first{};
  const int64_t have = read.ReadUpTo(0, first.data(), first.size());
  if (have <= 0) return 0;
  const auto start = ReadFileStart(ByteView(first.data(), static_cast<size_t>(have)));
  return start ? std::max<int64_t>(FileLength(SourceElements{read}, *start), 0) : 0;
}

int RecoverMatroska(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  // The name follows from the start sector: nothing is created for a refused one.
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  const auto start = ReadFileStart(rec.FirstBytes());
  if (!start) return 0;
  const bool writes = !outputFolder.empty() && (scan.Options.TypeMask & kTypeMkv);
  if (!rec.ChooseOutput(writes ? RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, startOffset, start->extension))
                               : RecognitionOutput::ClaimOnly()))
    return 0;

  const int64_t length = FileLength(OutputElements{rec, scan}, *start);
  if (length < 0) return 0;
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace morvane
