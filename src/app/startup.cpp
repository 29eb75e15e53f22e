#include "app/startup.h"

#include <filesystem>
#include <system_error>

#include "storage/files.h"

namespace morvane {

std::string ProgramFolder() {
  std::filesystem::path exe = Utf8Path(ExecutablePath());
  if (exe.empty() || !exe.has_parent_path()) return {};
  std::string folder = PathText(exe.parent_path());
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

StartupResult RunStartup(const std::string& programFolder) {
  StartupResult result;
  auto branding = LoadBrandingFile(programFolder);
  if (!branding) return result;
  result.ok = true;
  result.branding = std::move(*branding);
  result.thumbnails = LoadThumbnailSettings(programFolder);
  return result;
}

}  // namespace morvane
