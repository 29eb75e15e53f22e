// TForm2: the recovery window of a scan, shown during the recovery, late JPEG and stream
// passes. Four lines of progress, a Pause toggle and Stop. It cannot be closed by the user
// while the scan runs: no close button, Escape and Alt+F4 do nothing until ScanFinished.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QString>

#include "app/language.h"
#include "gui/progress_window.h"
#include "scan/scan_summary.h"

namespace morvane {

class TForm2 : public ProgressWindow {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);

  QLabel* Label1;             // "Success: " + recovered count
  QLabel* Label2;             // "Progress: " + percent
  QLabel* Label3;             // "Sector: " + sector (or start, current of a file being read)
  QLabel* Label4;             // "Source: " + source name
  QLabel* KindsLine;          // the recovered files by kind: "JPG 16  MOV 3"
  QToolButton* SpeedButton1;  // Pause, a toggle (checkable)
  QPushButton* Button2;       // Stop

  // Sets the window up for the recovery passes: caption "Rescuing file", the four labels,
  // the button texts; the pause button up and both buttons enabled; ScanFinished false.
  void Prepare(const TFaceTexts& texts, const QString& sourceName);

  // While false the window refuses to close.
  void SetScanFinished(bool finished);
  bool ScanFinished() const { return scanFinished_; }

 public slots:
  // ScanWorker::RecoveryProgress: Label2 "Progress: " + done*100/count + "%",
  // Label3 "Sector: " + sector, Label1 "Success: " + recovered.
  void ShowPassProgress(int pass, qint64 done, qint64 count, qint64 sector, int recovered);
  // ScanWorker::CopyProgress: Label3 "Sector: " + start + ", " + current.
  void ShowCopyProgress(qint64 fileStartSector, qint64 currentSector);
  // Label1 "Success: " + count.
  void ShowRecovered(int recoveredCount);
  // ScanWorker::FileRecovered: one more file of `kind` ("JPG") in the kinds line.
  void CountRecovered(const QString& kind);
  // ScanWorker::FileWithdrawn: one file of `kind` less.
  void UncountRecovered(const QString& kind);
  // Whether the scan is paused (the rate is not shown then).
  bool Paused() const { return SpeedButton1->isChecked(); }

  // The button handlers (also run by clicks).
  void SpeedButton1Click();  // emits PauseToggled with the button's state
  void Button2Click();       // emits StopClicked; both buttons are disabled afterwards

 signals:
  void PauseToggled(bool down);
  void StopClicked();

 protected:
  bool MayClose() const override { return scanFinished_; }

 private:
  const TFaceTexts* texts_;
  bool scanFinished_ = true;
  RecoveredTally tally_;
};

}  // namespace morvane
