// The BMP recogniser over an in-memory image (see recogniser_fuzz.h).
#include "formats/pictures/bmp.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, "BM", morvane::RecoverBmp, ".BMP");
}
