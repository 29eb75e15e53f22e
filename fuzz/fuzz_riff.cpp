// The RIFF recogniser, or by the first input byte the AVI stream-data recogniser, over an
// in-memory image made of the rest of the input; bit 1 of that byte is the Ordro mode, the
// others are those of recogniser_harness.h. "RIFF" (or "00dc") is put at bytes 0..3.
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/media/riff.h"
#include "recogniser_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const bool fragment = mode & 1, ordro = mode & 2;
  static const std::string scratch = fuzzing::ScratchFolder("/tmp/fuzz_riff_XXXXXX");
  fuzzing::RunBothModes(mode, data + 1, size - 1, fragment ? "00dc" : "RIFF", scratch,
                        [&](morvane::ScanContext& scan, const std::string& folder) {
                          if (fragment)
                            morvane::RecoverAviFragment(scan, folder, 0);
                          else
                            morvane::RecoverRiff(scan, folder, ".AVI", ordro, 0);
                        });
  return 0;
}
