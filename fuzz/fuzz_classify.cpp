// Feeds arbitrary bytes to the start-sector classifier as one sector. The first byte picks
// the sector size (512, 1024, 2048 or 4096) and the camera mode; the sector is copied into a
// heap buffer of exactly that size so that the address sanitizer reports any read past it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "scan/classifier.h"
#include "scan/mpeg_clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t control = data[0];
  const uint32_t sectorSize = 512u << (control & 3);
  morvane::TCameraMode mode;
  switch ((control >> 2) & 3) {
    case 1: mode.CanonPanasonic = true; break;
    case 2: mode.Samsung = true; break;
    case 3: mode.Ordro = true; break;
  }
  // Short inputs are padded with zeros: they stand for sectors whose tail is empty.
  std::vector<uint8_t> sector(sectorSize, 0);
  std::memcpy(sector.data(), data + 1, size - 1 < sectorSize ? size - 1 : sectorSize);

  const uint8_t id = morvane::ClassifySector(sector.data(), sectorSize, mode);
  // Every code is one the recognisers know (the last one appended, or file-system metadata).
  if (id > morvane::ftTs192Headers && id != morvane::ftFsMetadata) __builtin_trap();
  if (morvane::ClassifySector(sector.data(), sectorSize, mode) != id) __builtin_trap();

  // Short sectors must be refused without being read.
  std::vector<uint8_t> tail(data + 1, data + size);
  morvane::ClassifySector(tail.data(), static_cast<uint32_t>(tail.size() < 512 ? tail.size() : 0), mode);

  const morvane::ByteView header(data + 1, size - 1);
  if (morvane::Mpeg2PackScr(header) >> 33 || morvane::Mpeg1PackScr(header) >> 33) __builtin_trap();
  return 0;
}
