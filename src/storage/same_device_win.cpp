#include "storage/same_device.h"

#include <algorithm>

#include "storage/win_text.h"

#include <winioctl.h>

namespace morvane {
namespace {

// The nearest existing folder or file at or above `path`, as a full wide path.
std::wstring ExistingAncestor(const std::string& path) {
  std::wstring p = win::FilePath(path);
  DWORD n = GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
  if (n > 0) {
    std::wstring full(n, L'\0');
    full.resize(GetFullPathNameW(p.c_str(), n, full.data(), nullptr));
    p = full;
  }
  while (!p.empty() && GetFileAttributesW(p.c_str()) == INVALID_FILE_ATTRIBUTES) {
    size_t slash = p.find_last_of(L'\\');
    if (slash == std::wstring::npos) return {};
    p.resize(slash);
    if (p.size() == 2 && p[1] == L':') p += L'\\';
  }
  return p;
}

}  // namespace

std::vector<std::string> UnderlyingDisks(unsigned, unsigned, const std::string&) { return {}; }

// A device source: any disk extent of the folder's volume on the source's disk. An image
// file source: never (writing beside an image does not change it).
bool PathIsOnSource(const std::string& path, const Source& source, const std::string&) {
  if (source.Kind() != SourceKind::Disk && source.Kind() != SourceKind::Partition) return false;
  if (source.DeviceNumber() == 0) return false;
  const std::wstring existing = ExistingAncestor(path);
  if (existing.empty()) return false;
  std::vector<DWORD> disks;
  if (!win::VolumeDisks(existing, disks)) return false;
  return std::find(disks.begin(), disks.end(), source.DeviceNumber() - 1) != disks.end();
}

bool PathIsSource(const std::string& path, const Source& source, const std::string&) {
  if (source.Kind() == SourceKind::Memory) return false;
  const std::wstring wide = win::FilePath(path);
  if (wide.rfind(L"\\\\.\\", 0) == 0) {  // a device: the source's disk or a volume on it
    if (source.Kind() == SourceKind::ImageFile) return false;
    win::Handle h(win::OpenForQuery(wide));
    if (!h.Valid()) return false;
    STORAGE_DEVICE_NUMBER number{};
    DWORD got = 0;
    if (DeviceIoControl(h.Get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &got, nullptr))
      return uint64_t{number.DeviceNumber} + 1 == source.DeviceNumber();
    return false;
  }
  if (source.Kind() != SourceKind::ImageFile) return false;
  win::Handle h(win::OpenForQuery(wide));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!h.Valid() || !GetFileInformationByHandle(h.Get(), &info)) return false;
  const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return info.dwVolumeSerialNumber == source.FileDevice() && index == source.FileInode();
}

}  // namespace morvane
