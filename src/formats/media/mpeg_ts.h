// The MPEG transport-stream recognisers: MTS / M2TS (192-byte packets: a 4-byte arrival
// time, then a 188-byte transport packet) and TS (plain 188-byte transport packets).
//
// A transport stream has no header and no length. It is followed packet by packet from a
// sector that begins three packets with their sync byte 0x47; it ends, normally, before the
// first packet without its sync byte (or, in a plain stream, one whose second byte is also
// 0x47), where the range ends or a sector cannot be read, and, for 192-byte packets, before
// a packet that begins a cluster of the source with an arrival time more than 3,200,000
// ticks (27 MHz, modulo 2^30) after the packet before it. What was followed is written
// unchanged, through to the file as the walk advances. Every packet is looked at, so the
// whole stream is read also in claim-only mode, where only a bounded window is held.
#pragma once

#include <cstdint>
#include <string>

#include "scan/copies_ahead.h"
#include "scan/scan_context.h"

namespace morvane {

inline constexpr uint32_t kArrivalTimeMask = 0x3FFFFFFF;  // the arrival time: 30 bits
inline constexpr uint32_t kLargestArrivalStep = 3200000;

// Carves the stream whose first packet starts at startOffset. An empty folder or extension
// is claim-only mode. Always return 0.
int RecoverM2ts(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset);
// A 192-byte-packet stream whose arrival times jump (remuxed without a steady clock): its
// arrival times are not followed, every packet header must be well formed instead, and a
// stream of fewer than 64 packets is given up.
int RecoverM2tsWithJumpingClocks(ScanContext& scan, const std::string& outputFolder, const std::string& extension,
                                 int64_t startOffset);
int RecoverTs(ScanContext& scan, const std::string& outputFolder, const std::string& extension, int64_t startOffset);

// The walks made ahead of the pass (scan/copies_ahead.h) for each of them. They follow the
// arrival times at every packet, not only where a cluster begins.
int64_t M2tsWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);
int64_t M2tsWithJumpingClocksWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);
int64_t TsWalkAhead(Source& source, int64_t startOffset, int64_t limit, WalkProgress& progress);

}  // namespace morvane
