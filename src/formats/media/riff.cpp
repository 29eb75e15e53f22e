#include "formats/media/riff.h"

#include <array>
#include <initializer_list>
#include <limits>

#include "formats/pictures/picture_checks.h"
#include "formats/stated_length.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"

namespace morvane {
namespace {

constexpr int64_t kChunkHeader = 8;  // identifier and length
constexpr int64_t kListHead = 12;    // identifier, length and list (or form) type

bool IsOneOf(ByteView id, std::initializer_list<const char*> ids) {
  for (const char* candidate : ids)
    if (id.Matches(0, candidate)) return true;
  return false;
}

// Header, data and the pad byte that keeps the next chunk at an even offset.
int64_t ChunkSize(uint32_t length) { return kChunkHeader + int64_t{length} + (length & 1); }

// Follows the chunks from `offset` on, judging each header of `headerBytes` bytes. Returns the
// file's length, or -1 when the file cannot be followed to its end (a chunk runs past the
// range, a read fails). Where the range ends before the next header, the file ends.
// `family` names the judge for the dead-end memo.
template <class Judge>
int64_t WalkChunks(Recognition& rec, std::string_view family, int64_t offset, int64_t headerBytes, Judge&& judge) {
  std::array<uint8_t, kListHead> header{};
  for (;;) {
    if (!family.empty() && rec.KnownDeadEnd(family, offset)) return -1;
    const CopyStop stop = rec.CopyAsFarAs(offset + headerBytes);
    if (stop == CopyStop::RangeEnd) return offset;
    if (stop != CopyStop::Reached || !rec.ReadBack(offset, header.data(), static_cast<size_t>(headerBytes))) return -1;
    const ChunkVerdict verdict = judge(ByteView(header.data(), static_cast<size_t>(headerBytes)), offset);
    if (verdict.step == ChunkStep::End) return offset;
    if (verdict.advance > std::numeric_limits<int64_t>::max() - offset) return -1;
    // The whole chunk is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(offset + verdict.advance)) return -1;
    offset += verdict.advance;
  }
}

bool IsPrintableId(ByteView id) {
  for (size_t i = 0; i < 4; ++i)
    if (id.U8(i) < 0x20 || id.U8(i) > 0x7E) return false;
  return true;
}

// The end of the file as its RIFF head states it, or 0 when the stated size cannot be the
// file's: room for no chunk, or the "unknown" size a writer leaves while it streams.
int64_t StatedRiffEnd(ByteView head) {
  const uint32_t size = head.Le32(4);
  if (size < 4 + kChunkHeader || size == 0xFFFFFFFF) return 0;
  return kChunkHeader + int64_t{size};
}

// A WAVE file: inside the size its head states, every chunk with a printable identifier
// belongs to it (recorders add "bext", "iXML", "cue ", "smpl", "_PMX", "id3 " and others,
// before or after "fmt "). A "data" chunk of length 0 is a recording cut off before its
// lengths were written: its audio runs to the stated end. Beyond that size, or without a
// usable one, the short list of chunks applies. Notes whether any audio was taken.
struct WaveJudge {
  int64_t riffEnd = 0;
  bool hasAudio = false;

  ChunkVerdict operator()(ByteView header, int64_t offset) {
    if (riffEnd > 0 && offset >= riffEnd) return {};
    const bool data = header.Matches(0, "data");
    const uint32_t length = header.Le32(4);
    ChunkVerdict verdict;
    if (riffEnd > 0 && IsPrintableId(header) && !header.Matches(0, "RIFF")) {
      if (data && length == 0) verdict = {ChunkStep::Over, riffEnd - offset};
      // The pad byte of the last chunk is sometimes left out of the stated size.
      else if (offset + kChunkHeader + length <= riffEnd) verdict = {ChunkStep::Over, ChunkSize(length)};
    }
    if (verdict.step == ChunkStep::End) verdict = JudgeRiffChunk(header, false);
    if (data && verdict.step == ChunkStep::Over && verdict.advance > kChunkHeader) hasAudio = true;
    return verdict;
  }
};

constexpr int64_t kMaxWebpBytes = 0x10000000;  // 256 MiB: a larger "picture" is none

// A WebP picture ("VP8 ", "VP8L" or "VP8X" first): the size its head states is its end, and
// every chunk inside belongs to it (ALPH, ANIM, ANMF, ICCP, EXIF, "XMP " ...), as the WAVE
// walk takes them. It is kept only whole and when libwebp decodes it.
bool IsWebp(ByteView first) {
  return first.Matches(8, "WEBPVP8") && (first.U8(15) == ' ' || first.U8(15) == 'L' || first.U8(15) == 'X');
}

// The length of the WebP picture whose head this is (its stated end), else 0.
int64_t StatedWebpLength(ByteView head) {
  const int64_t end = StatedRiffEnd(head);
  return head.Matches(0, "RIFF") && IsWebp(head) && end <= kMaxWebpBytes ? end : 0;
}

bool FindWebpInOnePiece(Source& source, int64_t startOffset, int64_t extentBytes, std::vector<uint8_t>& bytes) {
  return HoldStatedLength(source, startOffset, std::min(extentBytes, kMaxWebpBytes), 16, StatedWebpLength, bytes);
}

ContentVerdict CheckWebpContent(ByteView file, const std::atomic<bool>*) { return {WebpPictureDecodes(file)}; }

void FinishWebp(ScanContext& scan, Recognition& rec, bool writes, const std::string& fileName) {
  const int64_t end = StatedWebpLength(rec.FirstBytes());
  if (end == 0) return;
  WaveJudge insideStatedSize{end};
  const int64_t length = WalkChunks(rec, "", kListHead, kListHead, insideStatedSize);
  // The pad byte of an odd last chunk may lie beyond the stated size.
  if (length != end && length != end + 1) return;
  rec.CutToLength(end);
  if (!scan.CheckContent(rec.StartOffset(), rec.Bytes(), CheckWebpContent).Ok) return rec.NoteFate(StartFate::ContentCheck);
  if (writes) rec.Save(fileName);
  rec.Commit();
}

// Cuts the output to the walk's end and keeps the file, or lets the recognition roll back.
// A file in which not a single chunk was accepted is nothing worth keeping.
void Finish(Recognition& rec, int64_t length, int64_t head) {
  if (length <= head) return;
  rec.CutToLength(length);
  rec.Commit();
}

// The chunk walk of RecoverRiff read straight from the source: the length as far as it goes
// within the limit, 0 when it cannot be followed.
template <class Judge>
int64_t StatedChunksEnd(const HeadReader& read, Judge&& judge) {
  std::array<uint8_t, kListHead> header{};
  int64_t offset = kListHead;
  for (int records = 0; records < kMaxStatedRecords; ++records) {
    if (kListHead > read.limit - offset) return offset;
    if (!read.Read(offset, header.data(), header.size())) return 0;
    const ChunkVerdict verdict = judge(ByteView(header.data(), header.size()), offset);
    if (verdict.step == ChunkStep::End) return offset;
    if (verdict.advance > read.limit - offset) return 0;
    offset += verdict.advance;
  }
  return offset;
}

}  // namespace

int64_t RiffStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  const HeadReader read{source, startOffset, limit};
  std::array<uint8_t, 16> bytes{};
  const ByteView head(bytes.data(), bytes.size());
  // Pictures are assembled in memory: they are not copied ahead.
  if (!read.Read(0, bytes.data(), bytes.size()) || !head.Matches(0, "RIFF") || IsWebp(head)) return 0;
  int64_t length = 0;
  if (head.Matches(8, "WAVE")) {
    WaveJudge wave{StatedRiffEnd(head)};
    length = StatedChunksEnd(read, wave);
    if (!wave.hasAudio) return 0;
  } else {
    length = StatedChunksEnd(read, [](ByteView h, int64_t) { return JudgeRiffChunk(h, false); });
  }
  return length > kListHead ? length : 0;
}

const AheadCheck& WebpCheckAhead() {
  static const AheadCheck check{FindWebpInOnePiece, CheckWebpContent, kMaxWebpBytes, true};
  return check;
}

ChunkVerdict JudgeRiffChunk(ByteView header, bool ordroMode) {
  const ByteView id = header.Sub(0, 4);
  // Only the next part of a large AVI continues the file; any other RIFF head is a file of
  // its own.
  if (id.Matches(0, "RIFF")) return header.Matches(8, "AVIX") ? ChunkVerdict{ChunkStep::Enter, kListHead} : ChunkVerdict{};
  const bool accepted = IsOneOf(id, {"fmt ", "fact", "idx1", "JUNK", "LIST", "data", "anih"}) ||
                        (ordroMode && IsOneOf(id, {"ix00", "ix01"}));
  const uint32_t length = header.Le32(4);
  if (!accepted || length == 0) return {};
  if (ordroMode && id.Matches(0, "LIST") && header.Matches(8, "movi")) return {ChunkStep::Enter, kListHead};
  return {ChunkStep::Over, ChunkSize(length)};
}

ChunkVerdict JudgeStreamChunk(ByteView header) {
  const uint32_t length = header.Le32(4);
  if (!IsOneOf(header.Sub(0, 4), {"00dc", "01wb"}) || length == 0) return {};
  return {ChunkStep::Over, ChunkSize(length)};
}

bool IsAviVideoChunkHeader(ByteView header) {
  const auto digit = [&](size_t at) { return header.U8(at) >= '0' && header.U8(at) <= '9'; };
  return digit(0) && digit(1) && (header.Matches(2, "dc") || header.Matches(2, "db")) && header.Le32(4) > 0;
}

int RecoverRiff(ScanContext& scan, const std::string& outputFolder, const std::string& extension, bool ordroMode,
                int64_t startOffset) {
  const bool writes = !outputFolder.empty() && !extension.empty();
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "RIFF")) return 0;
  // A picture is assembled in memory for its decode check, written or not, so that claim-only
  // takes the same sectors.
  const std::string fileName = writes ? RecoveredFileName(outputFolder, startOffset, extension) : std::string();
  const bool webp = IsWebp(rec.FirstBytes());
  if (!rec.ChooseOutput(webp     ? RecognitionOutput::Memory()
                        : writes ? RecognitionOutput::FileOnCommit(fileName)
                                 : RecognitionOutput::ClaimOnly()))
    return 0;
  if (webp) {
    FinishWebp(scan, rec, writes, fileName);
    return 0;
  }
  if (rec.FirstBytes().Matches(8, "WAVE")) {
    // A header without its audio is no recording.
    WaveJudge wave{StatedRiffEnd(rec.FirstBytes())};
    const int64_t length = WalkChunks(rec, "", kListHead, kListHead, wave);
    if (wave.hasAudio) Finish(rec, length, kListHead);
    return 0;
  }
  const int64_t length = WalkChunks(rec, ordroMode ? "RIFF Ordro" : "RIFF", kListHead, kListHead,
                                    [ordroMode](ByteView h, int64_t) { return JudgeRiffChunk(h, ordroMode); });
  Finish(rec, length, kListHead);
  return 0;
}

int RecoverAviFragment(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset,
                  outputFolder.empty() ? RecognitionOutput::ClaimOnly()
                                       : RecognitionOutput::FileOnCommit(RecoveredFileName(outputFolder, startOffset, ".A00")));
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "00dc")) return 0;
  Finish(rec, WalkChunks(rec, "AVI stream", 0, kChunkHeader, [](ByteView h, int64_t) { return JudgeStreamChunk(h); }), 0);
  return 0;
}

}  // namespace morvane
