#include "storage/files.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>

#include "storage/win_text.h"

namespace morvane {

int HoldFolder(const std::string&) { return -1; }

void ReleaseFolder(int) {}

bool NameTakenIn(int, const std::string& path) {
  if (GetFileAttributesW(win::FilePath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD code = GetLastError();
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
}

bool RenameNoReplaceIn(int, const std::string& from, int, const std::string& to) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
  if (MoveFileExW(win::FilePath(from).c_str(), win::FilePath(to).c_str(), 0)) return true;
  win::SetErrno(GetLastError());
  return false;
}

bool RemoveFileIn(int, const std::string& path) {
  if (DeleteFileW(win::FilePath(path).c_str())) return true;
  win::SetErrno(GetLastError());
  return false;
}

void SetFileModifiedTime(const std::string& path, int64_t seconds, long nanoseconds) {
  win::Handle h(CreateFileW(win::FilePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.Valid()) return;
  // FILETIME counts 100 ns from 1601.
  const uint64_t ticks = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL +
                         static_cast<uint64_t>(nanoseconds / 100);
  FILETIME modified{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  SetFileTime(h.Get(), nullptr, nullptr, &modified);
}

std::string WriteProbe(const std::string& folder) {
  std::string base = folder;
  if (base.back() != '/' && base.back() != '\\') base += '\\';
  for (unsigned n = 0; n < 100; ++n) {
    const std::wstring name =
        win::FilePath(base + ".morvane-write-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(n));
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      return {};
    }
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) return win::ErrorText(code);
  }
  return "no free name for a test file";
}

int OpenForWriting(const std::string& path, FileIdentity& identity) {
  int fd = -1;
  if (_wsopen_s(&fd, win::FilePath(path).c_str(), _O_WRONLY | _O_CREAT | _O_BINARY | _O_NOINHERIT, _SH_DENYWR,
                _S_IREAD | _S_IWRITE) != 0)
    return -1;
  BY_HANDLE_FILE_INFORMATION info{};
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)) {
    identity = {};
    return fd;
  }
  identity = {true, info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
  return fd;
}

bool EmptyFile(int fd) {
  if (int e = _chsize_s(fd, 0); e != 0) {
    errno = e;
    return false;
  }
  return true;
}

bool FlushAndClose(int fd) {
  int error = _commit(fd) != 0 ? errno : 0;
  if (_close(fd) != 0 && error == 0) error = errno;
  errno = error;
  return error == 0;
}

void CloseFile(int fd) { _close(fd); }

std::string MakeTempFolder(const std::string& prefix) {
  std::wstring base(MAX_PATH + 1, L'\0');
  const DWORD n = GetTempPathW(static_cast<DWORD>(base.size()), base.data());
  if (n == 0 || n > base.size()) {
    win::SetErrno(GetLastError());
    return {};
  }
  base.resize(n);
  // The folder inherits the temporary folder's permissions, which are the user's own.
  const std::string folder = win::Utf8(base) + prefix + std::to_string(GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string name = folder + std::to_string(GetTickCount64() % 1000000 + attempt);
    if (CreateDirectoryW(win::FilePath(name).c_str(), nullptr)) return name;
    if (GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  win::SetErrno(GetLastError());
  return {};
}

bool RemoveEmptyFolder(const std::string& path) { return RemoveDirectoryW(win::FilePath(path).c_str()) != 0; }

bool SyncFile(int fd) { return _commit(fd) == 0; }

std::string ExecutablePath() {
  std::wstring name(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  if (n == 0 || n >= name.size()) return {};
  name.resize(n);
  return win::Utf8(name);
}

bool RunsAsAdministrator() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                        elevation.TokenIsElevated != 0;
  CloseHandle(token);
  return elevated;
}

bool IsDiskFull(int error) { return error == ENOSPC; }

}  // namespace morvane
