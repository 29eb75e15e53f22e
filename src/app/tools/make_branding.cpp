// Writes the branding file the build places beside the programs.
//
//   make_branding OUTPUT
#include <cstdio>
#include <vector>

#include "app/branding.h"
#include "storage/streams.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::vector<uint8_t> bytes = morvane::MakeBrandingFile(morvane::DefaultBranding());
  auto out = morvane::OpenOutputFileStream(argv[1], morvane::fmCreate);
  if (bytes.empty() || !out ||
      out->Write(bytes.data(), static_cast<int64_t>(bytes.size())) != static_cast<int64_t>(bytes.size())) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
