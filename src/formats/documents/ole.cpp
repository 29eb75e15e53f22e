#include "formats/documents/ole.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <vector>

#include "filetypes/catalogue.h"
#include "scan/recognition.h"
#include "scan/recovered_file.h"
#include "storage/bytes.h"

namespace morvane {
namespace {

constexpr std::string_view kOleSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
constexpr uint32_t kByteOrderAndShift9 = 0x0009FFFE;  // FE FF, then sector shift 9
constexpr uint32_t kFreeSector = 0xFFFFFFFF;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoEntry = 0xFFFFFFFF;  // no sibling / child in the directory tree
constexpr int64_t kSector = 512;
constexpr uint32_t kEntriesPerFatSector = 128;
constexpr uint32_t kFatSectorsPerDifatSector = 127;
constexpr int kHeaderDifatEntries = 109;
constexpr int64_t kHeaderDifatOffset = 76;
constexpr int64_t kDirectoryEntryBytes = 128;
constexpr uint32_t kEntriesPerDirectorySector = kSector / kDirectoryEntryBytes;
// Enough FAT sectors to describe every sector of the largest file accepted; a table that
// lists more repeats itself.
constexpr size_t kMaxFatSectors = (kOleMaxSectorNumber + 2 + kEntriesPerFatSector - 1) / kEntriesPerFatSector;

int64_t SectorOffset(uint32_t n) { return (int64_t{n} + 1) * kSector; }
int64_t SectorEnd(uint32_t n) { return (int64_t{n} + 2) * kSector; }

enum class Kind { None, Word, Excel, PowerPoint };

// The file's tables, read in place from the bytes loaded so far, or, to look before any
// copy, from single sectors read where the file would lie (Recognition::PeekAhead).
class CompoundFile {
 public:
  enum class Source { Loaded, Peeked };
  CompoundFile(Recognition& rec, Source source)
      : rec_(rec), peeked_(source == Source::Peeked), listed_(kOleMaxSectorNumber + 1, false) {}

  // Loads the file up to the end of sector n (or reads sector n alone).
  bool Load(uint32_t n) {
    if (peeked_) {
      if (sectors_.count(n) == 0) {
        std::array<uint8_t, kSector> bytes{};
        const Recognition::Peek peek = rec_.PeekAhead(SectorOffset(n), bytes.data(), kSector);
        if (peek != Recognition::Peek::Read) {
          unknown_ |= peek == Recognition::Peek::Unknown;
          return false;
        }
        sectors_.emplace(n, bytes);
      }
    } else if (!rec_.CopySectorRun(SectorEnd(n))) {
      return false;
    }
    highestLoadedEnd_ = std::max(highestLoadedEnd_, SectorEnd(n));
    return true;
  }
  // True when a sector could not be read ahead: only the walk can tell.
  bool Unknown() const { return unknown_; }

  bool AddFatSector(uint32_t n) {
    if (n > kOleMaxSectorNumber || listed_[n] || fatSectors_.size() >= kMaxFatSectors || !Load(n)) return false;
    listed_[n] = true;
    fatSectors_.push_back(n);
    return true;
  }

  // The FAT sectors named in the header, then those of the DIFAT chain.
  bool ReadFat() {
    const ByteView header = rec_.FirstBytes();
    int64_t previous = -1;
    for (int i = 0; i < kHeaderDifatEntries; ++i) {
      const uint32_t n = header.Le32(kHeaderDifatOffset + 4 * i);
      if (n == kFreeSector) break;
      if (int64_t{n} <= previous || !AddFatSector(n)) return false;
      previous = n;
    }
    previous = -1;
    for (uint32_t d = header.Le32(68); d != kEndOfChain && d != kFreeSector;) {
      // Rising numbers: the chain cannot loop, and it ends within the limit.
      if (d > kOleMaxSectorNumber || int64_t{d} <= previous || !Load(d)) return false;
      previous = d;
      for (uint32_t i = 0; i < kFatSectorsPerDifatSector; ++i) {
        const uint32_t n = Le32(d, 4 * i);
        if (n != kFreeSector && !AddFatSector(n)) return false;
      }
      d = Le32(d, 4 * kFatSectorsPerDifatSector);
    }
    return true;
  }

  uint32_t FatEntries() const { return static_cast<uint32_t>(fatSectors_.size()) * kEntriesPerFatSector; }
  uint32_t FatEntry(uint32_t i) const {
    return Le32(fatSectors_[i / kEntriesPerFatSector], 4 * (i % kEntriesPerFatSector));
  }

  // The file's length: up to the highest sector the FAT marks as used, and never short of a
  // table sector that was read. 0 when that is beyond the limit.
  int64_t Length() const {
    int64_t length = highestLoadedEnd_;
    for (uint32_t i = FatEntries(); i-- > 0;) {
      if (FatEntry(i) != kFreeSector) {
        length = std::max(length, SectorEnd(i));
        break;
      }
    }
    return length <= kOleMaxFileBytes ? length : 0;
  }

  // The directory's sectors in chain order, inside a file of `length` bytes; false when the
  // chain leaves the file or the FAT, or comes back to a sector it has passed.
  bool ReadDirectoryChain(int64_t length) {
    const auto sectors = static_cast<uint32_t>(length / kSector - 1);
    std::vector<bool> seen(sectors, false);
    for (uint32_t c = rec_.FirstBytes().Le32(48); c != kEndOfChain;) {
      if (c >= sectors || c >= FatEntries() || seen[c]) return false;
      seen[c] = true;
      directory_.push_back(c);
      c = FatEntry(c);
    }
    return true;
  }

  uint32_t DirectoryEntries() const { return static_cast<uint32_t>(directory_.size()) * kEntriesPerDirectorySector; }
  ByteView Entry(uint32_t k) const {
    return rec_.Bytes().Sub(SectorOffset(directory_[k / kEntriesPerDirectorySector]) +
                                (k % kEntriesPerDirectorySector) * kDirectoryEntryBytes,
                            kDirectoryEntryBytes);
  }

 private:
  // The 32-bit number at byte `at` of loaded sector n.
  uint32_t Le32(uint32_t n, int64_t at) const {
    if (!peeked_) return rec_.Bytes().Le32(SectorOffset(n) + at);
    const auto& bytes = sectors_.at(n);
    return ByteView(bytes.data(), bytes.size()).Le32(at);
  }

  Recognition& rec_;
  const bool peeked_;
  std::map<uint32_t, std::array<uint8_t, kSector>> sectors_;  // peeked sectors by number
  bool unknown_ = false;
  std::vector<bool> listed_;  // sectors already taken as FAT sectors
  std::vector<uint32_t> fatSectors_;
  std::vector<uint32_t> directory_;
  int64_t highestLoadedEnd_ = kSector;
};

// Name length in bytes, the terminating zero included, when it is a usable one.
bool HasName(ByteView entry) {
  const uint16_t length = entry.Le16(64);
  return length >= 4 && length <= 64;
}

bool NameIs(ByteView entry, std::string_view name) {
  const uint16_t length = entry.Le16(64);
  if (length < 2 || (length - 2u) / 2u != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (entry.Le16(2 * i) != static_cast<uint8_t>(name[i])) return false;
  return true;
}

Kind KindOfStream(ByteView entry) {
  if (NameIs(entry, "WordDocument")) return Kind::Word;
  if (NameIs(entry, "Workbook") || NameIs(entry, "Book")) return Kind::Excel;
  if (NameIs(entry, "PowerPoint Document")) return Kind::PowerPoint;
  return Kind::None;
}

// The entries directly below the root storage (entry 0): its child and that child's
// siblings, a binary tree. False when the tree points outside the directory or into itself.
bool TopLevelEntries(const CompoundFile& file, std::vector<bool>& top) {
  const uint32_t count = file.DirectoryEntries();
  top.assign(count, false);
  if (count == 0) return false;
  std::vector<bool> seen(count, false);
  std::vector<uint32_t> pending = {file.Entry(0).Le32(76)};
  while (!pending.empty()) {
    const uint32_t k = pending.back();
    pending.pop_back();
    if (k == kNoEntry) continue;
    if (k == 0 || k >= count || seen[k]) return false;
    seen[k] = top[k] = true;
    pending.push_back(file.Entry(k).Le32(68));
    pending.push_back(file.Entry(k).Le32(72));
  }
  return true;
}

struct Typing {
  Kind kind = Kind::None;
  bool encrypted = false;
};

Typing TypeDocument(const CompoundFile& file) {
  Typing t;
  bool encryptionInfo = false, version = false;
  Kind flatKind = Kind::None;
  // In directory order until the first entry without a usable name.
  for (uint32_t k = 0; k < file.DirectoryEntries(); ++k) {
    const ByteView e = file.Entry(k);
    if (!HasName(e)) break;
    encryptionInfo |= NameIs(e, "EncryptionInfo");
    version |= NameIs(e, "Version");
    if (const Kind kind = KindOfStream(e); kind != Kind::None) flatKind = kind;
  }
  std::vector<bool> top;
  if (TopLevelEntries(file, top)) {
    for (uint32_t k = 0; k < top.size(); ++k)
      if (top[k] && HasName(file.Entry(k)))
        if (const Kind kind = KindOfStream(file.Entry(k)); kind != Kind::None) t.kind = kind;
  } else {
    t.kind = flatKind;  // a damaged tree: the last kind named in directory order
  }
  t.encrypted = encryptionInfo && version;
  if (t.encrypted && t.kind == Kind::None) t.kind = Kind::Excel;
  return t;
}

std::string ExtensionFor(const Typing& t, uint32_t typeMask) {
  switch (t.kind) {
    case Kind::Word: return (typeMask & kTypeDoc) ? (t.encrypted ? ".ENC.DOCX" : ".DOC") : "";
    case Kind::Excel: return (typeMask & kTypeXls) ? (t.encrypted ? ".ENC.XLSX" : ".XLS") : "";
    case Kind::PowerPoint: return (typeMask & kTypePpt) ? ".PPT" : "";
    case Kind::None: return "";
  }
  return "";
}

// The walk's checks on the tables alone, read where the file would lie: false when the walk
// would refuse the candidate. A header whose tables name far sectors so costs those
// sectors, not the bytes up to them.
bool MayHoldCompoundFile(Recognition& rec) {
  CompoundFile file(rec, CompoundFile::Source::Peeked);
  if (!file.ReadFat()) return file.Unknown();
  const int64_t length = file.Length();
  uint8_t last = 0;
  if (length == 0 || rec.PeekAhead(length - 1, &last, 1) == Recognition::Peek::Beyond) return false;
  return file.ReadDirectoryChain(length);
}

}  // namespace

int RecoverOleDocument(ScanContext& scan, const std::string& outputFolder, int64_t startOffset) {
  Recognition rec(scan, startOffset, RecognitionOutput::Memory());
  if (!rec.Started()) return 0;
  const ByteView header = rec.FirstBytes();
  if (!header.Matches(0, kOleSignature) || header.Le32(28) != kByteOrderAndShift9) return 0;

  if (!MayHoldCompoundFile(rec)) return 0;
  CompoundFile file(rec, CompoundFile::Source::Loaded);
  if (!file.ReadFat()) return 0;
  const int64_t length = file.Length();
  if (length == 0 || !rec.CopySectorRun(length)) return 0;
  rec.CutToLength(length);
  if (!file.ReadDirectoryChain(length)) return 0;

  const std::string extension = ExtensionFor(TypeDocument(file), scan.Options.TypeMask);
  if (!extension.empty() && !outputFolder.empty())
    rec.Save(RecoveredFileName(outputFolder, startOffset, extension));
  rec.Commit();
  return 0;
}

}  // namespace morvane
