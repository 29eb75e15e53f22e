// Output-file operations that differ between systems: every name is UTF-8 text, and none of
// them is ever used on the source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace morvane {

// A path from UTF-8 text, and a path as UTF-8 text. Windows keeps paths in UTF-16 and would
// otherwise take narrow text in its old code page; elsewhere nothing is converted.
inline std::filesystem::path Utf8Path(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}
inline std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The folder's name as the scan takes it: ending in a slash.
inline std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Folders held open so that the names in them are reached through the folder itself,
// whatever it is called meanwhile: HoldFolder gives -1 when it cannot (on Windows always:
// there names are reached by their whole path). kWorkingFolder as `dir` below takes `name`
// as a path of its own.
inline constexpr int kWorkingFolder = -100;
int HoldFolder(const std::string& folder);
void ReleaseFolder(int dir);

// True when something (a file, a folder, a link, even a dangling one) has the name, or when
// the system cannot tell.
bool NameTakenIn(int dir, const std::string& name);
// Renames without ever replacing the target; false with errno (EEXIST when it is taken).
bool RenameNoReplaceIn(int fromDir, const std::string& from, int toDir, const std::string& to);
// Deletes a file; false when it could not (errno says why).
bool RemoveFileIn(int dir, const std::string& name);
inline bool RemoveFile(const std::string& path) { return RemoveFileIn(kWorkingFolder, path); }

// Sets the modification time of a file (seconds and nanoseconds since 1970, UTC), never
// through a link planted under the name.
void SetFileModifiedTime(const std::string& path, int64_t seconds, long nanoseconds);

// Creates and removes a file of a unique name in `folder`; empty when that worked, else the
// system's reason.
std::string WriteProbe(const std::string& folder);

// Opens `path` for writing, creating it when missing but cutting nothing yet; -1 with errno
// when it cannot be opened. `identity` then tells what was opened: whether it is a regular
// file and its device and file number (as Source::FileDevice and FileInode give them).
struct FileIdentity {
  bool regular = false;
  uint64_t device = 0;
  uint64_t inode = 0;
};
int OpenForWriting(const std::string& path, FileIdentity& identity);
// Cuts an open file to nothing; false with errno.
bool EmptyFile(int fd);
// Writes the file's data through to the drive and closes it; false with errno when either
// failed (the descriptor is closed all the same).
bool FlushAndClose(int fd);
void CloseFile(int fd);
// Makes a new folder that only this user may enter, named `prefix` and a unique ending, in the
// system's folder for temporary files; its path, or empty (errno set) when none could be made.
std::string MakeTempFolder(const std::string& prefix);
// Removes a folder if it is empty; false otherwise.
bool RemoveEmptyFolder(const std::string& path);

// Writes an open file's data through to the drive; false with errno.
bool SyncFile(int fd);
// The full name of the running program's file; empty when the system does not tell.
std::string ExecutablePath();
// True when the program runs with administrator rights: as root, or on Windows with an
// elevated token.
bool RunsAsAdministrator();

// A full drive or an exhausted quota; a file-size limit (FAT32's 4 GiB) is not.
bool IsDiskFull(int error);

}  // namespace morvane
