// Feeds arbitrary bytes to the EXIF shooting-time reader as a picture, and the first 19
// bytes to the date parser.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "formats/pictures/exif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> picture(data, data + size);  // exact size, so reads past it are seen
  const auto r = morvane::ReadExifShootingTime(morvane::ByteView(picture.data(), picture.size()));
  if (!r.Found && r.Time != morvane::kNoShootingTime) __builtin_trap();
  morvane::TDateTime t;
  morvane::ParseExifDateTime(std::string_view(reinterpret_cast<const char*>(data), size < 19 ? size : 19), t);
  return 0;
}
