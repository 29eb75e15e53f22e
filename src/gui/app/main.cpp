// morvane-gui: the desktop program.
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QPainter>
#include <QPixmap>
#include <QTranslator>

#include "app/language.h"
#include "app/startup.h"
#include "gui/form1.h"
#include "gui/message_boxes.h"
#include "gui/stop_signals.h"

namespace {

// The program's icon, drawn like data/morvane.svg: a disk platter under a magnifying glass.
QIcon ProgramIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 128.0, size / 128.0);
    QLinearGradient bg(0, 0, 0, 128);
    bg.setColorAt(0, QColor(0x2f, 0x6f, 0xb5));
    bg.setColorAt(1, QColor(0x1b, 0x42, 0x75));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(6, 6, 116, 116), 22, 22);
    p.setBrush(QColor(0xe9, 0xee, 0xf5));
    p.drawEllipse(QPointF(56, 56), 38, 38);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xb9, 0xc6, 0xd6), 3));
    p.drawEllipse(QPointF(56, 56), 27, 27);
    p.drawEllipse(QPointF(56, 56), 16, 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1b, 0x42, 0x75));
    p.drawEllipse(QPointF(56, 56), 6, 6);
    QColor orange(0xf5, 0xa6, 0x23);
    p.setBrush(QColor(255, 255, 255, 90));
    p.setPen(QPen(orange, 7));
    p.drawEllipse(QPointF(80, 80), 20, 20);
    p.setPen(QPen(orange, 11, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(94, 94), QPointF(112, 112));
    p.setPen(Qt::NoPen);
    p.setBrush(orange);
    p.drawRoundedRect(QRectF(72, 70, 16, 20), 2, 2);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

// Qt's own captions (the Yes / No / Abort / Retry / Ignore buttons, the file dialogs) in the
// program's language, when Qt's translations are installed.
void TranslateQtCaptions(QApplication& app, morvane::Language language) {
  const char* name = language == morvane::Language::SimplifiedChinese    ? "qtbase_zh_CN"
                     : language == morvane::Language::TraditionalChinese ? "qtbase_zh_TW"
                                                                        : nullptr;
  if (!name) return;
  auto* translator = new QTranslator(&app);
  if (translator->load(QString::fromLatin1(name), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(translator);
  else
    delete translator;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace morvane;
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Morvane"));
  QApplication::setDesktopFileName(QStringLiteral("morvane"));
  QApplication::setWindowIcon(ProgramIcon());
  // The main window hides during a scan while the progress windows come and go; the
  // program ends when the main window closes, not when the last window does.
  QApplication::setQuitOnLastWindowClosed(false);

  const Language language = LanguageFromEnvironment();
  InitFace(language);
  TranslateQtCaptions(app, language);
  StartupResult startup = RunStartup(ProgramFolder());
  if (!startup.ok) {
    ShowPlainMessage(nullptr, QString::fromStdString(FaceTexts().Text(kBrandingErrorText)));
    return 3;
  }

  TForm1 form1(startup);
  QObject::connect(&form1, &TForm1::Closed, &app, &QApplication::quit);
  // SIGTERM, SIGHUP, Ctrl-C: stop as Stop does, clean up and end; a second signal ends at once.
  StopSignals stopSignals;
  QObject::connect(&stopSignals, &StopSignals::Received, &form1, &TForm1::StopAndClose);
  form1.show();
  return app.exec();
}
