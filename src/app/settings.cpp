#include "app/settings.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/text_lines.h"
#include "storage/files.h"
#include "storage/streams.h"

namespace morvane {

namespace {

constexpr int32_t kNotANumber = -1;

// One ThumbSpc.ini entry (already trimmed, comment dropped) as a size; kNotANumber when it
// is none.
int32_t ThumbSpcValue(std::string line) {
  if (size_t x = line.find('x'); x != std::string::npos) line[x] = '*';
  size_t star = line.find('*');
  if (star == std::string::npos) return ParseDecimal(line).value_or(kNotANumber);
  std::string_view text(line);
  auto width = ParseDecimal(TrimBlanks(text.substr(0, star)));
  auto height = ParseDecimal(TrimBlanks(text.substr(star + 1)));
  if (!width || !height) return kNotANumber;
  int64_t product = int64_t{*width} * *height;
  if (product < INT32_MIN || product > INT32_MAX) return kNotANumber;
  return static_cast<int32_t>(product);
}

// The lines of a settings file, or nullopt when it is absent, unreadable or too large.
// Existence is checked first: the loader waits about a second for a file that is missing.
std::optional<std::vector<std::string>> ReadSettingsFile(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Utf8Path(path), ec)) return std::nullopt;
  uintmax_t size = std::filesystem::file_size(Utf8Path(path), ec);
  if (ec || size > kMaxSettingsFileSize) return std::nullopt;
  std::vector<std::string> lines;
  if (!LoadListFromFile(lines, path)) return std::nullopt;
  return lines;
}

}  // namespace

int32_t ParseThumbSiz(const std::vector<std::string>& lines) {
  if (lines.empty()) return kNotANumber;
  return ParseDecimal(TrimBlanks(lines.front())).value_or(kNotANumber);
}

std::vector<int32_t> ParseThumbSpc(const std::vector<std::string>& lines) {
  std::vector<int32_t> sizes;
  for (const std::string& raw : lines) {
    std::string_view line = TrimBlanks(raw);
    if (line.empty()) break;
    line = TrimBlanks(line.substr(0, line.find(';')));
    int32_t value = ThumbSpcValue(std::string(line));
    if (value > 0) sizes.push_back(value);
  }
  return sizes;
}

ThumbnailSettings LoadThumbnailSettings(const std::string& folder) {
  ThumbnailSettings settings;
  if (auto lines = ReadSettingsFile(folder + kThumbSizFileName))
    settings.ThumbnailPixelLimit = ParseThumbSiz(*lines);
  if (auto lines = ReadSettingsFile(folder + kThumbSpcFileName))
    settings.ThumbnailSpecialSizes = ParseThumbSpc(*lines);
  return settings;
}

}  // namespace morvane
