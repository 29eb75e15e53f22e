#include "storage/source.h"

#include <algorithm>
#include <cwctype>

#include "storage/geometry.h"
#include "storage/win_text.h"

#include <winioctl.h>

namespace morvane {
namespace {

class HandleSource : public Source {
 public:
  HandleSource(std::string path, HANDLE h, SourceKind kind, int64_t size, uint32_t sectorSize, uint64_t disk,
               uint64_t volumeSerial, uint64_t fileIndex)
      : Source(std::move(path)), h_(h), kind_(kind), size_(size), sectorSize_(sectorSize), disk_(disk),
        volumeSerial_(volumeSerial), fileIndex_(fileIndex) {}

  // Positioned reads through OVERLAPPED offsets: the handle has no shared file pointer to race on.
  bool ReadAt(int64_t offset, void* buffer, size_t length) override {
    if (offset < 0) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < length) {
      const uint64_t at = static_cast<uint64_t>(offset) + done;
      OVERLAPPED ov{};
      ov.Offset = static_cast<DWORD>(at);
      ov.OffsetHigh = static_cast<DWORD>(at >> 32);
      const DWORD want = static_cast<DWORD>(std::min<size_t>(length - done, 1u << 30));
      DWORD got = 0;
      if (!ReadFile(h_.Get(), out + done, want, &got, &ov) || got == 0) return false;
      done += got;
    }
    return true;
  }
  int64_t SizeBytes() const override { return size_; }
  uint32_t DeviceSectorSize() const override { return sectorSize_; }
  SourceKind Kind() const override { return kind_; }
  // For devices: the physical disk number plus one (0: none).
  uint64_t DeviceNumber() const override { return disk_; }
  uint64_t FileDevice() const override { return volumeSerial_; }
  uint64_t FileInode() const override { return fileIndex_; }

 private:
  win::Handle h_;
  SourceKind kind_;
  int64_t size_;
  uint32_t sectorSize_;
  uint64_t disk_;
  uint64_t volumeSerial_;
  uint64_t fileIndex_;
};

OpenError ErrorFromCode(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return OpenError::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return OpenError::PermissionDenied;
    default:
      return OpenError::Other;
  }
}

template <typename T>
bool Query(HANDLE h, DWORD code, T& out) {
  DWORD got = 0;
  return DeviceIoControl(h, code, nullptr, 0, &out, sizeof out, &got, nullptr) != 0;
}

// The physical disk a device lives on, plus one; 0 when it cannot be learned.
uint64_t DiskOfDevice(HANDLE h, const std::wstring& path) {
  STORAGE_DEVICE_NUMBER number{};
  if (Query(h, IOCTL_STORAGE_GET_DEVICE_NUMBER, number)) return uint64_t{number.DeviceNumber} + 1;
  std::vector<DWORD> disks;
  if (win::VolumeDisks(path + L"\\", disks)) return uint64_t{disks.front()} + 1;
  return 0;
}

}  // namespace

// Devices ("\\.\X:" volumes, "\\.\PhysicalDriveN" disks) and image files, read-only, with
// reading and writing left open to others: a volume in use stays usable, and nothing here
// can ever write to it.
OpenResult OpenSource(const std::string& path) {
  OpenResult r;
  const std::wstring wide = win::FilePath(path);
  const bool device = wide.rfind(L"\\\\.\\", 0) == 0;
  if (!device) {
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      r.error = OpenError::IsDirectory;
      return r;
    }
  }
  win::Handle h(CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.Valid()) {
    DWORD code = GetLastError();
    r.error = ErrorFromCode(code);
    r.detail = win::ErrorText(code);
    return r;
  }
  if (!device && GetFileType(h.Get()) != FILE_TYPE_DISK) {
    r.error = OpenError::NotFileOrDevice;
    r.detail = "not a regular file or disk device";
    return r;
  }
  if (device) {
    GET_LENGTH_INFORMATION length{};
    DISK_GEOMETRY_EX geometry{};
    if (!Query(h.Get(), IOCTL_DISK_GET_LENGTH_INFO, length) ||
        !Query(h.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, geometry)) {
      r.error = OpenError::SizeQueryFailed;
      r.detail = win::ErrorText(GetLastError());
      return r;
    }
    const DWORD sectorSize = geometry.Geometry.BytesPerSector;
    if (sectorSize == 0 || sectorSize > kMaxSectorSize || sectorSize % 512 != 0) {
      r.error = OpenError::SectorTooLarge;
      r.detail = std::to_string(sectorSize) + " bytes per sector";
      return r;
    }
    std::wstring lower = wide;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    const SourceKind kind = lower.find(L"physicaldrive") != std::wstring::npos ? SourceKind::Disk
                                                                                : SourceKind::Partition;
    const uint64_t disk = DiskOfDevice(h.Get(), wide);
    r.source = std::make_unique<HandleSource>(path, h.Release(), kind, length.Length.QuadPart, sectorSize, disk, 0, 0);
    return r;
  }
  LARGE_INTEGER size{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileSizeEx(h.Get(), &size) || !GetFileInformationByHandle(h.Get(), &info)) {
    r.error = OpenError::SizeQueryFailed;
    r.detail = win::ErrorText(GetLastError());
    return r;
  }
  const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  r.source = std::make_unique<HandleSource>(path, h.Release(), SourceKind::ImageFile, size.QuadPart, 0, 0,
                                            info.dwVolumeSerialNumber, index);
  return r;
}

}  // namespace morvane
