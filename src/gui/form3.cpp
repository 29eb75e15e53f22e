#include "gui/form3.h"

#include <QLabel>
#include <QPushButton>

#include "gui/message_boxes.h"
#include "gui/progress_window.h"
#include "scan/observer.h"
#include "storage/streams.h"

namespace morvane {

TForm3::TForm3(QWidget* parent) : ProgressWindow(parent), texts_(&FaceTexts()) {
  setObjectName(QStringLiteral("Form3"));

  Label4 = NewProgressLabel(this, "Label4");
  Label1 = NewProgressLabel(this, "Label1");
  Label2 = NewProgressLabel(this, "Label2");
  Label3 = NewProgressLabel(this, "Label3");

  Button1 = new QPushButton(this);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setAutoDefault(false);

  BuildLayout(Label4, {Label1, Label2, Label3}, {Button1});

  connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);

  PrepareForSearch(*texts_, QString());
  searchStop_ = true;
}

QString TForm3::T(int n) const { return FaceText(*texts_, n); }

void TForm3::PrepareCommon(const TFaceTexts& texts, const QString& sourceName) {
  texts_ = &texts;
  ApplyFaceFont(this, texts);
  ShowSource(Label4, T(77), sourceName);
  Label3->clear();
  RateLine->clear();
  Button1->setText(T(55));
  Button1->setEnabled(true);
  searchStop_ = false;
}

void TForm3::PrepareForSearch(const TFaceTexts& texts, const QString& sourceName) {
  PrepareCommon(texts, sourceName);
  ShowSearchPhase();
}

void TForm3::PrepareForBackup(const TFaceTexts& texts, const QString& sourceName) {
  PrepareCommon(texts, sourceName);
  setWindowTitle(T(37));
  Label1->clear();
  Label2->clear();
}

void TForm3::ShowFreeSpacePhase() {
  setWindowTitle(T(87));
  Label1->clear();
  Label2->setText(T(51) + QStringLiteral("0"));
}

void TForm3::ShowSearchPhase() {
  setWindowTitle(T(49));
  Label1->setText(T(50) + QStringLiteral("0"));
  Label2->setText(T(51) + QStringLiteral("0"));
}

void TForm3::ShowVotePhase() {
  setWindowTitle(T(10));
  Label3->clear();
}

void TForm3::ShowCreatingImage() {
  setWindowTitle(T(37));
  Label1->setText(T(38));
  Label2->setText(T(39));
}

void TForm3::SetSearchStop(bool stop) { searchStop_ = stop; }

void TForm3::ShowPhase(int pass) {
  switch (static_cast<ScanPass>(pass)) {
    case ScanPass::CollectingFreeSpace: ShowFreeSpacePhase(); break;
    case ScanPass::Searching: ShowSearchPhase(); break;
    case ScanPass::Voting: ShowVotePhase(); break;
    default: break;
  }
}

void TForm3::ShowFreeSpaceProgress(qint64 total, qint64 done) {
  Label2->setText(T(51) + QString::fromStdString(FormatPercent(total, done)));
}

void TForm3::ShowSearchProgress(qint64 sector, qint64 rangeSectors, qint64 done, quint32 found) {
  Label1->setText(T(50) + QString::number(sector));
  Label2->setText(T(51) + QString::fromStdString(FormatPercent(rangeSectors, done)));
  Label3->setText(T(52) + QString::number(found));
}

void TForm3::ShowVoteProgress(qint64 sector, qint64 count, qint64 done) {
  Label1->setText(T(50) + QString::number(sector));
  Label2->setText(T(51) + QString::fromStdString(FormatPercent(count, done)));
}

void TForm3::ShowBackupProgress(qint64 sector, qint64 rangeSectors, qint64 doneSectors, qint64 badSectors) {
  Label1->setText(T(41) + QString::number(sector));
  Label2->setText(T(42) + QString::fromStdString(FormatPercent(rangeSectors, doneSectors)));
  if (badSectors > 0)
    Label3->setText(T(43) + QString::number(badSectors));
  else
    Label3->clear();
}

void TForm3::Button1Click() {
  searchStop_ = true;
  Button1->setEnabled(false);
  emit CancelClicked();
}

}  // namespace morvane
