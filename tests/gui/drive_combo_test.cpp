// The drive list: items from the lister with their device paths and kind icons.
#include <QTest>

#include <filesystem>
#include <fstream>

#include "gui/drive_combo.h"
#include "support/test_support.h"

using namespace morvane;

namespace {

DriveItem Drive(const char* text, const char* path, DriveKind kind) {
  DriveItem d;
  d.text = text;
  d.devicePath = path;
  d.kind = kind;
  return d;
}

QImage IconImage(const QIcon& icon) { return icon.pixmap(16, 16).toImage(); }

void Put(const std::filesystem::path& p, const std::string& text) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p) << text << "\n";
}

}  // namespace

class DriveComboTest : public QObject {
  Q_OBJECT

 private slots:
  void itemsCarryTheirPathAndTheIconOfTheirKind() {
    TMyDriveComboBox box;
    box.FillDrives({Drive("sdb1: [CAMERA]", "/dev/sdb1", DriveKind::Removable),
                    Drive("HD0 ATA Disk (465.76GB)", "/dev/sda", DriveKind::Fixed),
                    Drive("nbd0:", "/dev/nbd0", DriveKind::Network),
                    Drive("sr0: [DVD]", "/dev/sr0", DriveKind::Optical),
                    Drive("ram0:", "/dev/ram0", DriveKind::Ram)});
    QCOMPARE(box.count(), 5);
    QCOMPARE(box.currentIndex(), 0);
    QCOMPARE(box.currentText(), QStringLiteral("sdb1: [CAMERA]"));
    QCOMPARE(box.SelectedPath(), QStringLiteral("/dev/sdb1"));
    box.setCurrentIndex(3);
    QCOMPARE(box.SelectedPath(), QStringLiteral("/dev/sr0"));
    QCOMPARE(box.FindPath("/dev/sda"), 1);
    QCOMPARE(box.FindPath("/dev/sdz"), -1);

    // Each kind has an icon of its own, and each item shows the icon of its kind.
    const DriveKind kinds[] = {DriveKind::Removable, DriveKind::Fixed, DriveKind::Network, DriveKind::Optical,
                               DriveKind::Ram};
    for (int i = 0; i < 5; ++i) {
      QCOMPARE(box.KindAt(i), kinds[i]);
      QVERIFY(!box.itemIcon(i).isNull());
      QCOMPARE(IconImage(box.itemIcon(i)), IconImage(TMyDriveComboBox::DriveIcon(kinds[i])));
      for (int j = 0; j < i; ++j) QVERIFY(IconImage(box.itemIcon(i)) != IconImage(box.itemIcon(j)));
    }
  }

  void removingNetworkDrivesKeepsTheRestInOrder() {
    TMyDriveComboBox box;
    box.FillDrives({Drive("nbd0:", "/dev/nbd0", DriveKind::Network), Drive("sda1:", "/dev/sda1", DriveKind::Fixed),
                    Drive("nbd1:", "/dev/nbd1", DriveKind::Network), Drive("HD0 (1.00GB)", "/dev/sda", DriveKind::Fixed)});
    box.RemoveNetworkDrives();
    QCOMPARE(box.count(), 2);
    QCOMPARE(box.itemData(0, TMyDriveComboBox::kPathRole).toString(), QStringLiteral("/dev/sda1"));
    QCOMPARE(box.itemData(1, TMyDriveComboBox::kPathRole).toString(), QStringLiteral("/dev/sda"));
    QVERIFY(!box.SelectedPath().isEmpty());
  }

  void refillReplacesTheItemsAndAnEmptyListSelectsNothing() {
    test::TempDir root;
    auto block = root.path() / "sys" / "block";
    Put(block / "sdb" / "size", "8192");
    Put(block / "sdb" / "removable", "1");
    Put(block / "sdb" / "sdb1" / "size", "2048");
    Put(block / "sdb" / "sdb1" / "partition", "1");

    TMyDriveComboBox box;
    box.FillDrives({Drive("old", "/dev/old", DriveKind::Fixed)});
    box.RefreshDrives((root.path() / "sys").string(), "/dev");
    QCOMPARE(box.count(), 2);
    QCOMPARE(box.FindPath("/dev/old"), -1);
    QCOMPARE(box.SelectedPath(), QStringLiteral("/dev/sdb1"));  // partitions come first
    QCOMPARE(box.itemText(1), QStringLiteral("RM0 (4.00MB)"));
    QCOMPARE(box.KindAt(1), DriveKind::Removable);

    box.FillDrives({});
    QCOMPARE(box.count(), 0);
    QCOMPARE(box.currentIndex(), -1);
    QCOMPARE(box.SelectedPath(), QString());
  }
};

QTEST_MAIN(DriveComboTest)
#include "drive_combo_test.moc"
