#include "app/startup.h"

#include <filesystem>
#include <system_error>

namespace morvane {

std::string ProgramFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || !exe.has_parent_path()) return {};
  std::string folder = exe.parent_path().string();
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
