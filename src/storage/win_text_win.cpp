#include "storage/win_text.h"

#include <winioctl.h>

#include <cerrno>
#include <vector>

namespace morvane::win {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring FilePath(const std::string& path) {
  std::wstring w = Wide(path);
  if (w.rfind(L"\\\\.\\", 0) == 0 || w.rfind(L"\\\\?\\", 0) == 0) return w;
  for (wchar_t& c : w)
    if (c == L'/') c = L'\\';
  if (w.size() < MAX_PATH - 12) return w;
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return w;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string ErrorText(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring w = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(code);
  if (text) LocalFree(text);
  while (!w.empty() && (w.back() == L'\n' || w.back() == L'\r' || w.back() == L'.')) w.pop_back();
  return Utf8(w);
}

void SetErrno(DWORD code) {
  switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    default: errno = EIO; break;
  }
}

HANDLE OpenForQuery(const std::wstring& path, bool followLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

bool VolumeDisks(const std::wstring& anyPathOnVolume, std::vector<DWORD>& disks) {
  wchar_t root[MAX_PATH + 1];
  if (!GetVolumePathNameW(anyPathOnVolume.c_str(), root, MAX_PATH)) return false;
  wchar_t name[64];
  std::wstring volume;
  if (GetVolumeNameForVolumeMountPointW(root, name, 64)) {
    volume = name;
  } else {
    volume = root;
    if (volume.size() < 2 || volume[1] != L':') return false;
    volume = L"\\\\.\\" + volume.substr(0, 2);
  }
  if (!volume.empty() && volume.back() == L'\\') volume.pop_back();
  Handle h(OpenForQuery(volume));
  if (!h.Valid()) return false;
  std::vector<uint8_t> buf(sizeof(VOLUME_DISK_EXTENTS) + 31 * sizeof(DISK_EXTENT));
  DWORD got = 0;
  if (!DeviceIoControl(h.Get(), IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buf.data(),
                       static_cast<DWORD>(buf.size()), &got, nullptr))
    return false;
  const auto* extents = reinterpret_cast<const VOLUME_DISK_EXTENTS*>(buf.data());
  for (DWORD i = 0; i < extents->NumberOfDiskExtents && i < 32; ++i)
    disks.push_back(extents->Extents[i].DiskNumber);
  return !disks.empty();
}

}  // namespace morvane::win
