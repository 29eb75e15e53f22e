// Progress on stderr: a live line redrawn in place on a terminal, otherwise a plain line
// every few seconds and the last one of each phase (its 100% when it ran to its end).
// Quiet mode shows nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace morvane::cli {

class ProgressLine {
 public:
  explicit ProgressLine(bool quiet);
  // Shows `text` (the caller calls at most once per progress tick).
  void Show(const std::string& text);
  // Ends the live line so that what follows starts on a line of its own; off a terminal,
  // prints the last text shown when it was held back.
  void Finish();
  bool Terminal() const { return terminal_; }

 private:
  bool quiet_;
  bool terminal_;
  bool drawn_ = false;
  std::string pending_;  // off a terminal: the latest text not printed yet
  std::string lastPrinted_;
  void PrintPlain(std::string text);  // by value: it may be given pending_, which it clears
  std::chrono::steady_clock::time_point lastPlain_{};
};

// A file path as a JSON string, without loss: '%' becomes "%25" and every byte that is not
// part of a valid UTF-8 sequence becomes "%XX" (Linux names are bytes, JSON text is UTF-8).
// Decoding "%XX" escapes gives back the exact bytes; other text is unchanged.
std::string JsonPath(const std::string& path);

}  // namespace morvane::cli
