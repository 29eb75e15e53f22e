// The message boxes: texts and captions from the language table, the answers of each kind,
// and the real box when no responder is installed.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "gui/message_boxes.h"

using namespace morvane;

namespace {

// Presses `button` on the next modal message box that appears.
void PressOnNextBox(QMessageBox::StandardButton button) {
  QTimer::singleShot(0, [button] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return PressOnNextBox(button);  // not up yet
    box->button(button)->click();
  });
}

}  // namespace

class MessageBoxesTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { InitFace(Language::English); }

  void textsAndCaptionsComeFromTheLanguageTable() {
    ScopedMessageBoxRecorder rec;
    ShowMessageBox(nullptr, FaceTexts(), 20, 17);
    ShowMessageBox(nullptr, FaceTexts(), 47, 45);
    ShowPlainMessage(nullptr, "No enough memory!");
    ShowWarningText(nullptr, FaceTexts(), "Cannot write into the folder /proc");
    AskAbortRetryIgnore(nullptr, FaceTexts(), "/out/TEST_ABCDEFGH.JPG");
    QCOMPARE(rec.Boxes().size(), size_t(5));
    const auto& b = rec.Boxes();
    QCOMPARE(b[0].Text, QStringLiteral("Please select file type to rescue!"));
    QCOMPARE(b[0].Caption, QStringLiteral("Error"));
    QCOMPARE(int(b[0].Kind), int(MessageBoxKind::Error));
    QCOMPARE(b[1].Text, QStringLiteral("Finished!"));
    QCOMPARE(b[1].Caption, QStringLiteral("Prompt"));
    QCOMPARE(int(b[1].Kind), int(MessageBoxKind::Information));
    QCOMPARE(b[2].Caption, QString());
    QCOMPARE(int(b[3].Kind), int(MessageBoxKind::Warning));
    QCOMPARE(b[3].Caption, QStringLiteral("Error"));
    QCOMPARE(b[4].Text, QString::fromStdString(FaceTexts().Text(28)) + "/out/TEST_ABCDEFGH.JPG");
    QVERIFY(b[4].Text.startsWith(QStringLiteral("Failed save file: \n\n")) ||
            b[4].Text.startsWith(QStringLiteral("Failed save file: \r\n\r\n")));
    QCOMPARE(int(b[4].Kind), int(MessageBoxKind::AbortRetryIgnore));
  }

  void answersAreThoseTheBoxOffers() {
    ScopedMessageBoxRecorder rec(MessageBoxAnswer::Retry);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Retry);
    rec.SetAnswer(MessageBoxAnswer::Ignore);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Ignore);
    rec.SetAnswer(MessageBoxAnswer::Abort);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Abort);
    // An answer the box does not offer is its safe one: Abort, No.
    rec.SetAnswer(MessageBoxAnswer::Yes);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Abort);
    rec.SetAnswer(MessageBoxAnswer::Retry);
    QVERIFY(!AskYesNo(nullptr, FaceTexts(), 44, 45));
    rec.SetAnswer(MessageBoxAnswer::Yes);
    QVERIFY(AskYesNo(nullptr, FaceTexts(), 44, 45));
    QCOMPARE(rec.LastText(), QStringLiteral("Didn't finish, delete target file?"));
    QCOMPARE(rec.Boxes().back().Caption, QStringLiteral("Prompt"));
    // The second button of a message only where the box has one.
    rec.SetAnswer(MessageBoxAnswer::Extra);
    QCOMPARE(ShowMessageBox(nullptr, {MessageBoxKind::Information, "Finished", "n", "View Folder"}), MessageBoxAnswer::Extra);
    QCOMPARE(ShowMessageBox(nullptr, {MessageBoxKind::Information, "Finished", "n", QString()}), MessageBoxAnswer::Ok);
  }

  void withoutAResponderARealBoxIsAsked() {
    {
      ScopedMessageBoxRecorder rec;
    }  // the recorder is gone: real boxes again
    PressOnNextBox(QMessageBox::Ignore);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Ignore);
    PressOnNextBox(QMessageBox::Retry);
    QCOMPARE(AskAbortRetryIgnore(nullptr, FaceTexts(), "f"), SaveFailureChoice::Retry);
    PressOnNextBox(QMessageBox::No);
    QVERIFY(!AskYesNoText(nullptr, FaceTexts(), "Delete?", 45));
    PressOnNextBox(QMessageBox::Yes);
    QVERIFY(AskYesNoText(nullptr, FaceTexts(), "Delete?", 45));
    PressOnNextBox(QMessageBox::Ok);
    ShowMessageBox(nullptr, FaceTexts(), 16, 17);
  }
};

QTEST_MAIN(MessageBoxesTest)
#include "message_boxes_test.moc"
