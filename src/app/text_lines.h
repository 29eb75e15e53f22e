// Small text helpers for the settings and branding files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// The text without leading and trailing blanks and control characters (bytes up to 0x20).
std::string_view TrimBlanks(std::string_view text);

// Splits text at CR, LF or CR LF. A break at the very end does not start another line, so
// "a\r\nb\r\n" gives two lines and "" gives none.
std::vector<std::string> SplitLines(std::string_view text);

// A whole text read as a 32-bit decimal integer: an optional sign, then one or more digits,
// nothing else. nullopt when the text is not such a number or does not fit 32 bits.
std::optional<int32_t> ParseDecimal(std::string_view text);

}  // namespace morvane
