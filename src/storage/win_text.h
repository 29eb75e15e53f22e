// Text and paths for the Windows API: Morvane's strings are UTF-8, Windows takes UTF-16.
// Only the Windows platform files include this.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace morvane::win {

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// `path` for the wide file functions: separators made backslashes and, for a path that
// would reach MAX_PATH, the full path behind "\\?\" (or "\\?\UNC\") so that no length limit
// applies. Device paths ("\\.\X:", "\\.\PhysicalDrive0") and "\\?\" paths pass unchanged.
std::wstring FilePath(const std::string& path);

// The system's words for a Windows error code, without the trailing line break.
std::string ErrorText(DWORD code);

// Sets errno from a Windows error code, for callers that report errno.
void SetErrno(DWORD code);

// A handle closed when the holder goes.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { if (Valid()) CloseHandle(h_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Get() const { return h_; }
  HANDLE Release() { HANDLE h = h_; h_ = INVALID_HANDLE_VALUE; return h; }

 private:
  HANDLE h_;
};

// Opens `path` for queries only (no read or write access; folders too), sharing everything.
HANDLE OpenForQuery(const std::wstring& path, bool followLinks = true);

// The physical disk numbers a volume (given by any path on it) occupies; empty when they
// cannot be learned.
bool VolumeDisks(const std::wstring& anyPathOnVolume, std::vector<DWORD>& disks);

}  // namespace morvane::win
