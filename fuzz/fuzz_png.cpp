// The PNG recogniser over an in-memory image (see recogniser_fuzz.h); a written picture
// must decode.
#include "formats/pictures/png.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, "\x89PNG", morvane::RecoverPng, ".PNG");
}
