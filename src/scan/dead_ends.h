// Places from where a chain walk is known to fail.
//
// The recovery pass takes the candidates from the last to the first. When every sector of
// a region starts a chain that never ends properly, each candidate would follow the same
// records to the range end and fail, and the next candidate would follow them again. A walk
// that fails leaves behind the source positions at which it stood on a record boundary (at
// most one a sector: the first it stood on there); a lower candidate of the same family whose
// walk lands on one of them would replay the same walk and stops at once.
//
// A walk's outcome from a boundary depends on the bytes from there on and on the sectors
// claimed among them. So an entry is forgotten when a file is committed over any sector
// between the boundary and the last sector the failed walk looked at. Limits that count from
// the candidate's start (a file-size cap) only make a lower candidate fail sooner.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

class DeadEndMemo {
 public:
  // The last sector the failed walk from this boundary looked at; -1 when none failed there.
  int64_t LastSectorOf(std::string_view family, int64_t sourceOffset) const {
    const auto f = families_.find(family);
    if (f == families_.end()) return -1;
    const auto e = f->second.find(sourceOffset);
    return e == f->second.end() ? -1 : e->second;
  }
  // A walk that stood on a boundary of `family` at sourceOffset failed, having looked at no
  // sector beyond lastSector.
  void Record(std::string_view family, int64_t sourceOffset, int64_t lastSector) {
    auto f = families_.find(family);
    if (f == families_.end()) f = families_.emplace(std::string(family), Entries{}).first;
    int64_t& last = f->second.try_emplace(sourceOffset, lastSector).first->second;
    last = std::max(last, lastSector);
  }
  // Sectors [first, last] (of sectorSize bytes) were committed to a file: walks that looked
  // at any of them are no longer known to fail.
  void ForgetWalksOver(int64_t first, int64_t last, uint32_t sectorSize) {
    for (auto& [family, entries] : families_) {
      for (auto it = entries.begin(); it != entries.end() && it->first / sectorSize <= last;)
        it = it->second >= first ? entries.erase(it) : std::next(it);
    }
  }
  void Clear() { families_.clear(); }

 private:
  using Entries = std::map<int64_t, int64_t>;  // boundary's source offset -> last sector looked at
  std::map<std::string, Entries, std::less<>> families_;
};

}  // namespace morvane
