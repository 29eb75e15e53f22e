#include "gui/message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace morvane {
namespace {

MessageBoxResponder& Responder() {
  static MessageBoxResponder responder;
  return responder;
}

MessageBoxAnswer RunRealBox(QWidget* parent, const MessageBoxRequest& box) {
  QMessageBox m(parent);
  m.setWindowTitle(box.Caption.isEmpty() ? QApplication::applicationDisplayName() : box.Caption);
  m.setText(box.Text);
  switch (box.Kind) {
    case MessageBoxKind::Information:
      m.setIcon(QMessageBox::Information);
      m.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageBoxKind::Warning:
      m.setIcon(QMessageBox::Warning);
      m.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageBoxKind::Error:
      m.setIcon(QMessageBox::Critical);
      m.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageBoxKind::AbortRetryIgnore:
      m.setIcon(QMessageBox::Warning);
      m.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
      m.setDefaultButton(QMessageBox::Retry);
      m.setEscapeButton(QMessageBox::Abort);
      break;
    case MessageBoxKind::YesNo:
      m.setIcon(QMessageBox::Question);
      m.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      m.setDefaultButton(QMessageBox::Yes);
      m.setEscapeButton(QMessageBox::No);
      break;
  }
  QPushButton* extra = box.ExtraButton.isEmpty() ? nullptr : m.addButton(box.ExtraButton, QMessageBox::ActionRole);
  if (extra) m.setDefaultButton(QMessageBox::Ok);
  const int result = m.exec();
  if (extra && m.clickedButton() == extra) return MessageBoxAnswer::Extra;
  switch (result) {
    case QMessageBox::Abort: return MessageBoxAnswer::Abort;
    case QMessageBox::Retry: return MessageBoxAnswer::Retry;
    case QMessageBox::Ignore: return MessageBoxAnswer::Ignore;
    case QMessageBox::Yes: return MessageBoxAnswer::Yes;
    case QMessageBox::No: return MessageBoxAnswer::No;
    default: break;
  }
  // A box closed without a choice: the safe answer of each kind.
  if (box.Kind == MessageBoxKind::AbortRetryIgnore) return MessageBoxAnswer::Abort;
  if (box.Kind == MessageBoxKind::YesNo) return MessageBoxAnswer::No;
  return MessageBoxAnswer::Ok;
}

// Keeps an answer that the box offers; anything else becomes the box's safe answer.
MessageBoxAnswer Offered(const MessageBoxRequest& box, MessageBoxAnswer a) {
  switch (box.Kind) {
    case MessageBoxKind::Information:
    case MessageBoxKind::Warning:
    case MessageBoxKind::Error:
      return a == MessageBoxAnswer::Extra && !box.ExtraButton.isEmpty() ? a : MessageBoxAnswer::Ok;
    case MessageBoxKind::AbortRetryIgnore:
      return (a == MessageBoxAnswer::Retry || a == MessageBoxAnswer::Ignore) ? a : MessageBoxAnswer::Abort;
    case MessageBoxKind::YesNo: return a == MessageBoxAnswer::Yes ? a : MessageBoxAnswer::No;
  }
  return MessageBoxAnswer::Ok;
}

bool IsErrorCaption(int captionNumber) { return captionNumber == 17 || captionNumber == 61; }

}  // namespace

void SetMessageBoxResponder(MessageBoxResponder responder) { Responder() = std::move(responder); }

ScopedMessageBoxRecorder::ScopedMessageBoxRecorder(MessageBoxAnswer answer) : answer_(answer) {
  SetMessageBoxResponder([this](QWidget*, const MessageBoxRequest& box) {
    boxes_.push_back(box);
    return answer_;
  });
}

ScopedMessageBoxRecorder::~ScopedMessageBoxRecorder() { SetMessageBoxResponder({}); }

MessageBoxAnswer ShowMessageBox(QWidget* parent, const MessageBoxRequest& box) {
  if (Responder()) return Offered(box, Responder()(parent, box));
  return RunRealBox(parent, box);
}

QString FaceText(const TFaceTexts& texts, int n) { return QString::fromStdString(texts.Text(n)); }

void ShowMessageBox(QWidget* parent, const TFaceTexts& texts, int textNumber, int captionNumber) {
  ShowMessageText(parent, texts, FaceText(texts, textNumber), captionNumber);
}

void ShowMessageText(QWidget* parent, const TFaceTexts& texts, const QString& text, int captionNumber) {
  MessageBoxKind kind = IsErrorCaption(captionNumber) ? MessageBoxKind::Error : MessageBoxKind::Information;
  ShowMessageBox(parent, {kind, FaceText(texts, captionNumber), text, QString()});
}

void ShowPlainMessage(QWidget* parent, const QString& text) {
  ShowMessageBox(parent, {MessageBoxKind::Information, QString(), text, QString()});
}

bool AskYesNo(QWidget* parent, const TFaceTexts& texts, int textNumber, int captionNumber) {
  return AskYesNoText(parent, texts, FaceText(texts, textNumber), captionNumber);
}

bool AskYesNoText(QWidget* parent, const TFaceTexts& texts, const QString& text, int captionNumber) {
  return ShowMessageBox(parent, {MessageBoxKind::YesNo, FaceText(texts, captionNumber), text, QString()}) ==
         MessageBoxAnswer::Yes;
}

SaveFailureChoice AskAbortRetryIgnore(QWidget* parent, const TFaceTexts& texts, const QString& fileName) {
  MessageBoxAnswer a =
      ShowMessageBox(parent, {MessageBoxKind::AbortRetryIgnore, FaceText(texts, 17), FaceText(texts, 28) + fileName, QString()});
  if (a == MessageBoxAnswer::Retry) return SaveFailureChoice::Retry;
  if (a == MessageBoxAnswer::Ignore) return SaveFailureChoice::Ignore;
  return SaveFailureChoice::Abort;
}

void ShowWarningText(QWidget* parent, const TFaceTexts& texts, const QString& text) {
  ShowMessageBox(parent, {MessageBoxKind::Warning, FaceText(texts, 17), text, QString()});
}

}  // namespace morvane
