// The file-type catalogue: the 30 kinds of files a scan can recover, their bits in
// TypeMask, and the lists of the file-type tree in which the user picks them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// One bit of TypeMask per kind.
inline constexpr uint32_t kTypeJpg = 0x1;
inline constexpr uint32_t kTypeBmp = 0x2;
inline constexpr uint32_t kTypePng = 0x4;
inline constexpr uint32_t kTypeRaw = 0x8;
inline constexpr uint32_t kTypeAvi = 0x10;
inline constexpr uint32_t kTypeDat = 0x20;
inline constexpr uint32_t kTypeAsf = 0x40;
inline constexpr uint32_t kTypeMp4 = 0x80;
inline constexpr uint32_t kType3gp = 0x100;
inline constexpr uint32_t kTypeMov = 0x200;
inline constexpr uint32_t kTypeWmv = 0x400;
inline constexpr uint32_t kTypeWav = 0x800;
inline constexpr uint32_t kTypeVob = 0x1000;
inline constexpr uint32_t kTypeMpg = 0x2000;
inline constexpr uint32_t kTypeMts = 0x4000;
inline constexpr uint32_t kTypeTs = 0x8000;
inline constexpr uint32_t kTypeDoc = 0x10000;
inline constexpr uint32_t kTypeXls = 0x20000;
inline constexpr uint32_t kTypePpt = 0x40000;
inline constexpr uint32_t kTypeRar = 0x80000;
inline constexpr uint32_t kTypeZip = 0x100000;
inline constexpr uint32_t kTypeCab = 0x200000;
inline constexpr uint32_t kType7z = 0x400000;
inline constexpr uint32_t kTypeAi = 0x800000;  // AI and PDF
inline constexpr uint32_t kTypeCdr = 0x1000000;
inline constexpr uint32_t kTypeHeic = 0x2000000;  // HEIC and HEIF pictures
inline constexpr uint32_t kTypeAvif = 0x4000000;
inline constexpr uint32_t kTypeWebp = 0x8000000;
inline constexpr uint32_t kTypeMkv = 0x10000000;  // Matroska and WebM
inline constexpr uint32_t kTypeOdf = 0x20000000;  // OpenDocument files and EPUB books

// Groups of kinds the scan treats together.
inline constexpr uint32_t kPhotoTypesMask = kTypeJpg | kTypeRaw;  // photo date range applies
inline constexpr uint32_t kStreamTypesMask = kTypeVob | kTypeMpg | kTypeMts | kTypeTs;  // work files
inline constexpr uint32_t kOfficeTypesMask = kTypeDoc | kTypeXls | kTypePpt;
inline constexpr uint32_t kAllFileTypesMask = 0x3FFFFFFF;

struct TFileTypeEntry {
  std::string_view ShortName;  // the key, as the tree item's short name
  uint8_t Bit;
  uint32_t Mask;
};

// The catalogue, in its fixed order (the order the chooser applies it in).
std::span<const TFileTypeEntry> FileTypeCatalogue();
// Entry with this short name (compared without regard to case), or nullptr.
const TFileTypeEntry* FindFileType(std::string_view shortName);

// The lists of the file-type tree. Each list starts with a group caption (no leading blank)
// followed by its type items (two leading blanks). Two lists may share a caption.
std::span<const std::span<const std::string_view>> TypeTreeLists();

// Equal when ASCII letters are compared without regard to case.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);
// Short name of a tree item: its trimmed text up to the first "/" or "(".
std::string_view ShortNameOf(std::string_view itemText);

// Parses a comma-separated list of short names ("jpg, raw,MP4"); "all" selects every kind.
// Common names of the formats a kind covers count too (jpeg, tiff, cr2, cr3, heif, mpeg,
// m2ts, webm, docx, xlsx, pptx, odt, epub, 7zip, rar5, pdf, ...); for each one used, `notes` (when given) gains a line that
// says which kind it selects. Returns the mask, or nullopt with a message in `error` (an
// unknown name, or no name).
std::optional<uint32_t> ParseTypeList(std::string_view list, std::string& error,
                                      std::vector<std::string>* notes = nullptr);

// The catalogue as the tree shows it, one group per line followed by its items, each
// marked "[x]" when selected in `mask`:
//   Picture
//     [x] JPG
//     [ ] RAW  RAW(TIF,DNG,...)
std::string FormatCatalogue(uint32_t mask);

}  // namespace morvane
