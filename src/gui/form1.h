// The main window: pick and open a source, set up the scan, start it or back the source
// up, and look at its sectors.
//
// The window binds PartitionModel (the open source and the scan-settings group), the
// sector viewer, the type chooser and the scan options to Qt widgets; the scan and the
// backup run on worker threads (ScanWorker, BackupWorker) while TForm3 and TForm2 show
// their progress. Controls carry their historical names as object names, so that a test
// or a screenshot script can find them.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QToolButton>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

#include "app/startup.h"
#include "gui/backup_worker.h"
#include "gui/scan_worker.h"
#include "scan/scan_options.h"
#include "storage/partition.h"

namespace morvane {

class TForm2;
class TForm3;
class TForm6;
class TMyDriveComboBox;

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // `startup` carries the branding and the thumbnail settings read beside the program.
  // The three secondary windows are created with it.
  explicit TForm1(const StartupResult& startup, QWidget* parent = nullptr);
  ~TForm1() override;

  // --- Controls ---------------------------------------------------------------------
  // Source
  QLabel* Label12;                   // "Lost data on drive:"
  TMyDriveComboBox* DriveComboBox1;  // disks and partitions
  QPushButton* Button1;              // open drive
  QPushButton* Button10;             // open image file
  QPushButton* Button2;              // close
  QLabel* Label16;                   // "Opened: " + name
  QLabel* Label5;                    // the simple steps
  // Scan settings
  QGroupBox* GroupBox1;
  QLabel* Label8;                    // "Reason:"
  QComboBox* ComboBox3;              // loss reason
  QLabel* Label7;                    // "Previous file system:"
  QComboBox* ComboBox2;              // file system
  QLabel* Label6;                    // "Cluster Size:"
  QComboBox* ComboBox1;              // cluster size
  QLabel* Label3;                    // "Scan Range:"
  QLineEdit* Edit3;                  // first sector
  QLineEdit* Edit4;                  // last sector
  QLabel* Label2;                    // "Save files to:"
  QLineEdit* Edit2;                  // output folder
  QPushButton* Button6;              // browse
  QPushButton* Button7;              // view folder
  QLabel* Label4;                    // "Photo time:"
  QLineEdit* Edit5;                  // photo time from
  QLineEdit* Edit6;                  // photo time to
  QCheckBox* CheckBox7;              // also undated photos
  QCheckBox* CheckBox6;              // JPEG from RAW files (not offered: kept hidden)
  QComboBox* selSpec;                // camera mode
  QCheckBox* CheckBox8;              // scan free space only
  QPushButton* Button14;             // file types
  QPushButton* Button12;             // start rescue
  QPushButton* Button11;             // backup to image file
  QToolButton* SpeedButton1;         // "More >>" (toggle)
  // Sector viewer
  QGroupBox* ViewerBox;
  QPlainTextEdit* Memo1;
  QLabel* Label1;                    // "Sector:"
  QLineEdit* Edit1;
  QPushButton* Button5;              // go to
  QPushButton* Button8;              // "|<"
  QPushButton* Button3;              // "<"
  QPushButton* Button4;              // ">"
  QPushButton* Button9;              // ">|"
  // Status bar panels: sector size / result, total sectors, status text, web address
  QLabel* StatusPanel[4];

  // --- Secondary windows ------------------------------------------------------------
  TForm2* Form2() const { return form2_; }
  TForm3* Form3() const { return form3_; }
  TForm6* Form6() const { return form6_; }

  // --- State ------------------------------------------------------------------------
  PartitionModel& Model() { return model_; }
  uint32_t TypeMask = kAllTypesMask;
  const ScanOptions& Options() const { return options_; }
  ScanWorker& Scanner() { return *scanWorker_; }
  BackupWorker& Backup() { return *backupWorker_; }
  bool Busy() const;  // a scan or a backup runs

  // Dialogs a test may answer instead of the user; unset, the real dialogs run. Each
  // returns the chosen path, or an empty text when cancelled.
  std::function<QString()> OpenImageDialog;
  std::function<QString()> SaveImageDialog;
  std::function<QString()> FolderDialog;
  // Starts the elevated program; unset, pkexec runs. True when it started.
  std::function<bool()> RestartElevated;
  // Shows a folder in the file manager; unset, the desktop's handler runs. True when it did.
  std::function<bool(const QUrl&)> OpenFolderView;

  // Opens an image file as the source (what Button10 does once a file is chosen).
  bool OpenImagePath(const QString& path);
  // Opens a source that is already open (a memory source in tests), named `name`.
  bool OpenSource(std::unique_ptr<Source> source, const QString& name);

 public slots:
  // A stop signal (SIGTERM and the like): stops the work as Stop does, then closes. A
  // question open at that moment is closed unanswered (a failed save counts as Abort).
  void StopAndClose();
  // Status panel 0 (the sector size, or the last scan's result).
  void ShowResultInStatusBar(const QString& text);
  void FormCreate();
  void FormShow();  // fills the drive list; runs once
  void Button1Click();
  void Button2Click();
  void Button10Click();
  void Button11Click();
  void Button12Click();
  void Button14Click();
  void Button6Click();
  void Button7Click();
  void ComboBox3Click(int item);
  void ComboBox2Click(int item);
  void ComboBox1Click(int item);
  void SpeedButton1Click(bool down);
  void Edit5Exit();
  void Edit6Exit();
  // Sector viewer
  void Button5Click();
  void Button8Click();
  void Button3Click();
  void Button4Click();
  void Button9Click();

 signals:
  // The window has closed (after any running work was stopped).
  void Closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void PutTexts();
  void ConnectWorkers();
  void ShowError(int textId);
  void ShowPlain(const QString& text);
  // Shows the model's state of the settings group, the open controls, the status bar and
  // the viewer.
  void RefreshFromModel();
  void RefreshViewer();
  bool FinishOpening(const PartitionResult& r, bool offerElevation = false);
  void AfterSourceOpened();
  bool OfferElevation(const PartitionResult& failure);
  bool TakeScanChecks();
  bool OutputFolderUsable(bool create);
  std::unique_ptr<ScanStateKeeper> KeeperFor(const ScanSetup& setup, ScanContext& scan);
  void ShowScanSummary(const ScanReport& report);
  void ShowFolder(const QString& folder);

  void OnScanPhase(int pass);
  void OnScanFinished(const ScanReport& report);
  void OnBackupFinished(const BackupResult& result);
  void FreeSpaceMapNotBuilt(bool cancelled);

  StartupResult startup_;
  PartitionModel model_;
  ScanOptions options_;
  BackupRequest backupRequest_;  // of the backup running or last run
  TSourceGeometry scanGeometry_;  // of the scan running or last run
  std::unique_ptr<ProgressClock> clock_;
  TForm2* form2_;
  TForm3* form3_;
  TForm6* form6_;
  bool shown_ = false;
  QSize collapsedSize_;  // the window's size before "More >>" expanded it
  bool closeAfterWork_ = false;
  // For the read rates and the time left of the progress windows.
  std::chrono::steady_clock::time_point workStarted_, recoveryStarted_;
  int64_t recoveryBytes_ = 0;
  bool filling_ = false;  // widgets being set from the model: no handler runs
  // Declared last: destroyed first, while the source and the clock they read still exist.
  std::unique_ptr<ScanWorker> scanWorker_;
  std::unique_ptr<BackupWorker> backupWorker_;
};

}  // namespace morvane
