// Cluster accounting: which sectors of the source already belong to something.
//
// TSectorMap holds one bit per sector (sector n is bit n mod 8 of byte n div 8, least
// significant bit first). A set bit means the sector is claimed: it belongs to a recovered
// file, to a claim-only recognition, to file-system metadata, or it is allocated according to
// the file system in a free-space-only scan. The storage comes from calloc, so the pages of a
// map for a large disk cost memory only once something is claimed in them.
//
// Sectors outside the map (negative, or at or beyond SectorCount()) are never claimed and
// never released, and IsSectorClaimed answers true for them: such a sector can never be given
// to a file. Walks over the map stop at the scan range's last sector themselves.
//
// TClaimList records the claims of one running recognition, in the order they were made,
// as runs of consecutive sectors, so that a walk over a multi-gigabyte file that claims
// sector after sector keeps one run instead of millions of entries.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace morvane {

struct SectorRun {
  int64_t First = 0;
  int64_t Count = 0;
  int64_t End() const { return First + Count; }
  bool operator==(const SectorRun&) const = default;
};

class TSectorMap {
 public:
  // Allocates a zero-filled map of sectorCount sectors; throws std::bad_alloc when the
  // memory cannot be had. A count below 0 gives an empty map.
  explicit TSectorMap(int64_t sectorCount);

  int64_t SectorCount() const { return sectorCount_; }

  void ClaimSector(int64_t sector) {
    if (!InMap(sector)) return;
    bits_[Byte(sector)] |= Bit(sector);
    changed_[Span(sector)] = 1;
  }
  void ReleaseSector(int64_t sector) {
    if (!InMap(sector)) return;
    bits_[Byte(sector)] &= static_cast<uint8_t>(~Bit(sector));
    changed_[Span(sector)] = 1;
  }
  bool IsSectorClaimed(int64_t sector) const {
    return !InMap(sector) || (bits_[Byte(sector)] & Bit(sector)) != 0;
  }

  // Claims (releases) count sectors from first: single bits up to a multiple of 8, whole
  // bytes while at least 8 remain, then single bits. Parts outside the map are ignored.
  void ClaimSectorRun(int64_t first, int64_t count);
  void ReleaseSectorRun(int64_t first, int64_t count);

  // The first unclaimed sector in [from, last], or -1 when there is none. Whole claimed
  // words of the map are stepped over 64 sectors at a time, whole bytes eight at a time.
  int64_t NextUnclaimedSector(int64_t from, int64_t last) const { return NextSectorClaimedAs(from, last, false); }
  // The first claimed sector in [from, last], or -1 when there is none (stepping likewise).
  int64_t NextClaimedSector(int64_t from, int64_t last) const { return NextSectorClaimedAs(from, last, true); }
  // How many unclaimed sectors follow each other from `from` on, counted no further than
  // `last` (0 when from itself is claimed): a copy claims and reads them as one run.
  int64_t UnclaimedRunLength(int64_t from, int64_t last) const;

  // Number of claimed sectors in [first, first + count) (for reports and tests).
  int64_t CountClaimed(int64_t first, int64_t count) const;

  // Counts the unclaimed sectors of [from, last] in order until `wanted` of them are found.
  // Count is how many were found (at most wanted), LastSector the last of them (-1 when
  // none). Whole bytes are counted at once, so the cost follows the span, not its sectors.
  struct UnclaimedCount {
    int64_t Count = 0;
    int64_t LastSector = -1;
  };
  UnclaimedCount CountUnclaimed(int64_t from, int64_t last, int64_t wanted) const;

  // The map in spans of kSpanSectors: whether span i was claimed in or released in since the
  // last TakeChanged(i) (all are at first), so that a copy of the map kept as runs need only
  // walk those spans again.
  static constexpr int kSpanShift = 20;
  static constexpr int64_t kSpanSectors = int64_t{1} << kSpanShift;
  int64_t SpanCount() const { return static_cast<int64_t>(changed_.size()); }
  bool TakeChanged(int64_t span) const { return std::exchange(changed_[static_cast<size_t>(span)], 0) != 0; }

 private:
  bool InMap(int64_t sector) const { return sector >= 0 && sector < sectorCount_; }
  static size_t Byte(int64_t sector) { return static_cast<size_t>(sector >> 3); }
  static uint8_t Bit(int64_t sector) { return static_cast<uint8_t>(1u << (sector & 7)); }
  static size_t Span(int64_t sector) { return static_cast<size_t>(sector >> kSpanShift); }
  void SetRun(int64_t first, int64_t count, bool claimed);
  int64_t NextSectorClaimedAs(int64_t from, int64_t last, bool claimed) const;

  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  int64_t sectorCount_ = 0;
  std::unique_ptr<uint8_t[], FreeDeleter> bits_;
  mutable std::vector<uint8_t> changed_;
};

// The sectors claimed by one recognition, in claim order.
class TClaimList {
 public:
  // Appends a sector; one that follows the last run directly extends it.
  void Add(int64_t sector) { AddRun(sector, 1); }
  // Appends count sectors from first on (count > 0), extending the last run likewise.
  void AddRun(int64_t first, int64_t count);
  // Removes and returns the most recently added sector; -1 when the list is empty.
  int64_t PopBack();
  void Clear() {
    runs_.clear();
    sectorCount_ = 0;
  }

  bool Empty() const { return sectorCount_ == 0; }
  int64_t SectorCount() const { return sectorCount_; }
  const std::vector<SectorRun>& Runs() const { return runs_; }

 private:
  std::vector<SectorRun> runs_;
  int64_t sectorCount_ = 0;
};

// Releases every sector of the list and empties it.
void RollBackClaims(TSectorMap& map, TClaimList& claims);

}  // namespace morvane
