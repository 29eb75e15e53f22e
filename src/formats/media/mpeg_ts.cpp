#include "formats/media/mpeg_ts.h"

#include <array>

#include "formats/media/stream_clusters.h"
#include "formats/stated_length.h"
#include "scan/mpeg_clock.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr uint8_t kSyncByte = 0x47;
constexpr int64_t kStartPackets = 3;  // packets the start sector must begin

struct Layout {
  int64_t packetSize;
  int64_t syncAt;          // position of the sync byte in a packet
  bool arrivalTimes;       // a 4-byte arrival time in front of each transport packet
  int64_t heldLimit;       // claim-only: bytes held before the window is compacted
  bool clocksJump = false;     // arrival times are not followed; every header must be well formed
  int64_t leastPackets = 0;    // a shorter stream is given up
};

// A stream whose arrival times jump is only one when this many well-formed packets follow
// one another: 12 KiB. In random bytes about one packet position in 650 holds a well-formed
// header, so three in a row come about once in 3*10^8 sectors and a run of 64 never.
constexpr int64_t kLeastPacketsWhenClocksJump = 64;

constexpr Layout kM2ts{192, 4, true, 0x2004000};
constexpr Layout kM2tsClocksJump{192, 4, true, 0x2004000, true, kLeastPacketsWhenClocksJump};
constexpr Layout kTs{188, 0, false, 0x2050000};

// The per-packet test on the first bytes of a packet (at least syncAt + 4 of them).
bool IsPacket(ByteView p, const Layout& l) {
  if (p.U8(l.syncAt) != kSyncByte) return false;
  if (l.clocksJump) return IsWellFormedTransportHeader(p.Sub(static_cast<uint64_t>(l.syncAt)));
  // Two sync bytes in a row are no packet of a plain stream.
  return l.arrivalTimes || p.U8(l.syncAt + 1) != kSyncByte;
}

uint32_t ArrivalStep(uint32_t previous, uint32_t word) { return (word - previous) & kArrivalTimeMask; }

// Follows the stream from its fourth packet on (or from where a walk made ahead stood);
// returns its length.
int64_t WalkPackets(Recognition& rec, const ScanContext& scan, const Layout& l, WalkedLength ahead) {
  const StreamClusters clusters(scan, rec.StartSector());
  const bool claimOnly = rec.OutputKind() == RecognitionOutput::Kind::ClaimOnly;
  uint32_t previous = rec.FirstBytes().Be32((kStartPackets - 1) * l.packetSize);
  int64_t offset = kStartPackets * l.packetSize;
  if (const auto walked = rec.TakeWalkedAhead(ahead); walked && walked->At > offset) {
    offset = walked->At;
    previous = static_cast<uint32_t>(walked->State);
  }
  int64_t dropped = 0;
  std::array<uint8_t, 8> head{};
  const auto headBytes = static_cast<size_t>(l.syncAt + 4);
  for (;;) {
    if (rec.CopyAsFarAs(offset + l.packetSize) != CopyStop::Reached) return offset;
    if (!rec.ReadBack(offset, head.data(), headBytes)) return offset;
    const ByteView p(head.data(), headBytes);
    if (!IsPacket(p, l)) return offset;
    if (l.arrivalTimes && !l.clocksJump) {
      const uint32_t word = p.Be32(0);
      if (clusters.BeginsCluster(offset) && ArrivalStep(previous, word) > kLargestArrivalStep) return offset;
      previous = word;
    }
    offset += l.packetSize;
    if (claimOnly && offset - dropped > l.heldLimit) {
      rec.DropHeldBytesBefore(offset);
      dropped = offset;
    }
  }
}

// The same walk over the source, testing the arrival time at every packet (the pass tests
// it where a cluster begins): it stands at each packet with the arrival time of the one
// before.
int64_t WalkPacketsAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress, const Layout& l) {
  WalkReader reader(source, startOffset, limit);
  uint32_t previous = 0;
  for (int64_t offset = 0;; offset += l.packetSize) {
    if (!progress.StandsAt(offset, previous)) return offset;
    const uint8_t* packet = reader.Bytes(offset, l.packetSize);
    if (packet == nullptr) return offset;
    const ByteView p(packet, static_cast<size_t>(l.syncAt + 4));
    if (!IsPacket(p, l)) return offset;
    if (l.arrivalTimes && !l.clocksJump) {
      const uint32_t word = p.Be32(0);
      if (offset > 0 && ArrivalStep(previous, word) > kLargestArrivalStep) return offset;
      previous = word;
    }
  }
}

int RecoverTransportStream(ScanContext& scan, const std::string& outputFolder, const std::string& extension,
                           int64_t startOffset, const Layout& l, WalkedLength ahead) {
  Recognition rec(scan, startOffset, RecognitionOutput::Undecided());
  if (!rec.Started()) return 0;
  const ByteView first = rec.FirstBytes();
  for (int64_t k = 0; k < kStartPackets; ++k)
    if (!IsPacket(first.Sub(static_cast<uint64_t>(k * l.packetSize)), l)) return 0;
  const bool writes = !outputFolder.empty() && !extension.empty();
  if (!rec.ChooseOutput(writes ? RecognitionOutput::File(RecoveredFileName(outputFolder, startOffset, extension))
                               : RecognitionOutput::ClaimOnly()))
    return 0;
  const int64_t length = WalkPackets(rec, scan, l, ahead);
  if (length < l.leastPackets * l.packetSize) {
    rec.NoteFate(StartFate::TooShort);
    return 0;
  }
  rec.CutToLength(length);
  rec.Commit();
  return 0;
}

}  // namespace

int64_t M2tsWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  return WalkPacketsAhead(source, startOffset, limit, progress, kM2ts);
}

int64_t M2tsWithJumpingClocksWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  return WalkPacketsAhead(source, startOffset, limit, progress, kM2tsClocksJump);
}

int64_t TsWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress) {
  return WalkPacketsAhead(source, startOffset, limit, progress, kTs);
}

int RecoverM2ts(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  return RecoverTransportStream(scan, outputFolder, extension, startOffset, kM2ts, M2tsWalkAhead);
}

int RecoverM2tsWithJumpingClocks(ScanContext& scan, const std::string& outputFolder, const std::string& extension,
                                 int64_t startOffset) {
  return RecoverTransportStream(scan, outputFolder, extension, startOffset, kM2tsClocksJump,
                                M2tsWithJumpingClocksWalkAhead);
}

int RecoverTs(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset) {
  return RecoverTransportStream(scan, outputFolder, extension, startOffset, kTs, TsWalkAhead);
}

}  // namespace morvane
