// The ZIP record walk through its three recognisers over an in-memory image (see
// recogniser_fuzz.h): the low two bits of the first byte pick plain archives (0, 3),
// packages (1) or ZIP-based drawings (2).
#include "formats/documents/zip.h"
#include "formats/pictures/cdr.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  static constexpr fuzzing::Recogniser kRecognisers[] = {morvane::RecoverZip, morvane::RecoverOoxml,
                                                          morvane::RecoverCdrZip, morvane::RecoverZip};
  return fuzzing::RunBothModes(data, size, std::string_view("PK\x03\x04", 4), kRecognisers[data[0] & 3], "");
}
