// The OLE compound document recogniser over an in-memory image (see recogniser_fuzz.h).
// The header's signature, version and byte order with sector shift 9 are put in place, so
// the fuzzer spends its time on the tables.
#include "formats/documents/ole.h"
#include "recogniser_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string header = [] {
    std::string h("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    h.append(16, '\0');
    h.append("\x3E\x00\x03\x00\xFE\xFF\x09\x00", 8);
    return h;
  }();
  return fuzzing::RunBothModes(data, size, header, morvane::RecoverOleDocument, "");
}
