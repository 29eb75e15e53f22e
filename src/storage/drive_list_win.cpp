#include "storage/drive_list.h"

#include <algorithm>
#include <cstring>

#include "storage/win_text.h"

#include <winioctl.h>

namespace morvane {
namespace {

DriveKind KindOfType(UINT type) {
  switch (type) {
    case DRIVE_REMOVABLE: return DriveKind::Removable;
    case DRIVE_REMOTE: return DriveKind::Network;
    case DRIVE_CDROM: return DriveKind::Optical;
    case DRIVE_RAMDISK: return DriveKind::Ram;
    default: return DriveKind::Fixed;
  }
}

// "X: [LABEL]" for each drive letter, with the volume's size when it can be learned.
void ListVolumes(std::vector<DriveItem>& items) {
  const DWORD letters = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if (!(letters & (1u << i))) continue;
    const wchar_t letter = static_cast<wchar_t>(L'A' + i);
    const std::wstring root = std::wstring(1, letter) + L":\\";
    const UINT type = GetDriveTypeW(root.c_str());
    if (type == DRIVE_NO_ROOT_DIR || type == DRIVE_UNKNOWN) continue;
    DriveItem item;
    item.kind = KindOfType(type);
    item.isPartition = true;
    item.devicePath = std::string("\\\\.\\") + static_cast<char>('A' + i) + ":";
    item.text = std::string(1, static_cast<char>('A' + i)) + ":";
    wchar_t label[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(root.c_str(), label, MAX_PATH, nullptr, nullptr, nullptr, nullptr, 0) && label[0]) {
      std::string text = win::Utf8(label);
      std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
      item.text += " [" + text + "]";
    }
    ULARGE_INTEGER total{};
    if (GetDiskFreeSpaceExW(root.c_str(), nullptr, &total, nullptr)) item.sizeBytes = static_cast<int64_t>(total.QuadPart);
    items.push_back(item);
  }
}

// The property text at `offset` in a storage descriptor, or empty.
std::string DescriptorText(const std::vector<uint8_t>& buf, DWORD got, DWORD offset) {
  if (offset == 0 || offset >= got) return {};
  const char* text = reinterpret_cast<const char*>(buf.data() + offset);
  return TrimText(std::string(text, strnlen(text, got - offset)));
}

// "HDn VENDOR PRODUCT (size)" for \\.\PhysicalDrive0.. : only queries, no read access, so
// the list works without an administrator prompt.
void ListDisks(std::vector<DriveItem>& items) {
  int number = 0;
  for (int n = 0; n < 64; ++n) {
    const std::string path = "\\\\.\\PhysicalDrive" + std::to_string(n);
    win::Handle h(win::OpenForQuery(win::Wide(path)));
    if (!h.Valid()) continue;
    DISK_GEOMETRY_EX geometry{};
    DWORD got = 0;
    if (!DeviceIoControl(h.Get(), IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &got,
                         nullptr))
      continue;
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<uint8_t> buf(1024);
    std::string vendor, product;
    bool removable = false;
    if (DeviceIoControl(h.Get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, buf.data(),
                        static_cast<DWORD>(buf.size()), &got, nullptr) &&
        got >= sizeof(STORAGE_DEVICE_DESCRIPTOR)) {
      const auto* d = reinterpret_cast<const STORAGE_DEVICE_DESCRIPTOR*>(buf.data());
      vendor = DescriptorText(buf, got, d->VendorIdOffset);
      product = DescriptorText(buf, got, d->ProductIdOffset);
      removable = d->RemovableMedia != 0;
    }
    DriveItem item;
    item.devicePath = path;
    item.kind = removable ? DriveKind::Removable : DriveKind::Fixed;
    item.sizeBytes = geometry.DiskSize.QuadPart;
    item.text = DiskItemText(removable, number++, DiskDescription(vendor, product), item.sizeBytes);
    items.push_back(item);
  }
}

}  // namespace

// The drive letters first, then the physical disks.
std::vector<DriveItem> ListDrives(const std::string&, const std::string&) {
  std::vector<DriveItem> items;
  ListVolumes(items);
  ListDisks(items);
  return items;
}

}  // namespace morvane
