#include "formats/pictures/exif.h"

#include <cstdint>
#include <optional>

namespace morvane {
namespace {

constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr size_t kIfdEntryBytes = 12;
constexpr size_t kMaxDateTextBytes = 256;  // far more than any date text needs

// A decimal number of exactly text.size() digits; -1 when it is not one.
int DecimalField(std::string_view text) {
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The TIFF structure inside an APP1 segment: offsets count from its header.
class TiffReader {
 public:
  TiffReader(ByteView picture, uint64_t base, bool bigEndian) : picture_(picture), base_(base), bigEndian_(bigEndian) {}

  bool Has(uint64_t offset, uint64_t length) const { return picture_.Has(base_ + offset, length); }
  uint16_t U16(uint64_t offset) const {
    return bigEndian_ ? picture_.Be16(base_ + offset) : picture_.Le16(base_ + offset);
  }
  uint32_t U32(uint64_t offset) const {
    return bigEndian_ ? picture_.Be32(base_ + offset) : picture_.Le32(base_ + offset);
  }

  // The value field of the first entry with this tag in the IFD at ifdOffset.
  std::optional<uint32_t> FindTag(uint32_t ifdOffset, uint16_t tag) const {
    if (!Has(ifdOffset, 2)) return std::nullopt;
    const uint16_t count = U16(ifdOffset);
    for (uint32_t i = 0; i < count; ++i) {
      const uint64_t entry = uint64_t{ifdOffset} + 2 + uint64_t{i} * kIfdEntryBytes;
      if (!Has(entry, kIfdEntryBytes)) return std::nullopt;
      if (U16(entry) == tag) return U32(entry + 8);
    }
    return std::nullopt;
  }

  // The NUL-terminated text at offset, bounded by the end of the picture.
  std::optional<std::string> TextAt(uint32_t offset) const {
    if (!Has(offset, 1)) return std::nullopt;
    const ByteView rest = picture_.Sub(base_ + offset, kMaxDateTextBytes);
    size_t n = 0;
    while (n < rest.size() && rest.data()[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(rest.data()), n);
  }

 private:
  ByteView picture_;
  uint64_t base_;
  bool bigEndian_;
};

// The date text of the APP1 segment whose TIFF header is at base.
std::optional<std::string> DateTimeOriginalText(ByteView picture, uint64_t base) {
  bool bigEndian;
  if (picture.Matches(base, "II")) {
    bigEndian = false;
  } else if (picture.Matches(base, "MM")) {
    bigEndian = true;
  } else {
    return std::nullopt;
  }
  const TiffReader tiff(picture, base, bigEndian);
  if (!tiff.Has(2, 6) || tiff.U16(2) != 42) return std::nullopt;
  const auto exifIfd = tiff.FindTag(tiff.U32(4), kTagExifIfd);
  if (!exifIfd) return std::nullopt;
  const auto dateOffset = tiff.FindTag(*exifIfd, kTagDateTimeOriginal);
  if (!dateOffset) return std::nullopt;
  return tiff.TextAt(*dateOffset);
}

}  // namespace

bool ParseExifDateTime(std::string_view text, TDateTime& time) {
  time = kNoShootingTime;
  if (text.size() != 19) return false;
  const int year = DecimalField(text.substr(0, 4));
  const int month = DecimalField(text.substr(5, 2));
  const int day = DecimalField(text.substr(8, 2));
  const int hour = DecimalField(text.substr(11, 2));
  const int minute = DecimalField(text.substr(14, 2));
  const int second = DecimalField(text.substr(17, 2));
  if (year < 1900 || year >= 3000) return false;
  const auto value = EncodeDateTime(year, month, day, hour, minute, second);
  if (!value) return false;
  time = *value;
  return true;
}

ExifShootingTime ReadExifShootingTime(ByteView picture) {
  ExifShootingTime result;
  uint64_t pos = 2;
  while (picture.Has(pos, 2)) {
    const uint8_t first = picture.U8(pos);
    const uint8_t marker = picture.U8(pos + 1);
    if (first != 0xFF || marker == 0xDA) break;
    if (!picture.Has(pos + 2, 2)) break;
    const uint16_t length = picture.Be16(pos + 2);
    if (marker == 0xE1) {
      // The six bytes of the "Exif\0\0" identifier are taken as they come.
      const auto text = DateTimeOriginalText(picture, pos + 4 + 6);
      if (text) {
        result.Found = true;
        result.Text = std::string(TrimBlanks(*text));
        ParseExifDateTime(result.Text, result.Time);
      }
      break;
    }
    if (length < 2) break;  // a segment must at least hold its own length
    pos += 2 + length;
  }
  return result;
}

}  // namespace morvane
