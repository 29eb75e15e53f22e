#include "scan/scan_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <vector>

namespace morvane {

namespace {
std::string KindOf(const std::string& extension) {
  std::string kind = extension;
  if (!kind.empty() && kind.front() == '.') kind.erase(0, 1);
  return kind.empty() ? "?" : kind;
}
}  // namespace

void RecoveredTally::Add(const std::string& extension, int64_t length) {
  const std::string kind = KindOf(extension);
  ++byKind_[kind];
  ++files_;
  bytes_ += std::max<int64_t>(length, 0);
  bytesByKind_[kind] += std::max<int64_t>(length, 0);
}

void RecoveredTally::AddKind(const std::string& kind, int files, int64_t bytes) {
  byKind_[KindOf(kind)] += files;
  bytesByKind_[KindOf(kind)] += bytes;
  files_ += files;
  bytes_ += bytes;
}

void RecoveredTally::Remove(const std::string& extension, int64_t length) {
  const std::string kind = KindOf(extension);
  auto it = byKind_.find(kind);
  if (it == byKind_.end()) return;
  if (--it->second == 0) {
    byKind_.erase(it);
    bytesByKind_.erase(kind);
  } else {
    bytesByKind_[kind] -= std::max<int64_t>(length, 0);
  }
  --files_;
  bytes_ -= std::max<int64_t>(length, 0);
}

std::string RecoveredTally::KindsText() const {
  std::vector<std::pair<std::string, int>> kinds(byKind_.begin(), byKind_.end());
  std::stable_sort(kinds.begin(), kinds.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  std::string out;
  for (const auto& [kind, n] : kinds) {
    if (!out.empty()) out += "  ";
    out += kind + " " + std::to_string(n);
  }
  return out;
}

std::string FileSystemName(uint8_t fsType) {
  static const char* const names[] = {"FAT12", "FAT16", "FAT32", "NTFS", "exFAT", "HFS", "HFS+"};
  return fsType < std::size(names) ? names[fsType] : "other";
}

std::string ClusterSizeName(int64_t bytes) {
  if (bytes == 512) return "0.5K";
  return std::to_string(bytes / 1024) + "K";
}

std::string PlannedFileSystemName(const TSourceGeometry& detected, const ScanReport& r) {
  if (detected.FsType >= fsOther || detected.SectorsPerCluster != r.PlannedClusterSectors) return {};
  return FileSystemName(detected.FsType);
}

std::string FreshFolderBeside(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  for (int n = 2;; ++n) {
    std::string name = folder + "-" + std::to_string(n);
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec)) || n >= 9999) return name;
  }
}

std::string GridFromDataText(const ScanReport& r, uint32_t sectorSize, const std::string& fsName) {
  if (!r.GridOverrode) return {};
  const std::string grid = ClusterSizeName(r.GridSectors * sectorSize);
  const std::string planned = ClusterSizeName(r.PlannedClusterSectors * sectorSize);
  const std::string sameSize = r.GridSectors == r.PlannedClusterSectors ? " at another phase" : "";
  return "The files lie on a " + grid + " grid" + sameSize + "; " +
         (fsName.empty() ? "the scan was set up for " + planned + " clusters"
                         : "the " + fsName + " volume uses " + planned + " clusters") +
         ": searched the " + grid + " grid.";
}

std::optional<GeometryAdvice> AdviseGeometry(const ScanReport& report, uint32_t sectorsPerCluster,
                                             uint32_t sectorSize) {
  // The grid was taken from the data already.
  if (report.GridSectors > 0) return std::nullopt;
  const int64_t grid = report.CandidateGridSectors, spc = std::max<uint32_t>(sectorsPerCluster, 1);
  if (grid <= 0 || grid >= spc || sectorSize == 0) return std::nullopt;
  // A vote that kept nearly everything: the odd start off the grid is a file inside
  // another one, not a sign of another geometry.
  if (report.VoteWeighed > 0 && report.VoteDropped * 5 < report.VoteWeighed) return std::nullopt;
  const int64_t gridBytes = grid * static_cast<int64_t>(sectorSize);
  int64_t suggest = 0;
  for (int64_t size = 512; size <= 128 * 1024; size *= 2)
    if (gridBytes % size == 0) suggest = size;
  const int64_t used = spc * static_cast<int64_t>(sectorSize);
  if (suggest == 0 || suggest >= used) return std::nullopt;
  const auto offGrid = std::count_if(report.Unrecovered.begin(), report.Unrecovered.end(),
                                     [](const UnrecoveredStart& u) { return u.Fate == StartFate::OffGrid; });
  return GeometryAdvice{suggest, used, report.StartsFound(), offGrid};
}

std::string GeometryAdviceText(const GeometryAdvice& a) {
  std::string text;
  if (a.OffGrid > 0)
    text = std::to_string(a.OffGrid) + " of the " + std::to_string(a.Found) + " file starts found lay off the " +
           ClusterSizeName(a.UsedClusterBytes) + " grid the scan used and were left out. ";
  text += "The file starts lie on a " + ClusterSizeName(a.ClusterBytes) + " grid, finer than the " +
          ClusterSizeName(a.UsedClusterBytes) +
          " clusters scanned: the card was probably written with smaller clusters before it was formatted. "
          "A scan with the reason \"formatted\" and " +
          ClusterSizeName(a.ClusterBytes) + " clusters would look for them.";
  return text;
}

ScanEnding ScanOutcome::Ending() const {
  if (Report.WorkFilesFailed || WriteFailures > 0) return ScanEnding::Failed;
  if (Report.Stopped || Report.SearchCancelled || Interrupted) return ScanEnding::Stopped;
  return ScanEnding::Finished;
}

namespace {

// The summary's sentences in one language; {n} marks are filled in order.
struct SummaryTexts {
  const char* finished;
  const char* stopped;
  const char* failed;
  const char* recovered;       // count, "s" or "", kinds in brackets or "", size, folder
  const char* time;            // time, rate
  const char* stoppedEarly;
  const char* notRecovered;    // missed, found
  const char* fates[static_cast<size_t>(StartFate::Count)];  // why, by StartFate (Recovered unused)
  const char* notTried;
  const char* searchCancelled;
  const char* notWritten;      // count
  const char* workFiles;
  const char* timeLeft;        // duration
  const char* files;           // count, "s" or ""
  const char* unreadable;      // count, the ranges
  const char* andMore;         // ranges not shown
};

constexpr SummaryTexts kEnglishSummary = {
    "Finished", "Stopped", "Failed",
    "Recovered {n} file{s}{kinds}{size} into {folder}",
    "Time: {t}, {rate} read",
    ", stopped before the end",
    "Not recovered: {n} of {m} file starts found",
    {"", "inside another file", "off the cluster grid searched", "structure did not hold (no file, or damaged)",
     "failed the content check (does not decode or read)", "outside the photo dates", "of a kind not selected",
     "cut by the end of the range", "too short to keep", "too large to hold", "thumbnails", "unreadable sectors",
     "could not be written", "no recogniser for the kind"},
    "not tried, the scan ended first",
    "The search was cancelled: only the sectors before it were searched.",
    "Not written: {n} recovered file{s} could not be saved in the folder.",
    "The work files could not be created in the folder (\"Can't create TMP file!\"): the scan ended early.",
    "left {t}",
    "{n} file{s}",
    "Unreadable: {n} sectors (first sector+count): {ranges}",
    " and %n more",
};
constexpr SummaryTexts kSimplifiedSummary = {
    "完成", "已停止", "失败",
    "已恢复 {n} 个文件{kinds}{size}，保存在 {folder}",
    "用时: {t}，读取 {rate}",
    "，未完成即停止",
    "未恢复: 找到的 {m} 个文件起始中的 {n} 个",
    {"", "位于其他文件内部", "不在所搜索的簇网格上", "结构不成立 (不是文件或已损坏)", "未通过内容检查 (无法解码或读取)",
     "拍照时间不在范围内", "类型未选择", "被范围末尾截断", "太短，不予保留", "太大，无法容纳", "缩略图", "扇区无法读取",
     "无法写入", "该类型尚无识别程序"},
    "未尝试，扫描提前结束",
    "搜索已取消: 只搜索了取消之前的扇区。",
    "未写入: {n} 个恢复的文件无法保存到文件夹中。",
    "无法在文件夹中创建工作文件 (\"Can't create TMP file!\")，扫描提前结束。",
    "剩余 {t}",
    "{n} 个文件",
    "无法读取: {n} 个扇区 (起始扇区+数量): {ranges}",
    " 等另外 %n 处",
};
constexpr SummaryTexts kTraditionalSummary = {
    "完成", "已停止", "失敗",
    "已救援 {n} 個檔案{kinds}{size}，儲存在 {folder}",
    "用時: {t}，讀取 {rate}",
    "，未完成即停止",
    "未救援: 找到的 {m} 個檔案起始中的 {n} 個",
    {"", "位於其他檔案內部", "不在所搜尋的叢集網格上", "結構不成立 (不是檔案或已損壞)", "未通過內容檢查 (無法解碼或讀取)",
     "拍照時間不在範圍內", "類型未選擇", "被範圍末尾截斷", "太短，不予保留", "太大，無法容納", "縮圖", "磁區無法讀取",
     "無法寫入", "該類型尚無識別程式"},
    "未嘗試，掃描提前結束",
    "搜尋已取消: 只搜尋了取消之前的磁區。",
    "未寫入: {n} 個救援的檔案無法儲存到資料夾中。",
    "無法在資料夾中建立工作檔案 (\"Can't create TMP file!\")，掃描提前結束。",
    "剩餘 {t}",
    "{n} 個檔案",
    "無法讀取: {n} 個磁區 (起始磁區+數量): {ranges}",
    " 等另外 %n 處",
};

const SummaryTexts& SummaryFor(Language l) {
  return l == Language::SimplifiedChinese    ? kSimplifiedSummary
         : l == Language::TraditionalChinese ? kTraditionalSummary
                                             : kEnglishSummary;
}

// `text` with each "{key}" replaced by its value.
std::string Fill(std::string text, std::initializer_list<std::pair<const char*, std::string>> values) {
  for (const auto& [key, value] : values) {
    const std::string mark = std::string("{") + key + "}";
    for (size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
      text.replace(at, mark.size(), value);
  }
  return text;
}

}  // namespace

std::vector<UnrecoveredGroup> GroupUnrecovered(const ScanReport& r) {
  std::vector<UnrecoveredGroup> groups;
  for (size_t f = 1; f < static_cast<size_t>(StartFate::Count); ++f) {
    UnrecoveredGroup g{static_cast<StartFate>(f), 0, {}};
    for (const UnrecoveredStart& u : r.Unrecovered)
      if (u.Fate == g.Fate) {
        ++g.Count;
        ++g.ByKind[StartKindName(u.Type)];
      }
    if (g.Count > 0) groups.push_back(std::move(g));
  }
  return groups;
}

std::string EndingTitle(ScanEnding ending, Language language) {
  const SummaryTexts& t = SummaryFor(language);
  return ending == ScanEnding::Failed ? t.failed : ending == ScanEnding::Stopped ? t.stopped : t.finished;
}

std::vector<std::string> ClosingSummary(const ScanOutcome& o, Language language) {
  const SummaryTexts& t = SummaryFor(language);
  const bool english = language == Language::English;
  const ScanReport& r = o.Report;
  std::vector<std::string> lines;
  const std::string kinds = o.Tally.Files() > 0 ? " (" + o.Tally.KindsText() + ")" : "";
  const std::string size = o.Tally.Files() > 0 ? (english ? ", " : "，") + FormatBytes(o.Tally.Bytes()) : "";
  lines.push_back(Fill(t.recovered, {{"n", std::to_string(r.RecoveredCount)},
                                     {"s", english && r.RecoveredCount != 1 ? "s" : ""},
                                     {"kinds", kinds},
                                     {"size", size},
                                     {"folder", o.Folder}}));
  lines.push_back(Fill(t.time, {{"t", FormatDuration(o.Seconds)},
                                {"rate", FormatRate(o.BytesRead / std::max(o.Seconds, 1e-3))}}) +
                  (o.Ending() == ScanEnding::Finished ? "" : t.stoppedEarly));
  // Every start found is a file recovered or one of these, counted by why and kind.
  const int64_t found = r.StartsFound(), missed = found - r.RecoveredCount;
  if (missed > 0) {
    lines.push_back(Fill(t.notRecovered, {{"n", std::to_string(missed)}, {"m", std::to_string(found)}}));
    for (const UnrecoveredGroup& g : GroupUnrecovered(r)) {
      std::string kinds;
      for (const auto& [kind, n] : g.ByKind) kinds += (kinds.empty() ? "" : ", ") + kind + " " + std::to_string(n);
      lines.push_back("  " + std::string(t.fates[static_cast<size_t>(g.Fate)]) + ": " + std::to_string(g.Count) +
                      " (" + kinds + ")");
    }
    if (r.NotTried > 0) lines.push_back("  " + std::string(t.notTried) + ": " + std::to_string(r.NotTried));
  }
  if (r.SearchCancelled && !r.WorkFilesFailed) lines.push_back(t.searchCancelled);
  if (o.WriteFailures > 0)
    lines.push_back(Fill(t.notWritten, {{"n", std::to_string(o.WriteFailures)},
                                        {"s", english && o.WriteFailures != 1 ? "s" : ""}}));
  if (r.WorkFilesFailed) lines.push_back(t.workFiles);
  if (!r.Unreadable.empty()) lines.push_back(UnreadableText(r.Unreadable, language));
  return lines;
}

std::string UnreadableText(const std::vector<SectorSpan>& spans, Language language) {
  if (spans.empty()) return {};
  const SummaryTexts& t = SummaryFor(language);
  int64_t sectors = 0;
  for (const SectorSpan& s : spans) sectors += s.Count;
  return Fill(t.unreadable, {{"n", std::to_string(sectors)}, {"ranges", SpansText(spans, kUnreadableShown, t.andMore)}});
}

std::string FormatRate(double bytesPerSecond) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f MB/s", bytesPerSecond / 1e6);
  return buf;
}

std::string FormatBytes(int64_t bytes) {
  char buf[32];
  if (bytes < 1000)
    std::snprintf(buf, sizeof buf, "%lld bytes", static_cast<long long>(bytes));
  else if (bytes < 1000 * 1000)
    std::snprintf(buf, sizeof buf, "%.1f kB", bytes / 1e3);
  else if (bytes < 1000LL * 1000 * 1000)
    std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1e6);
  else
    std::snprintf(buf, sizeof buf, "%.2f GB", bytes / 1e9);
  return buf;
}

std::string FormatDuration(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "?";
  auto s = static_cast<long long>(seconds + 0.5);
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lldh%02lldm", s / 3600, s / 60 % 60);
  else if (s >= 60)
    std::snprintf(buf, sizeof buf, "%lldm%02llds", s / 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%llds", s);
  return buf;
}

std::string RateAndTimeLeft(double bytesPerSecond, double secondsLeft, Language language) {
  std::string out = FormatRate(bytesPerSecond);
  if (secondsLeft >= 0 && std::isfinite(secondsLeft))
    out += "   " + Fill(SummaryFor(language).timeLeft, {{"t", FormatDuration(secondsLeft)}});
  return out;
}

std::string FileCountText(int64_t count, Language language) {
  return Fill(SummaryFor(language).files,
              {{"n", std::to_string(count)}, {"s", language == Language::English && count != 1 ? "s" : ""}});
}

}  // namespace morvane
