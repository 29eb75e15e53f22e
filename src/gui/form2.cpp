#include "gui/form2.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "gui/message_boxes.h"
#include "gui/progress_window.h"

namespace morvane {

TForm2::TForm2(QWidget* parent) : ProgressWindow(parent), texts_(&FaceTexts()) {
  setObjectName(QStringLiteral("Form2"));

  Label4 = NewProgressLabel(this, "Label4");
  Label2 = NewProgressLabel(this, "Label2");
  Label3 = NewProgressLabel(this, "Label3");
  Label1 = NewProgressLabel(this, "Label1");
  QFont bold = Label1->font();
  bold.setBold(true);
  Label1->setFont(bold);
  KindsLine = NewProgressLabel(this, "KindsLine");

  SpeedButton1 = new QToolButton(this);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setCheckable(true);
  SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  SpeedButton1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  Button2 = new QPushButton(this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setAutoDefault(false);

  BuildLayout(Label4, {Label2, Label3, Label1, KindsLine}, {SpeedButton1, Button2});

  connect(SpeedButton1, &QToolButton::clicked, this, &TForm2::SpeedButton1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);

  Prepare(*texts_, QString());
  scanFinished_ = true;
}

void TForm2::Prepare(const TFaceTexts& texts, const QString& sourceName) {
  texts_ = &texts;
  ApplyFaceFont(this, texts);
  setWindowTitle(FaceText(texts, 24));
  ShowSource(Label4, FaceText(texts, 77), sourceName);
  RateLine->clear();
  KindsLine->clear();
  tally_ = {};
  Label1->setText(FaceText(texts, 25));
  Label2->setText(FaceText(texts, 65));
  Label3->setText(FaceText(texts, 41));
  SpeedButton1->setText(FaceText(texts, 53));
  SpeedButton1->setChecked(false);
  SpeedButton1->setEnabled(true);
  Button2->setText(FaceText(texts, 54));
  Button2->setEnabled(true);
  scanFinished_ = false;
}

void TForm2::SetScanFinished(bool finished) { scanFinished_ = finished; }

void TForm2::ShowPassProgress(int, qint64 done, qint64 count, qint64 sector, int recovered) {
  qint64 percent = count > 0 ? done * 100 / count : 100;
  Label2->setText(FaceText(*texts_, 65) + QString::number(percent) + QLatin1Char('%'));
  Label3->setText(FaceText(*texts_, 41) + QString::number(sector));
  ShowRecovered(recovered);
}

void TForm2::ShowCopyProgress(qint64 fileStartSector, qint64 currentSector) {
  Label3->setText(FaceText(*texts_, 41) + QString::number(fileStartSector) + QStringLiteral(", ") +
                  QString::number(currentSector));
}

void TForm2::ShowRecovered(int recoveredCount) {
  Label1->setText(FaceText(*texts_, 25) + QString::number(recoveredCount));
}

void TForm2::CountRecovered(const QString& kind) {
  tally_.Add(kind.toStdString(), 0);
  KindsLine->setText(QString::fromStdString(tally_.KindsText()));
}

void TForm2::UncountRecovered(const QString& kind) {
  tally_.Remove(kind.toStdString(), 0);
  KindsLine->setText(QString::fromStdString(tally_.KindsText()));
}

void TForm2::SpeedButton1Click() {
  ShowPaused(SpeedButton1->isChecked());
  emit PauseToggled(SpeedButton1->isChecked());
}

void TForm2::Button2Click() {
  // A stop also ends a pause; the buttons have nothing more to do for this scan.
  ShowPaused(false);
  SpeedButton1->setEnabled(false);
  Button2->setEnabled(false);
  emit StopClicked();
}

}  // namespace morvane
