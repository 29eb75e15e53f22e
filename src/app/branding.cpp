#include "app/branding.h"

#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "app/text_lines.h"
#include "storage/files.h"
#include "storage/streams.h"

namespace morvane {

namespace {

constexpr int kTitleText = 1;
constexpr int kVersionText = 75;
constexpr int kSupportText = 76;

// Inflates one zlib stream, refusing output beyond `cap`. nullopt when the stream is
// damaged, ends early or inflates too far. Bytes after the stream's end are ignored.
std::optional<std::vector<uint8_t>> InflateCapped(const std::vector<uint8_t>& in, size_t cap) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return std::nullopt;
  std::vector<uint8_t> out(std::min<size_t>(cap + 1, 64u << 10));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = static_cast<uInt>(in.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    if (z.total_out == out.size()) {
      if (out.size() > cap) break;  // one byte more than allowed already came out
      out.resize(std::min(out.size() * 2, cap + 1));
    }
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    rc = inflate(&z, Z_NO_FLUSH);
  }
  size_t produced = z.total_out;
  inflateEnd(&z);
  if (rc != Z_STREAM_END || produced > cap) return std::nullopt;
  out.resize(produced);
  return out;
}

// The string number `index` (from 0) of a run of NUL-terminated strings; nullopt when the
// run ends before that string's NUL.
std::optional<std::string_view> NulTerminatedString(std::string_view strings, int index) {
  size_t start = 0;
  for (int i = 0;; ++i) {
    size_t nul = strings.find('\0', start);
    if (nul == std::string_view::npos) return std::nullopt;
    if (i == index) return strings.substr(start, nul - start);
    start = nul + 1;
  }
}

}  // namespace

Branding DefaultBranding() {
  return {"Morvane Data Recovery", "", "Recover photos, videos and documents by their content",
          "https://morvane.example/"};
}

std::vector<uint8_t> PackBrandingStrings(const std::vector<std::string>& strings) {
  std::string joined;
  for (const std::string& s : strings) {
    if (s.find('\0') != std::string::npos) return {};
    joined += s;
    joined += '\0';
  }
  uLongf size = compressBound(static_cast<uLong>(joined.size()));
  std::vector<uint8_t> out(size);
  if (compress2(out.data(), &size, reinterpret_cast<const Bytef*>(joined.data()),
                static_cast<uLong>(joined.size()), Z_DEFAULT_COMPRESSION) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

std::vector<uint8_t> MakeBrandingFile(const Branding& branding) {
  // Every line ends with CR LF, so that an empty last line still counts as a line.
  std::string text;
  for (const std::string* line :
       {&branding.TitlePrefix, &branding.Line2, &branding.StatusText, &branding.WebAddress}) {
    if (line->find_first_of("\r\n") != std::string::npos) return {};
    text += *line + "\r\n";
  }
  std::vector<std::string> strings(kBrandingSkippedStrings);
  strings.push_back(text);
  return PackBrandingStrings(strings);
}

std::optional<Branding> ParseBranding(const std::vector<uint8_t>& compressed) {
  if (compressed.size() > kMaxBrandingFileSize) return std::nullopt;
  auto inflated = InflateCapped(compressed, kMaxBrandingInflatedSize);
  if (!inflated) return std::nullopt;
  std::string_view strings(reinterpret_cast<const char*>(inflated->data()), inflated->size());
  auto text = NulTerminatedString(strings, kBrandingSkippedStrings);
  if (!text) return std::nullopt;
  std::vector<std::string> lines = SplitLines(*text);
  if (lines.size() < 4) return std::nullopt;
  auto line = [&](size_t i) { return std::string(TrimBlanks(lines[i])); };
  return Branding{line(0), line(1), line(2), line(3)};
}

std::optional<Branding> LoadBrandingFile(const std::string& programFolder) {
  std::string path = programFolder + kBrandingFileName;
  // Checked first: the loader waits about a second for a missing file.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(Utf8Path(path), ec)) return std::nullopt;
  uintmax_t size = std::filesystem::file_size(Utf8Path(path), ec);
  if (ec || size > kMaxBrandingFileSize) return std::nullopt;
  MemoryStream stream;
  if (!LoadFileToStream(stream, path)) return std::nullopt;
  return ParseBranding(stream.Bytes());
}

std::string WindowTitle(const Branding& branding, const TFaceTexts& texts) {
  if (branding.TitlePrefix.empty()) return texts.Text(kTitleText);
  return branding.TitlePrefix + texts.Text(kVersionText);
}

std::string StatusPanel2(const Branding& branding, const TFaceTexts& texts) {
  if (branding.StatusText.empty()) return texts.Text(kSupportText);
  // The program's own tagline in the reader's language; a vendor's text as it was written.
  if (branding.StatusText == DefaultBranding().StatusText) {
    if (&texts == &FaceTextsFor(Language::SimplifiedChinese)) return "按内容恢复照片、视频和文档";
    if (&texts == &FaceTextsFor(Language::TraditionalChinese)) return "依內容救援相片、影片和文件";
  }
  return branding.StatusText;
}

}  // namespace morvane
