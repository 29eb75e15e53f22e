// The branding file "Morvane.dll" beside the program (a data file despite its name).
//
// It is one zlib stream; inflated, a sequence of NUL-terminated strings. The first 75 are
// not used; the 76th holds at least four lines (CR, LF or CR LF): the window-title prefix,
// an unused line, the text of status panel 2 and the web address of status panel 3.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/language.h"

namespace morvane {

inline constexpr const char* kBrandingFileName = "Morvane.dll";
inline constexpr int kBrandingSkippedStrings = 75;
// Limits for a damaged or hostile file: its size on disk and inflated.
inline constexpr size_t kMaxBrandingFileSize = 2u << 20;
inline constexpr size_t kMaxBrandingInflatedSize = 1u << 20;

struct Branding {
  std::string TitlePrefix;  // empty: the window shows the program title instead
  std::string Line2;        // carried along, not used
  std::string StatusText;   // empty: the support contact text is shown instead
  std::string WebAddress;

  bool operator==(const Branding&) const = default;
};

// The branding the build writes beside the programs.
Branding DefaultBranding();

// The branding strings as a branding file: each string NUL-terminated, the whole deflated
// into one zlib stream. Empty when a string holds a NUL or compression fails.
std::vector<uint8_t> PackBrandingStrings(const std::vector<std::string>& strings);
// A complete branding file: 75 empty strings, then the four lines, each ended by CR LF. Empty
// when a line holds a line break or a NUL.
std::vector<uint8_t> MakeBrandingFile(const Branding& branding);

// Reads a branding file's bytes. nullopt when the stream is damaged or truncated, inflates
// to more than kMaxBrandingInflatedSize, has fewer than 76 NUL-terminated strings, or its
// 76th string has fewer than four lines. Each line is trimmed.
std::optional<Branding> ParseBranding(const std::vector<uint8_t>& compressed);
// Loads "Morvane.dll" from the program folder (with a trailing '/'); nullopt when it is
// missing, not a regular file, larger than kMaxBrandingFileSize, unreadable or damaged.
std::optional<Branding> LoadBrandingFile(const std::string& programFolder);

// The main window's caption: the title prefix followed by the version text, or the
// program title when there is no prefix.
std::string WindowTitle(const Branding& branding, const TFaceTexts& texts);
// Status panel 2: the branding's status text, or the support contact text when it is empty.
std::string StatusPanel2(const Branding& branding, const TFaceTexts& texts);

}  // namespace morvane
