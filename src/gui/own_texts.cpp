#include "gui/own_texts.h"

namespace morvane {

Language CurrentLanguage() {
  for (Language l : {Language::SimplifiedChinese, Language::TraditionalChinese})
    if (&FaceTextsFor(l) == &FaceTexts()) return l;
  return Language::English;
}

namespace {

struct OwnEntry {
  OwnText id;
  const char* english;
  const char* simplified;
  const char* traditional;
};

constexpr OwnEntry kOwnTexts[] = {
    {OwnText::FolderMissing, "The folder %1 does not exist, nor its parent folder %2 (only the last folder of a path is created).",
     "文件夹 %1 不存在，其上级文件夹 %2 也不存在 (只会创建路径的最后一级文件夹)。",
     "資料夾 %1 不存在，其上層資料夾 %2 也不存在 (只會建立路徑的最後一層資料夾)。"},
    {OwnText::FolderIsFile, "%1 is a file, not a folder.", "%1 是文件，不是文件夹。", "%1 是檔案，不是資料夾。"},
    {OwnText::FolderNotCreated, "Cannot create the folder %1:\n%2", "无法创建文件夹 %1:\n%2", "無法建立資料夾 %1:\n%2"},
    {OwnText::FolderNotWritable, "Cannot write into the folder %1:\n%2", "无法写入文件夹 %1:\n%2", "無法寫入資料夾 %1:\n%2"},
    {OwnText::Paused, "Paused", "已暂停", "已暫停"},
    {OwnText::NoFileManager, "No file manager could be started to show the folder:\n%1",
     "无法启动文件管理器来显示文件夹:\n%1", "無法啟動檔案管理員來顯示資料夾:\n%1"},
    {OwnText::ImageNotWritten, "Cannot write the image %1:", "无法写入映像文件 %1:", "無法寫入映像檔 %1:"},
    {OwnText::ImageWritten, "Image: %1 (%2)", "映像文件: %1 (%2)", "映像檔: %1 (%2)"},
    {OwnText::ReplaceImage, "%1 already exists. Replace it?", "%1 已存在。是否替换?", "%1 已存在。是否取代?"},
    {OwnText::ContinueScan,
     "The folder %1 holds a scan of this source with these options that did not finish.\n\nContinue the previous scan?",
     "文件夹 %1 中有一次使用相同来源和选项但未完成的扫描。\n\n是否继续上一次扫描?",
     "資料夾 %1 中有一次使用相同來源和選項但未完成的掃描。\n\n是否繼續上一次掃描?"},
    {OwnText::ScanNotContinued,
     "The folder %1 holds a scan that did not finish and cannot be continued:\n%2\n\nStart a new scan in this folder?",
     "文件夹 %1 中有一次未完成且无法继续的扫描:\n%2\n\n是否在此文件夹中开始新的扫描?",
     "資料夾 %1 中有一次未完成且無法繼續的掃描:\n%2\n\n是否在此資料夾中開始新的掃描?"},
    {OwnText::ScanCanContinue,
     "To continue this scan later, start the rescue again with the same folder and options.",
     "以后若要继续此次扫描,请使用相同的文件夹和选项再次开始恢复。",
     "日後若要繼續此次掃描,請使用相同的資料夾和選項再次開始救援。"},
};

}  // namespace

QString Own(OwnText id) {
  const Language l = CurrentLanguage();
  for (const OwnEntry& e : kOwnTexts)
    if (e.id == id)
      return QString::fromUtf8(l == Language::SimplifiedChinese    ? e.simplified
                               : l == Language::TraditionalChinese ? e.traditional
                                                                   : e.english);
  return {};
}

}  // namespace morvane
