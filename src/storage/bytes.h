// Bounds-checked readers over untrusted bytes.
//
// Every structure field that Morvane reads from a medium goes through ByteView: a read that
// would run past the end of the loaded bytes yields 0 (or false) instead of touching memory
// beyond the buffer. Parsers that must tell "field is zero" from "field is missing" ask
// Has() first.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace morvane {

class ByteView {
 public:
  ByteView() = default;
  ByteView(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }

  // True when [offset, offset + length) lies inside the view (overflow-safe).
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  uint8_t U8(uint64_t off) const { return Has(off, 1) ? data_[off] : 0; }

  uint16_t Le16(uint64_t off) const { return Load<uint16_t>(off, false); }
  uint32_t Le32(uint64_t off) const { return Load<uint32_t>(off, false); }
  uint64_t Le64(uint64_t off) const { return Load<uint64_t>(off, false); }
  uint16_t Be16(uint64_t off) const { return Load<uint16_t>(off, true); }
  uint32_t Be32(uint64_t off) const { return Load<uint32_t>(off, true); }
  uint64_t Be64(uint64_t off) const { return Load<uint64_t>(off, true); }

  // Little- or big-endian unsigned value of 1..8 bytes; 0 when out of range.
  uint64_t Le(uint64_t off, unsigned width) const {
    if (width == 0 || width > 8 || !Has(off, width)) return 0;
    uint64_t v = 0;
    for (unsigned i = width; i-- > 0;) v = (v << 8) | data_[off + i];
    return v;
  }
  uint64_t Be(uint64_t off, unsigned width) const {
    if (width == 0 || width > 8 || !Has(off, width)) return 0;
    uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i) v = (v << 8) | data_[off + i];
    return v;
  }

  // True when the bytes at off equal text exactly (false when out of range).
  bool Matches(uint64_t off, std::string_view text) const {
    return Has(off, text.size()) && std::memcmp(data_ + off, text.data(), text.size()) == 0;
  }

  // The sub-view [off, off + length), clipped to the view.
  ByteView Sub(uint64_t off, uint64_t length = UINT64_MAX) const {
    if (off >= size_) return {};
    uint64_t n = size_ - off;
    return ByteView(data_ + off, length < n ? length : n);
  }

 private:
  // One unaligned load and, where the byte order differs from the machine's, a swap.
  template <typename T>
  T Load(uint64_t off, bool bigEndian) const {
    if (!Has(off, sizeof(T))) return 0;
    T v;
    std::memcpy(&v, data_ + off, sizeof(T));
    if (bigEndian != (std::endian::native == std::endian::big)) v = ByteSwap(v);
    return v;
  }
  static uint16_t ByteSwap(uint16_t v) { return __builtin_bswap16(v); }
  static uint32_t ByteSwap(uint32_t v) { return __builtin_bswap32(v); }
  static uint64_t ByteSwap(uint64_t v) { return __builtin_bswap64(v); }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

}  // namespace morvane
