// TMyDriveComboBox: the list of disks and partitions to open, each with an icon for its
// kind (removable, fixed, network, optical, RAM). The item data is the device path.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <QString>

#include <string>
#include <vector>

#include "storage/drive_list.h"

namespace morvane {

class TMyDriveComboBox : public QComboBox {
  Q_OBJECT

 public:
  // Item data roles.
  static constexpr int kPathRole = Qt::UserRole;      // QString device path
  static constexpr int kKindRole = Qt::UserRole + 1;  // int DriveKind

  explicit TMyDriveComboBox(QWidget* parent = nullptr);

  // Replaces the items by `drives`, in their order, and selects the first.
  void FillDrives(const std::vector<DriveItem>& drives);
  // FillDrives(ListDrives(sysRoot, devRoot)).
  void RefreshDrives(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");
  // Removes the network drives (done when the main window is first shown).
  void RemoveNetworkDrives();

  // Device path of the selected item; empty when nothing is selected.
  QString SelectedPath() const;
  // The item with this device path, or -1.
  int FindPath(const QString& devicePath) const;
  DriveKind KindAt(int index) const;

  // The icon of a kind of drive, drawn once and kept.
  static QIcon DriveIcon(DriveKind kind);
};

}  // namespace morvane
