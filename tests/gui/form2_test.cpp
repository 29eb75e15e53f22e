// The recovery window: its texts, the pause toggle and Stop acting on a run state as the
// scan worker does, and the refusal to close while the scan runs.
#include <QSignalSpy>
#include <QTest>

#include <atomic>

#include "gui/form2.h"
#include "scan/observer.h"
#include "scan/scan_options.h"

using namespace morvane;

class Form2Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  void prepareSetsTheTextsOfTheRecoveryPasses() {
    TForm2 f;
    f.Prepare(FaceTexts(), "/dev/sdb1");
    QCOMPARE(f.windowTitle(), QStringLiteral("Rescuing file"));
    QCOMPARE(f.Label4->text(), QStringLiteral("Source: /dev/sdb1"));
    QCOMPARE(f.Label1->text(), QStringLiteral("Success: "));
    QCOMPARE(f.Label2->text(), QStringLiteral("Progress: "));
    QCOMPARE(f.Label3->text(), QStringLiteral("Sector: "));
    QCOMPARE(f.SpeedButton1->text(), QStringLiteral("Pause"));
    QCOMPARE(f.Button2->text(), QStringLiteral("Stop"));
    QVERIFY(f.SpeedButton1->isCheckable());
    QVERIFY(!f.ScanFinished());
    QVERIFY(!(f.windowFlags() & Qt::WindowCloseButtonHint));

    f.ShowPassProgress(int(ScanPass::Recovery), 3, 12, 4096, 2);
    QCOMPARE(f.Label2->text(), QStringLiteral("Progress: 25%"));
    QCOMPARE(f.Label3->text(), QStringLiteral("Sector: 4096"));
    QCOMPARE(f.Label1->text(), QStringLiteral("Success: 2"));
    f.ShowCopyProgress(4096, 5000000000LL);  // sector numbers beyond 32 bits
    QCOMPARE(f.Label3->text(), QStringLiteral("Sector: 4096, 5000000000"));
    // The read rate with the time left, and the files by kind, as the command line shows them.
    f.ShowRate(50'000'000, 10, 1, 4);
    QCOMPARE(f.RateLine->text(), QStringLiteral("5.0 MB/s   left 30s"));
    for (const char* kind : {"JPG", "MOV", "JPG"}) f.CountRecovered(QString::fromLatin1(kind));
    QCOMPARE(f.KindsLine->text(), QStringLiteral("JPG 2  MOV 1"));

    const TFaceTexts& zh = FaceTextsFor(Language::SimplifiedChinese);
    f.Prepare(zh, "x.img");
    QCOMPARE(f.windowTitle(), QString::fromStdString(zh.Text(24)));
    QCOMPARE(f.SpeedButton1->text(), QString::fromStdString(zh.Text(53)));
    QCOMPARE(f.font().families().value(0), QString::fromStdString(zh.FontName()));
    f.ShowRecovered(7);
    QCOMPARE(f.Label1->text(), QString::fromStdString(zh.Text(25)) + "7");
  }

  void pauseTogglesAndStopEndsThePauseWithoutResuming() {
    TForm2 f;
    std::atomic<RunState> state{rsRunning};
    QObject::connect(&f, &TForm2::PauseToggled, [&](bool down) { PauseButtonClick(state, down); });
    QObject::connect(&f, &TForm2::StopClicked, [&] { StopButtonClick(state); });
    QSignalSpy paused(&f, &TForm2::PauseToggled);
    QSignalSpy stopped(&f, &TForm2::StopClicked);
    f.Prepare(FaceTexts(), "src");
    f.show();

    QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
    QVERIFY(f.SpeedButton1->isChecked());  // stays down
    QCOMPARE(state.load(), rsPaused);
    QCOMPARE(f.RateLine->text(), QStringLiteral("Paused"));  // said, not only shown by the button
    QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
    QVERIFY(!f.SpeedButton1->isChecked());
    QCOMPARE(state.load(), rsRunning);
    QCOMPARE(paused.count(), 2);
    QCOMPARE(paused.at(0).at(0).toBool(), true);
    QCOMPARE(paused.at(1).at(0).toBool(), false);

    QTest::mouseClick(f.SpeedButton1, Qt::LeftButton);
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    QCOMPARE(state.load(), rsStopped);
    QCOMPARE(stopped.count(), 1);
    // Nothing more to press for this scan; a second Stop cannot be sent.
    QVERIFY(!f.Button2->isEnabled());
    QVERIFY(!f.SpeedButton1->isEnabled());
    QTest::mouseClick(f.Button2, Qt::LeftButton);
    QCOMPARE(stopped.count(), 1);

    // The next scan starts with the buttons fresh.
    f.Prepare(FaceTexts(), "src");
    QVERIFY(f.Button2->isEnabled());
    QVERIFY(f.SpeedButton1->isEnabled());
    QVERIFY(!f.SpeedButton1->isChecked());
  }

  void refusesToCloseUntilTheScanHasFinished() {
    TForm2 f;
    f.Prepare(FaceTexts(), "src");
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QVERIFY(!f.close());  // Alt+F4 and the window manager's close end here
    QVERIFY(f.isVisible());
    QTest::keyClick(&f, Qt::Key_Escape);
    QVERIFY(f.isVisible());
    f.reject();
    QVERIFY(f.isVisible());

    f.SetScanFinished(true);
    QVERIFY(f.close());
    QVERIFY(!f.isVisible());
  }
};

QTEST_MAIN(Form2Test)
#include "form2_test.moc"
