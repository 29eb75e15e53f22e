#include "gui/form1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>

#include "app/language.h"
#include "app/output_folder.h"
#include "filetypes/catalogue.h"
#include "formats/recognisers.h"
#include "gui/drive_combo.h"
#include "gui/elevation.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/form6.h"
#include "gui/message_boxes.h"
#include "gui/own_texts.h"
#include "gui/progress_window.h"
#include "scan/scan_summary.h"
#include "storage/drive_list.h"
#include "storage/files.h"
#include "storage/same_device.h"

namespace morvane {

namespace {

QString T(int n) { return QString::fromStdString(FaceTexts().Text(n)); }

// Texts of the window that are not numbered language texts: the file dialogs' filters and
// the folder chooser's caption.
struct DialogTexts {
  QString imageFilter, allFilter, folderCaption;
};
DialogTexts DialogTextsFor(Language l) {
  switch (l) {
    case Language::SimplifiedChinese:
      return {QStringLiteral("磁盘映像文件(*.img)"), QStringLiteral("所有文件(*)"), QStringLiteral("恢复文件保存到")};
    case Language::TraditionalChinese:
      return {QStringLiteral("磁碟映像檔(*.img)"), QStringLiteral("所有檔案(*)"), QStringLiteral("救援檔案儲存至")};
    case Language::English:
      break;
  }
  return {QStringLiteral("Disk image files (*.img)"), QStringLiteral("All files (*)"),
          QStringLiteral("Save recovered files to")};
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

QString LabelText(const TLabelText& l) {
  return l.TextId == 0 ? QString() : T(l.TextId) + QString::fromStdString(l.Value);
}

// A control of class W named `name`.
template <typename W>
W* Named(const char* name, QWidget* parent) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}
QPushButton* NewButton(const char* name, QWidget* parent) { return Named<QPushButton>(name, parent); }
QLabel* NewLabel(const char* name, QWidget* parent) { return Named<QLabel>(name, parent); }
QLineEdit* NewEdit(const char* name, QWidget* parent) { return Named<QLineEdit>(name, parent); }
QComboBox* NewCombo(const char* name, QWidget* parent) { return Named<QComboBox>(name, parent); }
QCheckBox* NewCheck(const char* name, QWidget* parent) { return Named<QCheckBox>(name, parent); }

}  // namespace

TForm1::TForm1(const StartupResult& startup, QWidget* parent)
    : QMainWindow(parent),
      startup_(startup),
      scanWorker_(std::make_unique<ScanWorker>()),
      backupWorker_(std::make_unique<BackupWorker>()) {
  setObjectName(QStringLiteral("Form1"));
  BuildControls();
  form2_ = new TForm2(this);
  form3_ = new TForm3(this);
  form6_ = new TForm6(this);
  ConnectWorkers();
  FormCreate();
  PutTexts();
  RefreshFromModel();
}

TForm1::~TForm1() {
  // The workers read the source and the clock: end them before anything else goes.
  scanWorker_.reset();
  backupWorker_.reset();
}

bool TForm1::Busy() const { return scanWorker_->Running() || backupWorker_->Running(); }

// --- Building the window ------------------------------------------------------------

void TForm1::BuildControls() {
  auto* central = new QWidget(this);
  auto* root = new QVBoxLayout(central);
  root->setContentsMargins(12, 10, 12, 6);
  root->setSpacing(8);

  // Source: the drive list and the open and close buttons.
  auto* sourceBox = new QGroupBox(central);
  sourceBox->setObjectName(QStringLiteral("SourceBox"));
  auto* sourceLayout = new QGridLayout(sourceBox);
  Label12 = NewLabel("Label12", sourceBox);
  DriveComboBox1 = new TMyDriveComboBox(sourceBox);
  DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
  DriveComboBox1->setMinimumWidth(280);
  Button1 = NewButton("Button1", sourceBox);
  Button10 = NewButton("Button10", sourceBox);
  Button2 = NewButton("Button2", sourceBox);
  Label16 = NewLabel("Label16", sourceBox);
  Label16->setTextInteractionFlags(Qt::TextSelectableByMouse);
  sourceLayout->addWidget(Label12, 0, 0);
  sourceLayout->addWidget(DriveComboBox1, 0, 1);
  sourceLayout->addWidget(Button1, 0, 2);
  sourceLayout->addWidget(Button10, 0, 3);
  sourceLayout->addWidget(Button2, 0, 4);
  sourceLayout->addWidget(Label16, 1, 0, 1, 5);
  sourceLayout->setColumnStretch(1, 1);
  root->addWidget(sourceBox);

  Label5 = NewLabel("Label5", central);
  Label5->setWordWrap(true);
  Label5->setForegroundRole(QPalette::PlaceholderText);
  root->addWidget(Label5);

  // Scan settings, shown while a source is open.
  GroupBox1 = new QGroupBox(central);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  auto* settings = new QGridLayout(GroupBox1);
  settings->setHorizontalSpacing(10);
  settings->setVerticalSpacing(6);
  int row = 0;

  Label8 = NewLabel("Label8", GroupBox1);
  ComboBox3 = NewCombo("ComboBox3", GroupBox1);
  Label7 = NewLabel("Label7", GroupBox1);
  ComboBox2 = NewCombo("ComboBox2", GroupBox1);
  for (auto item : kFileSystemItems) ComboBox2->addItem(QString::fromUtf8(item.data(), int(item.size())));
  Label6 = NewLabel("Label6", GroupBox1);
  ComboBox1 = NewCombo("ComboBox1", GroupBox1);
  for (auto item : kClusterSizeItems) ComboBox1->addItem(QString::fromUtf8(item.data(), int(item.size())));
  auto* geometryRow = new QHBoxLayout;
  geometryRow->setSpacing(8);
  geometryRow->addWidget(ComboBox3, 2);
  geometryRow->addSpacing(12);
  geometryRow->addWidget(Label7);
  geometryRow->addWidget(ComboBox2, 1);
  geometryRow->addSpacing(12);
  geometryRow->addWidget(Label6);
  geometryRow->addWidget(ComboBox1, 1);
  settings->addWidget(Label8, row, 0);
  settings->addLayout(geometryRow, row++, 1);

  Label3 = NewLabel("Label3", GroupBox1);
  Edit3 = NewEdit("Edit3", GroupBox1);
  Edit4 = NewEdit("Edit4", GroupBox1);
  // A "from – to" pair of entries.
  auto fromTo = [this](QLineEdit* from, QLineEdit* to) {
    auto* pair = new QHBoxLayout;
    pair->addWidget(from, 1);
    pair->addWidget(new QLabel(QStringLiteral("–"), GroupBox1));
    pair->addWidget(to, 1);
    return pair;
  };
  settings->addWidget(Label3, row, 0);
  settings->addLayout(fromTo(Edit3, Edit4), row++, 1);

  Label2 = NewLabel("Label2", GroupBox1);
  Edit2 = NewEdit("Edit2", GroupBox1);
  Button6 = NewButton("Button6", GroupBox1);
  Button7 = NewButton("Button7", GroupBox1);
  auto* folderRow = new QHBoxLayout;
  folderRow->addWidget(Edit2, 1);
  folderRow->addWidget(Button6);
  folderRow->addWidget(Button7);
  settings->addWidget(Label2, row, 0);
  settings->addLayout(folderRow, row++, 1);

  Label4 = NewLabel("Label4", GroupBox1);
  Edit5 = NewEdit("Edit5", GroupBox1);
  Edit6 = NewEdit("Edit6", GroupBox1);
  Edit5->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
  Edit6->setPlaceholderText(QStringLiteral("YYYY-MM-DD"));
  settings->addWidget(Label4, row, 0);
  settings->addLayout(fromTo(Edit5, Edit6), row++, 1);
  CheckBox7 = NewCheck("CheckBox7", GroupBox1);
  settings->addWidget(CheckBox7, row++, 1);
  CheckBox6 = NewCheck("CheckBox6", GroupBox1);
  CheckBox6->setVisible(false);

  Button14 = NewButton("Button14", GroupBox1);
  selSpec = NewCombo("selSpec", GroupBox1);
  for (auto item : CameraModeItems()) selSpec->addItem(QString::fromUtf8(item.data(), int(item.size())).trimmed());
  CheckBox8 = NewCheck("CheckBox8", GroupBox1);
  auto* kindRow = new QHBoxLayout;
  kindRow->addWidget(Button14);
  kindRow->addWidget(selSpec, 1);
  kindRow->addSpacing(12);
  kindRow->addWidget(CheckBox8);
  settings->addLayout(kindRow, row++, 1);
  settings->setColumnStretch(1, 1);
  root->addWidget(GroupBox1);

  // Actions.
  Button12 = NewButton("Button12", central);
  Button12->setDefault(true);
  Button12->setMinimumHeight(34);
  QFont bold = Button12->font();
  bold.setBold(true);
  Button12->setFont(bold);
  Button11 = NewButton("Button11", central);
  SpeedButton1 = new QToolButton(central);
  SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
  SpeedButton1->setCheckable(true);
  SpeedButton1->setToolButtonStyle(Qt::ToolButtonTextOnly);
  auto* actions = new QHBoxLayout;
  actions->addWidget(Button12, 2);
  actions->addWidget(Button11, 1);
  actions->addStretch(1);
  actions->addWidget(SpeedButton1);
  root->addLayout(actions);

  // Sector viewer, behind "More >>".
  ViewerBox = new QGroupBox(central);
  ViewerBox->setObjectName(QStringLiteral("ViewerBox"));
  auto* viewer = new QVBoxLayout(ViewerBox);
  viewer->setContentsMargins(6, 6, 6, 6);
  viewer->setSpacing(6);
  Memo1 = new QPlainTextEdit(ViewerBox);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont mono(QStringLiteral("Courier New"));
  mono.setStyleHint(QFont::Monospace);
  // The dump is ASCII: a Latin monospace font first, as a Chinese locale's own monospace
  // font spaces the lines up to a third wider.
  mono.setFamilies({QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                    QStringLiteral("Noto Sans Mono"), QFontDatabase::systemFont(QFontDatabase::FixedFont).family()});
  mono.setPixelSize(12);
  Memo1->setFont(mono);
  // The header and the sixteen lines of a sector, no more, measured as the memo lays its
  // text out (which may take a pixel more per line than the font's line spacing).
  Memo1->setPlainText(QString::fromLatin1(kSectorDumpHeader.data(), int(kSectorDumpHeader.size())));
  const QTextBlock header = Memo1->document()->firstBlock();
  const QTextLine line = header.layout()->lineAt(0);
  const int margin = int(std::ceil(Memo1->document()->documentMargin()));
  Memo1->setMinimumWidth(int(std::ceil(line.naturalTextWidth())) + QFontMetrics(mono).averageCharWidth() * 4 +
                         2 * (margin + Memo1->frameWidth()) + Memo1->verticalScrollBar()->sizeHint().width());
  Memo1->setMinimumHeight(int(std::ceil(line.height())) * 17 + 2 * (margin + Memo1->frameWidth()) + 1);
  Memo1->clear();
  viewer->addWidget(Memo1, 1);
  Label1 = NewLabel("Label1", ViewerBox);
  Edit1 = NewEdit("Edit1", ViewerBox);
  Edit1->setMaximumWidth(200);
  Button5 = NewButton("Button5", ViewerBox);
  Button8 = NewButton("Button8", ViewerBox);
  Button3 = NewButton("Button3", ViewerBox);
  Button4 = NewButton("Button4", ViewerBox);
  Button9 = NewButton("Button9", ViewerBox);
  Button8->setText(QStringLiteral("|<"));
  Button3->setText(QStringLiteral("<"));
  Button4->setText(QStringLiteral(">"));
  Button9->setText(QStringLiteral(">|"));
  auto* nav = new QHBoxLayout;
  nav->addWidget(Label1);
  nav->addWidget(Edit1);
  nav->addWidget(Button5);
  nav->addStretch(1);
  for (QPushButton* b : {Button8, Button3, Button4, Button9}) {
    b->setMaximumWidth(48);
    nav->addWidget(b);
  }
  viewer->addLayout(nav);
  ViewerBox->setVisible(false);
  root->addWidget(ViewerBox, 1);
  // Collapsed, any height the window has beyond its controls goes below them.
  root->addStretch(0);

  setCentralWidget(central);

  // Status bar: sector size (or the last result), total sectors, status text, web address.
  statusBar()->setObjectName(QStringLiteral("StatusBar1"));
  for (int i = 0; i < 4; ++i) {
    StatusPanel[i] = new QLabel(this);
    StatusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    // Each panel as wide as its text (a label never shrinks below it): nothing is cut.
    StatusPanel[i]->setTextFormat(Qt::PlainText);
    StatusPanel[i]->setContentsMargins(4, 0, 8, 0);
    statusBar()->addWidget(StatusPanel[i], i == 2 ? 1 : 0);
  }
  StatusPanel[3]->setOpenExternalLinks(true);
  StatusPanel[3]->setTextFormat(Qt::RichText);

  // Handlers. `activated` is the user's choice only: setting an item by program never
  // runs a list's handler.
  connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
  connect(Button11, &QPushButton::clicked, this, &TForm1::Button11Click);
  connect(Button12, &QPushButton::clicked, this, &TForm1::Button12Click);
  connect(Button14, &QPushButton::clicked, this, &TForm1::Button14Click);
  connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
  connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
  connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
  connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
  connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
  connect(ComboBox3, &QComboBox::activated, this, &TForm1::ComboBox3Click);
  connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Click);
  connect(ComboBox1, &QComboBox::activated, this, &TForm1::ComboBox1Click);
  connect(SpeedButton1, &QToolButton::toggled, this, &TForm1::SpeedButton1Click);
  connect(CheckBox8, &QCheckBox::toggled, this, [this](bool on) {
    if (!filling_) model_.SetCheckBox8Checked(on);
  });
  Edit1->installEventFilter(this);
  Edit5->installEventFilter(this);
  Edit6->installEventFilter(this);
}

void TForm1::PutTexts() {
  QFont face = font();
  face.setFamilies({QString::fromStdString(FaceTexts().FontName()), QApplication::font().family()});
  setFont(face);

  Button1->setText(T(2));
  Button10->setText(T(3));
  Button2->setText(T(4));
  Label5->setText(T(60));
  Label1->setText(T(5));
  Button5->setText(T(6));
  Label2->setText(T(8));
  Button6->setText(T(9));
  Label7->setText(T(11));
  Label6->setText(T(12));
  Label3->setText(T(13));
  Button12->setText(T(14));
  Button11->setText(T(15));
  SpeedButton1->setText(T(62));
  Label8->setText(T(66));
  ComboBox3->clear();
  for (int id : kLossReasonTextIds) ComboBox3->addItem(T(id));
  Label4->setText(T(72));
  CheckBox7->setText(T(73));
  Label12->setText(T(78));
  CheckBox6->setText(T(81));
  Button7->setText(T(83));
  CheckBox8->setText(T(85));
  Button14->setText(T(89));
}

void TForm1::ConnectWorkers() {
  ScanWorker* s = scanWorker_.get();
  connect(s, &ScanWorker::PhaseChanged, this, &TForm1::OnScanPhase);
  connect(s, &ScanWorker::Finished, this, &TForm1::OnScanFinished);
  // Shown over the search window, which is the one on screen at that moment.
  connect(s, &ScanWorker::WorkFilesFailed, this,
          [this] { ShowPlainMessage(form3_->isVisible() ? static_cast<QWidget*>(form3_) : this,
                                    QStringLiteral("Can't create TMP file!")); });
  connect(s, &ScanWorker::FreeSpaceProgress, form3_, &TForm3::ShowFreeSpaceProgress);
  connect(s, &ScanWorker::SearchProgress, form3_, &TForm3::ShowSearchProgress);
  connect(s, &ScanWorker::SearchProgress, this, [this](qint64, qint64 range, qint64 done, quint32) {
    if (const ScanContext* scan = scanWorker_->Scan()) form3_->ShowRate(scan->BytesRead, Since(workStarted_), done, range);
  });
  connect(s, &ScanWorker::RecoveryProgress, this, [this](int, qint64 done, qint64 count, qint64, int) {
    const ScanContext* scan = scanWorker_->Scan();
    if (scan && !form2_->Paused())
      form2_->ShowRate(scan->BytesRead - recoveryBytes_, Since(recoveryStarted_), done, count);
  });
  connect(s, &ScanWorker::FileRecovered, form2_, [this](const QString&, const QString& kind) { form2_->CountRecovered(kind); });
  connect(s, &ScanWorker::FileWithdrawn, form2_, &TForm2::UncountRecovered);
  connect(s, &ScanWorker::VoteProgress, form3_, &TForm3::ShowVoteProgress);
  connect(s, &ScanWorker::RecoveryProgress, form2_, &TForm2::ShowPassProgress);
  connect(s, &ScanWorker::CopyProgress, form2_, &TForm2::ShowCopyProgress);
  connect(form2_, &TForm2::PauseToggled, s, &ScanWorker::Pause);
  connect(form2_, &TForm2::StopClicked, s, &ScanWorker::StopScan);
  connect(form3_, &TForm3::CancelClicked, this, [this] {
    if (scanWorker_->Running()) scanWorker_->CancelSearch();
    if (backupWorker_->Running()) backupWorker_->Cancel();
  });
  s->AskSaveFailed = [this](const QString& name) { return AskAbortRetryIgnore(form2_, FaceTexts(), name); };

  BackupWorker* b = backupWorker_.get();
  connect(b, &BackupWorker::FreeSpaceProgress, form3_, &TForm3::ShowFreeSpaceProgress);
  connect(b, &BackupWorker::CreatingImage, form3_, &TForm3::ShowCreatingImage);
  connect(b, &BackupWorker::BackupProgress, form3_, &TForm3::ShowBackupProgress);
  connect(b, &BackupWorker::BackupProgress, this, [this](qint64, qint64 range, qint64 done, qint64) {
    form3_->ShowRate(done * backupRequest_.ScanGeometry.SectorSize, Since(workStarted_), done, range);
  });
  connect(b, &BackupWorker::Finished, this, &TForm1::OnBackupFinished);
  b->AskDeletePartial = [this] { return AskYesNo(form3_, FaceTexts(), 44, 45); };
}

// --- Start-up -------------------------------------------------------------------------

void TForm1::FormCreate() {
  // Recovered files go to the user's home folder unless another is chosen; the program's
  // own folder is a system folder here.
  Edit2->setText(QDir::homePath());
  selSpec->setCurrentIndex(0);
  Edit5->setText(QStringLiteral("1990-01-01"));
  Edit6->setText(QStringLiteral("2099-12-31"));
  CheckBox7->setChecked(true);
  options_.ThumbnailPixelLimit = startup_.thumbnails.ThumbnailPixelLimit;
  options_.ThumbnailSpecialSizes = startup_.thumbnails.ThumbnailSpecialSizes;
}

void TForm1::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!shown_) {
    shown_ = true;
    FormShow();
  }
}

void TForm1::FormShow() {
  setWindowTitle(QString::fromStdString(WindowTitle(startup_.branding, FaceTexts())));
  StatusPanel[2]->setText(QString::fromStdString(StatusPanel2(startup_.branding, FaceTexts())));
  // The status bar's texts arrive after the first layout: widen the window to show them whole
  // (the bar's own frame takes a few pixels the label does not count).
  StatusPanel[2]->setMinimumWidth(StatusPanel[2]->minimumSizeHint().width() + 4);
  layout()->activate();
  if (width() < sizeHint().width()) resize(sizeHint().width(), height());
  QString web = QString::fromStdString(startup_.branding.WebAddress);
  QUrl url = QUrl::fromUserInput(web);
  StatusPanel[3]->setText(web.isEmpty() ? QString()
                                        : QStringLiteral("<a href=\"%1\">%2</a>")
                                              .arg(url.toString().toHtmlEscaped(), web.toHtmlEscaped()));
  {
    QSignalBlocker block(ComboBox3);
    ComboBox3->setCurrentIndex(0);
  }
  ShowResultInStatusBar(StatusPanel[0]->text());
  DriveComboBox1->FillDrives(ListDrives());
  DriveComboBox1->RemoveNetworkDrives();
  if (!clock_) clock_ = std::make_unique<ProgressClock>();
}

void TForm1::StopAndClose() {
  scanWorker_->StopUnattended();
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible() && dialog->isModal())
      dialog->done(QDialog::Rejected);
  close();
}

void TForm1::ShowResultInStatusBar(const QString& text) {
  StatusPanel[0]->setText(text);
  // The panels keep their whole texts: a longer one widens the window, never overlaps
  // (the window's own hint leaves the status bar out).
  if (!isVisible()) return;
  QCoreApplication::sendPostedEvents(statusBar(), QEvent::LayoutRequest);
  centralWidget()->layout()->activate();
  layout()->activate();
  setMinimumWidth(std::max(statusBar()->minimumSizeHint().width(), minimumSizeHint().width()));
  if (!isMaximized() && !isFullScreen() && width() < minimumWidth()) resize(minimumWidth(), height());
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (Busy()) {
    // Stop the work first; the window closes once the worker has ended.
    closeAfterWork_ = true;
    scanWorker_->StopScan();
    backupWorker_->Cancel();
    event->ignore();
    return;
  }
  model_.CloseSource();
  RefreshFromModel();
  event->accept();
  QMainWindow::closeEvent(event);
  emit Closed();
}

// --- Messages -------------------------------------------------------------------------

void TForm1::ShowError(int textId) { ShowMessageBox(this, FaceTexts(), textId, 17); }

void TForm1::ShowPlain(const QString& text) { ShowPlainMessage(this, text); }

// --- Showing the model ----------------------------------------------------------------

void TForm1::RefreshFromModel() {
  filling_ = true;
  const TGroupBox1State& g = model_.GroupBox1();
  GroupBox1->setVisible(g.Visible);
  Button12->setEnabled(g.Visible);
  Button11->setEnabled(g.Visible);
  auto put = [](QComboBox* c, const TComboState& s) {
    QSignalBlocker block(c);
    c->setCurrentIndex(s.ItemIndex);
    c->setEnabled(s.Enabled);
  };
  put(ComboBox3, g.ComboBox3);
  put(ComboBox2, g.ComboBox2);
  put(ComboBox1, g.ComboBox1);
  CheckBox8->setEnabled(g.CheckBox8Enabled);
  CheckBox8->setChecked(g.CheckBox8Checked);
  DriveComboBox1->setEnabled(model_.DriveComboBox1Enabled());
  Button1->setEnabled(model_.Button1Enabled());
  Button10->setEnabled(model_.Button10Enabled());
  Button2->setEnabled(model_.IsOpen());
  Label16->setText(LabelText(model_.Label16()));
  QString panel0 = LabelText(model_.StatusPanel0());
  StatusPanel[1]->setText(LabelText(model_.StatusPanel1()));
  ShowResultInStatusBar(panel0.isEmpty() ? StatusPanel[0]->text() : panel0);
  filling_ = false;
  RefreshViewer();
}

void TForm1::RefreshViewer() {
  const SectorViewer& v = model_.Viewer();
  const TViewerControls& c = v.Controls();
  QString dump = QString::fromStdString(v.Memo1());
  if (Memo1->toPlainText() != dump) Memo1->setPlainText(dump);
  Memo1->setEnabled(c.Memo1);
  Edit1->setEnabled(c.Edit1);
  if (c.Edit1 || !v.Edit1().empty()) Edit1->setText(QString::fromStdString(v.Edit1()));
  if (!c.Edit1) Edit1->clear();
  Button5->setEnabled(c.Button5);
  Button8->setEnabled(c.Button8);
  Button3->setEnabled(c.Button3);
  Button4->setEnabled(c.Button4);
  Button9->setEnabled(c.Button9);
}

void TForm1::AfterSourceOpened() {
  Edit3->setText(QString::fromStdString(model_.GroupBox1().Edit3));
  Edit4->setText(QString::fromStdString(model_.GroupBox1().Edit4));
  RefreshFromModel();
}

// --- Opening and closing --------------------------------------------------------------

void TForm1::Button1Click() {
  QString path = DriveComboBox1->SelectedPath();
  if (path.isEmpty()) return;
  FinishOpening(model_.OpenDrive(path.toStdString(), DriveComboBox1->currentText().toStdString()),
                /*offerElevation=*/true);
}

// True when the user was asked and either declined or the program restarted; false when no
// restart could be offered or it did not start.
bool TForm1::OfferElevation(const PartitionResult& failure) {
  if (RunningAsRoot() || (!RestartElevated && !CanElevate())) return false;
  QString question = T(failure.TextId) + QStringLiteral("\n\n") + ElevationQuestion(CurrentLanguage());
  if (!AskYesNoText(this, FaceTexts(), question, 45)) return true;
  bool started = RestartElevated ? RestartElevated()
                                 : StartElevated(ElevatedRestartCommand(QApplication::applicationFilePath(),
                                                                        QApplication::arguments().mid(1),
                                                                        QProcessEnvironment::systemEnvironment()));
  if (started) close();
  return started;
}

void TForm1::Button2Click() {
  model_.CloseSource();
  RefreshFromModel();
  // The settings are gone: the window gives their room back, and the last result goes.
  ShowResultInStatusBar(QString());
  if (!isVisible() || isMaximized() || isFullScreen()) return;
  centralWidget()->layout()->activate();
  layout()->activate();
  resize(width(), std::max(minimumSizeHint().height(), sizeHint().height()));
}

void TForm1::Button10Click() {
  model_.CloseSource();
  RefreshFromModel();
  QString path;
  if (OpenImageDialog) {
    path = OpenImageDialog();
  } else {
    DialogTexts d = DialogTextsFor(CurrentLanguage());
    path = QFileDialog::getOpenFileName(this, T(3), QString(), d.imageFilter + QStringLiteral(";;") + d.allFilter);
  }
  if (path.isEmpty()) return;
  OpenImagePath(path);
}

bool TForm1::OpenImagePath(const QString& path) {
  return FinishOpening(model_.OpenImage(path.toStdString()));
}

bool TForm1::OpenSource(std::unique_ptr<Source> source, const QString& name) {
  model_.CloseSource();
  return FinishOpening(model_.OpenSourceObject(std::move(source), name.toStdString()));
}

// Shows the outcome of an attempt to open a source: the window set up for it, or the
// refusal (with the offer to restart with more rights when a device was refused for lack
// of permission).
bool TForm1::FinishOpening(const PartitionResult& r, bool offerElevation) {
  if (!r.Ok()) {
    RefreshFromModel();
    if (offerElevation && r.Error == OpenError::PermissionDenied) {
      if (!OfferElevation(r))
        ShowMessageText(this, FaceTexts(),
                        T(r.TextId) + QStringLiteral("\n\n") +
                            PermissionAdvice(CurrentLanguage(), RunningAsRoot(), QString::fromStdString(r.Detail)),
                        17);
    } else {
      ShowError(r.TextId);
    }
    return false;
  }
  AfterSourceOpened();
  return true;
}

// --- The three lists ------------------------------------------------------------------

void TForm1::ComboBox3Click(int item) {
  if (filling_ || !model_.IsOpen()) return;
  PartitionResult r = model_.ComboBox3Click(item);
  RefreshFromModel();
  if (!r.Ok()) ShowError(r.TextId);
}

void TForm1::ComboBox2Click(int item) {
  if (filling_ || !model_.IsOpen()) return;
  model_.ComboBox2Click(item);
  RefreshFromModel();
}

void TForm1::ComboBox1Click(int item) {
  if (filling_ || !model_.IsOpen()) return;
  model_.ComboBox1Click(item, true);
  RefreshFromModel();
}

// --- Other controls of the scan screen ------------------------------------------------

void TForm1::Button6Click() {
  QString folder;
  if (FolderDialog) {
    folder = FolderDialog();
  } else {
    folder = QFileDialog::getExistingDirectory(this, DialogTextsFor(CurrentLanguage()).folderCaption, Edit2->text());
  }
  if (!folder.isEmpty()) Edit2->setText(QDir::toNativeSeparators(folder));
}

void TForm1::Button7Click() { ShowFolder(Edit2->text()); }

// Opens `folder` in the desktop's file manager; says so, with the path, when none opens.
void TForm1::ShowFolder(const QString& folder) {
  QFileInfo info(folder);
  if (folder.isEmpty() || !info.isDir()) {
    ShowError(21);
    return;
  }
  const QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
  const bool opened = OpenFolderView ? OpenFolderView(url) : QDesktopServices::openUrl(url);
  if (!opened) ShowMessageText(this, FaceTexts(), Own(OwnText::NoFileManager).arg(info.absoluteFilePath()), 45);
}

void TForm1::SpeedButton1Click(bool down) {
  // Expanding remembers the size the window had; collapsing goes back to it.
  if (down && isVisible() && !isMaximized() && !isFullScreen()) collapsedSize_ = size();
  // The simple steps give the viewer their line: expanded, the window fits a 768-pixel
  // screen with a desktop panel, whatever font the Chinese texts take.
  Label5->setVisible(!down);
  ViewerBox->setVisible(down);
  if (!isVisible() || isMaximized() || isFullScreen()) return;
  // Settle the layouts now, so that the size hints describe what the window shows.
  centralWidget()->layout()->activate();
  layout()->activate();
  if (down) {
    resize(std::max(width(), minimumSizeHint().width()), std::max(height(), sizeHint().height()));
    KeepOnScreen(this);
  } else {
    QSize back = collapsedSize_.isValid() ? collapsedSize_ : sizeHint();
    resize(back.expandedTo(minimumSizeHint()));
  }
}

void TForm1::Edit5Exit() { Edit5->setText(Edit5->text().trimmed()); }
void TForm1::Edit6Exit() { Edit6->setText(Edit6->text().trimmed()); }

// --- Sector viewer --------------------------------------------------------------------

void TForm1::Button5Click() {
  if (!model_.IsOpen()) return;
  int text = model_.Viewer().Goto(Edit1->text().toStdString());
  RefreshViewer();
  if (text != 0) ShowError(text);
}
void TForm1::Button8Click() {
  model_.Viewer().First();
  RefreshViewer();
}
void TForm1::Button3Click() {
  model_.Viewer().Previous();
  RefreshViewer();
}
void TForm1::Button4Click() {
  model_.Viewer().Next();
  RefreshViewer();
}
void TForm1::Button9Click() {
  model_.Viewer().Last();
  RefreshViewer();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    if (watched == Edit5) Edit5Exit();
    if (watched == Edit6) Edit6Exit();
  }
  if (watched == Edit1 && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    SectorViewer& v = model_.Viewer();
    switch (key->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        Button5Click();
        return true;
      case Qt::Key_Up:
        v.Previous();
        break;
      case Qt::Key_Down:
        v.Next();
        break;
      case Qt::Key_PageUp:
        v.PageUp();
        break;
      case Qt::Key_PageDown:
        v.PageDown();
        break;
      default:
        return QMainWindow::eventFilter(watched, event);
    }
    RefreshViewer();
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// --- File types -----------------------------------------------------------------------

void TForm1::Button14Click() {
  form6_->SetTypeMask(TypeMask);
  if (form6_->Execute() == QDialog::Accepted) TypeMask = form6_->TypeMask();
}

// --- The scan -------------------------------------------------------------------------

// The checks of the start button, in their order; each failure shows its message and
// ends the action with nothing started.
bool TForm1::TakeScanChecks() {
  if (TypeMask == 0) {
    ShowError(20);
    return false;
  }
  std::string folder = Edit2->text().toStdString();
  if (!OutputFolderUsable(false)) return false;
  if (TypeMask & kPhotoTypesMask) {
    DateRangeCheck check = TakePhotoDateRange(options_, Edit5->text().toStdString(), Edit6->text().toStdString(),
                                              CheckBox7->isChecked());
    if (check != DateRangeCheck::Ok) {
      std::string_view text = DateRangeCheckText(check, CurrentLanguage());
      ShowPlain(QString::fromUtf8(text.data(), qsizetype(text.size())));
      (check == DateRangeCheck::InvalidTo ? Edit6 : Edit5)->setFocus();
      return false;
    }
  }
  if (!OutputFolderUsable(true)) return false;
  model_.ComboBox1Click(model_.GroupBox1().ComboBox1.ItemIndex, false);
  options_.OutputFolder = WithSlash(folder);
  options_.CameraMode = CameraModeForItem(selSpec->currentIndex());
  options_.TypeMask = TypeMask;
  options_.FreeSpaceOnly = model_.GroupBox1().CheckBox8Enabled && CheckBox8->isChecked();
  options_.GeometryFromData = !model_.ClusterChosenByUser();
  options_.Threads = ProcessorCount();
  return true;
}

// Checks the folder of Edit2 (and with `create`, makes it when it is one level missing); a
// refusal names the folder and the system's reason with a warning.
bool TForm1::OutputFolderUsable(bool create) {
  const QString folder = Edit2->text();
  FolderCheckResult r = CheckOutputFolder(folder.toStdString(), *model_.SourceHandle(), create);
  if (r.Usable()) return true;
  const QString reason = QString::fromLocal8Bit(r.Reason.c_str());
  switch (r.Outcome) {
    case FolderCheck::NotGiven: ShowError(21); break;
    case FolderCheck::OnSource: ShowError(22); break;
    case FolderCheck::Missing: {
      QString parent = QFileInfo(QDir::cleanPath(folder)).path();
      ShowWarningText(this, FaceTexts(), Own(OwnText::FolderMissing).arg(folder, parent));
      break;
    }
    case FolderCheck::NotAFolder: ShowWarningText(this, FaceTexts(), Own(OwnText::FolderIsFile).arg(folder)); break;
    case FolderCheck::CreateFailed:
      ShowWarningText(this, FaceTexts(), Own(OwnText::FolderNotCreated).arg(folder, reason));
      break;
    case FolderCheck::NotWritable:
      ShowWarningText(this, FaceTexts(), Own(OwnText::FolderNotWritable).arg(folder, reason));
      break;
    case FolderCheck::Ok:
    case FolderCheck::Created: break;
  }
  Edit2->setFocus();
  return false;
}

void TForm1::Button12Click() {
  if (!model_.IsOpen() || Busy()) return;
  if (!TakeScanChecks()) return;

  ScanSetup setup;
  setup.Geometry = model_.ScanGeometry();
  setup.FirstSector = ParseSectorNumber(Edit3->text().toStdString());
  setup.LastSector = ParseSectorNumber(Edit4->text().toStdString());
  setup.Options = options_;
  scanGeometry_ = setup.Geometry;
  if (setup.FirstSector < 0 || setup.FirstSector > setup.LastSector ||
      setup.LastSector > setup.Geometry.PartitionLastSector) {
    ShowError(23);
    return;
  }
  if (!clock_) clock_ = std::make_unique<ProgressClock>();
  ScanContextResult created = ScanContext::Create(*model_.SourceHandle(), setup, *clock_, scanWorker_->Observer());
  if (created.Error == ScanSetupError::NoMemory) {
    ShowPlain(T(88));
    return;
  }
  if (!created.Scan) {
    ShowError(23);
    return;
  }

  std::unique_ptr<ScanStateKeeper> keeper = KeeperFor(setup, *created.Scan);
  if (!keeper) return;

  hide();
  form3_->PrepareForSearch(FaceTexts(), QString::fromStdString(model_.SourceName()));
  form3_->SetSearchStop(false);
  form3_->show();
  workStarted_ = std::chrono::steady_clock::now();
  scanWorker_->Start(std::move(created.Scan), model_.DetectedGeometry(), DefaultRecognisers(), std::move(keeper));
}

// What keeps the scan's state in its folder. A folder that holds an unfinished scan of the
// same source and options asks whether to continue it (Yes puts its state back into
// `scan`); one whose scan cannot be continued says why and asks whether to start afresh.
// Null when the user declines to start.
std::unique_ptr<ScanStateKeeper> TForm1::KeeperFor(const ScanSetup& setup, ScanContext& scan) {
  const ScanIdentity identity{model_.SourceName(), model_.SourceHandle()->SizeBytes(), SetupText(setup)};
  auto keeper = std::make_unique<ScanStateKeeper>(options_.OutputFolder, identity);
  if (!ScanStateKeeper::StateIn(options_.OutputFolder)) return keeper;
  const QString folder = QString::fromStdString(options_.OutputFolder);
  std::string refusal = keeper->Load();
  if (refusal.empty() && AskYesNoText(this, FaceTexts(), Own(OwnText::ContinueScan).arg(folder), 45)) {
    refusal = RestoreScan(scan, *keeper->Loaded(), options_.OutputFolder);
    if (refusal.empty()) return keeper;
  } else if (refusal.empty()) {
    keeper->Forget();
    return keeper;
  }
  if (!AskYesNoText(this, FaceTexts(), Own(OwnText::ScanNotContinued).arg(folder, QString::fromStdString(refusal)), 45))
    return nullptr;
  keeper->Forget();
  return keeper;
}

void TForm1::OnScanPhase(int pass) {
  switch (static_cast<ScanPass>(pass)) {
    case ScanPass::CollectingFreeSpace:
      form3_->ShowFreeSpacePhase();
      break;
    case ScanPass::Searching:
      form3_->ShowSearchPhase();
      break;
    case ScanPass::Voting:
      form3_->ShowVotePhase();
      break;
    case ScanPass::Recovery:
      recoveryStarted_ = std::chrono::steady_clock::now();
      recoveryBytes_ = scanWorker_->Scan() ? scanWorker_->Scan()->BytesRead.load() : 0;
      form3_->SetSearchStop(true);
      form3_->close();
      form2_->Prepare(FaceTexts(), QString::fromStdString(model_.SourceName()));
      form2_->SetScanFinished(false);
      form2_->show();
      break;
    case ScanPass::LateJpeg:
    case ScanPass::Streams:
    case ScanPass::Finished:
      break;
  }
}

void TForm1::FreeSpaceMapNotBuilt(bool cancelled) {
  model_.FreeSpaceMapNotBuilt(cancelled);
  RefreshFromModel();
}

void TForm1::OnScanFinished(const ScanReport& report) {
  form3_->SetSearchStop(true);
  form3_->close();
  form2_->SetScanFinished(true);
  form2_->close();
  if (options_.FreeSpaceOnly && !report.FreeSpaceMapBuilt) FreeSpaceMapNotBuilt(!report.FreeSpaceUnavailable);
  if (closeAfterWork_) {
    close();
    return;
  }
  show();
  ShowResultInStatusBar(T(27) + QString::number(report.RecoveredCount));
  ShowScanSummary(report);
}

// The final message: the count, the command line's closing summary in the window's
// language, the geometry advice when there is one; titled and marked as finished, stopped
// or failed, with a button that shows the folder.
void TForm1::ShowScanSummary(const ScanReport& report) {
  ScanOutcome outcome = scanWorker_->Outcome();
  outcome.Report = report;
  QString folder = QDir::cleanPath(QFileInfo(QString::fromStdString(options_.OutputFolder)).absoluteFilePath());
  outcome.Folder = folder.toStdString();
  const Language language = CurrentLanguage();
  QStringList lines;
  for (const std::string& line : ClosingSummary(outcome, language)) lines << QString::fromStdString(line);
  QString text = T(27) + QString::number(report.RecoveredCount) + QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
  if (auto advice = AdviseGeometry(report, scanGeometry_.SectorsPerCluster, scanGeometry_.SectorSize)) {
    // What would bring back the files the cluster geometry left out.
    QString cluster = QString::fromStdString(ClusterSizeName(advice->ClusterBytes));
    text += QStringLiteral("\n\n") + QString::fromStdString(GeometryAdviceText(*advice)) + QStringLiteral("\n\n") +
            T(66) + QLatin1Char(' ') + T(68) + QStringLiteral(", ") + T(12) + QLatin1Char(' ') + cluster +
            QStringLiteral("\nmorvane scan %1 -o %2 --reason formatted --cluster %3")
                .arg(QString::fromStdString(model_.SourceName()),
                     QString::fromStdString(FreshFolderBeside(options_.OutputFolder)), cluster);
  } else if (const std::string grid = GridFromDataText(report, scanGeometry_.SectorSize,
                                                       PlannedFileSystemName(model_.DetectedGeometry(), report));
             !grid.empty()) {
    text += QStringLiteral("\n\n") + QString::fromStdString(grid);
  }
  const ScanEnding ending = outcome.Ending();
  if (ending != ScanEnding::Finished && ScanStateKeeper::StateIn(options_.OutputFolder))
    text += QStringLiteral("\n\n") + Own(OwnText::ScanCanContinue);
  const MessageBoxKind kind = ending == ScanEnding::Failed    ? MessageBoxKind::Error
                              : ending == ScanEnding::Stopped ? MessageBoxKind::Warning
                                                              : MessageBoxKind::Information;
  if (ShowMessageBox(this, {kind, QString::fromStdString(EndingTitle(ending, language)), text, T(83)}) ==
      MessageBoxAnswer::Extra)
    ShowFolder(folder);
}

// --- The backup -----------------------------------------------------------------------

void TForm1::Button11Click() {
  if (!model_.IsOpen() || Busy()) return;
  BackupRequest req;
  req.ScanGeometry = model_.ScanGeometry();
  req.DetectedGeometry = model_.DetectedGeometry();
  req.FirstSector = ParseSectorNumber(Edit3->text().toStdString());
  req.LastSector = ParseSectorNumber(Edit4->text().toStdString());
  if (req.FirstSector < 0 || req.LastSector < req.FirstSector || req.LastSector > req.ScanGeometry.PartitionLastSector) {
    ShowError(35);
    return;
  }
  QString path;
  if (SaveImageDialog) {
    path = SaveImageDialog();
  } else {
    QFileDialog dlg(this, T(15), QString(), DialogTextsFor(CurrentLanguage()).imageFilter);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    // The source is refused before anything is asked: the replace question comes after.
    dlg.setOption(QFileDialog::DontConfirmOverwrite);
    dlg.setDefaultSuffix(QStringLiteral("img"));
    if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()) path = dlg.selectedFiles().first();
  }
  if (path.isEmpty()) return;
  req.ImagePath = path.toStdString();
  if (OutputEndangersSource(req.ImagePath, *model_.SourceHandle())) {
    ShowError(36);
    return;
  }
  if (QFileInfo::exists(path) && !AskYesNoText(this, FaceTexts(), Own(OwnText::ReplaceImage).arg(path), 45)) return;
  req.FreeSpaceOnly = model_.GroupBox1().CheckBox8Enabled && CheckBox8->isChecked();
  if (!clock_) clock_ = std::make_unique<ProgressClock>();
  backupRequest_ = req;

  hide();
  form3_->PrepareForBackup(FaceTexts(), QString::fromStdString(model_.SourceName()));
  form3_->SetSearchStop(false);
  form3_->show();
  workStarted_ = std::chrono::steady_clock::now();
  backupWorker_->Start(*model_.SourceHandle(), req, *clock_);
}

void TForm1::OnBackupFinished(const BackupResult& result) {
  if (backupRequest_.FreeSpaceOnly && !result.FreeSpaceMapBuilt)
    FreeSpaceMapNotBuilt(result.Outcome == BackupOutcome::CancelledCollecting);
  form3_->SetSearchStop(true);
  form3_->close();
  if (closeAfterWork_) {
    close();
    return;
  }
  // The main window first: the messages are centred on it.
  show();
  const QString image = QString::fromStdString(backupRequest_.ImagePath);
  const QString written = QStringLiteral("\n\n") + Own(OwnText::ImageWritten).arg(
      image, QString::fromStdString(FormatBytes(QFileInfo(image).size())));
  switch (result.Outcome) {
    case BackupOutcome::Finished: ShowMessageText(this, FaceTexts(), T(47) + written, 45); break;
    case BackupOutcome::FinishedBadSectors:
      ShowMessageText(this, FaceTexts(),
                      T(46) + written + QStringLiteral("\n\n") +
                          QString::fromStdString(UnreadableText(result.Unreadable, CurrentLanguage())),
                      45);
      break;
    case BackupOutcome::InvalidRange: ShowError(35); break;
    case BackupOutcome::NoMemory: ShowPlain(T(88)); break;
    case BackupOutcome::DiskFull:
      ShowMessageText(this, FaceTexts(), T(40) + QStringLiteral("\n\n") + QString::fromStdString(result.Error), 17);
      break;
    case BackupOutcome::WriteFailed:
    case BackupOutcome::TargetNotFile:
      ShowMessageText(this, FaceTexts(),
                      Own(OwnText::ImageNotWritten).arg(image) + QStringLiteral("\n\n") +
                          QString::fromStdString(result.Error),
                      17);
      break;
    case BackupOutcome::TargetIsSource: ShowError(36); break;
    case BackupOutcome::Cancelled:
    case BackupOutcome::CancelledCollecting: break;
  }
}

}  // namespace morvane
