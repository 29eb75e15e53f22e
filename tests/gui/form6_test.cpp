// The file-type chooser driven as a user drives it: boxes toggled in the tree, the four
// buttons, and TypeMask read back.
#include <QSignalSpy>
#include <QTest>

#include "filetypes/catalogue.h"
#include "gui/bu_tree_view.h"
#include "gui/form6.h"

using namespace morvane;

namespace {

// Opens the chooser as the main window does (lists added, then shown) and waits until the
// boxes have been set from TypeMask.
void Open(TForm6& f) {
  f.AddTypeLists();
  f.show();
  QTRY_VERIFY(f.ChecksReady());
}

bool Checked(TForm6& f, const char* text) {
  QTreeWidgetItem* item = f.FindItem(QString::fromLatin1(text));
  return item && TBUTreeView::GetChecked(item);
}

// The user clicks a box: the view changes first, the form reacts to the change.
void Toggle(TForm6& f, const char* text) {
  QTreeWidgetItem* item = f.FindItem(QString::fromLatin1(text));
  QVERIFY2(item, text);
  item->setCheckState(0, TBUTreeView::GetChecked(item) ? Qt::Unchecked : Qt::Checked);
}

}  // namespace

class Form6Test : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  void firstOpeningChecksEverythingAndReopeningAddsNothing() {
    TForm6 f;
    Open(f);
    QCOMPARE(f.windowTitle(), QStringLiteral("File Types"));
    QCOMPARE(f.btnAll->text(), QStringLiteral("Select &All"));
    QCOMPARE(f.btnClr->text(), QStringLiteral("Clea&r All"));
    QCOMPARE(f.Button1->text(), QStringLiteral("&Ok"));
    QCOMPARE(f.Button2->text(), QStringLiteral("&Cancel"));
    // The two picture lists form one group: five groups, 30 kinds.
    QCOMPARE(f.tree->topLevelItemCount(), 5);
    QCOMPARE(f.tree->AllNodes().size(), 35);
    QCOMPARE(f.FindItem("Picture")->childCount(), 7);
    for (QTreeWidgetItem* node : f.tree->AllNodes()) QVERIFY2(TBUTreeView::GetChecked(node), qPrintable(node->text(0)));

    f.Button2->click();
    QVERIFY(!f.isVisible());
    Open(f);  // the main window adds the lists again on every opening
    QCOMPARE(f.tree->AllNodes().size(), 35);
    QCOMPARE(f.tree->topLevelItemCount(), 5);
  }

  void clearingOneDocumentKindClearsOnlyItsBitAndItsGroup() {
    TForm6 f;
    Open(f);
    Toggle(f, "DOC/DOCX/WPS");
    QVERIFY(!Checked(f, "Document"));
    QVERIFY(Checked(f, "XLS/XLSX/ET"));
    QVERIFY(Checked(f, "Video"));
    f.Button1->click();
    QCOMPARE(f.result(), int(QDialog::Accepted));
    QCOMPARE(f.TypeMask(), kAllFileTypesMask & ~kTypeDoc);

    // Checking it again completes the group.
    Open(f);
    QVERIFY(!Checked(f, "Document"));
    Toggle(f, "DOC/DOCX/WPS");
    QVERIFY(Checked(f, "Document"));
  }

  void aGroupBoxPassesItsStateToAllItsItems() {
    TForm6 f;
    Open(f);
    f.btnClr->click();
    for (QTreeWidgetItem* node : f.tree->AllNodes()) QVERIFY(!TBUTreeView::GetChecked(node));
    Toggle(f, "Video");
    QTreeWidgetItem* video = f.FindItem("Video");
    QCOMPARE(video->childCount(), 13);
    for (int i = 0; i < video->childCount(); ++i) QVERIFY(TBUTreeView::GetChecked(video->child(i)));
    QVERIFY(!Checked(f, "Picture"));
    f.Button1->click();
    uint32_t video13 = kTypeAvi | kTypeAsf | kTypeMov | kTypeMp4 | kType3gp | kTypeMkv | kTypeVob | kTypeMpg |
                       kTypeWmv | kTypeMts | kTypeTs | kTypeDat | kTypeWav;
    QCOMPARE(f.TypeMask(), video13);

    // Clearing the group box clears its items; the last item checked again checks the group.
    Open(f);
    Toggle(f, "Video");
    for (int i = 0; i < video->childCount(); ++i) QVERIFY(!TBUTreeView::GetChecked(video->child(i)));
    Toggle(f, "RAR");
    Toggle(f, "ZIP");
    Toggle(f, "7Z");
    QVERIFY(!Checked(f, "Archive"));
    Toggle(f, "CAB");
    QVERIFY(Checked(f, "Archive"));
  }

  void clearAllThenOkGivesAnEmptyMaskAndSelectAllRestoresIt() {
    TForm6 f;
    Open(f);
    f.btnClr->click();
    f.Button1->click();
    QCOMPARE(f.TypeMask(), 0u);
    Open(f);
    for (QTreeWidgetItem* node : f.tree->AllNodes()) QVERIFY(!TBUTreeView::GetChecked(node));
    f.btnAll->click();
    f.Button1->click();
    QCOMPARE(f.TypeMask(), kAllFileTypesMask);
  }

  void cancelKeepsTheMaskAndReopeningShowsTheOldState() {
    TForm6 f;
    f.SetTypeMask(kTypeJpg | kTypeZip);
    Open(f);
    QVERIFY(Checked(f, "JPG"));
    QVERIFY(!Checked(f, "PNG"));
    QVERIFY(!Checked(f, "Picture"));
    QVERIFY(!Checked(f, "Archive"));
    Toggle(f, "Picture");
    f.btnClr->click();
    f.Button2->click();
    QCOMPARE(f.result(), int(QDialog::Rejected));
    QCOMPARE(f.TypeMask(), kTypeJpg | kTypeZip);

    Open(f);
    QVERIFY(Checked(f, "JPG"));
    QVERIFY(Checked(f, "ZIP"));
    QVERIFY(!Checked(f, "BMP"));
  }

  void okPressedBeforeTheBoxesAreSetDoesNotApplyACancelledShowing() {
    TForm6 f;
    Open(f);
    f.btnClr->click();
    f.Button2->click();
    f.show();  // OK at once, before the boxes are set from TypeMask again
    QVERIFY(!f.ChecksReady());
    f.Button1->click();
    QCOMPARE(f.TypeMask(), kAllFileTypesMask);
  }

  void spaceKeyTogglesTheCurrentBox() {
    TForm6 f;
    Open(f);
    QTreeWidgetItem* png = f.FindItem("PNG");
    f.tree->setFocus();
    f.tree->setCurrentItem(png);
    QTest::keyClick(f.tree, Qt::Key_Space);
    QVERIFY(!TBUTreeView::GetChecked(png));
    QVERIFY(!Checked(f, "Picture"));
  }

  void programmaticChecksAreNotReportedAsToggles() {
    TBUTreeView tree;
    QSignalSpy toggled(&tree, &TBUTreeView::NodeToggled);
    QTreeWidgetItem* group = tree.AddNode(nullptr, "Group");
    QTreeWidgetItem* item = tree.AddNode(group, "Item");
    tree.SetChecked(item, true);
    QVERIFY(TBUTreeView::GetChecked(item));
    QCOMPARE(toggled.count(), 0);
    item->setCheckState(0, Qt::Unchecked);  // as a click does
    QCOMPARE(toggled.count(), 1);
    QCOMPARE(toggled.at(0).at(1).toBool(), false);
    // No automatic tri-state: the group's box is the owner's business.
    QCOMPARE(group->checkState(0), Qt::Unchecked);
    TBUTreeView::SetBold(group, true);
    QVERIFY(TBUTreeView::GetBold(group));
    QVERIFY(!TBUTreeView::GetBold(item));
  }
};

QTEST_MAIN(Form6Test)
#include "form6_test.moc"
