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

bool IsWellFormedTransportHeader(ByteView packet) {
  const uint32_t pid = (packet.U8(1) & 0x1Fu) << 8 | packet.U8(2);
  return packet.U8(0) == 0x47 && !(packet.U8(1) & 0x80) && !(pid >= 0x0002 && pid <= 0x000F) &&
         (packet.U8(3) & 0x30) != 0;
}

bool StartsTransportUnit(ByteView packet) {
  const uint32_t pid = (packet.U8(1) & 0x1Fu) << 8 | packet.U8(2);
  if (!IsWellFormedTransportHeader(packet) || !(packet.U8(1) & 0x40) || pid == 0x1FFF) return false;  // no unit starts here
  const uint8_t control = (packet.U8(3) >> 4) & 0x03;
  if (!(control & 0x01)) return false;  // no payload
  const uint64_t payload = 4 + ((control & 0x02) ? 1u + packet.U8(4) : 0u);
  if (payload + 3 > 188) return false;
  if (packet.Matches(payload, std::string_view("\x00\x00\x01", 3))) return true;
  const uint8_t table = packet.U8(payload + 1 + packet.U8(payload));  // behind the pointer field
  return (pid == 0 && table == 0x00) || table == 0x02;
}

}  // namespace morvane
