// The windows as they first appear, in each of the three languages: every text whole (no
// label, button or list cut short), the main window's "More >>" toggle, the expanded window
// on a 1366x768 screen, and which text each control of the main window carries.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QPlainTextEdit>
#include <QScreen>

#include "gui/bu_tree_view.h"
#include "gui/form1.h"
#include "gui/form2.h"
#include "gui/form3.h"
#include "gui/form6.h"
#include "main_window_fixture.h"

using namespace morvane;

namespace {

const Language kLanguages[] = {Language::English, Language::SimplifiedChinese, Language::TraditionalChinese};

// What a window manager's title bar takes at most.
constexpr int kTitleBar = 40;

const char* Name(Language l) {
  return l == Language::English ? "English" : l == Language::SimplifiedChinese ? "zh_CN" : "zh_TW";
}

// The visible controls of `window` whose text does not fit the room they were given.
QStringList CutTexts(QWidget* window) {
  QStringList cut;
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->isVisibleTo(window)) continue;
    QString what = w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className()) : w->objectName();
    if (auto* label = qobject_cast<QLabel*>(w)) {
      if (label->text().isEmpty()) continue;
      QSize need = label->wordWrap() ? QSize(0, label->heightForWidth(label->width())) : label->minimumSizeHint();
      if (label->width() < need.width() || label->height() < need.height())
        cut << QStringLiteral("%1 \"%2\" %3x%4 < %5x%6")
                   .arg(what, label->text())
                   .arg(label->width())
                   .arg(label->height())
                   .arg(need.width())
                   .arg(need.height());
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
      if (button->text().isEmpty()) continue;
      // A check box needs its whole hint (box and text); a push button its text and a
      // little room, as the style may ask for a wider button than the text needs.
      QString text = button->text();
      text.remove(QLatin1Char('&'));
      int need = qobject_cast<QCheckBox*>(w) ? button->sizeHint().width()
                                              : button->fontMetrics().horizontalAdvance(text) + 8;
      if (button->width() < need)
        cut << QStringLiteral("%1 \"%2\" %3 < %4").arg(what, button->text()).arg(button->width()).arg(need);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
      // The hint is the room of the longest item.
      if (combo->count() > 0 && combo->width() < combo->sizeHint().width())
        cut << QStringLiteral("%1 \"%2\" %3 < %4").arg(what, combo->currentText()).arg(combo->width()).arg(combo->sizeHint().width());
    }
  }
  cut.removeDuplicates();
  return cut;
}

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QApplication::processEvents();
    QTest::qWait(20);
  }
}

}  // namespace

class WindowLayoutTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { InitFace(Language::English); }

  // The main window with an image open, before and after "More >>", the chooser with
  // every kind shown at once, and the two progress windows.
  void everyTextFitsInEveryLanguage() {
    test::TempDir dir;
    std::string img = test::MakeFat32Image(dir);
    if (img.empty()) QSKIP("dosfstools missing");
    for (Language l : kLanguages) {
      InitFace(l);
      TForm1 f(test::TestStartup());
      f.show();
      QVERIFY(f.OpenImagePath(QString::fromStdString(img)));
      Settle();
      // The result of a long run in the status bar: every panel whole, none over the next.
      f.ShowResultInStatusBar(QString::fromStdString(FaceTexts().Text(27)) + QStringLiteral("1234567"));
      Settle();
      QStringList cut = CutTexts(&f);
      QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 main window: ").arg(Name(l)) + cut.join("; ")));
      for (int i = 0; i < 3; ++i)
        QVERIFY2(f.StatusPanel[i]->geometry().right() < f.StatusPanel[i + 1]->geometry().left(),
                 qPrintable(QStringLiteral("%1 status panel %2").arg(Name(l)).arg(i)));

      f.SpeedButton1->click();
      Settle();
      // The sector viewer shows the whole sector, up to its last line (1E0, the signature).
      QVERIFY2(f.Memo1->verticalScrollBar()->maximum() == 0,
               qPrintable(QStringLiteral("%1 viewer scrolls by %2").arg(Name(l)).arg(f.Memo1->verticalScrollBar()->maximum())));
      cut = CutTexts(&f);
      QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 expanded: ").arg(Name(l)) + cut.join("; ")));
      // Expanded, the whole window and a title bar fit the screen less its panel.
      const QRect screen = f.screen()->availableGeometry();
      QVERIFY2(screen.contains(f.geometry()) && f.height() + kTitleBar <= screen.height(),
               qPrintable(QStringLiteral("%1 expanded: %2x%3").arg(Name(l)).arg(f.width()).arg(f.height())));

      TForm6& chooser = *f.Form6();
      chooser.AddTypeLists();
      chooser.show();
      QTRY_VERIFY(chooser.ChecksReady());
      Settle();
      cut = CutTexts(&chooser);
      QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 chooser: ").arg(Name(l)) + cut.join("; ")));
      // No kind shortened with "…", and none below a scroll bar unless the screen is too
      // short for them all.
      QVERIFY2(chooser.tree->verticalScrollBar()->maximum() == 0 || chooser.height() + kTitleBar + 8 >= screen.height(),
               qPrintable(QStringLiteral("%1 chooser scrolls at height %2").arg(Name(l)).arg(chooser.height())));
      QVERIFY2(chooser.tree->ContentsWidth() <= chooser.tree->viewport()->width(),
               qPrintable(QStringLiteral("%1 chooser: %2 > %3")
                              .arg(Name(l))
                              .arg(chooser.tree->ContentsWidth())
                              .arg(chooser.tree->viewport()->width())));
      QVERIFY2(chooser.height() + kTitleBar <= screen.height(), qPrintable(QStringLiteral("%1 chooser height %2").arg(Name(l)).arg(chooser.height())));
      chooser.close();

      f.Form3()->PrepareForSearch(FaceTexts(), QStringLiteral("card.img"));
      f.Form3()->ShowSearchProgress(123456789, 987654321, 123456789, 4242);
      f.Form3()->show();
      f.Form2()->Prepare(FaceTexts(), QStringLiteral("card.img"));
      f.Form2()->ShowPassProgress(int(ScanPass::Recovery), 50, 100, 123456789, 4242);
      f.Form2()->show();
      Settle();
      cut = CutTexts(f.Form3()) + CutTexts(f.Form2());
      QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 progress windows: ").arg(Name(l)) + cut.join("; ")));
      // A long source path is shortened in the middle, whole in the tooltip: Stop and
      // Cancel stay on a 1024-pixel screen.
      const QString longPath = QStringLiteral("/media/user/") + QString(150, QLatin1Char('x')) + QStringLiteral("/card.img");
      f.Form3()->PrepareForSearch(FaceTexts(), longPath);
      f.Form2()->Prepare(FaceTexts(), longPath);
      Settle();
      for (QWidget* w : {static_cast<QWidget*>(f.Form3()), static_cast<QWidget*>(f.Form2())})
        QVERIFY2(w->width() <= 1024 - 40, qPrintable(QStringLiteral("%1 %2: %3").arg(Name(l), w->objectName()).arg(w->width())));
      QCOMPARE(f.Form2()->Label4->toolTip(), longPath);
      f.Form3()->SetSearchStop(true);
      f.Form3()->close();
      f.Form2()->SetScanFinished(true);
      f.Form2()->close();
    }
  }

  // "More >>" pressed twice gives back the window it started from, in every language.
  void moreTwiceReturnsToTheCollapsedSize() {
    for (Language l : kLanguages) {
      InitFace(l);
      TForm1 f(test::TestStartup());
      f.show();
      Settle();
      const QSize before = f.size();
      const int settingsTop = f.GroupBox1->y(), buttonTop = f.Button12->y();
      f.SpeedButton1->click();
      Settle();
      QVERIFY(f.ViewerBox->isVisible());
      QVERIFY2(f.height() > before.height() + 200, qPrintable(QString::number(f.height())));
      f.SpeedButton1->click();
      Settle();
      QVERIFY(!f.ViewerBox->isVisible());
      QCOMPARE(f.size(), before);
      QCOMPARE(f.GroupBox1->y(), settingsTop);
      QCOMPARE(f.Button12->y(), buttonTop);
    }
  }

  // Each control shows its own text: two texts swapped in the window fail here.
  void eachControlCarriesItsOwnText() {
    InitFace(Language::English);
    TForm1 f(test::TestStartup());
    const std::pair<QWidget*, const char*> expected[] = {
        {f.Button1, "Open Drive"},         {f.Button10, "Open IMG file"},   {f.Button2, "Close"},
        {f.Label1, "Sector:"},             {f.Button5, "Goto"},             {f.Label2, "Save files to:"},
        {f.Button6, "Browse"},             {f.Label7, "Previous file system:"}, {f.Label6, "Cluster Size:"},
        {f.Label3, "Scan Range:"},         {f.Button12, "Start Rescue"},    {f.Button11, "Backup to IMG file"},
        {f.SpeedButton1, "More >>"},       {f.Label8, "Reason:"},           {f.Label4, "Photo time:"},
        {f.CheckBox7, "And rescue photo(s) which has not time stamp"},      {f.Label12, "Lost data on drive:"},
        {f.CheckBox6, "Extract JPEG data from RAW file"},                   {f.Button7, "View Folder"},
        {f.CheckBox8, "Scan free space only"},                              {f.Button14, "File Types"},
    };
    for (const auto& [w, text] : expected) {
      QString shown = w->property("text").toString();
      QVERIFY2(shown == QString::fromUtf8(text), qPrintable(w->objectName() + ": " + shown));
    }
    QVERIFY(f.Label5->text().startsWith(QStringLiteral("Simple steps: 1. Select drive")));
    QCOMPARE(f.ComboBox3->itemText(0), QStringLiteral("Deleted or Disappeared"));
    QCOMPARE(f.ComboBox3->itemText(1), QStringLiteral("Formatted"));
    QCOMPARE(f.ComboBox3->itemText(2), QStringLiteral("Repartitioned"));
  }
};

QTEST_MAIN(WindowLayoutTest)
#include "window_layout_test.moc"
