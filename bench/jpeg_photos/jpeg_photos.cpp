// Helper of bench/jpeg_recovery.sh.
//   morvane_jpeg_photos image FILE COUNT [bare]
//                                         writes a raw image holding COUNT 12-megapixel JPEGs,
//                                         each starting on a 4 KiB boundary, zeros between;
//                                         bare: without an application marker
//   morvane_jpeg_photos decode FOLDER      runs the recogniser's decode check over every .JPG
//                                         in FOLDER and prints the time it took
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "formats/jpeg_encoder.h"
#include "formats/pictures/jpeg.h"

namespace {

int MakeImage(const std::string& path, int count, bool bare) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return 1;
  const std::vector<char> lead(1 << 20, 0);
  out.write(lead.data(), static_cast<std::streamsize>(lead.size()));
  int64_t photoBytes = 0;
  for (int i = 0; i < count; ++i) {
    const auto photo = morvane::test::EncodeJpeg(
        {.Width = 4000, .Height = 3000, .Quality = 92, .Seed = static_cast<uint32_t>(i + 1), .Noise = 12, .Jfif = !bare});
    out.write(reinterpret_cast<const char*>(photo.data()), static_cast<std::streamsize>(photo.size()));
    const auto gap = static_cast<size_t>(4096 - photo.size() % 4096 + 4096);  // a free cluster between
    out.write(lead.data(), static_cast<std::streamsize>(gap));
    photoBytes += static_cast<int64_t>(photo.size());
  }
  out.write(lead.data(), static_cast<std::streamsize>(lead.size()));
  if (!out.flush()) return 1;
  std::printf("%d %lld\n", count, static_cast<long long>(photoBytes));
  return 0;
}

int TimeDecodes(const std::string& folder) {
  double seconds = 0;
  int64_t bytes = 0;
  int pictures = 0, failed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() != ".JPG") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto t0 = std::chrono::steady_clock::now();
    const auto picture = morvane::CheckJpegDecodes(morvane::ByteView(data.data(), data.size()));
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    bytes += static_cast<int64_t>(data.size());
    ++pictures;
    failed += !picture.Ok;
  }
  std::printf("%d %lld %.3f %d\n", pictures, static_cast<long long>(bytes), seconds, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "image" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "bare")))
    return MakeImage(argv[2], std::atoi(argv[3]), argc == 5);
  if (mode == "decode" && argc == 3) return TimeDecodes(argv[2]);
  std::fprintf(stderr, "usage: %s image FILE COUNT [bare] | decode FOLDER\n", argv[0]);
  return 2;
}
