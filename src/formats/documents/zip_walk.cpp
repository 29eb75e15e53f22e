#include "formats/documents/zip_walk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "formats/stated_length.h"
#include "storage/geometry.h"

namespace morvane {
namespace {

constexpr uint32_t kCentralHeader = 0x02014B50;
constexpr uint32_t kEndOfDirectory = 0x06054B50;
constexpr uint32_t kZip64EndOfDirectory = 0x06064B50;
constexpr uint32_t kZip64Locator = 0x07064B50;
constexpr uint32_t kDataDescriptor = 0x08074B50;
constexpr uint32_t kDigitalSignature = 0x05054B50;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint32_t kSizeInZip64 = 0xFFFFFFFF;
constexpr int64_t kMaxZip64EndRecord = 0x10000;  // a ZIP64 end record is 56 bytes in practice
constexpr int64_t kZip64EndFixedBytes = 56;
constexpr int64_t kZip64CentralAt = 48;  // the central directory's offset in that record
constexpr int64_t kMaxPlainMember = 0xFFFFFFFF;  // without ZIP64, sizes are 32-bit
// Foreign data between the members and the central directory. The APK signing block states
// its size at both ends, followed by its magic; any other data is searched for the central
// directory this far.
constexpr std::string_view kApkSigningBlockMagic = "APK Sig Block 42";
constexpr int64_t kMaxApkSigningBlock = 0x1000000;  // 16 MiB; real ones hold a few KiB of signatures
constexpr int64_t kForeignDataSearchBytes = 0x4000;  // small: every candidate that meets such data pays it

bool IsRecordSignature(uint32_t sig) {
  return sig == kZipLocalHeader || sig == kCentralHeader || sig == kEndOfDirectory ||
         sig == kZip64EndOfDirectory || sig == kDigitalSignature;
}

// Reads count bytes at offset of the output once it holds them (copying further sectors
// as needed). False when they cannot be had.
bool Fetch(Recognition& rec, int64_t offset, void* out, size_t count) {
  return rec.CopySectorRun(offset + static_cast<int64_t>(count)) && rec.ReadBack(offset, out, count);
}

uint32_t FetchSignature(Recognition& rec, int64_t offset, bool& ok) {
  std::array<uint8_t, 4> b{};
  ok = Fetch(rec, offset, b.data(), b.size());
  return ByteView(b.data(), b.size()).Le32(0);
}

// The ZIP64 extra field of a local header. It carries both sizes, uncompressed first,
// whichever of them overflowed (a streamed member may carry it with both 0).
struct Zip64Sizes {
  bool present = false;
  bool compressedKnown = false;
  uint64_t compressed = 0;
};

Zip64Sizes ReadZip64Extra(ByteView extra) {
  Zip64Sizes z;
  for (uint64_t at = 0; extra.Has(at, 4);) {
    const uint16_t id = extra.Le16(at), size = extra.Le16(at + 2);
    if (!extra.Has(at + 4, size)) break;
    if (id == kZip64ExtraId) {
      z.present = true;
      z.compressedKnown = size >= 16;
      z.compressed = extra.Le64(at + 12);
      return z;
    }
    at += 4 + uint64_t{size};
  }
  return z;
}

// Searches member data that begins at dataStart for its data descriptor. Returns the
// offset just behind the descriptor, or -1.
//
// The search ends, failing, at a sector where a failed walk of the same kind began: member
// data does not run on into a local header at a sector start that begins no archive, and
// without this rule every such header of a run of them would search to the end of the range
// again.
int64_t FindDescriptorEnd(Recognition& rec, int64_t dataStart, bool zip64, int64_t maxData, std::string_view family) {
  const int64_t sizeField = 8;  // after the signature and CRC-32
  const int64_t signedLength = zip64 ? 24 : 16, unsignedLength = signedLength - 4;
  constexpr int64_t kLookBack = 24;
  std::vector<uint8_t> buffer;
  int64_t checked = dataStart;  // every position below has been tested
  for (;;) {
    const int64_t end = rec.Length();
    // Positions p tested: a signature "PK" at p with the bytes a descriptor there needs.
    const int64_t testUpTo = end - signedLength;
    if (testUpTo > checked) {
      const int64_t from = std::max(dataStart, checked - kLookBack);
      buffer.resize(static_cast<size_t>(end - from));
      if (!rec.ReadBack(from, buffer.data(), buffer.size())) return -1;
      const ByteView b(buffer.data(), buffer.size());
      for (int64_t p = checked; p < testUpTo; ++p) {
        const uint8_t* hit = static_cast<const uint8_t*>(
            std::memchr(buffer.data() + (p - from), 'P', static_cast<size_t>(testUpTo - p)));
        if (!hit) break;
        p = from + (hit - buffer.data());
        if (b.U8(p - from + 1) != 'K') continue;
        const uint32_t sig = b.Le32(p - from);
        if (sig == kDataDescriptor) {
          const uint64_t size = zip64 ? b.Le64(p - from + sizeField) : b.Le32(p - from + sizeField);
          if (size == static_cast<uint64_t>(p - dataStart)) return p + signedLength;
        } else if (IsRecordSignature(sig) && p - unsignedLength >= dataStart) {
          const int64_t d = p - unsignedLength;  // a descriptor without signature in front
          const uint64_t size = zip64 ? b.Le64(d - from + 4) : b.Le32(d - from + 4);
          if (size == static_cast<uint64_t>(d - dataStart)) return p;
        }
      }
      checked = testUpTo;
      if (checked - dataStart > maxData) return -1;
      rec.StepOver(std::max(dataStart, checked - kLookBack));  // lets a claim-only window drop what is behind
    }
    if (!rec.ReadNextSector()) return -1;
    const int64_t sectorStart = rec.Length() - rec.FirstBytes().size();
    if (!family.empty() && rec.PassesDeadEnd(family, sectorStart)) return -1;
  }
}

// The end of an APK signing block that begins at offset, or -1: its size (not counting the
// first size field) stands at both ends, followed by the magic.
int64_t ApkSigningBlockEnd(Recognition& rec, int64_t offset, int64_t limit) {
  std::array<uint8_t, 8> head{};
  if (!Fetch(rec, offset, head.data(), head.size())) return -1;
  const uint64_t size = ByteView(head.data(), head.size()).Le64(0);
  if (size < 24 + 8 || size > static_cast<uint64_t>(std::min(limit, kMaxApkSigningBlock))) return -1;
  const int64_t end = offset + 8 + static_cast<int64_t>(size);
  std::array<uint8_t, 24> tail{};
  if (!rec.StepOver(end - static_cast<int64_t>(tail.size())) || !Fetch(rec, end - 24, tail.data(), tail.size()))
    return -1;
  const ByteView t(tail.data(), tail.size());
  return t.Le64(0) == size && t.Matches(8, kApkSigningBlockMagic) ? end : -1;
}

// The first central directory header within kForeignDataSearchBytes of offset, or -1.
int64_t FindCentralHeader(Recognition& rec, int64_t offset) {
  constexpr uint8_t kSig[4] = {'P', 'K', 1, 2};
  const CopyStop stop = rec.CopyAsFarAs(offset + kForeignDataSearchBytes + 4);
  if (stop == CopyStop::ReadError || stop == CopyStop::Inactive) return -1;
  std::vector<uint8_t> buffer;
  const int64_t end = std::min(rec.Length(), offset + kForeignDataSearchBytes + 4);
  if (end - offset < 4) return -1;
  buffer.resize(static_cast<size_t>(end - offset));
  if (!rec.ReadBack(offset, buffer.data(), buffer.size())) return -1;
  const auto hit = std::search(buffer.begin(), buffer.end(), std::begin(kSig), std::end(kSig));
  return hit == buffer.end() ? -1 : offset + (hit - buffer.begin());
}

// How many bytes in front of a walk's start the archive begins, as its end record places
// that start: the directory's offset it states (`stated`) less where the walk met the
// directory; 0 when it places it at the walk's start (or behind it, or before the medium).
int64_t BytesBeforeWalk(uint64_t stated, int64_t firstCentral, int64_t startOffset) {
  if (firstCentral < 0 || stated <= static_cast<uint64_t>(firstCentral)) return 0;
  const uint64_t before = stated - static_cast<uint64_t>(firstCentral);
  return before <= static_cast<uint64_t>(startOffset) ? static_cast<int64_t>(before) : 0;
}

// True when the walk that began at startOffset is on a member of a larger archive: its end
// record places the archive's start `before` bytes earlier, at a sector boundary where an
// unclaimed local header stands (a candidate the pass tries later).
bool InsideLargerArchive(ScanContext& scan, int64_t startOffset, int64_t before) {
  const int64_t sectorSize = scan.SectorSize();
  if (before <= 0 || before % sectorSize != 0) return false;
  const int64_t sector = (startOffset - before) / sectorSize;
  std::array<uint8_t, kMaxSectorSize> first{};
  return !scan.SectorMap.IsSectorClaimed(sector) && scan.ReadSectors(first.data(), sectorSize, sector * sectorSize) == 0 &&
         ByteView(first.data(), static_cast<size_t>(sectorSize)).Le32(0) == kZipLocalHeader;
}

}  // namespace

bool ZipFirstNameIs(ByteView first, std::string_view name) {
  return first.Le32(0) == kZipLocalHeader && first.Le16(26) == name.size() && first.Matches(kZipFirstNameOffset, name);
}

int64_t WalkZipRecords(ScanContext& scan, Recognition& rec, const ZipWalkRules& rules) {
  int64_t offset = 0;
  bool lastMemberZip64 = false;
  int64_t centralAfterForeignData = -1;  // where the central directory was found behind foreign data
  int64_t firstCentral = -1;             // where the walk met the central directory
  uint64_t zip64Central = 0;             // its offset as the ZIP64 end record states it
  std::vector<uint8_t> variable;
  auto tooLong = [&](int64_t length) { return length < 0 || length > rules.maxRecordBytes; };
  for (;;) {
    bool ok = false;
    const uint32_t sig = FetchSignature(rec, offset, ok);
    if (!ok) return -1;
    int64_t length = 0;
    // From a local header on, the walk depends on nothing before it.
    if (sig == kZipLocalHeader && !rules.family.empty() && rec.KnownDeadEnd(rules.family, offset)) return -1;
    if (sig == kZipLocalHeader) {
      std::array<uint8_t, 30> h{};
      if (!Fetch(rec, offset, h.data(), h.size())) return -1;
      const ByteView fixed(h.data(), h.size());
      const uint16_t flags = fixed.Le16(6);
      const uint32_t compressed = fixed.Le32(18);
      const int64_t nameLength = fixed.Le16(26), extraLength = fixed.Le16(28);
      const int64_t dataStart = offset + 30 + nameLength + extraLength;
      variable.resize(static_cast<size_t>(extraLength));
      if (extraLength > 0 && !Fetch(rec, offset + 30 + nameLength, variable.data(), variable.size())) return -1;
      const Zip64Sizes z64 = ReadZip64Extra(ByteView(variable.data(), variable.size()));
      lastMemberZip64 = z64.present;
      uint64_t dataLength = compressed;
      if (compressed == kSizeInZip64) {
        if (!z64.compressedKnown) return -1;  // a 64-bit size that is not there
        dataLength = z64.compressed;
      }
      const bool streamed = (flags & kFlagDataDescriptor) && dataLength == 0;
      int64_t next = 0;
      if (streamed) {
        const int64_t maxData = std::min(z64.present ? std::numeric_limits<int64_t>::max() : kMaxPlainMember,
                                         rules.maxRecordBytes);
        next = FindDescriptorEnd(rec, dataStart, z64.present, maxData, rules.family);
        if (next < 0) return -1;
      } else {
        if (dataLength > static_cast<uint64_t>(std::numeric_limits<int64_t>::max() - dataStart)) return -1;
        next = dataStart + static_cast<int64_t>(dataLength);
        if (tooLong(next - offset) || !rec.StepOver(next)) return -1;
        if (flags & kFlagDataDescriptor) {
          // A descriptor behind data of known size: signed, or unsigned with the next
          // header right behind it.
          const int64_t unsignedLength = z64.present ? 20 : 12;
          std::array<uint8_t, 24> d{};
          if (!Fetch(rec, next, d.data(), unsignedLength + 4)) return -1;
          const ByteView desc(d.data(), d.size());
          if (desc.Le32(0) != kDataDescriptor && desc.Le32(4) == static_cast<uint32_t>(dataLength) &&
              IsRecordSignature(desc.Le32(unsignedLength)))
            next += unsignedLength;
        }
      }
      length = next - offset;
    } else if (sig == kDataDescriptor) {
      length = lastMemberZip64 ? 24 : 16;
    } else if (sig == kCentralHeader) {
      if (firstCentral < 0) firstCentral = offset;
      std::array<uint8_t, 46> h{};
      if (!Fetch(rec, offset, h.data(), h.size())) return -1;
      const ByteView fixed(h.data(), h.size());
      const int64_t nameLength = fixed.Le16(28);
      length = 46 + nameLength + fixed.Le16(30) + fixed.Le16(32);
      if (rules.onCentralEntry && nameLength > 0) {
        variable.resize(static_cast<size_t>(nameLength));
        if (!Fetch(rec, offset + 46, variable.data(), variable.size())) return -1;
        rules.onCentralEntry(ByteView(variable.data(), variable.size()));
      }
    } else if (sig == kZip64EndOfDirectory) {
      std::array<uint8_t, kZip64EndFixedBytes> h{};
      if (!Fetch(rec, offset, h.data(), 12)) return -1;
      const uint64_t size = ByteView(h.data(), h.size()).Le64(4);
      if (size > kMaxZip64EndRecord) return -1;
      length = 12 + static_cast<int64_t>(size);
      if (length >= kZip64EndFixedBytes && Fetch(rec, offset, h.data(), h.size()))
        zip64Central = ByteView(h.data(), h.size()).Le64(kZip64CentralAt);
    } else if (sig == kZip64Locator) {
      length = 20;
    } else if (sig == kDigitalSignature) {
      std::array<uint8_t, 6> h{};
      if (!Fetch(rec, offset, h.data(), h.size())) return -1;
      length = 6 + ByteView(h.data(), h.size()).Le16(4);
    } else if (sig == kEndOfDirectory) {
      std::array<uint8_t, 22> h{};
      if (!Fetch(rec, offset, h.data(), h.size())) return -1;
      // Behind foreign data, the directory found must be the one this record points to.
      const uint32_t central = ByteView(h.data(), h.size()).Le32(16);
      if (centralAfterForeignData >= 0 && central != kSizeInZip64 &&
          central != static_cast<uint64_t>(centralAfterForeignData))
        return -1;
      // A walk that began on a member of a larger archive gives way to it, which walks the
      // same records from an earlier start: no dead end is left.
      const uint64_t stated = central == kSizeInZip64 ? zip64Central : central;
      if (InsideLargerArchive(scan, rec.StartOffset(), BytesBeforeWalk(stated, firstCentral, rec.StartOffset()))) {
        rec.NoDeadEnds();
        return -1;
      }
      const int64_t end = offset + 22 + ByteView(h.data(), h.size()).Le16(20);
      if (tooLong(end - offset) || !rec.StepOver(end)) return -1;
      return end;
    } else {
      // Foreign data (an APK signing block, or the damage of a member) is kept with the
      // archive only when its central directory follows; it is looked for once. What
      // follows is judged by offsets from the archive's start, so no dead end is left.
      rec.NoDeadEnds();
      if (centralAfterForeignData >= 0) return -1;
      int64_t central = ApkSigningBlockEnd(rec, offset, rules.maxRecordBytes);
      if (central < 0) central = FindCentralHeader(rec, offset);
      if (central < 0 || FetchSignature(rec, central, ok) != kCentralHeader || !ok) return -1;
      centralAfterForeignData = central;
      length = central - offset;
    }
    if (tooLong(length) || !rec.StepOver(offset + length)) return -1;
    offset += length;
  }
}

}  // namespace morvane

namespace morvane {

int64_t ZipStatedLength(Source& source, int64_t startOffset, int64_t limit) {
  const HeadReader read{source, startOffset, limit};
  std::array<uint8_t, 46> bytes{};  // the longest fixed part: a central directory header
  const ByteView fixed(bytes.data(), bytes.size());
  std::array<uint8_t, 0xFFFF> extra{};
  int64_t offset = 0, firstCentral = -1;
  bool lastMemberZip64 = false;
  uint64_t zip64Central = 0;
  // A package whose first member is "_rels/.rels" is held in memory: it is not copied.
  if (!read.Read(0, bytes.data(), bytes.size()) || fixed.Le32(0) != kZipLocalHeader ||
      ZipFirstNameIs(fixed, "_rels/.rels"))
    return 0;
  for (int records = 0; records < kMaxStatedRecords; ++records) {
    bytes.fill(0);
    if (!read.Read(offset, bytes.data(), 4)) return 0;
    const uint32_t sig = fixed.Le32(0);
    int64_t length = 0;
    if (sig == kZipLocalHeader) {
      if (!read.Read(offset, bytes.data(), 30)) return 0;
      const int64_t extraLength = fixed.Le16(28);
      if (!read.Read(offset + 30 + fixed.Le16(26), extra.data(), static_cast<size_t>(extraLength))) return 0;
      const Zip64Sizes z64 = ReadZip64Extra(ByteView(extra.data(), static_cast<size_t>(extraLength)));
      lastMemberZip64 = z64.present;
      uint64_t dataLength = fixed.Le32(18);
      if (dataLength == kSizeInZip64) {
        if (!z64.compressedKnown) return 0;
        dataLength = z64.compressed;
      }
      // A member written as a stream is as long as the search for its descriptor finds.
      if ((fixed.Le16(6) & kFlagDataDescriptor) && dataLength == 0) return offset;
      length = 30 + fixed.Le16(26) + extraLength;
      const int64_t room = limit - offset - length;
      if (room < 0 || dataLength > static_cast<uint64_t>(room)) return 0;
      length += static_cast<int64_t>(dataLength);
      if (fixed.Le16(6) & kFlagDataDescriptor) {
        // Signed, it is a record of its own; unsigned, the next header follows at once.
        const int64_t unsignedLength = z64.present ? 20 : 12;
        std::array<uint8_t, 24> d{};
        if (!read.Read(offset + length, d.data(), static_cast<size_t>(unsignedLength + 4))) return 0;
        const ByteView desc(d.data(), d.size());
        if (desc.Le32(0) != kDataDescriptor && desc.Le32(4) == static_cast<uint32_t>(dataLength) &&
            IsRecordSignature(desc.Le32(unsignedLength)))
          length += unsignedLength;
      }
    } else if (sig == kDataDescriptor) {
      length = lastMemberZip64 ? 24 : 16;
    } else if (sig == kCentralHeader) {
      if (firstCentral < 0) firstCentral = offset;
      if (!read.Read(offset, bytes.data(), 46)) return 0;
      length = 46 + fixed.Le16(28) + fixed.Le16(30) + fixed.Le16(32);
    } else if (sig == kZip64EndOfDirectory) {
      std::array<uint8_t, kZip64EndFixedBytes> record{};
      if (!read.Read(offset, record.data(), 12)) return 0;
      const ByteView r(record.data(), record.size());
      if (r.Le64(4) > kMaxZip64EndRecord) return 0;
      length = 12 + static_cast<int64_t>(r.Le64(4));
      if (length >= kZip64EndFixedBytes && read.Read(offset, record.data(), record.size())) zip64Central = r.Le64(kZip64CentralAt);
    } else if (sig == kZip64Locator) {
      length = 20;
    } else if (sig == kDigitalSignature) {
      if (!read.Read(offset, bytes.data(), 6)) return 0;
      length = 6 + fixed.Le16(4);
    } else if (sig == kEndOfDirectory) {
      if (!read.Read(offset, bytes.data(), 22)) return 0;
      const int64_t end = offset + 22 + fixed.Le16(20);
      // A member of a larger archive is copied with that archive (see WalkZipRecords); the
      // sector size is not known here, the smallest one is assumed.
      const uint64_t stated = fixed.Le32(16) == kSizeInZip64 ? zip64Central : fixed.Le32(16);
      const int64_t before = BytesBeforeWalk(stated, firstCentral, startOffset);
      std::array<uint8_t, 4> first{};
      if (before > 0 && before % 512 == 0 && source.ReadAt(startOffset - before, first.data(), first.size()) &&
          ByteView(first.data(), first.size()).Le32(0) == kZipLocalHeader)
        return 0;
      return end <= limit ? end : 0;
    } else {
      return offset;  // foreign data, which the walk keeps only when a directory follows
    }
    if (length > limit - offset) return 0;
    offset += length;
  }
  return offset;
}

}  // namespace morvane
