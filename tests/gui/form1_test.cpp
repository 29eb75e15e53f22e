// The main window on real images: opening, the three geometry lists, the start button's
// refusals and the sector viewer, driven through the window's own controls.
#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "gui/drive_combo.h"
#include "gui/elevation.h"
#include "gui/form1.h"
#include "gui/form3.h"
#include "gui/form6.h"
#include "gui/message_boxes.h"
#include "main_window_fixture.h"
#include "filetypes/catalogue.h"

using namespace morvane;

namespace {

// Picks item `i` of a list as the user does.
void Choose(QComboBox* c, int i) {
  c->setCurrentIndex(i);
  emit c->activated(i);
}

// Line `n` (0 = header) of the dump.
QString DumpLine(const TForm1& f, int n) { return f.Memo1->toPlainText().split('\n').value(n); }

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  void opensFat32ImageThroughTheOpenImagePath() {
    test::TempDir dir;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    TForm1 f(test::TestStartup());
    f.show();
    QApplication::processEvents();
    const int closedHeight = f.height();
    QVERIFY(!f.GroupBox1->isVisible());
    QVERIFY(!f.Memo1->isEnabled() && !f.Button5->isEnabled() && !f.Button4->isEnabled());

    f.OpenImageDialog = [&] { return QString::fromStdString(img); };
    f.Button10->click();
    QVERIFY(f.Model().IsOpen());
    QVERIFY(f.GroupBox1->isVisible());
    QCOMPARE(f.ComboBox3->currentText(), QStringLiteral("Deleted or Disappeared"));
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("FAT32"));
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("4K"));
    QVERIFY(!f.ComboBox2->isEnabled() && !f.ComboBox1->isEnabled());
    QCOMPARE(f.Edit3->text(), QStringLiteral("0"));
    QCOMPARE(f.Edit4->text(), QStringLiteral("131071"));
    QCOMPARE(f.StatusPanel[1]->text(), QStringLiteral("Total Sectors: 131072"));
    QCOMPARE(f.Label16->text(), QStringLiteral("Opened: vol.img"));
    QVERIFY(f.CheckBox8->isEnabled());
    QVERIFY(!f.Button1->isEnabled() && !f.Button10->isEnabled() && !f.DriveComboBox1->isEnabled());
    // The viewer shows the boot sector: "mkfs.fat" behind the jump.
    QCOMPARE(DumpLine(f, 0), QString::fromLatin1(kSectorDumpHeader.data(), int(kSectorDumpHeader.size())));
    QVERIFY2(DumpLine(f, 1).startsWith(QStringLiteral("000: EB58 906D 6B66 732E 6661 7400 ")), qPrintable(DumpLine(f, 1)));
    QCOMPARE(f.Memo1->toPlainText().split('\n').size(), 17);

    f.ShowResultInStatusBar(QStringLiteral("Rescued file 3"));
    f.Button2->click();
    QVERIFY(!f.Model().IsOpen());
    QVERIFY(!f.GroupBox1->isVisible());
    QVERIFY(f.Memo1->toPlainText().isEmpty());
    QVERIFY(!f.Memo1->isEnabled() && !f.Edit1->isEnabled());
    QVERIFY(f.Button1->isEnabled() && f.Button10->isEnabled());
    QVERIFY(f.Label16->text().isEmpty());
    QVERIFY(!f.CheckBox8->isEnabled() && !f.CheckBox8->isChecked());
    // No empty room where the settings were, no result of the source that was closed.
    QCOMPARE(f.height(), closedHeight);
    QVERIFY(f.StatusPanel[0]->text().isEmpty());

    // A file that cannot be opened: the message, and nothing open.
    ScopedMessageBoxRecorder boxes;
    f.OpenImageDialog = [&] { return QString::fromStdString(dir / "missing.img"); };
    f.Button10->click();
    QCOMPARE(boxes.Boxes().size(), size_t(1));
    QCOMPARE(boxes.Boxes()[0].Text, QStringLiteral("Failed to open file!"));
    QCOMPARE(boxes.Boxes()[0].Caption, QStringLiteral("Error"));
    QVERIFY(!f.Model().IsOpen() && !f.GroupBox1->isVisible());
    // Cancelling the dialog opens nothing and says nothing.
    f.OpenImageDialog = [] { return QString(); };
    f.Button10->click();
    QCOMPARE(boxes.Boxes().size(), size_t(1));
  }

  void reasonFileSystemAndClusterRules() {
    test::TempDir dir;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    TForm1 f(test::TestStartup());
    f.show();
    QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
    const TSourceGeometry& g = f.Model().ScanGeometry();
    QCOMPARE(g.ClusterPhase, f.Model().DetectedGeometry().ClusterPhase);

    // "Formatted" unlocks the lists and takes the cluster size the boot sector found gives
    // (4K), not the usual one for FAT32 at 64 MiB (1K).
    Choose(f.ComboBox3, 1);
    QVERIFY(f.ComboBox2->isEnabled() && f.ComboBox1->isEnabled());
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("FAT32"));
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("4K"));
    QCOMPARE(g.SectorsPerCluster, 8u);
    QCOMPARE(g.ClusterPhase, -1);

    Choose(f.ComboBox2, 2);  // NTFS
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("4K"));
    QCOMPARE(g.SectorsPerCluster, 8u);
    Choose(f.ComboBox2, 6);  // OTHER
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("0.5K"));
    Choose(f.ComboBox1, 4);  // 8K by hand
    QCOMPARE(g.SectorsPerCluster, 16u);
    QCOMPARE(g.ClusterPhase, -1);

    // Back to the detected geometry, locked again.
    Choose(f.ComboBox3, 0);
    QVERIFY(!f.ComboBox2->isEnabled() && !f.ComboBox1->isEnabled());
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("FAT32"));
    QCOMPARE(f.ComboBox1->currentText(), QStringLiteral("4K"));
    QCOMPARE(g.SectorsPerCluster, 8u);
    QCOMPARE(g.ClusterPhase, f.Model().DetectedGeometry().ClusterPhase);

    // An image without a boot record opens as "Repartitioned"; the detected reason is refused.
    std::string raw = dir / "raw.img";
    test::WriteFileBytes(raw, std::vector<uint8_t>(512 * 100, 0x5A));
    QVERIFY(f.OpenImagePath(QString::fromStdString(raw)));
    QCOMPARE(f.ComboBox3->currentIndex(), 2);
    QCOMPARE(f.ComboBox2->currentText(), QStringLiteral("OTHER"));
    QVERIFY(!f.CheckBox8->isEnabled());
    ScopedMessageBoxRecorder boxes;
    Choose(f.ComboBox3, 0);
    QCOMPARE(boxes.Boxes().size(), size_t(1));
    QCOMPARE(boxes.LastText(), QStringLiteral("Unknown file system, not support this option!"));
    QCOMPARE(f.ComboBox3->currentIndex(), 1);
    QVERIFY(f.ComboBox2->isEnabled());
  }

  void everyRefusalOfTheStartButton() {
    test::TempDir dir, out;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    TForm1 f(test::TestStartup());
    f.show();
    QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
    ScopedMessageBoxRecorder boxes;
    auto refusedWith = [&](const QString& text) {
      boxes.Clear();
      f.Button12->click();
      QCOMPARE(boxes.Boxes().size(), size_t(1));
      QCOMPARE(boxes.LastText(), text);
      // Nothing started, nothing hidden, nothing written.
      QVERIFY(f.isVisible());
      QVERIFY(!f.Form3()->isVisible());
      QVERIFY(!f.Scanner().Running());
      QVERIFY(std::filesystem::is_empty(out.path()));
    };
    auto restore = [&] {
      f.TypeMask = kAllFileTypesMask;
      f.Edit2->setText(QString::fromStdString(out.path().string()));
      f.Edit3->setText(QStringLiteral("0"));
      f.Edit4->setText(QStringLiteral("131071"));
      f.Edit5->setText(QStringLiteral("1990-01-01"));
      f.Edit6->setText(QStringLiteral("2099-12-31"));
    };

    restore();
    f.TypeMask = 0;
    refusedWith(QStringLiteral("Please select file type to rescue!"));
    QCOMPARE(boxes.Boxes()[0].Caption, QStringLiteral("Error"));

    // One entry changed at a time, everything else valid.
    const QString noFolder = QStringLiteral("Please select folder to save file!");
    const QString badRange = QStringLiteral("invalid sector range!");
    const QString deeper = QString::fromStdString(out / "none/deeper");
    const struct {
      QLineEdit* edit;
      QString text;
      QString expected;
    } cases[] = {
        {f.Edit2, QString(), noFolder},
        {f.Edit2, deeper,
         QStringLiteral("The folder %1 does not exist, nor its parent folder %2 (only the last folder of a path is "
                        "created).")
             .arg(deeper, QString::fromStdString(out / "none"))},
        {f.Edit2, QString::fromStdString(img), QString::fromStdString(img) + QStringLiteral(" is a file, not a folder.")},
        {f.Edit5, QStringLiteral("2009-13-01"), QStringLiteral("Invalid photo start date!")},
        {f.Edit6, QStringLiteral("no date"), QStringLiteral("Invalid photo end date!")},
        {f.Edit3, QStringLiteral("-1"), badRange},
        {f.Edit3, QStringLiteral("abc"), badRange},
        {f.Edit4, QStringLiteral("131072"), badRange},
        {f.Edit3, QStringLiteral("131071x"), badRange},
    };
    for (const auto& c : cases) {
      restore();
      c.edit->setText(c.text);
      refusedWith(c.expected);
    }
    restore();
    f.Edit3->setText(QStringLiteral("11"));
    f.Edit4->setText(QStringLiteral("10"));
    refusedWith(badRange);
    // Without JPEG and RAW the dates are not looked at: the range check comes next.
    restore();
    f.TypeMask = kTypeAi;
    f.Edit5->setText(QStringLiteral("2009-13-01"));
    f.Edit3->setText(QStringLiteral("-1"));
    refusedWith(badRange);

    // A folder nothing can be written into: the folder, the system's reason, a warning.
    restore();
    f.Edit2->setText(QStringLiteral("/proc"));
    boxes.Clear();
    f.Button12->click();
    QVERIFY2(boxes.LastText().startsWith(QStringLiteral("Cannot write into the folder /proc:\n")), qPrintable(boxes.LastText()));
    QCOMPARE(boxes.Boxes().back().Kind, MessageBoxKind::Warning);
    QVERIFY(f.isVisible() && !f.Scanner().Running());

    // The backup checks its range, refuses the open image as its target before asking
    // to replace it, and refuses a cancelled dialog without a word.
    restore();
    f.Edit4->setText(QStringLiteral("x"));
    boxes.Clear();
    f.Button11->click();
    QCOMPARE(boxes.LastText(), QStringLiteral("Invalid sector range!"));
    restore();
    boxes.Clear();
    f.SaveImageDialog = [&] { return QString::fromStdString(img); };
    f.Button11->click();
    QCOMPARE(boxes.Boxes().size(), size_t(1));
    QCOMPARE(boxes.LastText(), QStringLiteral("Can't save IMG file on source drive!"));
    restore();
    boxes.Clear();
    f.SaveImageDialog = [] { return QString(); };
    f.Button11->click();
    QVERIFY(boxes.Boxes().empty());
    QVERIFY(f.isVisible() && !f.Backup().Running());
  }

  // Clear All in the chooser, then OK: the mask is empty and the scan refuses to start.
  void clearedChooserRefusesTheScan() {
    test::TempDir dir;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    TForm1 f(test::TestStartup());
    f.show();
    QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
    bool answered = false;
    std::function<void()> answer = [&] {
      TForm6* c = f.Form6();
      if (!c->isVisible() || !c->ChecksReady()) {
        QTimer::singleShot(10, &f, answer);
        return;
      }
      c->btnClr->click();
      c->Button1->click();
      answered = true;
    };
    QTimer::singleShot(10, &f, answer);
    f.Button14->click();
    QVERIFY(answered);
    QCOMPARE(f.TypeMask, 0u);
    ScopedMessageBoxRecorder boxes;
    f.Button12->click();
    QCOMPARE(boxes.LastText(), QStringLiteral("Please select file type to rescue!"));
  }

  void viewerNavigation() {
    test::TempDir dir;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    TForm1 f(test::TestStartup());
    f.show();
    QVERIFY(!f.ViewerBox->isVisible());
    f.SpeedButton1->click();
    QVERIFY(f.ViewerBox->isVisible());
    QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
    QCOMPARE(f.Edit1->text(), QStringLiteral("0"));
    QVERIFY(!f.Button3->isEnabled() && !f.Button8->isEnabled());
    QVERIFY(f.Button4->isEnabled() && f.Button9->isEnabled());

    f.Button4->click();
    QCOMPARE(f.Edit1->text(), QStringLiteral("1"));
    QVERIFY(f.Button3->isEnabled() && f.Button8->isEnabled());
    QTest::keyClick(f.Edit1, Qt::Key_PageDown);
    QCOMPARE(f.Edit1->text(), QStringLiteral("11"));
    QTest::keyClick(f.Edit1, Qt::Key_Down);
    QCOMPARE(f.Edit1->text(), QStringLiteral("12"));
    QTest::keyClick(f.Edit1, Qt::Key_PageUp);
    QCOMPARE(f.Edit1->text(), QStringLiteral("2"));
    QTest::keyClick(f.Edit1, Qt::Key_PageUp);
    QCOMPARE(f.Edit1->text(), QStringLiteral("0"));
    QTest::keyClick(f.Edit1, Qt::Key_Up);
    QCOMPARE(f.Edit1->text(), QStringLiteral("0"));

    f.Button9->click();
    QCOMPARE(f.Edit1->text(), QStringLiteral("131071"));
    QVERIFY(!f.Button4->isEnabled() && !f.Button9->isEnabled());
    QTest::keyClick(f.Edit1, Qt::Key_PageDown);
    QCOMPARE(f.Edit1->text(), QStringLiteral("131071"));
    f.Button8->click();
    QCOMPARE(f.Edit1->text(), QStringLiteral("0"));

    // Goto: sector 6 holds the backup boot sector; bad numbers give the range message and
    // change nothing.
    ScopedMessageBoxRecorder boxes;
    f.Edit1->setText(QStringLiteral("6"));
    QTest::keyClick(f.Edit1, Qt::Key_Return);
    QCOMPARE(f.Model().Viewer().ViewSector(), 6);
    QVERIFY(DumpLine(f, 1).startsWith(QStringLiteral("000: EB58 906D")));
    QVERIFY(boxes.Boxes().empty());
    QString shown = f.Memo1->toPlainText();
    for (const char* bad : {"-1", "abc", "131072"}) {
      f.Edit1->setText(QString::fromLatin1(bad));
      f.Button5->click();
      QCOMPARE(boxes.LastText(), QStringLiteral("Invalid sector range!"));
      QCOMPARE(boxes.Boxes().back().Caption, QStringLiteral("Error"));
      QCOMPARE(f.Model().Viewer().ViewSector(), 6);
      QCOMPARE(f.Memo1->toPlainText(), shown);
    }
    QCOMPARE(boxes.Boxes().size(), size_t(3));

    f.SpeedButton1->click();
    QVERIFY(!f.ViewerBox->isVisible());
  }

  void photoDateEditsLoseTheirBlanks() {
    TForm1 f(test::TestStartup());
    f.show();
    QCOMPARE(f.Edit5->text(), QStringLiteral("1990-01-01"));
    QCOMPARE(f.Edit6->text(), QStringLiteral("2099-12-31"));
    QVERIFY(f.CheckBox7->isChecked());
    QCOMPARE(f.selSpec->currentIndex(), 0);
    QCOMPARE(f.selSpec->count(), 5);
    f.Edit5->setText(QStringLiteral("  2009-05-01 "));
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(f.Edit5, &out);
    QCOMPARE(f.Edit5->text(), QStringLiteral("2009-05-01"));
    QCOMPARE(f.windowTitle(), QString::fromStdString(WindowTitle(DefaultBranding(), FaceTexts())));
  }

  // A drive refused for lack of permission: the user learns that administrator rights are
  // needed, how to get them, and what the system said; as root, that the system refused
  // for another reason (and no advice to use sudo).
  void permissionAdviceSaysHowAndWhy() {
    const QString reason = QStringLiteral("Permission denied");
    for (Language l : {Language::English, Language::SimplifiedChinese, Language::TraditionalChinese}) {
      QString user = PermissionAdvice(l, false, reason);
      QVERIFY2(user.contains(QStringLiteral("pkexec")) && user.contains(QStringLiteral("sudo")) && user.contains(reason),
               qPrintable(user));
      QString root = PermissionAdvice(l, true, reason);
      QVERIFY2(!root.contains(QStringLiteral("sudo")) && !root.contains(QStringLiteral("pkexec")) && root.contains(reason),
               qPrintable(root));
      QVERIFY(root != user);
    }
    QVERIFY(PermissionAdvice(Language::English, false, reason).contains(QStringLiteral("administrator")));
  }

  void elevatedRestartKeepsTheDisplay() {
    QProcessEnvironment env;
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":1"));
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral(""));  // set but empty: left out
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), QStringLiteral("/run/user/1000"));
    env.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent-home"));
    env.insert(QStringLiteral("LANG"), QStringLiteral("zh_CN.UTF-8"));
    ElevatedCommand c = ElevatedRestartCommand(QStringLiteral("/opt/m/morvane-gui"),
                                               {QStringLiteral("/dev/sdb"), QStringLiteral("b"), QStringLiteral("c")}, env);
    QCOMPARE(c.program, QStringLiteral("pkexec"));
    QCOMPARE(c.arguments, (QStringList{"env", "DISPLAY=:1", "XDG_RUNTIME_DIR=/run/user/1000", "LANG=zh_CN.UTF-8",
                                       "/opt/m/morvane-gui", "/dev/sdb", "b"}));

    test::TempDir home;
    test::WriteFileBytes(home / ".Xauthority", {1});
    env.insert(QStringLiteral("HOME"), QString::fromStdString(home.path().string()));
    c = ElevatedRestartCommand(QStringLiteral("/p"), {}, env);
    QVERIFY(c.arguments.contains(QStringLiteral("XAUTHORITY=") + QString::fromStdString(home / ".Xauthority")));
    env.insert(QStringLiteral("XAUTHORITY"), QStringLiteral("/tmp/xauth-1"));
    c = ElevatedRestartCommand(QStringLiteral("/p"), {}, env);
    QVERIFY(c.arguments.contains(QStringLiteral("XAUTHORITY=/tmp/xauth-1")));
    QCOMPARE(c.arguments.last(), QStringLiteral("/p"));
  }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
