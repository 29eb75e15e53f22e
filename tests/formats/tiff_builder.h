// Builds TIFF-structured files for the camera raw tests: a header, IFDs whose entries are
// written in the order given (tag data longer than 4 bytes right behind the IFD), and
// blocks of bytes wherever the test puts them. Offsets that are only known later (the next
// IFD, a sub-IFD, where the raw data went) are patched in by tag.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace morvane::test {

struct TiffField {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::vector<uint8_t> data;  // count × element size bytes, in the file's byte order
};

class TiffBuilder {
 public:
  // header: the file's first bytes (the IFD0 offset at 4 is patched by SetIfd0).
  TiffBuilder(bool bigEndian, std::vector<uint8_t> header) : bytes(std::move(header)), big_(bigEndian) {}

  std::vector<uint8_t> bytes;

  size_t Size() const { return bytes.size(); }
  void Put16(size_t at, uint16_t v) {
    Grow(at + 2);
    for (int i = 0; i < 2; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (big_ ? 8 * (1 - i) : 8 * i));
  }
  void Put32(size_t at, uint32_t v) {
    Grow(at + 4);
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (big_ ? 8 * (3 - i) : 8 * i));
  }
  std::vector<uint8_t> Enc16(std::initializer_list<uint32_t> values) const {
    TiffBuilder b(big_, {});
    for (uint32_t v : values) b.Put16(b.Size(), static_cast<uint16_t>(v));
    return b.bytes;
  }
  std::vector<uint8_t> Enc32(std::initializer_list<uint32_t> values) const {
    TiffBuilder b(big_, {});
    for (uint32_t v : values) b.Put32(b.Size(), v);
    return b.bytes;
  }

  // Field makers.
  TiffField Ascii(uint16_t tag, const std::string& text) const {
    std::vector<uint8_t> d(text.begin(), text.end());
    d.push_back(0);
    return {tag, 2, static_cast<uint32_t>(d.size()), d};
  }
  TiffField Short(uint16_t tag, uint32_t v) const { return {tag, 3, 1, Enc16({v})}; }
  TiffField Long(uint16_t tag, uint32_t v, uint16_t type = 4) const { return {tag, type, 1, Enc32({v})}; }
  TiffField Longs(uint16_t tag, std::initializer_list<uint32_t> v) const {
    return {tag, 4, static_cast<uint32_t>(v.size()), Enc32(v)};
  }
  TiffField Undefined(uint16_t tag, std::vector<uint8_t> d) const {
    return {tag, 7, static_cast<uint32_t>(d.size()), std::move(d)};
  }
  TiffField SRational(uint16_t tag, int32_t num, int32_t den) const {
    return {tag, 10, 1, Enc32({static_cast<uint32_t>(num), static_cast<uint32_t>(den)})};
  }

  // Appends bytes at an even offset and returns where they went.
  size_t Add(const std::vector<uint8_t>& block) {
    if (bytes.size() % 2) bytes.push_back(0);
    const size_t at = bytes.size();
    bytes.insert(bytes.end(), block.begin(), block.end());
    return at;
  }
  size_t AddFilled(size_t n, uint8_t seed) {
    std::vector<uint8_t> b(n);
    uint32_t s = seed * 2654435761u + 7;
    for (auto& x : b) {
      s = s * 1103515245u + 12345u;
      x = static_cast<uint8_t>(s >> 16);
    }
    return Add(b);
  }

  // Appends an IFD with these entries (next IFD offset 0) and returns its offset.
  size_t AddIfd(const std::vector<TiffField>& fields) {
    if (bytes.size() % 2) bytes.push_back(0);
    const size_t ifd = bytes.size();
    Put16(ifd, static_cast<uint16_t>(fields.size()));
    size_t data = ifd + 2 + 12 * fields.size() + 4;
    Grow(data);
    for (size_t i = 0; i < fields.size(); ++i) {
      const TiffField& f = fields[i];
      const size_t e = ifd + 2 + 12 * i;
      Put16(e, f.tag);
      Put16(e + 2, f.type);
      Put32(e + 4, f.count);
      if (f.data.size() <= 4) {
        std::memcpy(bytes.data() + e + 8, f.data.data(), f.data.size());
      } else {
        if (data % 2) ++data;
        Grow(data + f.data.size());
        std::memcpy(bytes.data() + data, f.data.data(), f.data.size());
        Put32(e + 8, static_cast<uint32_t>(data));
        data += f.data.size();
      }
    }
    return ifd;
  }

  void SetIfd0(uint32_t offset) { Put32(4, offset); }
  void SetNext(size_t ifd, uint32_t next) { Put32(ifd + 2 + 12 * Count(ifd), next); }
  // Sets element `index` of the tag's data (a LONG array or single LONG/SHORT).
  void Patch(size_t ifd, uint16_t tag, uint32_t value, size_t index = 0) {
    const size_t e = Entry(ifd, tag);
    const uint16_t type = Get16(e + 2);
    const size_t width = type == 3 ? 2 : 4;
    const size_t size = width * Get32(e + 4);
    const size_t at = (size <= 4 ? e + 8 : Get32(e + 8)) + width * index;
    if (width == 2) Put16(at, static_cast<uint16_t>(value)); else Put32(at, value);
  }
  // Entry offset of the tag in the IFD.
  size_t Entry(size_t ifd, uint16_t tag) const {
    for (size_t i = 0; i < Count(ifd); ++i)
      if (Get16(ifd + 2 + 12 * i) == tag) return ifd + 2 + 12 * i;
    return SIZE_MAX;
  }

 private:
  void Grow(size_t n) {
    if (bytes.size() < n) bytes.resize(n, 0);
  }
  size_t Count(size_t ifd) const { return Get16(ifd); }
  uint16_t Get16(size_t at) const {
    return big_ ? static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]) : static_cast<uint16_t>(bytes[at + 1] << 8 | bytes[at]);
  }
  uint32_t Get32(size_t at) const {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | bytes[at + (big_ ? i : 3 - i)];
    return v;
  }

  bool big_;
};

inline std::vector<uint8_t> TiffHeader(bool bigEndian, size_t size = 8) {
  std::vector<uint8_t> h(size, 0);
  const char* magic = bigEndian ? "MM\0*" : "II*\0";
  std::memcpy(h.data(), magic, 4);
  return h;
}

}  // namespace morvane::test
