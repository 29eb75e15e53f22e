// The search and backup window: its texts in each phase, Cancel, and the refusal to close
// while SearchStop is false.
#include <QSignalSpy>
#include <QTest>

#include "gui/form3.h"
#include "scan/observer.h"

using namespace morvane;

class Form3Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  void searchFreeSpaceAndVotePhasesShowTheirTexts() {
    TForm3 f;
    f.PrepareForSearch(FaceTexts(), "/dev/sdc1");
    QCOMPARE(f.windowTitle(), QStringLiteral("Searching file"));
    QCOMPARE(f.Label4->text(), QStringLiteral("Source: /dev/sdc1"));
    QCOMPARE(f.Label1->text(), QStringLiteral("Sector: 0"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 0"));
    QCOMPARE(f.Label3->text(), QString());
    QCOMPARE(f.Button1->text(), QStringLiteral("Cancel"));
    QVERIFY(!f.SearchStop());

    f.ShowPhase(int(ScanPass::CollectingFreeSpace));
    QCOMPARE(f.windowTitle(), QStringLiteral("Collecting free sectors"));
    QCOMPARE(f.Label1->text(), QString());
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 0"));
    f.ShowFreeSpaceProgress(1000, 1);
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 0.10%"));

    f.ShowPhase(int(ScanPass::Searching));
    QCOMPARE(f.windowTitle(), QStringLiteral("Searching file"));
    QCOMPARE(f.Label1->text(), QStringLiteral("Sector: 0"));
    f.ShowSearchProgress(6000000000LL, 2000, 1000, 17);
    QCOMPARE(f.Label1->text(), QStringLiteral("Sector: 6000000000"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 50.00%"));
    QCOMPARE(f.Label3->text(), QStringLiteral("Found: 17"));

    f.ShowPhase(int(ScanPass::Voting));
    QCOMPARE(f.windowTitle(), QStringLiteral("Tidying up the list"));
    QCOMPARE(f.Label3->text(), QString());
    f.ShowVoteProgress(88, 4096, 1024);
    QCOMPARE(f.Label1->text(), QStringLiteral("Sector: 88"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 25.00%"));

    f.ShowPhase(int(ScanPass::Recovery));  // not this window's phase: nothing changes
    QCOMPARE(f.windowTitle(), QStringLiteral("Tidying up the list"));
  }

  void backupShowsCreationProgressAndBadSectors() {
    TForm3 f;
    f.PrepareForSearch(FaceTexts(), "old");
    f.ShowSearchProgress(5, 10, 5, 3);
    f.PrepareForBackup(FaceTexts(), "/dev/sdd");
    QCOMPARE(f.windowTitle(), QStringLiteral("Backup to IMG"));
    QCOMPARE(f.Label4->text(), QStringLiteral("Source: /dev/sdd"));
    QCOMPARE(f.Label3->text(), QString());  // no count of the last scan left behind
    QCOMPARE(f.Button1->text(), QStringLiteral("Cancel"));
    QVERIFY(!f.SearchStop());
    f.ShowCreatingImage();
    QCOMPARE(f.Label1->text(), QStringLiteral("Creating IMG file..."));
    QCOMPARE(f.Label2->text(), QStringLiteral("Wait a moment"));
    f.ShowBackupProgress(2058, 2048, 2048, 0);  // a chunk may run past the range's end
    QCOMPARE(f.Label1->text(), QStringLiteral("Sector: 2058"));
    QCOMPARE(f.Label2->text(), QStringLiteral("Percent: 100.00%"));
    QCOMPARE(f.Label3->text(), QString());
    f.ShowBackupProgress(4106, 4096, 4096, 3);
    QCOMPARE(f.Label3->text(), QStringLiteral("Error: 3"));
  }

  void cancelSetsSearchStopOnceAndOnlyThenMayItClose() {
    TForm3 f;
    QSignalSpy cancelled(&f, &TForm3::CancelClicked);
    f.PrepareForSearch(FaceTexts(), "src");
    f.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f));
    QVERIFY(!(f.windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!f.close());
    QTest::keyClick(&f, Qt::Key_Escape);
    QVERIFY(f.isVisible());

    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(f.SearchStop());
    QVERIFY(!f.Button1->isEnabled());
    QTest::mouseClick(f.Button1, Qt::LeftButton);
    QCOMPARE(cancelled.count(), 1);
    QVERIFY(f.close());

    // The next run refuses again, with Cancel usable.
    f.PrepareForBackup(FaceTexts(), "src");
    f.show();
    QVERIFY(f.Button1->isEnabled());
    QVERIFY(!f.close());
    f.SetSearchStop(true);
    QVERIFY(f.close());
  }
};

QTEST_MAIN(Form3Test)
#include "form3_test.moc"
