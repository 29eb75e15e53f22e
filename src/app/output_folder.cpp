#include "app/output_folder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "storage/files.h"
#include "storage/same_device.h"

namespace morvane {
FolderCheckResult CheckOutputFolder(const std::string& folder, const Source& source, bool create) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (folder.empty()) return {FolderCheck::NotGiven, {}};
  fs::path path = Utf8Path(folder);
  bool created = false;
  if (!fs::is_directory(path, ec)) {
    if (fs::exists(fs::symlink_status(path, ec))) return {FolderCheck::NotAFolder, {}};
    fs::path parent = path.lexically_normal().parent_path();
    if (parent.empty()) parent = ".";
    if (!fs::is_directory(parent, ec)) return {FolderCheck::Missing, {}};
    if (PathIsOnSource(PathText(parent), source)) return {FolderCheck::OnSource, {}};
    if (!create) return {FolderCheck::Ok, {}};
    if (!fs::create_directory(path, ec) && ec) return {FolderCheck::CreateFailed, ec.message()};
    created = true;
  }
  if (PathIsOnSource(folder, source)) return {FolderCheck::OnSource, {}};
  if (std::string reason = WriteProbe(folder); !reason.empty()) return {FolderCheck::NotWritable, reason};
  return {created ? FolderCheck::Created : FolderCheck::Ok, {}};
}

}  // namespace morvane
