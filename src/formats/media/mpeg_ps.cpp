#include "formats/media/mpeg_ps.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "formats/media/stream_clusters.h"
#include "formats/stated_length.h"
#include "scan/mpeg_clock.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr std::string_view kStartCodePrefix{"\x00\x00\x01", 3};
constexpr uint8_t kPackCode = 0xBA;
constexpr uint8_t kProgramEndCode = 0xB9;
constexpr int64_t kProgramEndLength = 4;   // the end code has no length field
constexpr int64_t kPacketHeaderLength = 6;  // start code, code byte, 16-bit length
constexpr int64_t kMaxHeaderRead = 14;

// What tells the two versions apart.
struct Version {
  bool (*isPack)(ByteView);
  uint64_t (*clock)(ByteView);
  int64_t (*packLength)(ByteView);
  int64_t headerRead;  // bytes of a pack header the walk needs
  int64_t largestStep;
};

int64_t Mpeg2PackLength(ByteView h) { return 14 + (h.U8(13) & 7); }  // 14 + stuffing
int64_t Mpeg1PackLength(ByteView) { return 12; }

constexpr Version kMpeg2{IsMpeg2PackHeader, Mpeg2PackScr, Mpeg2PackLength, 14,
                         static_cast<int64_t>(kMpeg2LargestClockStep)};
constexpr Version kMpeg1{IsMpeg1PackHeader, Mpeg1PackScr, Mpeg1PackLength, 12,
                         static_cast<int64_t>(kMpeg1LargestClockStep)};

// Whether a pack with this clock may follow one with `previous` (-1 before the first pack)
// where a cluster begins.
bool ClockContinues(int64_t previous, int64_t clock, int64_t largestStep) {
  return clock > previous && clock - previous <= largestStep;
}

// The length of the packet whose first bytes (up to kMaxHeaderRead) are given: 0 where they
// begin a pack instead, -1 where the stream ends (no start code, or too few bytes).
int64_t PacketLength(ByteView header) {
  if (header.size() < 4 || !header.Matches(0, kStartCodePrefix)) return -1;
  const uint8_t code = header.U8(3);
  if (code == kPackCode) return 0;
  if (code == kProgramEndCode) return kProgramEndLength;
  return header.size() >= kPacketHeaderLength ? kPacketHeaderLength + header.Be16(4) : -1;
}

class ProgramStreamWalk {
 public:
  ProgramStreamWalk(Recognition& rec, const ScanContext& scan, const Version& v)
      : rec_(rec), v_(v), clusters_(scan, rec.StartSector()),
        windowBytes_(kWindowKeepSectors * scan.SectorSize()) {}

  // Follows the stream from its first pack (or from the pack where a walk made ahead stood);
  // returns its length.
  int64_t Run(WalkedLength ahead) {
    ByteView header = rec_.FirstBytes();
    if (const auto walked = rec_.TakeWalkedAhead(ahead); walked && walked->At > 0) {
      offset_ = walked->At;
      previousClock_ = walked->State;
      header = HeaderAt();
    }
    for (;;) {
      if (!Pack(header)) return offset_;
      // Packets up to the next pack header.
      for (;;) {
        header = HeaderAt();
        const int64_t length = PacketLength(header);
        if (length == 0) break;
        if (length < 0 || !Take(length)) return offset_;
      }
    }
  }

 private:
  // The pack header at the walk's offset; false when the stream ends before it.
  bool Pack(ByteView header) {
    if (static_cast<int64_t>(header.size()) < v_.headerRead || !v_.isPack(header)) return false;
    const auto clock = static_cast<int64_t>(v_.clock(header));
    if ((offset_ == 0 || clusters_.BeginsCluster(offset_)) && !ClockContinues(previousClock_, clock, v_.largestStep))
      return false;
    previousClock_ = clock;
    return Take(v_.packLength(header));
  }

  // Up to kMaxHeaderRead bytes at the offset, fewer where the stream cannot be read further.
  ByteView HeaderAt() {
    rec_.CopyAsFarAs(offset_ + kMaxHeaderRead);
    const int64_t n = std::min(kMaxHeaderRead, rec_.Length() - offset_);
    if (n <= 0 || !rec_.ReadBack(offset_, header_.data(), static_cast<size_t>(n))) return {};
    return ByteView(header_.data(), static_cast<size_t>(n));
  }

  // Moves past `length` bytes of the stream (claiming long packets without reading them in
  // claim-only mode); false when they cannot all be had.
  bool Take(int64_t length) {
    if (rec_.StepOverAsFarAs(offset_ + length) != CopyStop::Reached) return false;
    offset_ += length;
    if (rec_.OutputKind() == RecognitionOutput::Kind::ClaimOnly && offset_ - dropped_ > windowBytes_) {
      rec_.DropHeldBytesBefore(offset_);
      dropped_ = offset_;
    }
    return true;
  }

  Recognition& rec_;
  const Version& v_;
  const StreamClusters clusters_;
  const int64_t windowBytes_;
  int64_t offset_ = 0;          // stream offset of the pack or packet being examined
  int64_t previousClock_ = -1;  // clock of the last pack
  int64_t dropped_ = 0;
  std::array<uint8_t, kMaxHeaderRead> header_{};
};

// The same walk over the source, testing the clock at every pack (the pass tests it where a
// cluster begins): it stands at each pack with the clock of the one before.
int64_t WalkProgramStreamAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress,
                               const Version& v) {
  WalkReader reader(source, startOffset, limit);
  // Up to kMaxHeaderRead bytes at `at`, fewer where the limit comes first.
  auto headerAt = [&](int64_t at) {
    const int64_t n = std::min(kMaxHeaderRead, limit - at);
    const uint8_t* bytes = n > 0 ? reader.Bytes(at, n) : nullptr;
    return bytes ? ByteView(bytes, static_cast<size_t>(n)) : ByteView();
  };
  int64_t offset = 0, previousClock = -1;
  for (;;) {
    if (!progress.StandsAt(offset, previousClock)) return offset;
    ByteView header = headerAt(offset);
    if (static_cast<int64_t>(header.size()) < v.headerRead || !v.isPack(header)) return offset;
    const auto clock = static_cast<int64_t>(v.clock(header));
    if (!ClockContinues(previousClock, clock, v.largestStep) || v.packLength(header) > limit - offset) return offset;
    previousClock = clock;
    offset += v.packLength(header);
    for (;;) {
      header = headerAt(offset);
      const int64_t length = PacketLength(header);
      if (length == 0) break;
      if (length < 0 || length > limit - offset) return offset;
      offset += length;
    }
  }
}

int RecoverProgramStream(ScanContext& scan, const std::string& outputFolder, const std::string& extension,
                         int64_t startOffset, const Version& v, WalkedLength ahead) {
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  // Only a pack of this version with an early clock begins a stream; a candidate that ends
  // before its first pack is no stream at all.
  const ByteView first = rec.FirstBytes();
  if (!v.isPack(first) || !ClockContinues(-1, static_cast<int64_t>(v.clock(first)), v.largestStep)) return 0;
  const bool writes = !outputFolder.empty() && !extension.empty();
  if (!rec.ChooseOutput(writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                               : RecognitionOutput::ClaimOnly()))
    return 0;
  const int64_t length = ProgramStreamWalk(rec, scan, v).Run(ahead);
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace

int64_t VobWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  return WalkProgramStreamAhead(source, startOffset, limit, progress, kMpeg2);
}

int64_t MpgWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  return WalkProgramStreamAhead(source, startOffset, limit, progress, kMpeg1);
}

int RecoverVob(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  return RecoverProgramStream(scan, outputFolder, extension, startOffset, kMpeg2, VobWalkAhead);
}

int RecoverMpg(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  return RecoverProgramStream(scan, outputFolder, extension, startOffset, kMpeg1, MpgWalkAhead);
}

}  // namespace morvane
