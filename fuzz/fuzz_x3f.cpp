// RecoverX3f over fuzzed images ("FOVb" put in front).
#include "camera_raw_fuzz.h"
#include "formats/pictures/camera_raw.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return morvane::fuzz::RunRawRecogniser(data, size, "FOVb", morvane::RecoverX3f);
}
