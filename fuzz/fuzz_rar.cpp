// The RAR recogniser over an in-memory image (see recogniser_fuzz.h).
#include "formats/documents/rar.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, std::string_view("Rar!\x1A\x07\x00", 7), morvane::RecoverRar, ".RAR");
}
