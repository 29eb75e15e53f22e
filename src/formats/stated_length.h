// What the finders of stated lengths (scan/copies_ahead.h) share: reads of a file's head
// and of the headers along its chain, straight from the source and never beyond a limit.
// The limit is where the scan range ends: a finder treats it as its recogniser treats the
// range's end (a record that runs on beyond it makes no file, where the recogniser says so).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "storage/bytes.h"
#include "storage/source.h"

namespace morvane {

// Headers a finder reads at most: a file with more is taken as far as they reach. Headers
// do not overlap, so what is read stays within the limit whatever their number.
inline constexpr int kMaxStatedRecords = 0x10000;

// The bytes of the file that starts at `start`, none at or beyond `limit` bytes from it.
struct HeadReader {
  Source& source;
  int64_t start = 0;
  int64_t limit = 0;

  // count bytes at `at` from the file's start; false when they are not all within the
  // limit and the source, or the read fails.
  bool Read(int64_t at, void* out, size_t count) const {
    return at >= 0 && static_cast<int64_t>(count) <= limit - at && source.ReadAt(start + at, out, count);
  }
  // Up to count bytes at `at`, fewer where the limit or the source ends first: how many
  // were read, -1 when the read fails.
  int64_t ReadUpTo(int64_t at, void* out, size_t count) const {
    const int64_t have = std::min({static_cast<int64_t>(count), limit - at, source.SizeBytes() - start - at});
    if (have <= 0) return 0;
    return source.ReadAt(start + at, out, static_cast<size_t>(have)) ? have : -1;
  }
};

// The bytes of a file read in order by a walk that looks at a few of them in each record (a
// stream's packets), for walks made ahead (scan/copies_ahead.h): read from the source in
// pieces that grow from 4 KiB, so that a walk that ends soon reads little beyond its end, to
// 64 KiB (a piece that stays in the processor's cache is read fastest). Within the limit, as
// HeadReader.
class WalkReader {
 public:
  static constexpr int64_t kMaxBytes = 256;  // most bytes asked for at once
  WalkReader(Source& source, int64_t start, int64_t limit)
      : source_(source), start_(start), limit_(std::min(limit, source.SizeBytes() - start)),
        buffer_(static_cast<size_t>(kPieceBytes)) {}
  // count bytes at `at` (at most kMaxBytes): where they are held, or null when they are not
  // all within the limit and the source, or the read fails.
  const uint8_t* Bytes(int64_t at, int64_t count) {
    if (at < base_ || at + count > base_ + have_) {
      if (at < 0 || count < 0 || count > kMaxBytes || count > limit_ - at) return nullptr;
      piece_ = std::min(piece_ * 2, kPieceBytes);
      const int64_t have = std::min(piece_, limit_ - at);
      if (!source_.ReadAt(start_ + at, buffer_.data(), static_cast<size_t>(have))) return nullptr;
      base_ = at;
      have_ = have;
    }
    return buffer_.data() + (at - base_);
  }

 private:
  static constexpr int64_t kPieceBytes = int64_t{64} << 10;
  Source& source_;
  const int64_t start_, limit_;
  std::vector<uint8_t> buffer_;
  int64_t base_ = 0, have_ = 0, piece_ = 2048;
};

// For files whose first bytes state their whole length: lengthOf applied to as many of the
// first headBytes (at most a small sector) as there are, cut to the limit; 0 when it
// states none (a result of 0 or less) or more than the whole medium holds.
template <size_t headBytes>
int64_t LengthStatedInHead(Source& source, int64_t start, int64_t limit, int64_t (*lengthOf)(ByteView head)) {
  std::array<uint8_t, headBytes> head{};
  const int64_t have = HeadReader{source, start, limit}.ReadUpTo(0, head.data(), head.size());
  if (have <= 0) return 0;
  const int64_t length = lengthOf(ByteView(head.data(), static_cast<size_t>(have)));
  return length > 0 && length <= source.SizeBytes() ? std::min(length, limit) : 0;
}

}  // namespace morvane
