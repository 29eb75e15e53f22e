#include "scan/sector_map.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace morvane {

TSectorMap::TSectorMap(int64_t sectorCount) : sectorCount_(std::max<int64_t>(sectorCount, 0)) {
  // One byte more than needed keeps calloc from being asked for 0 bytes.
  size_t bytes = static_cast<size_t>((sectorCount_ + 7) / 8) + 1;
  bits_.reset(static_cast<uint8_t*>(std::calloc(bytes, 1)));
  if (!bits_) throw std::bad_alloc();
  changed_.assign(static_cast<size_t>((sectorCount_ + kSpanSectors - 1) >> kSpanShift), 1);
}

void TSectorMap::SetRun(int64_t first, int64_t count, bool claimed) {
  if (count <= 0) return;
  // Clip to the map; beware of first + count overflowing.
  int64_t end = first > sectorCount_ - count ? sectorCount_ : first + count;
  int64_t s = std::max<int64_t>(first, 0);
  auto setOne = [&](int64_t n) { claimed ? ClaimSector(n) : ReleaseSector(n); };
  for (; s < end && (s & 7) != 0; ++s) setOne(s);
  if (end - s >= 8) {
    int64_t whole = (end - s) / 8;
    std::memset(bits_.get() + Byte(s), claimed ? 0xFF : 0x00, static_cast<size_t>(whole));
    std::fill(changed_.begin() + static_cast<long>(Span(s)), changed_.begin() + static_cast<long>(Span(s + whole * 8 - 1)) + 1,
              uint8_t{1});
    s += whole * 8;
  }
  for (; s < end; ++s) setOne(s);
}

void TSectorMap::ClaimSectorRun(int64_t first, int64_t count) { SetRun(first, count, true); }

void TSectorMap::ReleaseSectorRun(int64_t first, int64_t count) { SetRun(first, count, false); }

// The first sector in [from, last] whose claim is `claimed`; whole words (bytes) of the
// other kind are stepped over 64 (8) sectors at a time. A word that is all zeros or all ones
// is so in either byte order.
int64_t TSectorMap::NextSectorClaimedAs(int64_t from, int64_t last, bool claimed) const {
  const uint8_t otherByte = claimed ? 0x00 : 0xFF;
  const uint64_t otherWord = claimed ? 0 : ~uint64_t{0};
  last = std::min(last, sectorCount_ - 1);
  for (int64_t s = std::max<int64_t>(from, 0); s <= last;) {
    if ((s & 63) == 0 && s + 63 <= last) {
      uint64_t word;
      std::memcpy(&word, bits_.get() + Byte(s), sizeof word);
      if (word == otherWord) {
        s += 64;
        continue;
      }
    }
    if ((s & 7) == 0 && bits_[Byte(s)] == otherByte) {
      s += 8;
      continue;
    }
    if (((bits_[Byte(s)] & Bit(s)) != 0) == claimed) return s;
    ++s;
  }
  return -1;
}

int64_t TSectorMap::UnclaimedRunLength(int64_t from, int64_t last) const {
  last = std::min(last, sectorCount_ - 1);
  if (from > last || IsSectorClaimed(from)) return 0;
  const int64_t claimed = NextClaimedSector(from, last);
  return (claimed < 0 ? last + 1 : claimed) - from;
}

int64_t TSectorMap::CountClaimed(int64_t first, int64_t count) const {
  int64_t n = 0;
  for (int64_t s = first; s < first + count; ++s) n += IsSectorClaimed(s) ? 1 : 0;
  return n;
}

TSectorMap::UnclaimedCount TSectorMap::CountUnclaimed(int64_t from, int64_t last, int64_t wanted) const {
  UnclaimedCount r;
  last = std::min(last, sectorCount_ - 1);
  for (int64_t s = std::max<int64_t>(from, 0); s <= last && r.Count < wanted;) {
    // 64 sectors at a time where a whole word of the map lies in the span (sector n is bit n
    // mod 64 of the little-endian word at byte n div 64 * 8).
    if (std::endian::native == std::endian::little && (s & 63) == 0 && s + 63 <= last) {
      uint64_t word;
      std::memcpy(&word, bits_.get() + Byte(s), sizeof word);
      if (word == ~uint64_t{0}) {
        s += 64;
        continue;
      }
      const uint64_t free = ~word;
      const int n = word == 0 ? 64 : std::popcount(free);  // mostly free or mostly claimed
      if (n == 0 || r.Count + n <= wanted) {
        if (n > 0) r.LastSector = s + 63 - std::countl_zero(free);
        r.Count += n;
        s += 64;
        continue;
      }
    }
    if ((bits_[Byte(s)] & Bit(s)) == 0) {
      ++r.Count;
      r.LastSector = s;
    }
    ++s;
  }
  return r;
}

void TClaimList::AddRun(int64_t first, int64_t count) {
  if (!runs_.empty() && runs_.back().First + runs_.back().Count == first)
    runs_.back().Count += count;
  else
    runs_.push_back({first, count});
  sectorCount_ += count;
}

int64_t TClaimList::PopBack() {
  if (runs_.empty()) return -1;
  SectorRun& last = runs_.back();
  int64_t sector = last.First + last.Count - 1;
  if (--last.Count == 0) runs_.pop_back();
  --sectorCount_;
  return sector;
}

void RollBackClaims(TSectorMap& map, TClaimList& claims) {
  for (const SectorRun& run : claims.Runs()) map.ReleaseSectorRun(run.First, run.Count);
  claims.Clear();
}

}  // namespace morvane
