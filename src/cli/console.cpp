#include "cli/console.h"

#include "cli/platform.h"

#include <cstdio>

namespace morvane::cli {

ProgressLine::ProgressLine(bool quiet) : quiet_(quiet), terminal_(ErrorIsTerminal()) {}

void ProgressLine::Show(const std::string& text) {
  if (quiet_) return;
  if (terminal_) {
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    drawn_ = true;
    return;
  }
  auto now = std::chrono::steady_clock::now();
  if (now - lastPlain_ < std::chrono::seconds(5)) {
    pending_ = text;
    return;
  }
  lastPlain_ = now;
  PrintPlain(text);
}

void ProgressLine::PrintPlain(std::string text) {
  pending_.clear();
  if (text == lastPrinted_) return;  // a pass that ends where the one before it did
  lastPrinted_ = text;
  std::fprintf(stderr, "%s\n", text.c_str());
}

void ProgressLine::Finish() {
  if (drawn_) std::fprintf(stderr, "\r\033[K");
  drawn_ = false;
  // Into a file or a pipe, each phase ends with where it got to.
  if (!pending_.empty()) PrintPlain(pending_);
}

namespace {

// Length of the valid UTF-8 sequence at `i` (shortest form, no surrogates, at most
// U+10FFFF); 0 when the byte there does not start one.
size_t Utf8SequenceAt(const std::string& s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((b(i + k) & 0xC0) != 0x80) return 0;
  const unsigned char c1 = b(i + 1);
  if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))
    return 0;
  return n;
}

}  // namespace

std::string JsonPath(const std::string& path) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (size_t i = 0; i < path.size();) {
    const size_t n = path[i] == '%' ? 0 : Utf8SequenceAt(path, i);
    if (n == 0) {
      const auto c = static_cast<unsigned char>(path[i++]);
      out += {'%', hex[c >> 4], hex[c & 15]};
    } else {
      out.append(path, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace morvane::cli
