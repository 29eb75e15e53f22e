#include "formats/media/riff.h"

#include <array>
#include <initializer_list>
#include <limits>

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
template <class Judge>
int64_t WalkChunks(Recognition& rec, int64_t offset, int64_t headerBytes, Judge judge) {
  std::array<uint8_t, kListHead> header{};
  for (;;) {
    const CopyStop stop = rec.CopyAsFarAs(offset + headerBytes);
    if (stop == CopyStop::RangeEnd) return offset;
    if (stop != CopyStop::Reached || !rec.ReadBack(offset, header.data(), static_cast<size_t>(headerBytes))) return -1;
    const ChunkVerdict verdict = judge(ByteView(header.data(), static_cast<size_t>(headerBytes)));
    if (verdict.step == ChunkStep::End) return offset;
    if (verdict.advance > std::numeric_limits<int64_t>::max() - offset) return -1;
    // The whole chunk is copied, or in claim-only mode claimed without being read.
    if (!rec.StepOver(offset + verdict.advance)) return -1;
    offset += verdict.advance;
  }
}

// Cuts the output to the walk's end and keeps the file, or lets the recognition roll back.
// A file in which not a single chunk was accepted is nothing worth keeping.
void Finish(Recognition& rec, int64_t length, int64_t head) {
  if (length <= head) return;
  rec.CutToLength(length);
  rec.Commit();
}

}  // namespace

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
  Recognition rec(scan, startOffset,
                  writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                         : RecognitionOutput::ClaimOnly());
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "RIFF")) return 0;
  const int64_t length =
      WalkChunks(rec, kListHead, kListHead, [ordroMode](ByteView h) { return JudgeRiffChunk(h, ordroMode); });
  Finish(rec, length, kListHead);
  return 0;
}

int RecoverAviFragment(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset,
                  outputFolder.empty() ? RecognitionOutput::ClaimOnly()
                                       : RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, ".A00")));
  if (!rec.Started() || !rec.FirstBytes().Matches(0, "00dc")) return 0;
  Finish(rec, WalkChunks(rec, 0, kChunkHeader, JudgeStreamChunk), 0);
  return 0;
}

}  // namespace morvane
