#include "scan/mpeg_clock.h"

namespace morvane {

// Bytes 4..8 of an MPEG-2 pack header:
//   01 c32 c31 c30 M c29 c28 | c27..c20 | c19..c15 M c14 c13 | c12..c5 | c4..c0 M e8 e7
// (c = clock base, M = marker bit, e = clock extension, not part of the base).
uint64_t Mpeg2PackScr(ByteView header) {
  const uint64_t b4 = header.U8(4), b5 = header.U8(5), b6 = header.U8(6), b7 = header.U8(7),
                 b8 = header.U8(8);
  if (!(b4 & 0x04) || !(b6 & 0x04) || !(b8 & 0x04)) return 0;
  return ((b4 >> 3) & 0x07) << 30 | (b4 & 0x03) << 28 | b5 << 20 | (b6 >> 3) << 15 |
         (b6 & 0x03) << 13 | b7 << 5 | (b8 >> 3);
}

// Bytes 4..8 of an MPEG-1 pack header:
//   0 0 1 0 c32 c31 c30 M | c29..c22 | c21..c15 M | c14..c7 | c6..c0 M
uint64_t Mpeg1PackScr(ByteView header) {
  const uint64_t b4 = header.U8(4), b5 = header.U8(5), b6 = header.U8(6), b7 = header.U8(7),
                 b8 = header.U8(8);
  if (!(b4 & 0x01) || !(b6 & 0x01) || !(b8 & 0x01)) return 0;
  return ((b4 >> 1) & 0x07) << 30 | b5 << 22 | (b6 >> 1) << 15 | b7 << 7 | (b8 >> 1);
}

}  // namespace morvane
