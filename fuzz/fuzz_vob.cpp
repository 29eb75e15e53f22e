// The MPEG-2 program-stream (VOB) recogniser over hostile bytes; see mpeg_stream_fuzz.h.
#include "formats/media/mpeg_ps.h"
#include "mpeg_stream_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return morvane::fuzz::RunStreamFuzz(data, size, morvane::RecoverVob);
}
