#include "filetypes/catalogue.h"

#include <array>

#include "app/text_lines.h"
#include "filetypes/type_chooser.h"

namespace morvane {

namespace {

constexpr std::array<TFileTypeEntry, 30> kCatalogue{{
    {"JPG", 0, kTypeJpg},   {"BMP", 1, kTypeBmp},   {"PNG", 2, kTypePng},   {"HEIC", 25, kTypeHeic},
    {"AVIF", 26, kTypeAvif}, {"WEBP", 27, kTypeWebp}, {"RAW", 3, kTypeRaw},   {"AVI", 4, kTypeAvi},
    {"ASF", 6, kTypeAsf},   {"MOV", 9, kTypeMov},   {"MP4", 7, kTypeMp4},   {"3GP", 8, kType3gp},
    {"MKV", 28, kTypeMkv},  {"VOB", 12, kTypeVob},  {"MPG", 13, kTypeMpg},  {"WMV", 10, kTypeWmv},
    {"MTS", 14, kTypeMts},  {"TS", 15, kTypeTs},    {"DAT", 5, kTypeDat},   {"WAV", 11, kTypeWav},
    {"DOC", 16, kTypeDoc},  {"XLS", 17, kTypeXls},  {"PPT", 18, kTypePpt},  {"ODF", 29, kTypeOdf},
    {"AI", 23, kTypeAi},    {"CDR", 24, kTypeCdr},  {"RAR", 19, kTypeRar},  {"ZIP", 20, kTypeZip},
    {"7Z", 22, kType7z},    {"CAB", 21, kTypeCab},
}};

constexpr bool CatalogueIsConsistent() {
  uint32_t all = 0;
  for (const TFileTypeEntry& e : kCatalogue) {
    if (e.Mask != (1u << e.Bit) || (all & e.Mask) != 0) return false;
    all |= e.Mask;
  }
  return all == kAllFileTypesMask;
}
static_assert(CatalogueIsConsistent(), "every kind has exactly one bit of its own");

constexpr std::string_view kPictureList[] = {"Picture", "  JPG", "  BMP", "  PNG", "  HEIC/HEIF", "  AVIF", "  WEBP"};
constexpr std::string_view kRawList[] = {"Picture", "  RAW(TIF,DNG,ARW,CR2,CR3,NEF,ORF,PEF,SR2,RAF,X3F...)"};
constexpr std::string_view kVideoList[] = {
    "Video",   "  AVI", "  ASF",     "  MOV",    "  MP4", "  3GP", "  MKV/WEBM",
    "  VOB/MOD", "  MPG", "  WMV", "  MTS/TOD", "  TS/M2T", "  DAT", "  WAV"};
constexpr std::string_view kDocumentList[] = {"Document", "  DOC/DOCX/WPS", "  XLS/XLSX/ET", "  PPT/PPTX/DPS",
                                              "  ODF(ODT,ODS,ODP,ODG,EPUB)"};
constexpr std::string_view kArchiveList[] = {"Archive", "  RAR", "  ZIP", "  7Z", "  CAB"};
constexpr std::string_view kVectorList[] = {"Vectorgraph", "  AI/PDF", "  CDR"};

constexpr std::span<const std::string_view> kTreeLists[] = {
    kPictureList, kRawList, kVideoList, kDocumentList, kArchiveList, kVectorList};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Other names of the formats a kind covers, as people type them.
struct TypeAlias {
  std::string_view Alias, ShortName;
};
constexpr TypeAlias kAliases[] = {
    {"jpeg", "JPG"}, {"jpe", "JPG"},  {"tif", "RAW"},   {"tiff", "RAW"},  {"dng", "RAW"},  {"arw", "RAW"},
    {"cr2", "RAW"},  {"nef", "RAW"},  {"orf", "RAW"},   {"pef", "RAW"},   {"sr2", "RAW"},  {"raf", "RAW"},
    {"x3f", "RAW"},  {"rw2", "RAW"},  {"mod", "VOB"},   {"mpeg", "MPG"},  {"tod", "MTS"},  {"m2ts", "MTS"},
    {"m2t", "TS"},   {"qt", "MOV"},   {"m4v", "MP4"},   {"wma", "ASF"},   {"docx", "DOC"}, {"wps", "DOC"},
    {"xlsx", "XLS"}, {"et", "XLS"},   {"pptx", "PPT"},  {"dps", "PPT"},   {"pdf", "AI"},   {"7zip", "7Z"},
    {"heif", "HEIC"}, {"webm", "MKV"}, {"matroska", "MKV"}, {"cr3", "RAW"}, {"rar5", "RAR"}, {"odt", "ODF"},
    {"ods", "ODF"},  {"odp", "ODF"},  {"odg", "ODF"},   {"epub", "ODF"},  {"opendocument", "ODF"},
};

// The item text of the kind `shortName` in the chooser ("DOC/DOCX/WPS"), or the name itself.
std::string ItemTextOf(std::string_view shortName) {
  for (auto list : kTreeLists)
    for (std::string_view item : list)
      if (item.starts_with("  ") && EqualsIgnoringCase(ShortNameOf(item), shortName)) return std::string(TrimBlanks(item));
  return std::string(shortName);
}

std::string ValidTypeNames() {
  std::string names;
  for (const TFileTypeEntry& e : kCatalogue) {
    names += e.ShortName;
    names += ", ";
  }
  return names + "all";
}

}  // namespace

std::span<const TFileTypeEntry> FileTypeCatalogue() { return kCatalogue; }

const TFileTypeEntry* FindFileType(std::string_view shortName) {
  for (const TFileTypeEntry& e : kCatalogue)
    if (EqualsIgnoringCase(e.ShortName, shortName)) return &e;
  return nullptr;
}

namespace {
const TypeAlias* FindAlias(std::string_view name) {
  for (const TypeAlias& a : kAliases)
    if (EqualsIgnoringCase(a.Alias, name)) return &a;
  return nullptr;
}

// Words for the chooser's groups: their captions and the words people use for them.
struct GroupWord {
  std::string_view Word, Caption;
};
constexpr GroupWord kGroupWords[] = {
    {"picture", "Picture"}, {"photo", "Picture"},  {"video", "Video"},           {"document", "Document"},
    {"archive", "Archive"}, {"vectorgraph", "Vectorgraph"}, {"drawing", "Vectorgraph"},
};

// The kinds a group word selects ("videos" as "video"); "audio", which the chooser has no
// group for, selects the kinds whose files are sound. 0 for any other word.
uint32_t GroupMask(std::string_view name) {
  if (name.size() > 2 && AsciiUpper(name.back()) == 'S') name.remove_suffix(1);
  if (EqualsIgnoringCase(name, "audio")) return kTypeWav | kTypeAsf;
  uint32_t mask = 0;
  for (const GroupWord& g : kGroupWords) {
    if (!EqualsIgnoringCase(g.Word, name)) continue;
    for (std::span<const std::string_view> list : kTreeLists)
      if (list.front() == g.Caption)
        for (std::string_view item : list.subspan(1))
          if (const TFileTypeEntry* entry = FindFileType(ShortNameOf(item))) mask |= entry->Mask;
  }
  return mask;
}

// "AVI ASF MOV" for the kinds in `mask`, in the catalogue's order.
std::string ShortNamesOf(uint32_t mask) {
  std::string out;
  for (const TFileTypeEntry& e : kCatalogue)
    if (mask & e.Mask) out += (out.empty() ? "" : " ") + std::string(e.ShortName);
  return out;
}
}  // namespace

std::span<const std::span<const std::string_view>> TypeTreeLists() { return kTreeLists; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::string_view ShortNameOf(std::string_view itemText) {
  std::string_view text = TrimBlanks(itemText);
  return text.substr(0, text.find_first_of("/("));
}

std::optional<uint32_t> ParseTypeList(std::string_view list, std::string& error, std::vector<std::string>* notes) {
  uint32_t mask = 0;
  bool anyName = false;
  while (true) {
    size_t comma = list.find(',');
    std::string_view name = TrimBlanks(list.substr(0, comma));
    if (!name.empty()) {
      anyName = true;
      if (EqualsIgnoringCase(name, "all")) {
        mask |= kAllFileTypesMask;
      } else if (const TFileTypeEntry* entry = FindFileType(name)) {
        mask |= entry->Mask;
      } else if (const TypeAlias* alias = FindAlias(name)) {
        mask |= FindFileType(alias->ShortName)->Mask;
        if (notes) {
          std::string item = ItemTextOf(alias->ShortName);
          notes->push_back(std::string(name) + " selects " + std::string(alias->ShortName) +
                           (item != alias->ShortName ? " (" + item + ")" : std::string()));
        }
      } else {
        const uint32_t group = GroupMask(name);
        if (group == 0) {
          error = "unknown file type \"" + std::string(name) + "\"; valid types are " + ValidTypeNames() +
                  ", or a group: photo, raw, video, audio, document, archive, drawing";
          return std::nullopt;
        }
        mask |= group;
        if (notes) notes->push_back(std::string(name) + " selects " + ShortNamesOf(group));
      }
    }
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  if (!anyName) {
    error = "no file type given; valid types are " + ValidTypeNames();
    return std::nullopt;
  }
  return mask;
}

std::string FormatCatalogue(uint32_t mask) {
  TypeChooser tree;
  tree.Populate();
  std::string out;
  const std::vector<TTypeTreeNode>& nodes = tree.Nodes();
  for (size_t g = 0; g < nodes.size(); ++g) {
    if (!nodes[g].IsGroup()) continue;
    out += nodes[g].Text + "\n";
    for (int i : tree.ItemsOf(static_cast<int>(g))) {
      const TTypeTreeNode& item = nodes[i];
      const TFileTypeEntry* entry = FindFileType(item.ShortName);
      bool selected = entry != nullptr && (mask & entry->Mask) != 0;
      std::string line = std::string("  ") + (selected ? "[x] " : "[ ] ") + item.ShortName;
      if (item.Text != item.ShortName) {
        line.resize(11, ' ');
        line += item.Text;
      }
      out += line + "\n";
    }
  }
  return out;
}

}  // namespace morvane
