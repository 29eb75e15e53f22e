#include "cli/console.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace morvane::cli {

ProgressLine::ProgressLine(bool quiet) : quiet_(quiet), terminal_(::isatty(STDERR_FILENO) != 0) {}

void ProgressLine::Show(const std::string& text) {
  if (quiet_) return;
  if (terminal_) {
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    drawn_ = true;
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (now - lastPlain_ < std::chrono::seconds(5)) return;
  lastPlain_ = now;
  std::fprintf(stderr, "%s\n", text.c_str());
}

void ProgressLine::Finish() {
  if (drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
}

std::string FormatRate(double bytesPerSecond) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB/s", bytesPerSecond / 1e6);
  return buf;
}

std::string FormatBytes(int64_t bytes) {
  char buf[32];
  if (bytes < 1000)
    std::snprintf(buf, sizeof buf, "%lld bytes", static_cast<long long>(bytes));
  else if (bytes < 1000 * 1000)
    std::snprintf(buf, sizeof buf, "%.1f kB", bytes / 1e3);
  else if (bytes < 1000LL * 1000 * 1000)
    std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
  else
    std::snprintf(buf, sizeof buf, "%.2f GB", bytes / 1e9);
  return buf;
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  auto s = static_cast<long long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, s / 60 % 60);
  else if (s >= 60)
    std::snprintf(buf, sizeof buf, "%lldm%02llds", s / 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%llds", s);
  return buf;
}

}  // namespace morvane::cli
