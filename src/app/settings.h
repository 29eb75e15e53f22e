// The two optional thumbnail settings files beside the program.
//
// ThumbSiz.ini: its first line is a pixel limit (-1 when it is not a number).
// ThumbSpc.ini: one size per line, either a number or WIDTHxHEIGHT (WIDTH*HEIGHT); an
// empty line ends the list and ';' starts a comment.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace morvane {

inline constexpr const char* kThumbSizFileName = "ThumbSiz.ini";
inline constexpr const char* kThumbSpcFileName = "ThumbSpc.ini";
// Larger settings files are not read.
inline constexpr uintmax_t kMaxSettingsFileSize = 1 << 20;

struct ThumbnailSettings {
  int32_t ThumbnailPixelLimit = -1;
  // Present only when ThumbSpc.ini exists.
  std::optional<std::vector<int32_t>> ThumbnailSpecialSizes;
};

// The value of ThumbSiz.ini: its first line (blanks around it ignored) as a decimal number;
// -1 when there is no first line or it is not a number.
int32_t ParseThumbSiz(const std::vector<std::string>& lines);

// The sizes of ThumbSpc.ini in file order, keeping the values above 0. A line with a star
// (or a lower-case x) whose sides are not both numbers, or whose product does not fit 32
// bits, is skipped.
std::vector<int32_t> ParseThumbSpc(const std::vector<std::string>& lines);

// Reads both files from `folder` (with a trailing '/'). A missing, unreadable or oversized
// file counts as absent.
ThumbnailSettings LoadThumbnailSettings(const std::string& folder);

}  // namespace morvane
