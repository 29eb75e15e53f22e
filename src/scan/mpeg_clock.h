// MPEG program-stream pack headers: identification and the system clock reference.
//
// A pack header starts with 00 00 01 BA; byte 4 tells the version (MPEG-2: top bits 01,
// MPEG-1: top bits 001) and, with the next four bytes, holds the 33-bit clock reference
// base in 90 kHz units, split in three parts by marker bits.
#pragma once

#include <cstdint>
#include <string_view>

#include "storage/bytes.h"

namespace morvane {

// Largest clock advance accepted between two packs at a cluster boundary; an MPEG-2 pack
// whose clock is this large or larger is no stream start.
inline constexpr uint64_t kMpeg2LargestClockStep = 320000;
inline constexpr uint64_t kMpeg1LargestClockStep = 800000;

// The pack start code 00 00 01 BA.
inline constexpr std::string_view kMpegPackStartCode{"\x00\x00\x01\xBA", 4};

// True when the bytes begin with the pack start code followed by the identification of the
// version.
inline bool IsMpeg2PackHeader(ByteView header) {
  return header.Matches(0, kMpegPackStartCode) && (header.U8(4) & 0xC0) == 0x40;
}
inline bool IsMpeg1PackHeader(ByteView header) {
  return header.Matches(0, kMpegPackStartCode) && (header.U8(4) & 0xE0) == 0x20;
}

// The 33-bit clock reference base of a pack header (its first 12 bytes, of which bytes 4..8
// hold the clock); 0 when one of the three marker bits inside the clock is clear or the
// bytes are missing. The version identification is not checked.
uint64_t Mpeg2PackScr(ByteView header);
uint64_t Mpeg1PackScr(ByteView header);

// Transport packets (188 bytes, sync byte 0x47 first). A well-formed header, as muxers write
// it: the sync byte, no transport error, a PID outside the reserved 0x0002..0x000F, and a
// payload or an adaptation field (control bits not 00).
bool IsWellFormedTransportHeader(ByteView packet);
// True when a well-formed packet starts a unit a stream can be entered at: a program
// association section (PID 0), a program map section (table id 2) or a PES packet
// (00 00 01); never a null packet (PID 0x1FFF).
bool StartsTransportUnit(ByteView packet);

}  // namespace morvane
