// The ASF recogniser, or by the first input byte the WMV recogniser, over an in-memory
// image made of the rest of the input (mode bits of recogniser_harness.h). The ASF header
// object GUID is put at bytes 0..15, and for the ASF recogniser the file properties object
// GUID at bytes 30..45.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/media/asf.h"
#include "recogniser_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const bool wmv = mode & 1;
  std::vector<uint8_t> input(data + 1, data + size);
  if (!wmv) {
    input.resize(std::max<size_t>(input.size(), 46));
    std::memcpy(input.data() + 30, "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
  }
  static const std::string scratch = fuzzing::ScratchFolder("/tmp/fuzz_asf_XXXXXX");
  fuzzing::RunBothModes(mode, input.data(), input.size(),
                        std::string_view("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16), scratch,
                        [&](morvane::ScanContext& scan, const std::string& folder) {
                          if (wmv)
                            morvane::RecoverWmv(scan, folder, 0);
                          else
                            morvane::RecoverAsf(scan, folder, 0);
                        });
  return 0;
}
