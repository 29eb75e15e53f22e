// Whole scans and backups through the main window: Start Rescue to "Rescued file N" on a
// real FAT32 volume, pause and stop, a source that stops reading, closing the window
// while a scan runs, and the backup with its cancel question.
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "filetypes/catalogue.h"
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/message_boxes.h"
#include "gui/stop_signals.h"
#include "main_window_fixture.h"
#include "scan/scan_summary.h"

using namespace morvane;

namespace {

constexpr int kLongWait = 60000;

std::vector<uint8_t> Baseline() { return test::ReadFileBytes(test::DataPath("jpeg/baseline.jpg")); }

std::set<std::vector<uint8_t>> ContentsOf(const std::string& folder, const std::string& suffix) {
  std::set<std::vector<uint8_t>> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::string name = e.path().filename().string();
    if (name.size() > suffix.size() && name.substr(name.size() - suffix.size()) == suffix)
      out.insert(test::ReadFileBytes(e.path().string()));
  }
  return out;
}

// The count line the final message starts with.
QString CountLine(const ScopedMessageBoxRecorder& boxes) { return boxes.LastText().section(QLatin1Char('\n'), 0, 0); }

bool HasWorkFiles(const std::string& folder) {
  return std::filesystem::exists(folder + "/FILESTAR.TMP") || std::filesystem::exists(folder + "/FILETYPE.TMP");
}

// A window over a controlled source, with the output folder `out`.
std::unique_ptr<TForm1> WindowOver(test::ControlledSource*& source, std::vector<uint8_t> bytes, const test::TempDir& out) {
  auto f = std::make_unique<TForm1>(test::TestStartup());
  f->show();
  auto owned = std::make_unique<test::ControlledSource>(std::move(bytes));
  source = owned.get();
  if (!f->OpenSource(std::move(owned), QStringLiteral("controlled.img"))) return nullptr;
  f->Edit2->setText(QString::fromStdString(out.path().string()));
  return f;
}

// A window over five photos read slowly (a folder removed after the start goes long before
// the first file is written), saving photos only into `folder`, which it makes.
std::unique_ptr<TForm1> WindowOverSlowPhotos(const std::filesystem::path& folder) {
  std::filesystem::create_directory(folder);
  auto f = std::make_unique<TForm1>(test::TestStartup());
  f->show();
  auto source = std::make_unique<test::ControlledSource>(test::JpegRun(Baseline(), 5));
  source->delayMs = 20;
  if (!f->OpenSource(std::move(source), QStringLiteral("controlled.img"))) return nullptr;
  f->Edit2->setText(QString::fromStdString(folder.string()));
  f->TypeMask = kTypeJpg;
  return f;
}

}  // namespace

class WholeScanGuiTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  // Six photos copied onto a FAT32 volume and deleted: Start Rescue brings each back.
  void startRescueRecoversDeletedPhotos() {
    test::TempDir dir, out;
    // Large enough for mtools to take it as FAT32 (at least 65525 clusters).
    std::string img = test::MakeFat32Image(dir, 300);
    if (img.empty() || !test::HaveTool("mcopy")) QSKIP("dosfstools/mtools missing");
    std::set<std::vector<uint8_t>> originals;
    std::string put = "MTOOLS_SKIP_CHECK=1 mcopy -i " + img;
    for (const char* name : {"baseline", "exif_be", "exif_thumb", "progressive", "restart", "subsampling444"}) {
      std::string path = test::DataPath(std::string("jpeg/") + name + ".jpg");
      originals.insert(test::ReadFileBytes(path));
      put += " " + path;
    }
    QCOMPARE(test::Run(put + " ::"), 0);
    QCOMPARE(test::Run("MTOOLS_SKIP_CHECK=1 mdel -i " + img + " '::*.jpg'"), 0);

    TForm1 f(test::TestStartup());
    f.show();
    QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
    f.Edit2->setText(QString::fromStdString(out.path().string()));
    bool recoveryWindowShown = false, searchWindowHidden = false;
    connect(&f.Scanner(), &ScanWorker::PhaseChanged, &f, [&](int pass) {
      if (pass == int(ScanPass::Recovery)) {
        recoveryWindowShown = f.Form2()->isVisible();
        searchWindowHidden = !f.Form3()->isVisible();
      }
    });
    QUrl shownFolder;
    f.OpenFolderView = [&](const QUrl& url) {
      shownFolder = url;
      return false;  // no file manager
    };
    ScopedMessageBoxRecorder boxes(MessageBoxAnswer::Extra);  // View Folder on the final message
    f.Button12->click();
    QVERIFY(!f.isVisible());
    QVERIFY(f.Form3()->isVisible());
    QCOMPARE(f.Form3()->windowTitle(), QStringLiteral("Searching file"));
    QTRY_VERIFY_WITH_TIMEOUT(!f.Scanner().Running() && boxes.Boxes().size() == 2, kLongWait);

    QVERIFY(recoveryWindowShown && searchWindowHidden);
    // View Folder without a file manager says so, with the folder.
    QCOMPARE(shownFolder.toLocalFile(), QString::fromStdString(out.path().string()));
    QCOMPARE(boxes.LastText(), QStringLiteral("No file manager could be started to show the folder:\n") +
                                   QString::fromStdString(out.path().string()));
    // The command line's closing summary follows the count, with the folder and its button.
    QCOMPARE(boxes.Boxes()[0].Caption, QStringLiteral("Finished"));
    QCOMPARE(boxes.Boxes()[0].Kind, MessageBoxKind::Information);
    QCOMPARE(boxes.Boxes()[0].ExtraButton, QStringLiteral("View Folder"));
    const QString summary = boxes.Boxes()[0].Text;
    QVERIFY2(summary.startsWith(QStringLiteral("Rescued file 6\n\nRecovered 6 files (JPG 6), ")), qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral(" into ") + QString::fromStdString(out.path().string()) + QLatin1Char('\n')),
             qPrintable(summary));
    QVERIFY2(summary.contains(QStringLiteral("\nTime: ")), qPrintable(summary));
    QCOMPARE(f.StatusPanel[0]->text(), QStringLiteral("Rescued file 6"));
    QCOMPARE(ContentsOf(out.path().string(), ".JPG"), originals);
    QVERIFY(f.isVisible());
    QVERIFY(!f.Form2()->isVisible() && !f.Form3()->isVisible());
    QVERIFY(!HasWorkFiles(out.path().string()));
  }

  // A Motion-JPEG movie whose first frame was recovered as a photo takes it back: the
  // photo leaves the kinds line and the closing summary.
  void frameTakenBackLeavesTheCounts() {
    test::TempDir out;
    test::ControlledSource* source = nullptr;
    std::vector<uint8_t> bytes(1024, 0);
    const std::vector<uint8_t> movie = test::ReadFileBytes(test::DataPath("mp4/mjpeg.mov"));
    bytes.insert(bytes.end(), movie.begin(), movie.end());
    bytes.resize(bytes.size() + 8192, 0);
    auto f = WindowOver(source, std::move(bytes), out);
    QVERIFY(f);
    bool frameCounted = false;
    connect(&f->Scanner(), &ScanWorker::FileRecovered, f.get(), [&](const QString&, const QString& kind) {
      frameCounted |= kind == QStringLiteral("JPG");
    });
    ScopedMessageBoxRecorder boxes;
    f->Button12->click();
    QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
    QVERIFY(frameCounted);
    QCOMPARE(f->Form2()->KindsLine->text(), QStringLiteral("MOV 1"));
    QVERIFY2(boxes.Boxes()[0].Text.startsWith(QStringLiteral("Rescued file 1\n\nRecovered 1 file (MOV 1), ")),
             qPrintable(boxes.Boxes()[0].Text));
  }

  // Pause holds the recovery where it is; Stop while paused ends the scan with the count
  // of the files written so far.
  void pauseHoldsAndStopEnds() {
    test::TempDir out;
    test::ControlledSource* source = nullptr;
    auto f = WindowOver(source, test::JpegRun(Baseline(), 100), out);
    QVERIFY(f);
    f->TypeMask = kTypeJpg;
    source->delayMs = 10;
    connect(&f->Scanner(), &ScanWorker::PhaseChanged, f.get(), [&](int pass) {
      if (pass == int(ScanPass::Recovery)) f->Form2()->SpeedButton1->click();  // Pause
    });
    ScopedMessageBoxRecorder boxes;
    f->Button12->click();
    QTRY_VERIFY_WITH_TIMEOUT(f->Form2()->isVisible(), kLongWait);
    QVERIFY(f->Form2()->SpeedButton1->isChecked());
    QTest::qWait(300);
    QVERIFY(f->Scanner().Running());
    int held = f->Scanner().Scan()->RecoveredCount;
    int64_t reads = source->reads;
    QTest::qWait(400);
    QCOMPARE(int(f->Scanner().Scan()->RecoveredCount), held);
    QVERIFY(source->reads - reads <= 1);  // at most the read under way when the pause came
    // The window cannot be closed while the scan runs.
    QVERIFY(!f->Form2()->close());
    QVERIFY(f->Form2()->isVisible());

    f->Form2()->Button2->click();  // Stop, still paused
    QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
    int written = test::CountFiles(out.path().string(), ".JPG");
    QVERIFY(written < 100);
    QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file ") + QString::number(written));
    QCOMPARE(boxes.Boxes().back().Caption, QStringLiteral("Stopped"));
    QCOMPARE(boxes.Boxes().back().Kind, MessageBoxKind::Warning);
    QVERIFY(f->isVisible() && !f->Form2()->isVisible());
  }

  // A medium that stops answering, in the search pass or in the recovery pass, ends the
  // scan with its report; nothing half-written stays behind.
  void sourceThatStopsReadingEndsWithAReport() {
    for (bool duringRecovery : {false, true}) {
      test::TempDir out;
      test::ControlledSource* source = nullptr;
      auto f = WindowOver(source, test::JpegRun(Baseline(), 40), out);
      QVERIFY(f);
      if (duringRecovery) {
        connect(&f->Scanner(), &ScanWorker::PhaseChanged, f.get(), [&](int pass) {
          if (pass == int(ScanPass::Recovery)) source->failFromRead = 0;
        });
        source->delayMs = 10;
      } else {
        source->failFromRead = 8;
      }
      ScopedMessageBoxRecorder boxes;
      f->Button12->click();
      QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
      int written = test::CountFiles(out.path().string(), ".JPG");
      QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file ") + QString::number(written));
      QVERIFY(written < 40);
      for (const auto& content : ContentsOf(out.path().string(), ".JPG")) QCOMPARE(content, Baseline());
      QVERIFY(f->isVisible());
      QVERIFY(!HasWorkFiles(out.path().string()));
    }
  }

  // The output folder vanishes after the checks: every save fails and the question is
  // asked on the window thread while the scan waits. Abort stops the scan at the first
  // failure; Ignore gives each file up and goes on.
  void failedSaveAsksAbortRetryIgnore() {
    for (MessageBoxAnswer answer : {MessageBoxAnswer::Abort, MessageBoxAnswer::Ignore}) {
      test::TempDir root;
      const std::filesystem::path folder = root.path() / "out";
      auto f = WindowOverSlowPhotos(folder);
      QVERIFY(f);
      ScopedMessageBoxRecorder boxes(answer);
      f->Button12->click();
      QVERIFY(f->Scanner().Running());
      std::error_code ec;
      QVERIFY(std::filesystem::remove_all(folder, ec) > 0);
      QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty() &&
                                   boxes.Boxes().back().Kind != MessageBoxKind::AbortRetryIgnore,
                               kLongWait);
      size_t questions = 0;
      for (const auto& b : boxes.Boxes()) {
        if (b.Kind != MessageBoxKind::AbortRetryIgnore) continue;
        ++questions;
        QVERIFY2(b.Text.startsWith(QStringLiteral("Failed save file: \n\n") + QString::fromStdString(folder.string())),
                 qPrintable(b.Text));
        QCOMPARE(b.Caption, QStringLiteral("Error"));
      }
      QCOMPARE(questions, answer == MessageBoxAnswer::Abort ? size_t(1) : size_t(5));
      // Files that could not be written make a failed scan, never a finished one.
      QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file 0"));
      QCOMPARE(boxes.Boxes().back().Caption, QStringLiteral("Failed"));
      QVERIFY2(boxes.LastText().contains(QStringLiteral("could not be saved")), qPrintable(boxes.LastText()));
      QVERIFY(!std::filesystem::exists(folder));
      QVERIFY(f->isVisible());
    }
  }

  // Closing the main window, or SIGTERM to the program, while a scan runs stops the scan
  // first; the window closes once the scan has ended, with no report and nothing
  // half-written left: the folder keeps what continues the scan.
  void closingTheWindowStopsTheScanFirst() {
    for (bool bySignal : {false, true}) {
      test::TempDir out;
      test::ControlledSource* source = nullptr;
      auto f = WindowOver(source, test::JpegRun(Baseline(), 100), out);
      QVERIFY(f);
      source->delayMs = 10;  // all types: the stream work files are in use
      ScopedMessageBoxRecorder boxes;
      QSignalSpy closed(f.get(), &TForm1::Closed);
      StopSignals stopSignals;
      connect(&stopSignals, &StopSignals::Received, f.get(), &TForm1::StopAndClose);
      f->Button12->click();
      QVERIFY(f->Scanner().Running());
      QTest::qWait(100);
      QVERIFY(HasWorkFiles(out.path().string()));
      if (bySignal)
        ::kill(::getpid(), SIGTERM);
      else
        QVERIFY(!f->close());
      QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kLongWait);
      QVERIFY(!f->Busy());
      QVERIFY(boxes.Boxes().empty());
      QVERIFY(!f->Form2()->isVisible() && !f->Form3()->isVisible() && !f->isVisible());
      QVERIFY(ScanStateKeeper::StateIn(out.path().string() + "/"));
      QCOMPARE(test::CountFiles(out.path().string(), ".part"), 0);
      QVERIFY(!f->Model().IsOpen());
    }
  }

  // A scan stopped after a few files, started again into its folder: Yes to "Continue the
  // previous scan?" ends as an uninterrupted scan; No removes the state and its work files
  // and scans afresh. Other options cannot continue it: No starts nothing, Yes scans afresh.
  void stoppedScanIsContinuedOrStartedAfresh() {
    for (int way = 0; way < 3; ++way) {
      test::TempDir out;
      const std::string folder = out.path().string();
      test::ControlledSource* source = nullptr;
      auto f = WindowOver(source, test::JpegRun(Baseline(), 30), out);
      QVERIFY(f);
      source->delayMs = 5;  // all types: the stream work files are kept too
      int files = 0;
      auto stopAfterFive = connect(&f->Scanner(), &ScanWorker::FileRecovered, f.get(), [&] {
        if (++files == 5) f->Form2()->Button2->click();
      });
      ScopedMessageBoxRecorder boxes(way == 0 ? MessageBoxAnswer::Yes : MessageBoxAnswer::No);
      f->Button12->click();
      QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
      disconnect(stopAfterFive);
      source->delayMs = 0;
      const int written = test::CountFiles(folder, ".JPG");
      QVERIFY2(written >= 5 && written < 30, qPrintable(QString::number(written)));
      QVERIFY2(boxes.LastText().endsWith(QStringLiteral("start the rescue again with the same folder and options.")),
               qPrintable(boxes.LastText()));
      QVERIFY(ScanStateKeeper::StateIn(folder + "/") && HasWorkFiles(folder));

      boxes.Clear();
      if (way == 2) {
        f->TypeMask = kTypeJpg;
        f->Button12->click();
        QCOMPARE(boxes.Boxes().size(), size_t(1));
        QVERIFY2(boxes.LastText().contains(QStringLiteral("cannot be continued:\nThe saved scan in ")) &&
                     boxes.LastText().contains(QStringLiteral("was made with other options")),
                 qPrintable(boxes.LastText()));
        QVERIFY(!f->Scanner().Running() && f->isVisible());
        QVERIFY(ScanStateKeeper::StateIn(folder + "/"));
        boxes.SetAnswer(MessageBoxAnswer::Yes);
        boxes.Clear();
      }
      f->Button12->click();
      QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && boxes.Boxes().size() == 2, kLongWait);
      QVERIFY2(boxes.Boxes()[0].Text.contains(way == 2 ? QStringLiteral("cannot be continued")
                                                       : QStringLiteral("Continue the previous scan?")),
               qPrintable(boxes.Boxes()[0].Text));
      QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file 30"));
      QCOMPARE(boxes.Boxes().back().Caption, QStringLiteral("Finished"));
      // Continued, each file is there once; afresh, the new scan's files come beside the old.
      QCOMPARE(test::CountFiles(folder, ".JPG"), way == 0 ? 30 : written + 30);
      for (const auto& content : ContentsOf(folder, ".JPG")) QCOMPARE(content, Baseline());
      QVERIFY(!ScanStateKeeper::StateIn(folder + "/") && !HasWorkFiles(folder));
      QVERIFY(!std::filesystem::exists(out / "morvane-scan.journal"));
    }
  }

  // SIGTERM while the save question waits for an answer that does not come: the question
  // goes, the scan stops as Stop does and the window closes.
  void stopSignalDuringAQuestionDoesNotWaitForTheUser() {
    test::TempDir root;
    const std::filesystem::path folder = root.path() / "out";
    auto f = WindowOverSlowPhotos(folder);
    QVERIFY(f);
    QSignalSpy closed(f.get(), &TForm1::Closed);
    StopSignals stopSignals;
    connect(&stopSignals, &StopSignals::Received, f.get(), &TForm1::StopAndClose);
    int questions = 0;
    bool waitedForTheUser = false;
    SetMessageBoxResponder([&](QWidget* parent, const MessageBoxRequest& box) {
      if (box.Kind != MessageBoxKind::AbortRetryIgnore) return MessageBoxAnswer::Ok;
      ++questions;
      QDialog unanswered(parent);  // a user who is away, for ten seconds
      QTimer::singleShot(50, [] { ::kill(::getpid(), SIGTERM); });
      QTimer::singleShot(10000, &unanswered, [&] {
        waitedForTheUser = true;
        unanswered.reject();
      });
      unanswered.exec();
      return MessageBoxAnswer::Retry;
    });
    f->Button12->click();
    std::error_code ec;
    QVERIFY(std::filesystem::remove_all(folder, ec) > 0);
    QTRY_COMPARE_WITH_TIMEOUT(closed.count(), 1, kLongWait);
    SetMessageBoxResponder({});
    QCOMPARE(questions, 1);
    QVERIFY(!waitedForTheUser);
    QVERIFY(!f->Busy() && !f->isVisible() && !f->Model().IsOpen());
  }

  // The stream work files cannot be made (a folder is in the way under every name they may
  // take): the message comes before the recovery window and the scan waits while it is read;
  // the final count follows it; the folders that were there before stay.
  void workFileMessageComesFirstAndTheScanWaitsForIt() {
    test::TempDir out;
    std::filesystem::create_directory(out / "FILESTAR.TMP");
    for (int n = 1; n < 100; ++n) std::filesystem::create_directory(out / ("FILESTAR_" + std::to_string(n) + ".TMP"));
    test::ControlledSource* source = nullptr;
    auto f = WindowOver(source, test::JpegRun(Baseline(), 4), out);
    QVERIFY(f);
    bool recoveryBegun = false;
    connect(&f->Scanner(), &ScanWorker::PhaseChanged, f.get(), [&](int pass) {
      if (pass == int(ScanPass::Recovery)) recoveryBegun = true;
    });
    QStringList order;
    bool recoveryDuringMessage = true;
    QString lastCaption;
    SetMessageBoxResponder([&](QWidget*, const MessageBoxRequest& box) {
      order << box.Text.section(QLatin1Char('\n'), 0, 0);
      lastCaption = box.Caption;
      if (box.Text == QStringLiteral("Can't create TMP file!")) {
        // A real box keeps the events flowing while it is open.
        QTest::qWait(300);
        recoveryDuringMessage = recoveryBegun || f->Form2()->isVisible();
      }
      return MessageBoxAnswer::Ok;
    });
    f->Button12->click();
    QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && order.size() == 2, kLongWait);
    SetMessageBoxResponder({});
    QCOMPARE(order, (QStringList{"Can't create TMP file!", "Rescued file 0"}));
    QCOMPARE(lastCaption, QStringLiteral("Failed"));
    QVERIFY(!recoveryDuringMessage);
    QVERIFY(std::filesystem::is_directory(out / "FILESTAR.TMP"));
    QVERIFY(!std::filesystem::exists(out / "FILETYPE.TMP"));
  }

  // Cancel in the search window through the main window's wiring: the search ends early,
  // what it found so far is recovered, and the count is reported.
  void cancellingTheSearchRecoversWhatWasFound() {
    test::TempDir out;
    test::ControlledSource* source = nullptr;
    auto f = WindowOver(source, test::JpegRun(Baseline(), 200), out);
    QVERIFY(f);
    f->TypeMask = kTypeJpg;
    source->delayMs = 150;  // the search reads in large blocks: a few slow reads
    connect(&f->Scanner(), &ScanWorker::SearchProgress, f.get(), [&] { f->Form3()->Button1->click(); },
            Qt::SingleShotConnection);
    ScopedMessageBoxRecorder boxes;
    f->Button12->click();
    QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
    int written = test::CountFiles(out.path().string(), ".JPG");
    QVERIFY2(written < 200, qPrintable(QString::number(written)));
    QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file ") + QString::number(written));
    QVERIFY(boxes.LastText().contains(QStringLiteral("The search was cancelled")));
    for (const auto& content : ContentsOf(out.path().string(), ".JPG")) QCOMPARE(content, Baseline());
    QVERIFY(f->isVisible() && !f->Form3()->isVisible());
  }

  // "Scan free space only" on a volume whose allocation table cannot be read: the scan
  // searches everything, and the box is cleared and disabled afterwards.
  void freeSpaceOnlyIsClearedAndDisabledWhenTheMapFails() {
    test::TempDir dir, out;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    auto f = std::make_unique<TForm1>(test::TestStartup());
    f->show();
    auto owned = std::make_unique<test::ControlledSource>(test::ReadFileBytes(img));
    test::ControlledSource* source = owned.get();
    QVERIFY(f->OpenSource(std::move(owned), QStringLiteral("vol.img")));
    f->Edit2->setText(QString::fromStdString(out.path().string()));
    f->TypeMask = kTypeJpg;
    QVERIFY(f->CheckBox8->isEnabled());
    f->CheckBox8->setChecked(true);
    source->failFromRead = source->reads.load();  // the medium stops answering now
    ScopedMessageBoxRecorder boxes;
    f->Button12->click();
    QTRY_VERIFY_WITH_TIMEOUT(!f->Scanner().Running() && !boxes.Boxes().empty(), kLongWait);
    QCOMPARE(CountLine(boxes), QStringLiteral("Rescued file 0"));
    QVERIFY(!f->CheckBox8->isChecked());
    QVERIFY(!f->CheckBox8->isEnabled());
  }

  // The backup copies the source byte for byte; cancelled, it asks whether to delete the
  // partial image and does what the answer says.
  void backupCopiesAndCancelAsksToDelete() {
    test::TempDir out;
    test::ControlledSource* source = nullptr;
    std::vector<uint8_t> bytes = test::JpegRun(Baseline(), 150);  // five 1 MiB chunks
    auto f = WindowOver(source, bytes, out);
    QVERIFY(f);
    std::string image = out / "copy.img";
    f->SaveImageDialog = [&] { return QString::fromStdString(image); };
    {
      ScopedMessageBoxRecorder boxes;
      f->Button11->click();
      QVERIFY(!f->isVisible() && f->Form3()->isVisible());
      QTRY_VERIFY_WITH_TIMEOUT(!f->Backup().Running() && !boxes.Boxes().empty(), kLongWait);
      // Ended at 100%, with the image's path and size.
      QCOMPARE(f->Form3()->Label2->text(), QStringLiteral("Percent: 100.00%"));
      const QString size = QString::fromStdString(FormatBytes(int64_t(bytes.size())));
      QCOMPARE(boxes.LastText(), QStringLiteral("Finished!\n\nImage: %1 (%2)").arg(QString::fromStdString(image), size));
      QCOMPARE(boxes.Boxes().back().Caption, QStringLiteral("Prompt"));
      QVERIFY(test::ReadFileBytes(image) == bytes);
      QVERIFY(f->isVisible() && !f->Form3()->isVisible());
      // An image that is there already is replaced only when the user says so.
      boxes.Clear();
      boxes.SetAnswer(MessageBoxAnswer::No);
      f->Button11->click();
      QCOMPARE(boxes.Boxes().size(), size_t(1));
      QCOMPARE(boxes.LastText(), QString::fromStdString(image) + QStringLiteral(" already exists. Replace it?"));
      QVERIFY(!f->Backup().Running() && f->isVisible());
    }
    for (MessageBoxAnswer answer : {MessageBoxAnswer::No, MessageBoxAnswer::Yes}) {
      std::filesystem::remove(image);
      source->delayMs = 150;  // the backup reads 1 MiB at a time: a few slow reads
      f->Edit3->setText(QStringLiteral("0"));
      f->Edit4->setText(QString::number(bytes.size() / 512 - 1));
      connect(&f->Backup(), &BackupWorker::BackupProgress, f.get(), [&] { f->Form3()->Button1->click(); },
              Qt::SingleShotConnection);
      ScopedMessageBoxRecorder boxes(answer);
      f->Button11->click();
      QTRY_VERIFY_WITH_TIMEOUT(!f->Backup().Running(), kLongWait);
      QCOMPARE(boxes.Boxes().size(), size_t(1));
      QCOMPARE(boxes.LastText(), QStringLiteral("Didn't finish, delete target file?"));
      QCOMPARE(boxes.Boxes().back().Kind, MessageBoxKind::YesNo);
      QCOMPARE(std::filesystem::exists(image), answer == MessageBoxAnswer::No);
      QVERIFY(f->isVisible() && !f->Form3()->isVisible());
    }
  }
};

QTEST_MAIN(WholeScanGuiTest)
#include "whole_scan_gui_test.moc"
