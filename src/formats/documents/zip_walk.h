// The record walk shared by the ZIP-based recognisers (archives, Office Open XML packages,
// CorelDRAW drawings).
//
// A ZIP file is followed from its first local file header, record by record, to the end of
// its end-of-central-directory record and comment:
//   local file header   30 bytes + name + extra + compressed data (+ data descriptor)
//   central directory   46 bytes + name + extra + comment
//   ZIP64 end record    12 bytes + the size it gives; ZIP64 locator 20 bytes
//   end of directory    22 bytes + comment
// Member data of known size is stepped over without being looked at (in claim-only output
// its sectors are claimed unread). A member written as a stream (general flag bit 3, sizes
// 0 in its local header) is searched for its data descriptor: the signed form 50 4B 07 08
// whose compressed size equals the distance covered, or the unsigned form followed at once
// by the next header. ZIP64 sizes (0xFFFFFFFF with the real value in the ZIP64 extra
// field) are read from that field; a header that claims them without the field fails.
// Data that is no record, where a record is expected (the APK signing block in front of the
// central directory, a member overwritten), is stepped over when the archive's central
// directory follows it — the APK block by the size it states, other data within 16 KiB —
// and the end record points to that directory; otherwise the walk fails: an archive cut
// short at such data is no archive.
//
// A local header that starts a sector may be a member of a larger archive as well as the
// start of one: the recovery pass meets the member first (it works from the last candidate
// to the first). When the end record places the archive's start earlier (the directory
// lies further from that start than from the walk's), on a sector boundary where an
// unclaimed local header stands, the walk gives way to that larger archive, tried later.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

#include "scan/recognition.h"
#include "storage/bytes.h"

namespace morvane {

inline constexpr uint32_t kZipLocalHeader = 0x04034B50;
inline constexpr int64_t kZipFirstNameOffset = 30;  // the first entry's name in the start sector

struct ZipWalkRules {
  // Largest length of one record (a local record counts its member data).
  int64_t maxRecordBytes = std::numeric_limits<int64_t>::max();
  // Names the rules for the dead-end memo (see Recognition::KnownDeadEnd); empty: no memo.
  std::string_view family;
  // Sees the name of every central directory entry, in order.
  std::function<void(ByteView name)> onCentralEntry;
};

// Walks the records of the ZIP file that starts at output offset 0 of rec, copying or
// claiming as it goes. Returns the file's length, or -1 when it cannot be followed.
int64_t WalkZipRecords(ScanContext& scan, Recognition& rec, const ZipWalkRules& rules);

// How long the archive at startOffset is when it lies in one piece, as far as its records
// chain within limit bytes (scan/copies_ahead.h): up to the first member written as a
// stream or data that is no record, when the walk cannot be sure of more; 0 for a package
// that RecoverZip hands on to RecoverOoxml.
int64_t ZipStatedLength(Source& source, int64_t startOffset, int64_t limit);

// True when the start sector begins with a local file header whose name is `name`.
bool ZipFirstNameIs(ByteView first, std::string_view name);

}  // namespace morvane
