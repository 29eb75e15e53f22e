// The CAB and 7z recognisers over an in-memory image (see recogniser_fuzz.h); bit 0 of the
// setting byte picks the kind.
#include "formats/documents/sized_archives.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0 && (data[0] & 1))
    return fuzzing::RunBothModes(data, size, std::string_view("7z\xBC\xAF\x27\x1C\x00\x03", 8), morvane::Recover7z, ".7Z");
  return fuzzing::RunBothModes(data, size, "MSCF", morvane::RecoverCab, ".CAB");
}
