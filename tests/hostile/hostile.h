// Shared pieces of the hostile-input suite: each test builds its crafted input on the spot
// and runs the whole morvane program on it.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace morvane::hostile {

struct Result {
  int status = -1;  // exit status; -1 when the program was killed (the watchdog's 124 is a hang)
  std::string out;  // stdout and stderr together
  bool Has(const std::string& part) const { return out.find(part) != std::string::npos; }
};

// A path or argument quoted for the shell (any bytes, including invalid UTF-8).
inline std::string Q(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string Program() { return std::string(MORVANE_BINARY_DIR) + "/morvane"; }

// Runs `morvane ARGS` with a watchdog of `seconds` (status 124 when it had to step in).
inline Result Morvane(const std::string& args, int seconds = 60, const std::string& prefix = "") {
  std::string cmd = prefix + " LANG=C timeout -s KILL " + std::to_string(seconds) + " " + Program() + " " + args +
                    " 2>&1 < /dev/null";
  Result r;
  r.status = test::RunCapturing(cmd, r.out);
  return r;
}

inline std::vector<uint8_t> Sample(const std::string& name) { return test::ReadFileBytes(test::DataPath(name)); }

// A small raw image: zeros with the given files placed at the given sectors (512 bytes each).
inline std::vector<uint8_t> CardWith(const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& files,
                                     int64_t sectors = 2048) {
  std::vector<uint8_t> image(static_cast<size_t>(sectors * 512), 0);
  for (const auto& [sector, bytes] : files)
    std::copy(bytes.begin(), bytes.end(), image.begin() + sector * 512);
  return image;
}

// Two photos at sectors 100 and 300: "TEST_AAAAAADW.JPG" and "TEST_AAAAAALO.JPG".
inline std::vector<uint8_t> TwoPhotoCard() {
  return CardWith({{100, Sample("jpeg/exif_le.jpg")}, {300, Sample("jpeg/baseline.jpg")}});
}

inline bool IsRoot() { return ::geteuid() == 0; }

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace morvane::hostile
