// morvane_screenshots: pictures of the windows for the documentation.
//
//   morvane_screenshots OUTPUT_DIR SUFFIX IMAGE
//
// Opens IMAGE in the main window and writes main-SUFFIX.png, main-expanded-SUFFIX.png,
// chooser-SUFFIX.png, search-SUFFIX.png and recovery-SUFFIX.png. The language comes from
// the environment (LC_ALL, LC_MESSAGES, LANG), as in the program itself.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

#include "app/language.h"
#include "app/startup.h"
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/form6.h"
#include "scan/observer.h"

namespace {

void Settle(int ms = 150) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* w, const QString& dir, const QString& name) {
  Settle();
  QString path = QDir(dir).filePath(name);
  if (!w->grab().save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morvane;
  QApplication app(argc, argv);
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR SUFFIX IMAGE\n", argv[0]);
    return 2;
  }
  QString dir = QString::fromLocal8Bit(argv[1]), suffix = QString::fromLocal8Bit(argv[2]);
  InitFace(LanguageFromEnvironment());
  StartupResult startup;
  startup.ok = true;
  startup.branding = DefaultBranding();

  TForm1 f(startup);
  f.show();
  Settle();
  if (!f.OpenImagePath(QString::fromLocal8Bit(argv[3]))) return 1;
  f.Edit2->setText(QStringLiteral("/home/user/Recovered"));
  f.resize(std::max(f.sizeHint().width(), 820), f.sizeHint().height());
  bool ok = Save(&f, dir, "main-" + suffix + ".png");
  f.SpeedButton1->setChecked(true);
  Settle();
  f.resize(f.width(), f.sizeHint().height());
  ok = Save(&f, dir, "main-expanded-" + suffix + ".png") && ok;

  TForm6* chooser = f.Form6();
  chooser->SetTypeMask(f.TypeMask & ~0x70000u);  // office documents left out, to show both states
  chooser->AddTypeLists();
  chooser->show();
  for (int i = 0; i < 100 && !chooser->ChecksReady(); ++i) Settle(20);
  if (auto* tree = chooser->findChild<QTreeWidget*>()) tree->expandAll();
  ok = Save(chooser, dir, "chooser-" + suffix + ".png") && ok;
  chooser->hide();

  QString source = QString::fromStdString(f.Model().SourceName());
  TForm3* search = f.Form3();
  search->PrepareForSearch(FaceTexts(), source);
  search->ShowSearchProgress(81234, 131072, 81234, 17);
  search->ShowRate(41'591'808, 0.4, 81234, 131072);
  search->show();
  ok = Save(search, dir, "search-" + suffix + ".png") && ok;
  search->SetSearchStop(true);
  search->hide();

  TForm2* recovery = f.Form2();
  recovery->Prepare(FaceTexts(), source);
  recovery->ShowPassProgress(static_cast<int>(ScanPass::Recovery), 41, 100, 98765, 12);
  recovery->ShowRate(9'800'000, 0.8, 41, 100);
  for (const char* kind : {"JPG", "JPG", "MP4", "JPG", "PNG", "JPG", "JPG", "ZIP", "JPG", "JPG", "MOV", "JPG"})
    recovery->CountRecovered(QString::fromLatin1(kind));
  recovery->show();
  ok = Save(recovery, dir, "recovery-" + suffix + ".png") && ok;
  recovery->SetScanFinished(true);
  recovery->hide();
  return ok ? 0 : 1;
}
