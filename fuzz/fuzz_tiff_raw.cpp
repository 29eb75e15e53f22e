// RecoverTiffRaw over fuzzed images; the first byte's low bits pick one of the six headers.
#include <string_view>

#include "camera_raw_fuzz.h"
#include "formats/pictures/camera_raw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace std::string_view_literals;
  static constexpr std::string_view kHeaders[] = {"II*\0"sv, "MM\0*"sv, "IIRO"sv, "MMOR"sv, "IIU\0"sv, "MM\0U"sv};
  if (size < 1) return 0;
  return morvane::fuzz::RunRawRecogniser(data, size, kHeaders[(data[0] & 0x0F) % 6], morvane::RecoverTiffRaw);
}
