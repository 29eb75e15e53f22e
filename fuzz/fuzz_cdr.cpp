// The RIFF drawing recogniser over an in-memory image (see recogniser_fuzz.h).
#include "formats/pictures/cdr.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, "RIFF", morvane::RecoverCdrRiff, ".CDR");
}
