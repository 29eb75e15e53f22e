// The PDF recogniser over an in-memory image (see recogniser_fuzz.h); .PDF or .AI.
#include "formats/documents/pdf.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzing::RunBothModes(data, size, "%PDF-", morvane::RecoverPdf, "");
}
