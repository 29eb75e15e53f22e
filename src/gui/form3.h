// TForm3: the progress window of the search pass (with the free-space collection and the
// cluster-phase vote) and of the image backup. Four lines and Cancel. It cannot be closed
// by the user while SearchStop is false: no close button, Escape and Alt+F4 do nothing.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QString>

#include "app/language.h"
#include "gui/progress_window.h"

namespace morvane {

class TForm3 : public ProgressWindow {
  Q_OBJECT

 public:
  explicit TForm3(QWidget* parent = nullptr);

  QLabel* Label1;        // sector line
  QLabel* Label2;        // percent line
  QLabel* Label3;        // found count (scan) or error count (backup)
  QLabel* Label4;        // "Source:" + source name
  QPushButton* Button1;  // Cancel

  // Before the search: Label4 "Source:" + name, Label3 empty, Button1 "Cancel", SearchStop
  // false, then the search phase texts (ShowSearchPhase).
  void PrepareForSearch(const TFaceTexts& texts, const QString& sourceName);
  // Before a backup: Label4 "Source:" + name, Label3 empty, Button1 "Cancel", SearchStop
  // false, caption "Backup to IMG"; Label1 and Label2 empty.
  void PrepareForBackup(const TFaceTexts& texts, const QString& sourceName);

  // Caption "Collecting free sectors", Label1 empty, Label2 "Percent: 0".
  void ShowFreeSpacePhase();
  // Caption "Searching file", Label1 "Sector: 0", Label2 "Percent: 0".
  void ShowSearchPhase();
  // Caption "Tidying up the list", Label3 empty.
  void ShowVotePhase();
  // Caption "Backup to IMG", Label1 "Creating IMG file...", Label2 "Wait a moment".
  void ShowCreatingImage();

  // While false the window refuses to close.
  void SetSearchStop(bool stop);
  bool SearchStop() const { return searchStop_; }

 public slots:
  // ScanWorker::PhaseChanged: the free-space, search and vote phases change the texts;
  // the other phases leave the window as it is.
  void ShowPhase(int pass);
  // Label2 "Percent: " + FormatPercent(total, done).
  void ShowFreeSpaceProgress(qint64 total, qint64 done);
  // Label1 "Sector: " + sector, Label2 "Percent: " + FormatPercent(range, done),
  // Label3 "Found: " + found.
  void ShowSearchProgress(qint64 sector, qint64 rangeSectors, qint64 done, quint32 found);
  // Label1 "Sector: " + sector, Label2 "Percent: " + FormatPercent(count, done).
  void ShowVoteProgress(qint64 sector, qint64 count, qint64 done);
  // Label1 "Sector: " + sector, Label2 "Percent: " + FormatPercent(range, done),
  // Label3 "Error: " + bad sectors when there are any, else empty.
  void ShowBackupProgress(qint64 sector, qint64 rangeSectors, qint64 doneSectors, qint64 badSectors);

  // Cancel: SearchStop true, Button1 disabled, emits CancelClicked.
  void Button1Click();

 signals:
  void CancelClicked();

 protected:
  bool MayClose() const override { return searchStop_; }

 private:
  void PrepareCommon(const TFaceTexts& texts, const QString& sourceName);
  QString T(int n) const;

  const TFaceTexts* texts_;
  bool searchStop_ = true;
};

}  // namespace morvane
