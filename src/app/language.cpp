#include "app/language.h"

#include <atomic>
#include <cstdlib>
#include <span>

#include "app/version.h"

namespace morvane {

namespace {

struct Slot {
  int n;
  const char* text;
};

// Slots 1 (program title) and 75 (version text) are filled in from kMorvaneVersion. The
// version text starts with a blank because the window title puts it right after the
// branding prefix, which has no blank of its own at its end.
constexpr int kTitleSlot = 1;
constexpr int kVersionSlot = 75;

constexpr Slot kEnglish[] = {
    {2, "Open Drive"},
    {3, "Open IMG file"},
    {4, "Close"},
    {5, "Sector:"},
    {6, "Goto"},
    {8, "Save files to:"},
    {9, "Browse"},
    {10, "Tidying up the list"},
    {11, "Previous file system:"},
    {12, "Cluster Size:"},
    {13, "Scan Range:"},
    {14, "Start Rescue"},
    {15, "Backup to IMG file"},
    {16, "Failed to open drive!"},
    {17, "Error"},
    {18, "Total Sectors: "},
    {19, "Invalid sector range!"},
    {20, "Please select file type to rescue!"},
    {21, "Please select folder to save file!"},
    {22, "Dest folder can't be on source drive!"},
    {23, "invalid sector range!"},
    {24, "Rescuing file"},
    {25, "Success: "},
    {26, "Scaned: "},
    {27, "Rescued file "},
    {28, "Failed save file: \n\n"},
    {29, "Finished"},
    {34, "The file \"Morvane.dll\" error, program breaked!"},
    {35, "Invalid sector range!"},
    {36, "Can't save IMG file on source drive!"},
    {37, "Backup to IMG"},
    {38, "Creating IMG file..."},
    {39, "Wait a moment"},
    {40, "No enough free space on dest drive!"},
    {41, "Sector: "},
    {42, "Percent: "},
    {43, "Error: "},
    {44, "Didn't finish, delete target file?"},
    {45, "Prompt"},
    {46, "Finished! There're some bad sectors."},
    {47, "Finished!"},
    {48, "Failed to open file!"},
    {49, "Searching file"},
    {50, "Sector: "},
    {51, "Percent: "},
    {52, "Found: "},
    {53, "Pause"},
    {54, "Stop"},
    {55, "Cancel"},
    {60, "Simple steps: 1. Select drive; 2. Open drive; 3. Select folder to store rescued files; "
         "4. Select the reason of losing file; 5. Start rescue."},
    {61, "Error"},
    {62, "More >>"},
    {63, "Failed to get parameters"},
    {65, "Progress: "},
    {66, "Reason:"},
    {67, "Deleted or Disappeared"},
    {68, "Formatted"},
    {69, "Repartitioned"},
    {70, "Unknown file system, not support this option!"},
    {72, "Photo time:"},
    {73, "And rescue photo(s) which has not time stamp"},
    {76, "Support: see README"},
    {77, "Source:"},
    {78, "Lost data on drive:"},
    {81, "Extract JPEG data from RAW file"},
    {82, "No JPEG data"},
    {83, "View Folder"},
    {84, "Opened: "},
    {85, "Scan free space only"},
    {86, "Sector Size: "},
    {87, "Collecting free sectors"},
    {88, "No enough memory!"},
    {89, "File Types"},
    {90, "Select &All"},
    {91, "Clea&r All"},
    {92, "&Ok"},
    {93, "&Cancel"},
};

constexpr Slot kSimplifiedChinese[] = {
    {2, "打开分区"},
    {3, "打开IMG文件"},
    {4, "关闭"},
    {5, "扇区:"},
    {6, "转到"},
    {8, "文件保存到:"},
    {9, "浏览"},
    {10, "正在整理列表"},
    {11, "原文件系统:"},
    {12, "簇大小:"},
    {13, "扫描范围:"},
    {14, "开始恢复"},
    {15, "备份到IMG文件"},
    {16, "打开分区失败!"},
    {17, "错误"},
    {18, "总扇区数: "},
    {19, "扇区范围无效!"},
    {20, "请选择要恢复的文件类型!"},
    {21, "请选择保存文件的文件夹!"},
    {22, "目标文件夹不能位于源分区上!"},
    {23, "扇区范围无效!"},
    {24, "正在恢复文件"},
    {25, "成功: "},
    {26, "已扫描: "},
    {27, "已恢复文件 "},
    {28, "保存文件失败: \n\n"},
    {29, "完成"},
    {34, "文件\"Morvane.dll\"错误，程序中止!"},
    {35, "扇区范围无效!"},
    {36, "不能将IMG文件保存在源分区上!"},
    {37, "备份到IMG"},
    {38, "正在创建IMG文件..."},
    {39, "请稍候"},
    {40, "目标分区剩余空间不足!"},
    {41, "扇区: "},
    {42, "百分比: "},
    {43, "错误: "},
    {44, "尚未完成，是否删除目标文件?"},
    {45, "提示"},
    {46, "完成! 有部分坏扇区。"},
    {47, "完成!"},
    {48, "打开文件失败!"},
    {49, "正在搜索文件"},
    {50, "扇区: "},
    {51, "百分比: "},
    {52, "已找到: "},
    {53, "暂停"},
    {54, "停止"},
    {55, "取消"},
    {60, "简单步骤: 1. 选择分区; 2. 打开分区; 3. 选择保存恢复文件的文件夹; "
         "4. 选择文件丢失的原因; 5. 开始恢复。"},
    {61, "错误"},
    {62, "更多 >>"},
    {63, "获取参数失败"},
    {65, "进度: "},
    {66, "原因:"},
    {67, "删除或消失"},
    {68, "格式化"},
    {69, "重新分区"},
    {70, "未知文件系统，不支持此选项!"},
    {72, "拍照时间:"},
    {73, "同时恢复没有时间标记的照片"},
    {76, "技术支持: 请参阅 README"},
    {77, "来源:"},
    {78, "丢失数据的分区:"},
    {81, "从RAW文件中提取JPEG数据"},
    {82, "没有JPEG数据"},
    {83, "查看文件夹"},
    {84, "已打开: "},
    {85, "仅扫描空闲空间"},
    {86, "扇区大小: "},
    {87, "正在收集空闲扇区"},
    {88, "内存不足!"},
    {89, "文件类型"},
    {90, "全选(&A)"},
    {91, "全部清除(&R)"},
    {92, "确定(&O)"},
    {93, "取消(&C)"},
};

constexpr Slot kTraditionalChinese[] = {
    {2, "開啟分割區"},
    {3, "開啟IMG檔案"},
    {4, "關閉"},
    {5, "磁區:"},
    {6, "前往"},
    {8, "檔案儲存至:"},
    {9, "瀏覽"},
    {10, "正在整理清單"},
    {11, "原檔案系統:"},
    {12, "叢集大小:"},
    {13, "掃描範圍:"},
    {14, "開始救援"},
    {15, "備份至IMG檔案"},
    {16, "開啟分割區失敗!"},
    {17, "錯誤"},
    {18, "磁區總數: "},
    {19, "磁區範圍無效!"},
    {20, "請選擇要救援的檔案類型!"},
    {21, "請選擇儲存檔案的資料夾!"},
    {22, "目的資料夾不能位於來源分割區!"},
    {23, "磁區範圍無效!"},
    {24, "正在救援檔案"},
    {25, "成功: "},
    {26, "已掃描: "},
    {27, "已救援檔案 "},
    {28, "儲存檔案失敗: \n\n"},
    {29, "完成"},
    {34, "檔案\"Morvane.dll\"錯誤，程式中止!"},
    {35, "磁區範圍無效!"},
    {36, "不能將IMG檔案儲存在來源分割區!"},
    {37, "備份至IMG"},
    {38, "正在建立IMG檔案..."},
    {39, "請稍候"},
    {40, "目的磁碟可用空間不足!"},
    {41, "磁區: "},
    {42, "百分比: "},
    {43, "錯誤: "},
    {44, "尚未完成，是否刪除目的檔案?"},
    {45, "提示"},
    {46, "完成! 有部分壞磁區。"},
    {47, "完成!"},
    {48, "開啟檔案失敗!"},
    {49, "正在搜尋檔案"},
    {50, "磁區: "},
    {51, "百分比: "},
    {52, "已找到: "},
    {53, "暫停"},
    {54, "停止"},
    {55, "取消"},
    {60, "簡單步驟: 1. 選擇分割區; 2. 開啟分割區; 3. 選擇儲存救援檔案的資料夾; "
         "4. 選擇檔案遺失的原因; 5. 開始救援。"},
    {61, "錯誤"},
    {62, "更多 >>"},
    {63, "取得參數失敗"},
    {65, "進度: "},
    {66, "原因:"},
    {67, "刪除或消失"},
    {68, "格式化"},
    {69, "重新分割"},
    {70, "未知的檔案系統，不支援此選項!"},
    {72, "拍照時間:"},
    {73, "同時救援沒有時間標記的相片"},
    {76, "技術支援: 請參閱 README"},
    {77, "來源:"},
    {78, "遺失資料的分割區:"},
    {81, "從RAW檔案中擷取JPEG資料"},
    {82, "沒有JPEG資料"},
    {83, "檢視資料夾"},
    {84, "已開啟: "},
    {85, "僅掃描可用空間"},
    {86, "磁區大小: "},
    {87, "正在收集可用磁區"},
    {88, "記憶體不足!"},
    {89, "檔案類型"},
    {90, "全選(&A)"},
    {91, "全部清除(&R)"},
    {92, "確定(&O)"},
    {93, "取消(&C)"},
};

// Every slot number in range, none twice, and none of the two built from the version.
constexpr bool SlotsAreSound(std::span<const Slot> slots) {
  bool seen[kFaceTextCount] = {};
  for (const Slot& s : slots) {
    if (s.n < 0 || s.n >= kFaceTextCount || s.n == kTitleSlot || s.n == kVersionSlot || seen[s.n])
      return false;
    seen[s.n] = true;
  }
  return true;
}
static_assert(SlotsAreSound(kEnglish));
static_assert(SlotsAreSound(kSimplifiedChinese));
static_assert(SlotsAreSound(kTraditionalChinese));

TFaceTexts BuildTable(std::span<const Slot> slots, std::string_view productName,
                      std::string fontName) {
  std::array<std::string, kFaceTextCount> texts;
  for (const Slot& s : slots) texts[static_cast<size_t>(s.n)] = s.text;
  std::string version = " " + std::string(kMorvaneVersion);
  texts[kTitleSlot] = std::string(productName) + version;
  texts[kVersionSlot] = version;
  return TFaceTexts(std::move(texts), std::move(fontName));
}

std::atomic<const TFaceTexts*> chosenFace{nullptr};

}  // namespace

const std::string& TFaceTexts::Text(int n) const {
  static const std::string kEmpty;
  if (n < 0 || n >= kFaceTextCount) return kEmpty;
  return texts_[static_cast<size_t>(n)];
}

Language LanguageForLocale(std::string_view locale) {
  // language[_territory][.codeset][@modifier]; only language and territory matter here.
  size_t end = locale.find_first_of(".@");
  std::string_view name = locale.substr(0, end);
  if (name == "zh_CN" || name == "zh_SG") return Language::SimplifiedChinese;
  if (name == "zh_TW" || name == "zh_HK" || name == "zh_MO") return Language::TraditionalChinese;
  return Language::English;
}

Language LanguageFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return LanguageForLocale(value);
  }
  return Language::English;
}

const TFaceTexts& FaceTextsFor(Language language) {
  static const TFaceTexts english = BuildTable(kEnglish, "Morvane Data Recovery", "Tahoma");
  static const TFaceTexts simplified = BuildTable(kSimplifiedChinese, "Morvane 数据恢复", "宋体");
  static const TFaceTexts traditional = BuildTable(kTraditionalChinese, "Morvane 資料救援", "細明體");
  switch (language) {
    case Language::SimplifiedChinese: return simplified;
    case Language::TraditionalChinese: return traditional;
    case Language::English: break;
  }
  return english;
}

void InitFace(Language language) { chosenFace.store(&FaceTextsFor(language)); }

const TFaceTexts& FaceTexts() {
  const TFaceTexts* face = chosenFace.load();
  return face != nullptr ? *face : FaceTextsFor(Language::English);
}

}  // namespace morvane
