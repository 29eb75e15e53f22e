// The Matroska / WebM recogniser over an in-memory image (see recogniser_fuzz.h): the EBML
// header's ID is put at the start; the seeds bring DocTypes and segments.
#include "formats/media/matroska.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, std::string_view("\x1A\x45\xDF\xA3", 4), morvane::RecoverMatroska, "");
}
