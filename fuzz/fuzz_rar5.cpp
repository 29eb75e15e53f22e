// The RAR recogniser on RAR 5 archives over an in-memory image (see recogniser_fuzz.h).
// Every header's CRC-32 is set right before the run, as far as the headers can be followed,
// so that changed sizes, types and flags reach the walk instead of failing their check.
#include <zlib.h>

#include "formats/documents/rar.h"
#include "recogniser_fuzz.h"
#include "storage/bytes.h"

namespace {

// A vint at `at` (at most `most` bytes); false when it does not end inside the input.
bool Vint(const std::vector<uint8_t>& b, size_t& at, uint64_t& value, int most = 10) {
  value = 0;
  for (int i = 0; i < most && at < b.size(); ++i) {
    const uint8_t byte = b[at++];
    value |= uint64_t{byte & 0x7Fu} << (7 * i);
    if (!(byte & 0x80)) return true;
  }
  return false;
}

void SetHeaderChecksums(std::vector<uint8_t>& input) {
  for (size_t pos = 1 + 8; pos + 5 <= input.size();) {  // behind the setting byte and the marker
    size_t at = pos + 4;
    uint64_t size = 0, type = 0, flags = 0, extra = 0, data = 0;
    if (!Vint(input, at, size, 3) || size > input.size() - at) return;
    const size_t end = at + size;
    const uLong crc = crc32(0, input.data() + pos + 4, static_cast<uInt>(end - pos - 4));
    for (int i = 0; i < 4; ++i) input[pos + i] = static_cast<uint8_t>(crc >> (8 * i));
    if (!Vint(input, at, type) || !Vint(input, at, flags) || ((flags & 1) && !Vint(input, at, extra)) ||
        ((flags & 2) && !Vint(input, at, data)) || data > input.size())
      return;
    pos = end + data;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 10) return 0;
  std::vector<uint8_t> input(data, data + size);
  std::memcpy(input.data() + 1, "Rar!\x1A\x07\x01\x00", 8);
  SetHeaderChecksums(input);
  return fuzzing::RunBothModes(input.data(), input.size(), std::string_view("Rar!\x1A\x07\x01\x00", 8),
                               morvane::RecoverRar, ".RAR");
}
